// Cases the fuzzer found in the station-list editor's reading and saving of "clients".
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "console/client_list_file.h"

namespace vorlek {
namespace {

using ::testing::ElementsAre;

using namespace std::string_literals;

class TempFolderFiles : public ClientListFiles {
public:
    TempFolderFiles() {
        char pattern[] = "/tmp/vorlek-clients-regression-XXXXXX";
        folder_ = mkdtemp(pattern);
    }
    ~TempFolderFiles() override { std::filesystem::remove_all(folder_); }

    std::FILE* Open(const char* name, const char* mode) override {
        return std::fopen(Path(name).c_str(), mode);
    }
    std::optional<std::string> Replace(const char* from, const char* to) override {
        std::error_code error;
        std::filesystem::rename(Path(from), Path(to), error);
        return error ? std::optional(error.message()) : std::nullopt;
    }
    void Remove(const char* name) override { std::filesystem::remove(Path(name)); }

    void Write(const std::string& content) {
        std::ofstream(Path(kClientListFile), std::ios::binary) << content;
    }
    std::string Content() const {
        std::ifstream in(Path(kClientListFile), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::vector<std::string> Entries() {
        std::FILE* file = Open(kClientListFile, "r");
        auto entries = ReadClientEntries(file);
        std::fclose(file);
        return entries;
    }

private:
    std::filesystem::path Path(const char* name) const { return folder_ / name; }
    std::filesystem::path folder_;
};

// A list-box row ends at a NUL byte, and the server's reader sees a line only up to one: a word
// with a NUL in it became a row that no longer matched the file, and a line that begins with a
// NUL (blank to the server) became an empty row.
TEST(ClientListFileRegression, LinesAreReadUpToTheirFirstNulByte) {
    TempFolderFiles files;
    files.Write("pc1\0junk\n\0pc2\npc3\n"s);
    EXPECT_THAT(files.Entries(), ElementsAre("pc1", "pc3"));
}

// A leading comment is copied whole; it was cut at its NUL byte and lost its line end, gluing
// the next comment line to it.
TEST(ClientListFileRegression, CommentWithNulByteIsCopiedWhole) {
    TempFolderFiles files;
    files.Write("#a\0b\n#c\npc1\n"s);
    ASSERT_EQ(SaveClientList(files.Entries(), files), std::nullopt);
    EXPECT_EQ(files.Content(), "#a\0b\n#c\n\npc1"s);
}

}  // namespace
}  // namespace vorlek
