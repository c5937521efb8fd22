#include "agent/lock_picture.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "link/stdio_file.h"

namespace vorlek {

namespace {

constexpr long kWidthOffset = 18;
constexpr long kHeightOffset = 22;
constexpr long kPixelOffset = 54;
// A missing byte of a short file reads as this value.
constexpr std::uint8_t kMissingByte = 255;

std::optional<std::int32_t> ReadInt32At(std::FILE* file, long offset) {
    std::uint8_t bytes[4];
    if (std::fseek(file, offset, SEEK_SET) != 0 ||
        std::fread(bytes, 1, sizeof bytes, file) != sizeof bytes) {
        return std::nullopt;
    }
    const std::uint32_t value =
        static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
        static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
    return static_cast<std::int32_t>(value);
}

}  // namespace

std::optional<LockPicture> LoadLockPicture(const char* path) {
    const UniqueFile file(std::fopen(path, "rb"));
    if (!file) {
        return std::nullopt;
    }
    const auto width = ReadInt32At(file.get(), kWidthOffset);
    const auto height = ReadInt32At(file.get(), kHeightOffset);
    if (!width || !height || *width <= 0 || *height <= 0) {
        return std::nullopt;
    }
    const std::int64_t pixelCount = std::int64_t{*width} * *height;
    if (pixelCount > kMaxLockPicturePixels) {
        return std::nullopt;
    }
    const auto count = static_cast<std::size_t>(pixelCount);
    try {
        std::vector<std::uint8_t> stored(count * 3, kMissingByte);
        if (std::fseek(file.get(), kPixelOffset, SEEK_SET) == 0) {
            // A short read leaves the rest at kMissingByte.
            std::fread(stored.data(), 1, stored.size(), file.get());
        }
        LockPicture picture{*width, *height, std::vector<std::uint8_t>(count * 4)};
        for (std::size_t i = 0; i < count; ++i) {
            picture.pixels[4 * i] = stored[3 * i];
            picture.pixels[4 * i + 1] = stored[3 * i + 1];
            picture.pixels[4 * i + 2] = stored[3 * i + 2];
            picture.pixels[4 * i + 3] = 255;
        }
        return picture;
    } catch (const std::bad_alloc&) {
        // The station is locked without a picture; the next lock tries again.
        return std::nullopt;
    }
}

void ReverseRows(LockPicture& picture) {
    const auto rowBytes = static_cast<std::size_t>(picture.width) * 4;
    auto top = picture.pixels.begin();
    for (std::int32_t r = 0; r < picture.height / 2; ++r) {
        const auto bottom = picture.pixels.begin() +
                            static_cast<std::ptrdiff_t>(
                                static_cast<std::size_t>(picture.height - 1 - r) * rowBytes);
        std::swap_ranges(top, top + static_cast<std::ptrdiff_t>(rowBytes), bottom);
        top += static_cast<std::ptrdiff_t>(rowBytes);
    }
}

}  // namespace vorlek
