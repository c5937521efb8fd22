// The lock picture "BLOCKED.BMP": read at fixed offsets of a BMP file (width at 18, height at
// 22, 3-byte blue-green-red pixels from 54), held as 4 bytes a pixel (blue, green, red, 255).
// Nothing else in the file is looked at: not the signature, the bit depth, the compression or
// the pixel-data offset of its headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace vorlek {

// The largest picture the station holds: 16 Mi pixels, a 64 MiB buffer of 4-byte pixels. Larger
// (or zero or negative) sizes in a file are taken as a broken file, not as a picture.
inline constexpr std::int64_t kMaxLockPicturePixels = std::int64_t{16} * 1024 * 1024;

struct LockPicture {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint8_t> pixels;  // width * height * 4 bytes, stored row first
};

// nullopt when the file cannot be opened or does not describe a picture the station can hold
// (a file too short for the two sizes, a size of zero or less, or more than
// kMaxLockPicturePixels pixels). Pixel bytes missing at the end of a short file read as 255.
std::optional<LockPicture> LoadLockPicture(const char* path);

// Reverses the order of the rows once, so that the first row stored in the file ends up at the
// top of a bottom-up bitmap.
void ReverseRows(LockPicture& picture);

}  // namespace vorlek
