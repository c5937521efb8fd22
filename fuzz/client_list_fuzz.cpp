// Any bytes as "clients", read by the station-list editor and saved back. The entries are the
// words a list-box row can hold; a save writes the leading comments as read, then a line end and
// an entry for each row, and reads back to the same entries; a save that fails anywhere (no room
// for "newclients", a full disk, a failed replace) leaves "clients" exactly as it was.
//
// Input: byte 0 sets the faults (bit 0: "newclients" cannot be created; bit 1: replacing
// "clients" fails; bit 2: there is no "clients"; bits 3-7: when not 0, the disk holds only
// 16 times that many bytes of "newclients"); the rest is the content of "clients".
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/client_list_file.h"
#include "fuzz/check.h"
#include "fuzz/fuzz_input.h"

namespace {

using namespace vorlek;

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A folder in memory holding "clients" and "newclients". Streams are stdio streams over
// callbacks, so the code under test uses the real fputs, fgetc, ferror and fclose on them.
class MemoryFolder : public ClientListFiles {
public:
    std::optional<std::string> clients;
    std::optional<std::string> newClients;
    bool canCreate = true;
    bool canReplace = true;
    std::size_t capacity = 0;  // 0: no limit
    int openStreams = 0;

    std::FILE* Open(const char* name, const char* mode) override {
        const std::string_view file(name);
        if (file == kClientListFile && std::strcmp(mode, "r") == 0) {
            if (!clients) {
                return nullptr;
            }
            return OpenStream(new Stream{this, *clients, 0, false}, "r");
        }
        FUZZ_CHECK(file == kNewClientListFile && std::strcmp(mode, "w") == 0);
        if (!canCreate) {
            return nullptr;
        }
        newClients.emplace();
        return OpenStream(new Stream{this, {}, 0, true}, "w");
    }

    std::optional<std::string> Replace(const char* from, const char* to) override {
        FUZZ_CHECK(std::string_view(from) == kNewClientListFile &&
                   std::string_view(to) == kClientListFile);
        // No file may still be open when it is moved.
        FUZZ_CHECK(openStreams == 0);
        if (!canReplace || !newClients) {
            return "replace failed";
        }
        clients = std::move(newClients);
        newClients.reset();
        return std::nullopt;
    }

    void Remove(const char* name) override {
        FUZZ_CHECK(std::string_view(name) == kNewClientListFile);
        newClients.reset();
    }

private:
    struct Stream {
        MemoryFolder* folder;
        std::string content;
        std::size_t pos;
        bool writing;
    };

    std::FILE* OpenStream(Stream* stream, const char* mode) {
        const cookie_io_functions_t io{Read, Write, nullptr, Close};
        std::FILE* file = fopencookie(stream, mode, io);
        FUZZ_CHECK(file != nullptr);
        ++openStreams;
        return file;
    }

    static ssize_t Read(void* cookie, char* buffer, std::size_t size) {
        auto* stream = static_cast<Stream*>(cookie);
        const std::size_t taken = std::min(size, stream->content.size() - stream->pos);
        std::memcpy(buffer, stream->content.data() + stream->pos, taken);
        stream->pos += taken;
        return static_cast<ssize_t>(taken);
    }

    static ssize_t Write(void* cookie, const char* buffer, std::size_t size) {
        auto* stream = static_cast<Stream*>(cookie);
        MemoryFolder& folder = *stream->folder;
        FUZZ_CHECK(folder.newClients.has_value());
        if (folder.capacity != 0 && folder.newClients->size() + size > folder.capacity) {
            return -1;  // the disk is full
        }
        folder.newClients->append(buffer, size);
        return static_cast<ssize_t>(size);
    }

    static int Close(void* cookie) {
        auto* stream = static_cast<Stream*>(cookie);
        --stream->folder->openStreams;
        delete stream;
        return 0;
    }
};

// The comment lines before the first entry, each whole with its line end, blank lines left out;
// a line is scanned up to a NUL byte.
std::string LeadingComments(std::string_view content) {
    std::string comments;
    while (!content.empty()) {
        const std::size_t end = content.find('\n');
        const std::size_t length = end == std::string_view::npos ? content.size() : end + 1;
        const std::string_view line = content.substr(0, length);
        content.remove_prefix(length);
        const std::string_view scanned = line.substr(0, line.find('\0'));
        const auto word = std::find_if_not(scanned.begin(), scanned.end(), IsSpace);
        if (word == scanned.end()) {
            continue;
        }
        if (*word != '#') {
            break;
        }
        comments.append(line);
    }
    return comments;
}

std::vector<std::string> Read(const std::string& content) {
    MemoryFolder folder;
    folder.clients = content;
    std::FILE* file = folder.Open(kClientListFile, "r");
    std::vector<std::string> entries = ReadClientEntries(file);
    std::fclose(file);
    return entries;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput input(data, size);
    const std::uint8_t faults = input.Byte();
    const auto rest = input.Rest();
    const std::string content(rest.begin(), rest.end());

    MemoryFolder folder;
    folder.canCreate = (faults & 1u) == 0;
    folder.canReplace = (faults & 2u) == 0;
    if ((faults & 4u) == 0) {
        folder.clients = content;
    }
    folder.capacity = std::size_t{16} * (faults >> 3);

    const std::vector<std::string> entries =
        folder.clients ? Read(*folder.clients) : std::vector<std::string>{};
    for (const std::string& entry : entries) {
        // A row of the editor's list box: one word, ending at the first NUL.
        FUZZ_CHECK(!entry.empty() && entry.front() != '#');
        FUZZ_CHECK(std::none_of(entry.begin(), entry.end(), IsSpace));
        FUZZ_CHECK(entry.find('\0') == std::string::npos);
    }

    std::string expected = folder.clients ? LeadingComments(*folder.clients) : std::string();
    for (const std::string& entry : entries) {
        expected += '\n';
        expected += entry;
    }
    const std::optional<std::string> before = folder.clients;

    const bool saved = !SaveClientList(entries, folder).has_value();

    FUZZ_CHECK(folder.openStreams == 0);
    FUZZ_CHECK(!folder.newClients);
    const bool fits = folder.capacity == 0 || expected.size() <= folder.capacity;
    FUZZ_CHECK(saved == (folder.canCreate && folder.canReplace && fits));
    if (!saved) {
        FUZZ_CHECK(folder.clients == before);
        return 0;
    }
    FUZZ_CHECK(folder.clients == expected);
    FUZZ_CHECK(Read(*folder.clients) == entries);
    return 0;
}
