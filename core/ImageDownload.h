// The download loop of every stack: the image goes out in rising offset order, one request per
// piece, all in one request buffer, and the first piece the drive or its driver refuses ends
// the download. The stack tells the loop how its request carries a piece and how it judges the
// driver's answer.
#pragma once

#include <algorithm>
#include <concepts>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "core/UpdateFailure.h"
#include "platform/Platform.h"
#include "wire/ByteView.h"
#include "wire/SrbIoControl.h"

namespace velo {

// What a stack tells the download loop:
// - PIECE: where a piece stands in the request; the bytes before it are the request's front.
// - putRequest: writes the whole request of a piece that stands at an image offset.
// - putOffset: writes only the image offset, into a front that a whole-chunk request wrote.
// - replyLength: the output bytes a request of this size accepts.
// - judge: the answer to one request (the call's result, the reply in the buffer); prints the
//   stack's lines for a refused piece and tells why it was refused, nothing when accepted.
template <typename Stack>
concept DownloadStack = requires(const Stack& stack, ByteView& request, const ByteView& reply,
                                 std::uint64_t offset, std::span<const std::uint8_t> piece,
                                 const ControlResult& result) {
    { Stack::PIECE } -> std::convertible_to<std::size_t>;
    stack.putRequest(request, offset, piece);
    stack.putOffset(request, offset);
    { stack.replyLength(request.size()) } -> std::same_as<std::uint32_t>;
    { stack.judge(result, reply) } -> std::same_as<std::optional<UpdateFailure>>;
};

// Sends the image in pieces of chunk bytes with IOCTL_SCSI_MINIPORT, the whole buffer in each
// time; the last piece may be shorter and then carries only its own bytes. Nothing when every
// piece was accepted, else why the first refused one was, with its place among the pieces.
//
// Requests that carry a whole chunk differ only in their image offset, so once the first of
// them is written in full its front is kept, and each later one takes it back, its own offset
// and its chunk: per request the chunk is the only large write. The driver's answer may have
// changed any byte in the meantime, so the whole front is taken back every time.
template <DownloadStack Stack>
std::optional<UpdateFailure> downloadImage(DeviceFile& device, std::span<std::uint8_t> buffer,
                                           std::span<const std::uint8_t> image, std::uint32_t chunk,
                                           const Stack& stack) {
    ByteView request(buffer);
    const std::size_t frontSize = std::min<std::size_t>(Stack::PIECE, buffer.size());
    const std::uint32_t replyLength = stack.replyLength(buffer.size());
    const std::size_t pieces = (image.size() + chunk - 1) / chunk;
    std::vector<std::uint8_t> keptFront;
    for (std::size_t offset = 0; offset < image.size(); offset += chunk) {
        const auto piece =
            image.subspan(offset, std::min<std::size_t>(chunk, image.size() - offset));
        const bool whole = piece.size() == chunk;
        if (whole && !keptFront.empty()) {
            std::memcpy(buffer.data(), keptFront.data(), keptFront.size());
            stack.putOffset(request, offset);
            request.putBytesThenZero(Stack::PIECE, piece);
        } else {
            stack.putRequest(request, offset, piece);
            if (whole)
                keptFront.assign(buffer.begin(), buffer.begin() + frontSize);
        }
        const ControlResult result =
            device.control(srb::IOCTL_SCSI_MINIPORT, buffer,
                           static_cast<std::uint32_t>(buffer.size()), replyLength);
        if (auto refused = stack.judge(result, request))
            return inChunk(std::move(*refused), offset / chunk, pieces);
    }
    return std::nullopt;
}

}  // namespace velo
