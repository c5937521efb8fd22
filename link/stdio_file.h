// A file of the C library's buffered input and output that closes itself.
#pragma once

#include <cstdio>
#include <memory>

namespace vorlek {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace vorlek
