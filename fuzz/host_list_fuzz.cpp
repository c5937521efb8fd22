// Any bytes as a "clients" or "servers" file. Only digit-free first words of lines are ever
// looked up as names; numeric words never yield the own address or the rejected value; every
// entry is an address the reader may give.
#include <algorithm>
#include <cstring>
#include <string>

#include "fuzz/check.h"
#include "fuzz/link_fakes.h"
#include "fuzz/memory_file.h"
#include "link/address.h"
#include "link/host_list.h"

namespace {

using namespace vorlek;

const Ipv4 kOwnAddress = MakeAddress(198, 51, 100, 10);
const Ipv4 kStation = MakeAddress(198, 51, 100, 21);
const Ipv4 kConsole = MakeAddress(198, 51, 100, 1);

bool HasDigit(const std::string& text) {
    return text.find_first_of("0123456789") != std::string::npos;
}
bool HasSpace(const std::string& text) {
    return text.find_first_of(" \t\n\v\f\r") != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FakeNames names;
    names.addresses = {{"station", kStation}, {"console", kConsole}, {"self", kOwnAddress}};
    const fuzz::MemoryFile file({data, size});

    const HostList list = ReadHostList(file.get(), kOwnAddress, names);

    bool ownNameResolved = false;
    for (const std::string& name : names.asked) {
        FUZZ_CHECK(!name.empty() && name.size() <= kHostListLineLimit);
        FUZZ_CHECK(name.front() != '#' && !HasDigit(name) && !HasSpace(name));
        FUZZ_CHECK(name.find('\0') == std::string::npos);
        ownNameResolved = ownNameResolved || name == "self";
    }

    const auto entries = list.Addresses();
    // Every entry comes from one line, and a line of n characters is read as at most
    // n / kHostListLineLimit + 1 pieces.
    const auto lineEnds = static_cast<std::size_t>(std::count(data, data + size, '\n'));
    FUZZ_CHECK(entries.size() <= lineEnds + 1 + size / kHostListLineLimit);
    for (const Ipv4 entry : entries) {
        FUZZ_CHECK(entry != kInetNone);
        FUZZ_CHECK(entry != kOwnAddress || ownNameResolved);
        // Whatever form it was written in, the entry reads back from its dotted form.
        FUZZ_CHECK(InetAddr(FormatDotted(entry)) == entry);
    }
    return 0;
}
