#include "transport/InboxTransport.h"

#include <algorithm>
#include <span>
#include <vector>

#include "platform/Platform.h"
#include "transport/FirmwareChunks.h"
#include "transport/MiniportFirmware.h"

namespace velo {

namespace {

class FirmwareRequests {
public:
    FirmwareRequests(DeviceFile& device, std::uint32_t chunk)
        : device_(device), buffer_(fw::REQUEST_OVERHEAD + chunk), request_(buffer_) {}

    ByteView& request() { return request_; }

    // Sends the buffer in both directions; true when the call completed with status 0.
    bool send() {
        auto result = srb::sendWhole(device_, buffer_);
        if (!result.ok)
            return false;
        status_ = srb::returnCode(request_);
        return true;
    }
    std::uint32_t status() const { return status_; }

private:
    DeviceFile& device_;
    std::vector<std::uint8_t> buffer_;
    ByteView request_;
    std::uint32_t status_ = 0;
};

// The slot to activate, or why there is none.
struct SlotChoice {
    int result = INBOX_UPDATED;  // INBOX_UPDATED when a slot was found
    std::uint8_t slot = 0;
};

// The first writable slot of the get-info reply. The reply's data offset and slot count come
// from the driver, so every byte read is checked against the buffer first.
SlotChoice chooseSlot(FirmwareRequests& requests) {
    fw::putRequest(requests.request(), firmware::FUNCTION_GET_INFO);
    if (!requests.send() || requests.status() != firmware::STATUS_SUCCESS) {
        return {INBOX_REQUEST_FAILED};
    }
    const ByteView& reply = requests.request();
    const std::uint64_t info = reply.u32(fw::BLOCK_DATA_OFFSET);
    if (!reply.fits(info, firmware::INFO_SLOTS))
        return {INBOX_REQUEST_FAILED};

    const std::uint8_t slotCount = reply.u8(info + firmware::INFO_SLOT_COUNT);
    if (reply.u8(info + firmware::INFO_UPGRADE_SUPPORT) == 0 || slotCount == 0) {
        return {INBOX_NOT_ACCEPTED};
    }
    for (std::size_t entry = 0; entry < slotCount; ++entry) {
        const std::uint64_t slot = info + firmware::INFO_SLOTS + entry * firmware::SLOT_ENTRY_SIZE;
        if (!reply.fits(slot, firmware::SLOT_ENTRY_SIZE))
            return {INBOX_REQUEST_FAILED};
        if (reply.u8(slot + firmware::SLOT_READ_ONLY) == 0) {
            return {INBOX_UPDATED, reply.u8(slot + firmware::SLOT_NUMBER)};
        }
    }
    return {INBOX_NOT_ACCEPTED};
}

// Sends the image in rising offset order; the last piece carries only the bytes that remain.
bool download(FirmwareRequests& requests, std::span<const std::uint8_t> image,
              std::uint32_t chunk) {
    ByteView& request = requests.request();
    RequestFront front(request.bytes(), fw::REQUEST_OVERHEAD);
    for (std::size_t offset = 0; offset < image.size(); offset += chunk) {
        const auto piece =
            image.subspan(offset, std::min<std::size_t>(chunk, image.size() - offset));
        if (piece.size() == chunk && front.kept()) {
            front.takeBack();
            request.putU64(fw::DATA + firmware::DOWNLOAD_OFFSET, offset);
            request.putBytesThenZero(fw::REQUEST_OVERHEAD, piece);
        } else {
            fw::putDownloadRequest(request, offset, piece);
            if (piece.size() == chunk)
                front.keep();
        }
        if (!requests.send() || requests.status() != firmware::STATUS_SUCCESS)
            return false;
    }
    return true;
}

int activate(FirmwareRequests& requests, std::uint8_t slot) {
    ByteView& request = requests.request();
    fw::putRequest(request, firmware::FUNCTION_ACTIVATE);
    firmware::putActivate(request, fw::DATA, slot);
    if (!requests.send())
        return INBOX_REQUEST_FAILED;
    switch (requests.status()) {
        case firmware::STATUS_SUCCESS:
            return INBOX_UPDATED;
        case firmware::STATUS_POWER_CYCLE_REQUIRED:
            // The new image runs only after the drive is power-cycled.
            return INBOX_REBOOT_REQUIRED;
        default:
            return INBOX_NOT_ACCEPTED;
    }
}

}  // namespace

int inboxUpdateDisk(Io& io, const DiskRecord& disk, const UpdateImage& image) {
    const std::uint32_t chunk = chunkLength(disk.updateGranularity);

    auto opened = io.platform.openDevice(disk.devicePath, ACCESS_READ_WRITE, SHARE_READ_WRITE,
                                         OPEN_FLAGS_NONE);
    if (!opened.file)
        return INBOX_REQUEST_FAILED;
    FirmwareRequests requests(*opened.file, chunk);

    const SlotChoice choice = chooseSlot(requests);
    if (choice.result != INBOX_UPDATED)
        return choice.result;
    if (!download(requests, image.bytes, chunk))
        return INBOX_REQUEST_FAILED;
    return activate(requests, choice.slot);
}

}  // namespace velo
