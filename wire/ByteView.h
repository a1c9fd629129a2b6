// Little-endian access to request buffers. Every access is checked against the buffer:
// a read outside it yields 0 and a write outside it is dropped, so a length or offset that a
// driver sent back can never reach memory outside the buffer. Code that reads untrusted
// offsets asks fits() first and treats a miss as a malformed reply.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

namespace velo {

class ByteView {
public:
    explicit ByteView(std::span<std::uint8_t> bytes) : bytes_(bytes) {}

    std::size_t size() const { return bytes_.size(); }
    std::span<std::uint8_t> bytes() const { return bytes_; }

    // True when [offset, offset + width) lies inside the buffer (no overflow possible).
    bool fits(std::uint64_t offset, std::uint64_t width) const {
        return offset <= bytes_.size() && width <= bytes_.size() - offset;
    }

    std::uint8_t u8(std::size_t offset) const { return static_cast<std::uint8_t>(get(offset, 1)); }
    std::uint16_t u16(std::size_t offset) const {
        return static_cast<std::uint16_t>(get(offset, 2));
    }
    std::uint32_t u32(std::size_t offset) const {
        return static_cast<std::uint32_t>(get(offset, 4));
    }
    std::uint64_t u64(std::size_t offset) const { return get(offset, 8); }

    void putU8(std::size_t offset, std::uint8_t value) { put(offset, 1, value); }
    void putU16(std::size_t offset, std::uint16_t value) { put(offset, 2, value); }
    void putU32(std::size_t offset, std::uint32_t value) { put(offset, 4, value); }
    void putU64(std::size_t offset, std::uint64_t value) { put(offset, 8, value); }

    // Copies text bytes as they are (no terminator), e.g. an 8-byte signature.
    void putText(std::size_t offset, std::string_view text) {
        if (fits(offset, text.size()) && !text.empty()) {
            std::memcpy(bytes_.data() + offset, text.data(), text.size());
        }
    }
    void putBytes(std::size_t offset, std::span<const std::uint8_t> source) {
        if (fits(offset, source.size()) && !source.empty()) {
            std::memcpy(bytes_.data() + offset, source.data(), source.size());
        }
    }
    // The bytes [offset, offset + width), or an empty span when they do not fit.
    std::span<std::uint8_t> slice(std::size_t offset, std::size_t width) const {
        return fits(offset, width) ? bytes_.subspan(offset, width) : std::span<std::uint8_t>{};
    }
    std::string_view text(std::size_t offset, std::size_t width) const {
        auto part = slice(offset, width);
        return {reinterpret_cast<const char*>(part.data()), part.size()};
    }
    void zero() { zeroFirst(bytes_.size()); }
    // Zeroes the first `width` bytes, as many as the buffer holds.
    void zeroFirst(std::size_t width) {
        width = std::min(width, bytes_.size());
        if (width != 0)
            std::memset(bytes_.data(), 0, width);
    }
    // Copies source to offset and zeroes every byte after it, so that a buffer filled again
    // with a shorter piece keeps nothing of the one before. When source does not fit, every
    // byte from offset on is zeroed.
    void putBytesThenZero(std::size_t offset, std::span<const std::uint8_t> source) {
        if (offset >= bytes_.size())
            return;
        std::size_t end = offset;
        if (fits(offset, source.size()) && !source.empty()) {
            std::memcpy(bytes_.data() + offset, source.data(), source.size());
            end += source.size();
        }
        if (end < bytes_.size())
            std::memset(bytes_.data() + end, 0, bytes_.size() - end);
    }

private:
    // On a little-endian host (both builds) a field is one copy of the value's low bytes.
    std::uint64_t get(std::size_t offset, std::size_t width) const {
        if (!fits(offset, width))
            return 0;
        std::uint64_t value = 0;
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(&value, bytes_.data() + offset, width);
        } else {
            for (std::size_t i = 0; i < width; ++i)
                value |= static_cast<std::uint64_t>(bytes_[offset + i]) << (8 * i);
        }
        return value;
    }
    void put(std::size_t offset, std::size_t width, std::uint64_t value) {
        if (!fits(offset, width))
            return;
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(bytes_.data() + offset, &value, width);
        } else {
            for (std::size_t i = 0; i < width; ++i)
                bytes_[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
        }
    }

    std::span<std::uint8_t> bytes_;
};

}  // namespace velo
