#include "link/host_list.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace vorlek {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class FakeNames : public NameService {
public:
    std::map<std::string, Ipv4> known;
    std::vector<std::string> asked;

    std::optional<Ipv4> LookUpName(const std::string& name) override {
        asked.push_back(name);
        const auto it = known.find(name);
        if (it == known.end()) {
            return std::nullopt;
        }
        return it->second;
    }
    std::optional<std::string> LookUpAddress(Ipv4) override { return std::nullopt; }
};

class HostListFile : public ::testing::Test {
protected:
    const Ipv4 own = MakeAddress(198, 51, 100, 1);
    FakeNames names;
    std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("vorlek-hosts-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         ::testing::UnitTest::GetInstance()->current_test_info()->name());

    void TearDown() override { std::filesystem::remove(path); }

    std::vector<Ipv4> Read(const std::string& content) {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(content.data(), 1, content.size(), f);
        std::fclose(f);
        const HostList list = ReadHostList(path.c_str(), own, names);
        return {list.Addresses().begin(), list.Addresses().end()};
    }
};

TEST_F(HostListFile, MissingFileGivesAnEmptyList) {
    EXPECT_THAT(ReadHostList("/nonexistent/vorlek/clients", own, names).Addresses(), IsEmpty());
}

TEST_F(HostListFile, TakesTheFirstWordOfEachLineAndSkipsCommentsAndBlanks) {
    EXPECT_THAT(Read("# the room\n"
                     "\n"
                     "192.168.1.20\n"
                     "192.168.1.21  # second row\r\n"
                     "   # indented comment 10.0.0.1\n"
                     " \t \n"
                     "\t10.0.0.9 trailing words\n"),
                ElementsAre(MakeAddress(192, 168, 1, 20), MakeAddress(192, 168, 1, 21),
                            MakeAddress(10, 0, 0, 9)));
}

TEST_F(HostListFile, ResolvesDigitFreeNamesToTheirFirstAddress) {
    names.known["pcone"] = MakeAddress(198, 51, 100, 11);
    names.known["self"] = own;
    EXPECT_THAT(Read("pcone\nunknown\nself\n"), ElementsAre(MakeAddress(198, 51, 100, 11), own));
    EXPECT_THAT(names.asked, ElementsAre("pcone", "unknown", "self"));
}

TEST_F(HostListFile, ADigitAnywhereInTheLineMakesTheWordNumeric) {
    names.known["pcone"] = MakeAddress(198, 51, 100, 11);
    names.known["pc"] = MakeAddress(198, 51, 100, 12);
    EXPECT_THAT(Read("pc1\npcone # room 2\npc\n"), ElementsAre(MakeAddress(198, 51, 100, 12)));
    EXPECT_THAT(names.asked, ElementsAre("pc"));
}

TEST_F(HostListFile, DropsTheOwnAddressAndUnusableNumbers) {
    EXPECT_THAT(Read("198.51.100.1\n255.255.255.255\n1.2.3.999\n198.51.100.2\n"),
                ElementsAre(MakeAddress(198, 51, 100, 2)));
}

TEST_F(HostListFile, KeepsDuplicatesAndEndsAtZero) {
    EXPECT_THAT(Read("10.0.0.1\n10.0.0.1\n"),
                ElementsAre(MakeAddress(10, 0, 0, 1), MakeAddress(10, 0, 0, 1)));
    EXPECT_THAT(Read("10.0.0.1\n0.0.0.0\n10.0.0.2\n"), ElementsAre(MakeAddress(10, 0, 0, 1)));
}

TEST_F(HostListFile, ReadsALastLineWithoutLineEnd) {
    EXPECT_THAT(Read("10.0.0.1\n10.0.0.2"),
                ElementsAre(MakeAddress(10, 0, 0, 1), MakeAddress(10, 0, 0, 2)));
}

TEST_F(HostListFile, SplitsLinesLongerThan511Characters) {
    // 600 characters without white space: the first 511 and the remaining 89 are two words,
    // each numeric (the line holds digits) and rejected; with a name service they would be
    // looked up. Make the second half a valid address to see the split.
    const std::string first(511 - 3, 'x');
    std::string line = "1.2" + first + "10.0.0.7";
    line += std::string(600 - line.size(), ' ');
    ASSERT_EQ(line.size(), 600u);
    EXPECT_THAT(Read(line + "\n"), ElementsAre(MakeAddress(10, 0, 0, 7)));
    EXPECT_THAT(names.asked, IsEmpty());
}

TEST_F(HostListFile, SeesALineOnlyUpToItsFirstNulByte) {
    EXPECT_THAT(
        Read(std::string("10.0.0.3\0garbage", 16) + "\nname" + std::string(1, '\0') + "5\n"),
        ElementsAre(MakeAddress(10, 0, 0, 3)));
    EXPECT_THAT(names.asked, ElementsAre("name"));
}

TEST_F(HostListFile, NamesAnyHostWhenALineHoldsMoreThanAComment) {
    const auto namesAnyone = [this](const std::string& content) {
        std::FILE* f = std::fopen(path.c_str(), "w+b");
        std::fwrite(content.data(), 1, content.size(), f);
        std::rewind(f);
        const bool found = NamesAnyHost(f);
        std::fclose(f);
        return found;
    };
    EXPECT_FALSE(namesAnyone(""));
    EXPECT_FALSE(namesAnyone("# the desk\r\n \t\r\n   # 10.0.0.1\n"));
    EXPECT_TRUE(namesAnyone("# the desk\r\n  desk\r\n"));
    EXPECT_TRUE(namesAnyone("10.0.0.1"));
}

TEST(HostListFromEntries, WritesOneLinePerEntry) {
    EXPECT_EQ(HostListFromEntries("198.51.100.5").lines, "198.51.100.5\r\n");
    const HostListText text = HostListFromEntries(" 10.0.0.5 ,desk, front-desk_2b.x ");
    EXPECT_EQ(text.problem,
              "\"front-desk_2b.x\" is neither a dotted address nor a computer "
              "name without digits.");
    const HostListText good = HostListFromEntries(" 10.0.0.5 ,desk,  front-desk.room ");
    EXPECT_EQ(good.lines, "10.0.0.5\r\ndesk\r\nfront-desk.room\r\n");
    EXPECT_EQ(good.problem, "");
    // Blanks alone are a list without entries: the agent then looks for consoles by broadcast.
    EXPECT_EQ(HostListFromEntries("  ").lines, "");
    EXPECT_EQ(HostListFromEntries("  ").problem, "");
}

TEST(HostListFromEntries, SaysWhyAnEntryCannotStand) {
    const std::map<std::string, std::string> problems = {
        {"10.0.0.5,", "An address is missing in \"10.0.0.5,\"."},
        {",10.0.0.5", "An address is missing in \",10.0.0.5\"."},
        {"a,  ,b", "An address is missing in \"a,  ,b\"."},
        {"10.0.0.5 10.0.0.6", "\"10.0.0.5 1...\" holds a blank: separate addresses with commas."},
        {"desk   pc", "\"desk p...\" holds a blank: separate addresses with commas."},
        {"pc1", "\"pc1\" is neither a dotted address nor a computer name without digits."},
        {"1.2.3.999",
         "\"1.2.3.999\" is neither a dotted address nor a computer name without "
         "digits."},
        {"255.255.255.255",
         "\"255.255.255.255\" is neither a dotted address nor a computer "
         "name without digits."},
        {"0.0.0.0",
         "\"0.0.0.0\" is neither a dotted address nor a computer name without "
         "digits."},
        {"...", "\"...\" is neither a dotted address nor a computer name without digits."},
        {"desk # note", "\"desk #...\" holds a blank: separate addresses with commas."},
        {"desk#", "\"desk#\" holds a character that no address or computer name holds."},
        {"a,b&c", "\"a,b&c\" holds a character that no address or computer name holds."},
        {"a,\tb", "\"a,\tb\" holds a character that no address or computer name holds."},
    };
    for (const auto& [entries, problem] : problems) {
        const HostListText text = HostListFromEntries(entries);
        EXPECT_EQ(text.problem, problem) << entries;
        EXPECT_EQ(text.lines, "") << entries;
    }
}

TEST(HostListEntries, AppendGoesAfterTheLastWalkedEntry) {
    HostList list({MakeAddress(1, 1, 1, 1), 0, MakeAddress(2, 2, 2, 2)});
    EXPECT_THAT(list.Addresses(), ElementsAre(MakeAddress(1, 1, 1, 1)));
    EXPECT_FALSE(list.Contains(MakeAddress(2, 2, 2, 2)));
    list.Append(MakeAddress(3, 3, 3, 3));
    EXPECT_THAT(list.Addresses(), ElementsAre(MakeAddress(1, 1, 1, 1), MakeAddress(3, 3, 3, 3)));
    EXPECT_TRUE(list.Contains(MakeAddress(3, 3, 3, 3)));
    HostList empty;
    EXPECT_TRUE(empty.Empty());
    empty.Append(MakeAddress(4, 4, 4, 4));
    EXPECT_THAT(empty.Addresses(), ElementsAre(MakeAddress(4, 4, 4, 4)));
}

}  // namespace
}  // namespace vorlek
