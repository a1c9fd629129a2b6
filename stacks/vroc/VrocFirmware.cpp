#include <algorithm>
#include <array>
#include <vector>

#include "platform/Console.h"
#include "core/UpdateLines.h"
#include "stacks/vroc/VrocDisks.h"
#include "stacks/vroc/VrocLayout.h"

namespace velo {

namespace {

// The NVMe status field of a completion, or nothing when the command completed without one.
std::optional<std::uint32_t> completionStatus(const ByteView& reply) {
    const std::uint32_t dword3 = reply.u32(nvmept::CPL_ENTRY_DW3);
    if (!nvme::completionFailed(dword3))
        return std::nullopt;
    return nvme::completionStatus(dword3);
}

// The VROC driver's NVME_IOCTL_* statuses 1 to 15, by value.
constexpr std::array<const wchar_t*, 16> DRIVER_STATUS_LINES = {
    nullptr,
    L"  [ERROR] NVME_IOCTL_INVALID_IOCTL_CODE\n\n",
    L"  [ERROR] NVME_IOCTL_INVALID_SIGNATURE\n\n",
    L"  [ERROR] NVME_IOCTL_INSUFFICIENT_IN_BUFFER\n\n",
    L"  [ERROR] NVME_IOCTL_INSUFFICIENT_OUT_BUFFER\n\n",
    L"  [ERROR] NVME_IOCTL_UNSUPPORTED_ADMIN_CMD\n\n",
    L"  [ERROR] NVME_IOCTL_UNSUPPORTED_NVM_CMD\n\n",
    L"  [ERROR] NVME_IOCTL_INVALID_ADMIN_VENDOR_SPECIFIC_OPCODE\n\n",
    L"  [ERROR] NVME_IOCTL_INVALID_NVM_VENDOR_SPECIFIC_OPCODE\n\n",
    L"  [ERROR] NVME_IOCTL_ADMIN_VENDOR_SPECIFIC_NOT_SUPPORTED\n\n",
    L"  [ERROR] NVME_IOCTL_NVM_VENDOR_SPECIFIC_NOT_SUPPORTED\n\n",
    L"  [ERROR] NVME_IOCTL_INVALID_DIRECTION_SPECIFIED\n\n",
    L"  [ERROR] NVME_IOCTL_INVALID_META_BUFFER_LENGTH\n\n",
    L"  [ERROR] NVME_IOCTL_PRP_TRANSLATION_ERROR\n\n",
    L"  [ERROR] NVME_IOCTL_INVALID_PATH_TARGET_ID\n\n",
    L"  [ERROR] NVME_IOCTL_FORMAT_NVM_PENDING\n\n",
};

}  // namespace

int vrocDownloadFirmware(Io& io, DeviceFile& port, const DiskRecord& disk,
                         std::span<const std::uint8_t> image,
                         std::optional<UpdateFailure>* failure) {
    FailureSlot told(failure);
    // One buffer serves the whole download; every request is sent whole, the last piece may be
    // shorter than a chunk and then carries only its own bytes.
    const std::uint32_t chunk = chunkLength(disk.updateGranularity);
    std::vector<std::uint8_t> buffer(vroc::DOWNLOAD_OVERHEAD + chunk);
    ByteView request(buffer);

    RequestFront front(buffer, nvmept::DATA_BUFFER);
    const std::size_t chunks = (image.size() + chunk - 1) / chunk;
    bool failed = false;
    for (std::size_t offset = 0; offset < image.size(); offset += chunk) {
        const auto piece =
            image.subspan(offset, std::min<std::size_t>(chunk, image.size() - offset));
        if (piece.size() == chunk && front.kept()) {
            front.takeBack();
            request.putU32(vroc::DOWNLOAD_DWORD_OFFSET, static_cast<std::uint32_t>(offset / 4));
            request.putBytesThenZero(nvmept::DATA_BUFFER, piece);
        } else {
            vroc::putDownloadRequest(request, disk.vrocDiskId, offset, piece);
            if (piece.size() == chunk)
                front.keep();
        }
        const ControlResult result = port.control(
            srb::IOCTL_SCSI_MINIPORT, buffer, static_cast<std::uint32_t>(buffer.size()),
            static_cast<std::uint32_t>(vroc::FIRMWARE_REPLY_SIZE));
        if (!downloadRequestAccepted(io, result, request, *told)) {
            // The ReturnCode of this driver's reply is its NVME_IOCTL_* status.
            if ((*told)->source == StatusSource::Firmware)
                *told = driverStatusFailed(FailedStep::Download, (*told)->status);
            *told = inChunk(**told, offset / chunk, chunks);
            failed = true;
            break;
        }
        if (const auto completion = completionStatus(request)) {
            io.console.printWide(
                L"  [ERROR] Firmware download failed: (nvmePassThroughIoctl->CplEntry[3]) >> 17: "
                L"0x%08x\n",
                *completion);
            *told = inChunk(nvmeStatusFailed(FailedStep::Download, *completion), offset / chunk,
                            chunks);
            failed = true;
            break;
        }
    }

    return finishDownload(io, failed);
}

int vrocActivateFirmware(Io& io, DeviceFile& port, std::uint32_t vrocDiskId,
                         std::optional<UpdateFailure>* failure) {
    FailureSlot told(failure);
    std::array<std::uint8_t, vroc::COMMIT_REQUEST_SIZE> buffer{};
    ByteView request(buffer);
    vroc::putCommitRequest(request, vrocDiskId);
    const ControlResult result = srb::sendWhole(port, buffer);
    if (!result.ok) {
        printActivateCallFailed(io, result.error);
        *told = callFailed(FailedStep::Activate, result.error);
        return VROC_FAILED;
    }

    const std::uint32_t status = srb::returnCode(request);
    if (status >= DRIVER_STATUS_LINES.size()) {
        printUnexpectedActivateStatus(io, status);
        *told = driverStatusFailed(FailedStep::Activate, status);
        return VROC_FAILED;
    }
    if (status != 0) {
        io.console.printWide(DRIVER_STATUS_LINES[status]);
        *told = driverStatusFailed(FailedStep::Activate, status);
        return VROC_FAILED;
    }
    if (const auto completion = completionStatus(request)) {
        io.console.printWide(
            L"  [ERROR] Firmware activation failed: Completion Queue Entry Status Value: 0x%08x\n",
            *completion);
        *told = nvmeStatusFailed(FailedStep::Activate, *completion);
        return VROC_COMPLETION_FAILED;
    }
    // Commit action 1: the drive runs the new image after the next reset, so the computer must
    // restart before the update is done.
    io.console.printWide(L"  [PASS] Firmware activation succeeded. Please reboot computer.\n\n");
    return VROC_REBOOT_REQUIRED;
}

int vrocUpdateDisk(Io& io, const DiskRecord& disk, const UpdateImage& image, std::int32_t vrocPort,
                   std::optional<UpdateFailure>* failure) {
    FailureSlot told(failure);
    printTargetBanner(io, disk, BannerDriver::Vroc, image.revision);
    // The port is held without sharing for this disk's update.
    auto opened = io.platform.openDevice(vroc::portPath(vrocPort), ACCESS_READ_WRITE, SHARE_NONE,
                                         OPEN_FLAGS_NONE);
    if (!opened.file) {
        printHandleError(io, opened.error);
        *told = callFailed(FailedStep::Open, opened.error);
        return VROC_NO_HANDLE;
    }
    int result = vrocDownloadFirmware(io, *opened.file, disk, image.bytes, &*told);
    if (result == VROC_UPDATED)
        result = vrocActivateFirmware(io, *opened.file, disk.vrocDiskId, &*told);
    return result;
}

}  // namespace velo
