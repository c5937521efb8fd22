// The lock picture "BLOCKED.BMP": read at fixed offsets of a BMP file (width at 18, height at
// 22, 3-byte blue-green-red pixels from 54), held as 4 bytes a pixel (blue, green, red, 255).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace vorlek {

struct LockPicture {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint8_t> pixels;  // width * height * 4 bytes
};

// nullopt when the file cannot be opened or does not describe a picture the station can hold.
std::optional<LockPicture> LoadLockPicture(const char* path);

}  // namespace vorlek
