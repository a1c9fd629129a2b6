#include "stacks/rst/RstDisks.h"

#include <array>
#include <vector>

#include "platform/Console.h"
#include "platform/Text.h"
#include "wire/NvmeIdentify.h"
#include "stacks/rst/RstLayout.h"
#include "core/ImageDownload.h"
#include "core/UpdateLines.h"

namespace velo {

namespace {

// A whole identify field, every byte widened: the RST fields keep their zero bytes.
std::wstring identifyField(const ByteView& identify, std::size_t offset, std::size_t size) {
    return widenBytes(identify.text(offset, size));
}

}  // namespace

int rstIdentify(Io& io, DiskRecord record, DiskList& targets, UnreachedList* unreached) {
    std::vector<std::uint8_t> buffer(rst::IDENTIFY_REQUEST_SIZE);
    ByteView request(buffer);
    rst::putIdentifyRequest(request, rst::pathIdOf(record.targetAddress));

    auto opened = io.platform.openDevice(record.devicePath, ACCESS_READ_WRITE, SHARE_READ_WRITE,
                                         OPEN_FLAGS_NONE);
    if (!opened.file) {
        noteUnreached(unreached, record.driverKind, record.devicePath, UnreachedReason::OpenFailed,
                      opened.error, record.targetAddress);
        return RST_NO_DEVICE;
    }
    if (const ControlResult result = srb::sendWhole(*opened.file, buffer); !result.ok) {
        noteUnreached(unreached, record.driverKind, record.devicePath,
                      UnreachedReason::IdentifyFailed, result.error, record.targetAddress);
        return RST_IDENTIFY_FAILED;
    }

    // The driver's ReturnCode is not examined: whatever the data area holds now is the
    // identity. A drive that answered nothing shows zero bytes, which select no image.
    const ByteView identify(request.slice(rst::PASS_THROUGH_DATA, nvme::IDENTIFY_SIZE));
    record.serialNumber = identifyField(identify, nvme::SERIAL_NUMBER, nvme::SERIAL_NUMBER_SIZE);
    record.modelNumber = identifyField(identify, nvme::MODEL_NUMBER, nvme::MODEL_NUMBER_SIZE);
    record.firmwareRevision =
        identifyField(identify, nvme::FIRMWARE_REVISION, nvme::FIRMWARE_REVISION_SIZE);
    record.updateGranularity = nvme::updateGranularity(identify);
    targets.push_back(record);
    return RST_IDENTIFIED;
}

namespace {

// How an RST firmware request carries a piece of the image, and how the driver's answer to it
// is judged: by the call, then by the firmware status in ReturnCode.
struct RstDownload {
    static constexpr std::size_t PIECE = rst::DOWNLOAD_IMAGE;
    Io& io;
    std::uint8_t pathId;

    void putRequest(ByteView& request, std::uint64_t offset,
                    std::span<const std::uint8_t> piece) const {
        rst::putDownloadRequest(request, pathId, offset, piece);
    }
    static void putOffset(ByteView& request, std::uint64_t offset) {
        request.putU64(rst::DOWNLOAD_OFFSET, offset);
    }
    // The whole request comes back.
    static std::uint32_t replyLength(std::size_t requestSize) {
        return static_cast<std::uint32_t>(requestSize);
    }
    std::optional<UpdateFailure> judge(const ControlResult& result, const ByteView& reply) const {
        return judgeDownloadAnswer(io, result, reply, firmwareStatusFailed);
    }
};

}  // namespace

UpdateOutcome rstDownloadFirmware(Io& io, DeviceFile& device, const DiskRecord& disk,
                                  std::span<const std::uint8_t> image) {
    const std::uint32_t chunk = chunkLength(disk.updateGranularity);
    std::vector<std::uint8_t> buffer(rst::DOWNLOAD_OVERHEAD + chunk);
    const RstDownload stack{io, rst::pathIdOf(disk.targetAddress)};
    return finishDownload(io, downloadImage(device, buffer, image, chunk, stack));
}

UpdateOutcome rstActivateFirmware(Io& io, DeviceFile& device, std::uint8_t pathId) {
    std::array<std::uint8_t, rst::ACTIVATE_REQUEST_SIZE> buffer{};
    ByteView request(buffer);
    rst::putActivateRequest(request, pathId, rst::ACTIVATE_SLOT);
    const ControlResult result = srb::sendWhole(device, buffer);
    if (!result.ok) {
        printActivateCallFailed(io, result.error);
        return {RST_FAILED, callFailed(FailedStep::Activate, result.error)};
    }

    const std::uint32_t status = srb::returnCode(request);
    const int shown = static_cast<int>(status);
    const UpdateOutcome refused{RST_FAILED, firmwareStatusFailed(FailedStep::Activate, status)};
    switch (status) {
        case storagefw::STATUS_SUCCESS:
            io.console.printWide(L"  [PASS] Firmware activation succeeded.\n\n");
            return {RST_UPDATED, std::nullopt};
        case storagefw::STATUS_ERROR:
        case storagefw::STATUS_CONTROLLER_ERROR:
            io.console.printWide(L"  [ERROR] Firmware activate failed: error returned\n\n");
            return refused;
        case storagefw::STATUS_ILLEGAL_REQUEST:
        case storagefw::STATUS_INVALID_PARAMETER:
        case storagefw::STATUS_INPUT_BUFFER_TOO_BIG:
            io.console.printWide(
                L"  [ERROR] Firmware activate parameter error: srbControl->ReturnCode %d\n\n",
                shown);
            return refused;
        case storagefw::STATUS_INVALID_SLOT:
            io.console.printWide(L"  [ERROR] Firmware activate failed: invalid slot number\n\n");
            return refused;
        case storagefw::STATUS_INVALID_IMAGE:
            io.console.printWide(L"  [ERROR] Firmware activate failed: invalid firmware image\n\n");
            return refused;
        case storagefw::STATUS_POWER_CYCLE_REQUIRED:
            // The drive took the image; it runs after the next restart.
            io.console.printWide(
                L"  [PASS] Firmware activate succeeded. PLEASE SHUTDOWN COMPUTER.\n\n\n");
            return {RST_REBOOT_REQUIRED, std::nullopt};
        default:
            printUnexpectedActivateStatus(io, status);
            return refused;
    }
}

UpdateOutcome rstUpdateDisk(Io& io, const DiskRecord& disk, const UpdateImage& image) {
    printTargetBanner(io, disk, BannerDriver::Rst, image.revision);
    // The disk's controller is held without sharing for the whole update.
    auto opened =
        io.platform.openDevice(disk.devicePath, ACCESS_READ_WRITE, SHARE_NONE, OPEN_FLAGS_NONE);
    if (!opened.file) {
        printHandleError(io, opened.error);
        return {RST_NO_HANDLE, callFailed(FailedStep::Open, opened.error)};
    }
    UpdateOutcome outcome = rstDownloadFirmware(io, *opened.file, disk, image.bytes);
    if (outcome.resultCode == RST_UPDATED)
        outcome = rstActivateFirmware(io, *opened.file, rst::pathIdOf(disk.targetAddress));
    return outcome;
}

}  // namespace velo
