#include "console/client_list_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace vorlek {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// The editor's files in a folder of their own; each way of failing can be switched on.
class FolderFiles : public ClientListFiles {
public:
    explicit FolderFiles(std::filesystem::path folder) : folder_(std::move(folder)) {}

    bool failCreate = false;  // "newclients" cannot be created
    bool failWrites = false;  // "newclients" is created on a full disk
    bool failReplace = false;
    std::vector<std::string> removed;

    std::FILE* Open(const char* name, const char* mode) override {
        if (std::string(mode) == "w" && std::string(name) == kNewClientListFile) {
            if (failCreate) {
                errno = EACCES;
                return nullptr;
            }
            if (failWrites) {
                // Leave a "newclients" behind as a failed write would, then write to a full disk.
                std::ofstream(Path(name)) << "partial";
                return std::fopen("/dev/full", "w");
            }
        }
        return std::fopen(Path(name).c_str(), mode);
    }
    std::optional<std::string> Replace(const char* from, const char* to) override {
        if (failReplace) {
            return "The file is in use.";
        }
        std::error_code error;
        std::filesystem::rename(Path(from), Path(to), error);
        return error ? std::optional(error.message()) : std::nullopt;
    }
    void Remove(const char* name) override {
        removed.emplace_back(name);
        std::filesystem::remove(Path(name));
    }

    std::filesystem::path Path(const char* name) const { return folder_ / name; }

private:
    std::filesystem::path folder_;
};

class ClientListFile : public ::testing::Test {
protected:
    std::filesystem::path folder =
        std::filesystem::temp_directory_path() /
        ("vorlek-clients-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    FolderFiles files{folder};

    void SetUp() override { std::filesystem::create_directories(folder); }
    void TearDown() override { std::filesystem::remove_all(folder); }

    void WriteClients(const std::string& bytes) {
        std::ofstream(files.Path(kClientListFile), std::ios::binary) << bytes;
    }
    std::optional<std::string> FileBytes(const char* name) {
        std::ifstream in(files.Path(name), std::ios::binary);
        if (!in) {
            return std::nullopt;
        }
        std::ostringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }
    std::vector<std::string> Entries() {
        std::FILE* file = files.Open(kClientListFile, "r");
        if (file == nullptr) {
            return {};
        }
        std::vector<std::string> entries = ReadClientEntries(file);
        std::fclose(file);
        return entries;
    }
};

TEST_F(ClientListFile, EntriesAreFirstWordsWithoutCommentsAndBlankLines) {
    WriteClients(
        "# room one\n"
        "\n"
        "pc2\n"
        "pc1\n"
        "pc3 # the corner\n"
        "    #pc4\n"
        "\t 198.51.100.7\t\n"
        "   \n"
        "last-without-line-end");
    EXPECT_THAT(Entries(),
                ElementsAre("pc2", "pc1", "pc3", "198.51.100.7", "last-without-line-end"));
}

TEST_F(ClientListFile, ALongLineIsOneEntryAndNoTailBecomesAnother) {
    const std::string name(300, 'a');
    WriteClients(name + " " + std::string(300, 'b') + "\npc1\n#" + std::string(400, 'c') + "\n");
    EXPECT_THAT(Entries(), ElementsAre(name, "pc1"));
}

TEST(UnreadableEntries, AreThoseTheStartWouldPassOverOrThatWouldEndTheList) {
    EXPECT_THAT(UnreadableEntries({"0.0.0.0", "198.51.100.7", "", "#pc4", "pc 7", "pc-a", "PC07",
                                   "pcA", "255.255.255.255", "0x0A.1"}),
                ElementsAre("0.0.0.0", "#pc4", "pc 7", "PC07", "255.255.255.255"));
}

TEST_F(ClientListFile, SaveKeepsLeadingCommentsThenNewlineBeforeEveryEntry) {
    WriteClients("# room one\n\npc2\npc1\n");
    ASSERT_EQ(std::nullopt, SaveClientList({"pc1", "pc2"}, files));
    EXPECT_EQ(FileBytes(kClientListFile), "# room one\n\npc1\npc2");
    EXPECT_EQ(FileBytes(kNewClientListFile), std::nullopt);
}

TEST_F(ClientListFile, SaveCopiesOnlyTheCommentsBeforeTheFirstEntryAsTheyWereRead) {
    WriteClients(
        "#first\r\n"
        "\n"
        "   # indented, two  blanks\n"
        "pc1\n"
        "# after the first entry\n"
        "pc2\n");
    ASSERT_EQ(std::nullopt, SaveClientList({"pc0", "pc1", "pc2"}, files));
    EXPECT_EQ(FileBytes(kClientListFile), "#first\r\n   # indented, two  blanks\n\npc0\npc1\npc2");
}

TEST_F(ClientListFile, SaveWithoutAnOldFileOrWithoutRows) {
    ASSERT_EQ(std::nullopt, SaveClientList({"pc1", ""}, files));
    EXPECT_EQ(FileBytes(kClientListFile), "\npc1\n");

    WriteClients("#only a comment");
    ASSERT_EQ(std::nullopt, SaveClientList({}, files));
    EXPECT_EQ(FileBytes(kClientListFile), "#only a comment");
}

TEST_F(ClientListFile, AFailedSaveLeavesClientsAsItWasAndSaysWhichFileFailedAndWhy) {
    const std::string original = "# room\n\npc1\npc2";
    WriteClients(original);
    const auto failure = [this](std::vector<std::string> entries) {
        const std::optional<SaveFailure> failed = SaveClientList(entries, files);
        return failed ? std::string(failed->file) + ": " + failed->reason : "saved";
    };

    files.failCreate = true;
    EXPECT_EQ(failure({"pc9"}), std::string("newclients: ") + std::strerror(EACCES));
    EXPECT_EQ(FileBytes(kClientListFile), original);
    EXPECT_THAT(files.removed, IsEmpty());
    files.failCreate = false;

    // On a full disk a short file fails only when it is closed, a long one already in a write.
    const std::string full = std::string("newclients: ") + std::strerror(ENOSPC);
    files.failWrites = true;
    EXPECT_EQ(failure({"pc9"}), full);
    EXPECT_EQ(FileBytes(kClientListFile), original);
    EXPECT_EQ(FileBytes(kNewClientListFile), std::nullopt);
    EXPECT_EQ(failure(std::vector<std::string>(5000, "198.51.100.200")), full);
    EXPECT_EQ(FileBytes(kClientListFile), original);
    EXPECT_EQ(FileBytes(kNewClientListFile), std::nullopt);
    files.failWrites = false;

    files.failReplace = true;
    EXPECT_EQ(failure({"pc9"}), "clients: The file is in use.");
    EXPECT_EQ(FileBytes(kClientListFile), original);
    EXPECT_EQ(FileBytes(kNewClientListFile), std::nullopt);
}

}  // namespace
}  // namespace vorlek
