// A fuzzer's input read as a script of small records. Past its end every read gives zeros, so
// every input, however short, is a complete script and the targets need no length checks.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

namespace vorlek::fuzz {

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : bytes_(data, size) {}

    bool AtEnd() const { return pos_ == bytes_.size(); }

    std::uint8_t Byte() { return AtEnd() ? 0 : bytes_[pos_++]; }

    // Little-endian, as the datagrams carry their words.
    std::uint16_t U16() {
        const std::uint16_t low = Byte();
        return static_cast<std::uint16_t>(low | Byte() << 8);
    }
    std::uint32_t U32() {
        const std::uint32_t low = U16();
        return low | static_cast<std::uint32_t>(U16()) << 16;
    }

    // Up to count bytes; fewer when the input ends first.
    std::span<const std::uint8_t> Bytes(std::size_t count) {
        const std::size_t taken = std::min(count, bytes_.size() - pos_);
        const auto span = bytes_.subspan(pos_, taken);
        pos_ += taken;
        return span;
    }

    std::span<const std::uint8_t> Rest() { return Bytes(bytes_.size() - pos_); }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

}  // namespace vorlek::fuzz
