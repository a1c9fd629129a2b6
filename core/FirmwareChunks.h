// How a firmware image is cut for download.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

namespace velo {

// The unit of a drive's update granularity.
inline constexpr std::uint32_t FIRMWARE_CHUNK_UNIT = 4096;
// A granularity of 255 comes from FWUG 0xFF, which states no restriction.
inline constexpr std::int32_t GRANULARITY_NO_RESTRICTION = 255;

// The image that the update pass hands to a transport: the bytes to download and the revision
// they install (shown in the target banner).
struct UpdateImage {
    std::span<const std::uint8_t> bytes;
    std::wstring_view revision;
};

// The bytes sent per download request for a record's update granularity.
inline std::uint32_t chunkLength(std::int32_t updateGranularity) {
    if (updateGranularity < 1 || updateGranularity >= GRANULARITY_NO_RESTRICTION) {
        return FIRMWARE_CHUNK_UNIT;
    }
    return static_cast<std::uint32_t>(updateGranularity) * FIRMWARE_CHUNK_UNIT;
}

// The bytes in front of the chunk in a download request. Requests that carry a whole chunk
// differ only in their image offset, so once the first of them is written in full its front is
// kept, and each later one takes it back, its own offset and its chunk: per request the chunk is
// the only large write. The driver's answer may have changed any byte in the meantime, so the
// whole front is taken back every time.
class RequestFront {
public:
    RequestFront(std::span<std::uint8_t> buffer, std::size_t size)
        : buffer_(buffer), size_(size <= buffer.size() ? size : buffer.size()) {}

    bool kept() const { return !front_.empty(); }
    void keep() { front_.assign(buffer_.begin(), buffer_.begin() + size_); }
    void takeBack() { std::memcpy(buffer_.data(), front_.data(), front_.size()); }

private:
    std::span<std::uint8_t> buffer_;
    std::size_t size_;
    std::vector<std::uint8_t> front_;
};

}  // namespace velo
