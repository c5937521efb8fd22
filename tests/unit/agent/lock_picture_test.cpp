#include "agent/lock_picture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace vorlek {
namespace {

using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::SizeIs;

// A BMP-shaped file: 54 header bytes with the two sizes at 18 and 22, then the given pixels.
std::vector<std::uint8_t> Header(std::int32_t width, std::int32_t height) {
    std::vector<std::uint8_t> bytes(54, 0);
    bytes[0] = 'B';
    bytes[1] = 'M';
    for (int i = 0; i < 4; ++i) {
        bytes[18 + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(width) >> (8 * i));
        bytes[22 + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(height) >> (8 * i));
    }
    return bytes;
}

class LockPictureFile : public ::testing::Test {
protected:
    std::optional<LockPicture> Load(const std::vector<std::uint8_t>& bytes) {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        out.close();
        return LoadLockPicture(path_.string().c_str());
    }
    ~LockPictureFile() override { std::filesystem::remove(path_); }

    std::filesystem::path path_ =
        std::filesystem::temp_directory_path() /
        ("vorlek-picture-" +
         std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".bmp");
};

TEST_F(LockPictureFile, ReadsTriplesFromOffset54AsFourBytePixels) {
    auto bytes = Header(2, 1);
    bytes.insert(bytes.end(), {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x99});
    const auto picture = Load(bytes);
    ASSERT_TRUE(picture.has_value());
    EXPECT_EQ(picture->width, 2);
    EXPECT_EQ(picture->height, 1);
    EXPECT_THAT(picture->pixels, ElementsAre(0x10, 0x20, 0x30, 0xFF, 0x40, 0x50, 0x60, 0xFF));
}

TEST_F(LockPictureFile, BytesMissingAtTheEndReadAs255) {
    auto bytes = Header(2, 2);
    bytes.insert(bytes.end(), {0x01, 0x02, 0x03, 0x04});
    const auto picture = Load(bytes);
    ASSERT_TRUE(picture.has_value());
    EXPECT_THAT(picture->pixels, ElementsAre(0x01, 0x02, 0x03, 0xFF, 0x04, 0xFF, 0xFF, 0xFF,  //
                                             0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF));

    // A file that ends inside the header but after both sizes: every pixel is missing.
    auto headerOnly = Header(3, 1);
    headerOnly.resize(30);
    const auto blank = Load(headerOnly);
    ASSERT_TRUE(blank.has_value());
    EXPECT_THAT(blank->pixels, SizeIs(12));
    EXPECT_THAT(blank->pixels, Each(0xFF));
}

TEST_F(LockPictureFile, FileTooShortForTheSizesIsRejected) {
    EXPECT_FALSE(Load({}).has_value());
    auto bytes = Header(2, 2);
    bytes.resize(25);  // the height lacks its last byte
    EXPECT_FALSE(Load(bytes).has_value());
}

TEST_F(LockPictureFile, SizesOfZeroOrLessAreRejected) {
    EXPECT_FALSE(Load(Header(0, 10)).has_value());
    EXPECT_FALSE(Load(Header(10, 0)).has_value());
    EXPECT_FALSE(Load(Header(-4, 10)).has_value());
    // A top-down file (negative height) is not a shape the station reads.
    EXPECT_FALSE(Load(Header(4, -10)).has_value());
    // Two negative sizes multiply to a positive count; still rejected.
    EXPECT_FALSE(Load(Header(-2, -2)).has_value());
}

TEST_F(LockPictureFile, HugeSizesAreRejectedWithoutOverflowOrAllocation) {
    // 0x10000 * 0x10000 overflows 32 bits to 0; 0x7FFFFFFF squared overflows 64-bit byte counts
    // once multiplied by 4 on a 32-bit machine.
    EXPECT_FALSE(Load(Header(0x10000, 0x10000)).has_value());
    EXPECT_FALSE(Load(Header(0x7FFFFFFF, 0x7FFFFFFF)).has_value());
    EXPECT_FALSE(Load(Header(0x7FFFFFFF, 1)).has_value());
    // One pixel more than the cap of 16 Mi pixels.
    EXPECT_FALSE(Load(Header(4096 * 4096 + 1, 1)).has_value());
}

TEST(LockPicture, MissingFileIsNotAPicture) {
    EXPECT_FALSE(LoadLockPicture("/nonexistent/vorlek/BLOCKED.BMP").has_value());
}

TEST(LockPicture, ReverseRowsSwapsWholeRowsAndLeavesTheMiddleRow) {
    LockPicture picture{1, 3, {1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3}};
    ReverseRows(picture);
    EXPECT_THAT(picture.pixels, ElementsAre(3, 3, 3, 3, 2, 2, 2, 2, 1, 1, 1, 1));

    LockPicture wide{2, 2, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}};
    ReverseRows(wide);
    EXPECT_THAT(wide.pixels, ElementsAre(9, 10, 11, 12, 13, 14, 15, 16, 1, 2, 3, 4, 5, 6, 7, 8));
}

}  // namespace
}  // namespace vorlek
