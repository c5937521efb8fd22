// Bytes as a file open for reading, so that the readers under test see exactly the fuzzer's
// bytes, NULs included, through the same stdio calls they make on a real file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

#include "fuzz/check.h"
#include "link/stdio_file.h"

namespace vorlek::fuzz {

class MemoryFile {
public:
    explicit MemoryFile(std::span<const std::uint8_t> bytes)
        : bytes_(bytes.begin(), bytes.end()),
          file_(fmemopen(bytes_.empty() ? nullptr : bytes_.data(), bytes_.size(), "r")) {
        FUZZ_CHECK(file_ != nullptr);
    }

    std::FILE* get() const { return file_.get(); }

private:
    std::vector<std::uint8_t> bytes_;
    UniqueFile file_;
};

}  // namespace vorlek::fuzz
