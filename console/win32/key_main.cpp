// VorlekKey.exe: makes a console's key pair for signed orders and prints its public line.
//   VorlekKey.exe new FILE     a new pair; the private key to FILE, the public line to stdout
//   VorlekKey.exe public FILE  the public line of the key in FILE
// Exit code 0 on success, 1 with a one-line reason on standard error otherwise.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "link/win32/order_crypto_win32.h"

namespace {

using vorlek::Cng;

int Fail(const std::string& reason) {
    std::fprintf(stderr, "VorlekKey: %s\n", reason.c_str());
    return 1;
}

// The public line names the computer, so that a "roomkeys" file shows whose key is whose.
std::string ComputerName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = sizeof name;
    return GetComputerNameA(name, &size) ? std::string(name, size) : std::string();
}

int PrintPublic(const vorlek::PublicKey& key) {
    std::printf("%s\n", vorlek::FormatPublicKeyLine(key, ComputerName()).c_str());
    return std::fflush(stdout) == 0 ? 0 : Fail("The public line could not be written.");
}

int Run(const std::wstring& verb, const std::wstring& file) {
    const auto cng = Cng::Load();
    if (!cng) {
        return Fail(vorlek::kNoCngText);
    }
    std::string reason;
    if (verb == L"new") {
        auto pair = cng->NewKeyPair();
        if (!pair) {
            return Fail("CNG could not make a P-256 key pair.");
        }
        const bool written = vorlek::WritePrivateKeyFile(file, pair->privateBlob, reason);
        SecureZeroMemory(pair->privateBlob.data(), pair->privateBlob.size());
        return written ? PrintPublic(pair->publicKey) : Fail(reason);
    }
    auto blob = vorlek::ReadPrivateKeyFile(file, reason);
    if (!blob) {
        return Fail(reason);
    }
    const auto key = cng->PublicKeyOf(*blob);
    SecureZeroMemory(blob->data(), blob->size());
    return key ? PrintPublic(*key) : Fail("The file holds no P-256 private key.");
}

}  // namespace

int main() {
    int count = 0;
    wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
    if (words == nullptr) {
        return Fail("The command line could not be read.");
    }
    const std::vector<std::wstring> args(words + 1, words + count);
    LocalFree(words);
    if (args.size() != 2 || (args[0] != L"new" && args[0] != L"public")) {
        return Fail("usage: VorlekKey.exe new FILE | VorlekKey.exe public FILE");
    }
    return Run(args[0], args[1]);
}
