#include "stacks/inbox/InboxFirmware.h"

#include <span>
#include <vector>

#include "platform/Platform.h"
#include "core/ImageDownload.h"
#include "stacks/inbox/MiniportLayout.h"

namespace velo {

namespace {

class FirmwareRequests {
public:
    FirmwareRequests(DeviceFile& device, std::uint32_t chunk)
        : device_(device), buffer_(miniport::REQUEST_OVERHEAD + chunk), request_(buffer_) {}

    ByteView& request() { return request_; }
    DeviceFile& device() { return device_; }

    // Sends the buffer in both directions; true when the call completed.
    bool send() {
        auto result = srb::sendWhole(device_, buffer_);
        if (!result.ok) {
            error_ = result.error;
            return false;
        }
        status_ = srb::returnCode(request_);
        return true;
    }
    std::uint32_t status() const { return status_; }
    // The system error of the last call that failed.
    std::uint32_t error() const { return error_; }

private:
    DeviceFile& device_;
    std::vector<std::uint8_t> buffer_;
    ByteView request_;
    std::uint32_t status_ = 0;
    std::uint32_t error_ = 0;
};

// The slot to activate, or why there is none.
struct SlotChoice {
    UpdateOutcome outcome;  // INBOX_UPDATED when a slot was found
    std::uint8_t slot = 0;
};

SlotChoice slotFailure(int result, UpdateFailure failure) {
    return {{result, std::move(failure)}, 0};
}

UpdateFailure slotInformation(std::string meaning) {
    UpdateFailure failure;
    failure.step = FailedStep::GetInfo;
    failure.source = StatusSource::Slot;
    failure.meaning = std::move(meaning);
    return failure;
}

// The first writable slot of the get-info reply. The reply's data offset and slot count come
// from the driver, so every byte read is checked against the buffer first.
SlotChoice chooseSlot(FirmwareRequests& requests) {
    miniport::putRequest(requests.request(), storagefw::FUNCTION_GET_INFO);
    if (!requests.send())
        return slotFailure(INBOX_REQUEST_FAILED, callFailed(FailedStep::GetInfo, requests.error()));
    if (requests.status() != storagefw::STATUS_SUCCESS) {
        return slotFailure(INBOX_REQUEST_FAILED,
                           firmwareStatusFailed(FailedStep::GetInfo, requests.status()));
    }
    const ByteView& reply = requests.request();
    const std::uint64_t info = reply.u32(miniport::BLOCK_DATA_OFFSET);
    if (!reply.fits(info, storagefw::INFO_SLOTS)) {
        return slotFailure(INBOX_REQUEST_FAILED,
                           slotInformation("slot information outside the reply"));
    }

    const std::uint8_t slotCount = reply.u8(info + storagefw::INFO_SLOT_COUNT);
    if (reply.u8(info + storagefw::INFO_UPGRADE_SUPPORT) == 0)
        return slotFailure(INBOX_NOT_ACCEPTED, slotInformation("firmware upgrade not supported"));
    if (slotCount == 0)
        return slotFailure(INBOX_NOT_ACCEPTED, slotInformation("no firmware slot"));
    for (std::size_t entry = 0; entry < slotCount; ++entry) {
        const std::uint64_t slot =
            info + storagefw::INFO_SLOTS + entry * storagefw::SLOT_ENTRY_SIZE;
        if (!reply.fits(slot, storagefw::SLOT_ENTRY_SIZE)) {
            return slotFailure(INBOX_REQUEST_FAILED,
                               slotInformation("slot entries outside the reply"));
        }
        if (reply.u8(slot + storagefw::SLOT_READ_ONLY) == 0) {
            return {{INBOX_UPDATED, std::nullopt}, reply.u8(slot + storagefw::SLOT_NUMBER)};
        }
    }
    return slotFailure(INBOX_NOT_ACCEPTED, slotInformation("every firmware slot is read-only"));
}

// How a miniport download request carries a piece of the image, and how the driver's answer to
// it is judged: by the call, then by the firmware status in ReturnCode. This stack prints no
// line.
struct InboxDownload {
    static constexpr std::size_t PIECE = miniport::REQUEST_OVERHEAD;

    static void putRequest(ByteView& request, std::uint64_t offset,
                           std::span<const std::uint8_t> piece) {
        miniport::putDownloadRequest(request, offset, piece);
    }
    static void putOffset(ByteView& request, std::uint64_t offset) {
        request.putU64(miniport::DATA + storagefw::DOWNLOAD_OFFSET, offset);
    }
    // The whole request comes back.
    static std::uint32_t replyLength(std::size_t requestSize) {
        return static_cast<std::uint32_t>(requestSize);
    }
    static std::optional<UpdateFailure> judge(const ControlResult& result, const ByteView& reply) {
        if (!result.ok)
            return callFailed(FailedStep::Download, result.error);
        const std::uint32_t status = srb::returnCode(reply);
        if (status != storagefw::STATUS_SUCCESS)
            return firmwareStatusFailed(FailedStep::Download, status);
        return std::nullopt;
    }
};

UpdateOutcome activate(FirmwareRequests& requests, std::uint8_t slot) {
    ByteView& request = requests.request();
    miniport::putRequest(request, storagefw::FUNCTION_ACTIVATE);
    storagefw::putActivate(request, miniport::DATA, slot);
    if (!requests.send())
        return {INBOX_REQUEST_FAILED, callFailed(FailedStep::Activate, requests.error())};
    switch (requests.status()) {
        case storagefw::STATUS_SUCCESS:
            return {INBOX_UPDATED, std::nullopt};
        case storagefw::STATUS_POWER_CYCLE_REQUIRED:
            // The new image runs only after the drive is power-cycled.
            return {INBOX_REBOOT_REQUIRED, std::nullopt};
        default:
            return {INBOX_NOT_ACCEPTED,
                    firmwareStatusFailed(FailedStep::Activate, requests.status())};
    }
}

}  // namespace

UpdateOutcome inboxUpdateDisk(Io& io, const DiskRecord& disk, const UpdateImage& image) {
    const std::uint32_t chunk = chunkLength(disk.updateGranularity);

    auto opened = io.platform.openDevice(disk.devicePath, ACCESS_READ_WRITE, SHARE_READ_WRITE,
                                         OPEN_FLAGS_NONE);
    if (!opened.file)
        return {INBOX_REQUEST_FAILED, callFailed(FailedStep::Open, opened.error)};
    FirmwareRequests requests(*opened.file, chunk);

    SlotChoice choice = chooseSlot(requests);
    if (choice.outcome.resultCode != INBOX_UPDATED)
        return std::move(choice.outcome);
    if (auto refused = downloadImage(requests.device(), requests.request().bytes(), image.bytes,
                                     chunk, InboxDownload{}))
        return {INBOX_REQUEST_FAILED, std::move(refused)};
    return activate(requests, choice.slot);
}

}  // namespace velo
