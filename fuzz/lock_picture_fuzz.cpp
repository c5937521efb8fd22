// Any bytes as "BLOCKED.BMP". A picture is loaded exactly when the file holds both sizes and
// they describe one the station can hold; its buffer is then width x height x 4 bytes, each
// pixel the file's three bytes at offset 54 onwards (255 past the file's end) and 255, and the
// row reversal mirrors it top to bottom.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "agent/lock_picture.h"
#include "fuzz/check.h"

namespace {

using namespace vorlek;

// The folder of the picture file, removed when the fuzzer ends.
std::string gFolder;
std::string gPath;
constexpr std::int64_t kLargestTried = 4096;

std::int32_t Int32At(const std::uint8_t* data, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value |= static_cast<std::uint32_t>(data[offset + i]) << (8 * i);
    }
    return static_cast<std::int32_t>(value);
}

void CheckPixels(const LockPicture& picture, const std::uint8_t* data, std::size_t size) {
    const std::size_t count = picture.pixels.size() / 4;
    const std::size_t stored = size > 54 ? (size - 54) / 3 : 0;
    // Every pixel the file holds whole, and the first and last ones it does not.
    for (std::size_t i = 0; i < count; ++i) {
        if (i > stored + 1 && i + 1 < count) {
            i = count - 1;
        }
        for (std::size_t b = 0; b < 3; ++b) {
            const std::size_t at = 54 + 3 * i + b;
            const std::uint8_t expected = at < size ? data[at] : 255;
            FUZZ_CHECK(picture.pixels[4 * i + b] == expected);
        }
        FUZZ_CHECK(picture.pixels[4 * i + 3] == 255);
    }
}

void CheckReversal(const LockPicture& loaded) {
    LockPicture reversed = loaded;
    ReverseRows(reversed);
    const auto rowBytes = static_cast<std::size_t>(loaded.width) * 4;
    const auto height = static_cast<std::size_t>(loaded.height);
    FUZZ_CHECK(reversed.pixels.size() == loaded.pixels.size());
    for (std::size_t r = 0; r < height; ++r) {
        FUZZ_CHECK(std::equal(
            reversed.pixels.begin() + static_cast<std::ptrdiff_t>(r * rowBytes),
            reversed.pixels.begin() + static_cast<std::ptrdiff_t>((r + 1) * rowBytes),
            loaded.pixels.begin() + static_cast<std::ptrdiff_t>((height - 1 - r) * rowBytes)));
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char folder[] = "/dev/shm/vorlek-picture-fuzz-XXXXXX";
    FUZZ_CHECK(mkdtemp(folder) != nullptr);
    gFolder = folder;
    std::atexit([] { std::filesystem::remove_all(gFolder); });
    gPath = std::string(folder) + "/BLOCKED.BMP";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const bool sized = size >= 26;
    const std::int64_t width = sized ? Int32At(data, 18) : 0;
    const std::int64_t height = sized ? Int32At(data, 22) : 0;
    const bool holdable =
        sized && width > 0 && height > 0 && width * height <= kMaxLockPicturePixels;
    // Larger pictures the station holds take the same path as smaller ones at up to a quarter of
    // a second each, so the fuzzer leaves them out to keep its speed; sizes above the limit are
    // still tried, as they are refused before anything is allocated.
    if (holdable && width * height > kLargestTried) {
        return -1;
    }

    std::FILE* file = std::fopen(gPath.c_str(), "wb");
    FUZZ_CHECK(file != nullptr);
    FUZZ_CHECK(std::fwrite(data, 1, size, file) == size);
    std::fclose(file);

    const auto picture = LoadLockPicture(gPath.c_str());
    FUZZ_CHECK(picture.has_value() == holdable);
    if (!picture) {
        return 0;
    }
    FUZZ_CHECK(picture->width == width && picture->height == height);
    FUZZ_CHECK(picture->pixels.size() == static_cast<std::size_t>(width * height * 4));
    CheckPixels(*picture, data, size);
    CheckReversal(*picture);
    return 0;
}
