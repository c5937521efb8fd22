#include "console/win32/order_signing_win32.h"

#include <windows.h>

#include <cinttypes>
#include <cstdio>

#include "link/stdio_file.h"

namespace vorlek {

namespace {

// FILETIME counts 100 ns from 1601; this many of them lie before 1970.
constexpr std::uint64_t kFileTimeAt1970 = 116444736000000000ull;

std::string KeyRefusal(const std::string& reason) {
    return "/orders=signed: the console's key \"room.key\" could not be read: " + reason +
           "\nMake it in the console's data folder with \"VorlekKey.exe new room.key\", or start "
           "the console without /orders=signed.";
}

}  // namespace

std::uint64_t SequenceFile::LastKept() {
    std::uint64_t sequence = 0;
    if (const UniqueFile file{std::fopen(kSequenceFile, "rt")}) {
        if (std::fscanf(file.get(), "%" SCNu64, &sequence) != 1) {
            sequence = 0;
        }
    }
    return sequence;
}

std::uint64_t SequenceFile::NowMs() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const std::uint64_t ticks =
        static_cast<std::uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime;
    return ticks > kFileTimeAt1970 ? (ticks - kFileTimeAt1970) / 10000 : 0;
}

bool SequenceFile::Keep(std::uint64_t sequence) {
    const UniqueFile file{std::fopen(kSequenceFile, "wt")};
    return file && std::fprintf(file.get(), "%" PRIu64 "\n", sequence) > 0 &&
           std::fflush(file.get()) == 0;
}

std::unique_ptr<ConsoleSigning> ConsoleSigning::Open(std::string& refusal) {
    auto cng = Cng::Load();
    if (!cng) {
        refusal = kNoCngText;
        return nullptr;
    }
    std::string reason;
    auto blob = ReadPrivateKeyFile(L"room.key", reason);
    if (!blob) {
        refusal = KeyRefusal(reason);
        return nullptr;
    }
    if (!cng->PublicKeyOf(*blob)) {
        refusal = KeyRefusal("The file holds no P-256 key.");
        return nullptr;
    }
    return std::unique_ptr<ConsoleSigning>(new ConsoleSigning(std::move(cng), std::move(*blob)));
}

ConsoleSigning::ConsoleSigning(std::unique_ptr<Cng> cng, std::vector<std::uint8_t> privateBlob)
    : cng_(std::move(cng)), signer_(*cng_, std::move(privateBlob)) {
    signing_.emplace(signer_, sequences_, SequenceFile::LastKept());
}

}  // namespace vorlek
