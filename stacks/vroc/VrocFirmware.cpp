#include <array>
#include <vector>

#include "platform/Console.h"
#include "core/ImageDownload.h"
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

// The VROC driver's NVME_IOCTL_* statuses besides success: the name its console line shows and
// what it means in the result document.
struct DriverStatus {
    std::uint32_t value;
    const wchar_t* name;
    const char* meaning;
};

constexpr std::array<DriverStatus, 15> DRIVER_STATUSES = {{
    {1, L"NVME_IOCTL_INVALID_IOCTL_CODE", "invalid IOCTL code"},
    {2, L"NVME_IOCTL_INVALID_SIGNATURE", "invalid signature"},
    {3, L"NVME_IOCTL_INSUFFICIENT_IN_BUFFER", "insufficient input buffer"},
    {4, L"NVME_IOCTL_INSUFFICIENT_OUT_BUFFER", "insufficient output buffer"},
    {5, L"NVME_IOCTL_UNSUPPORTED_ADMIN_CMD", "unsupported admin command"},
    {6, L"NVME_IOCTL_UNSUPPORTED_NVM_CMD", "unsupported NVM command"},
    {7, L"NVME_IOCTL_INVALID_ADMIN_VENDOR_SPECIFIC_OPCODE", "invalid admin vendor-specific opcode"},
    {8, L"NVME_IOCTL_INVALID_NVM_VENDOR_SPECIFIC_OPCODE", "invalid NVM vendor-specific opcode"},
    {9, L"NVME_IOCTL_ADMIN_VENDOR_SPECIFIC_NOT_SUPPORTED",
     "admin vendor-specific commands not supported"},
    {10, L"NVME_IOCTL_NVM_VENDOR_SPECIFIC_NOT_SUPPORTED",
     "NVM vendor-specific commands not supported"},
    {11, L"NVME_IOCTL_INVALID_DIRECTION_SPECIFIED", "invalid direction"},
    {12, L"NVME_IOCTL_INVALID_META_BUFFER_LENGTH", "invalid metadata buffer length"},
    {13, L"NVME_IOCTL_PRP_TRANSLATION_ERROR", "PRP translation error"},
    {14, L"NVME_IOCTL_INVALID_PATH_TARGET_ID", "invalid path target id"},
    {15, L"NVME_IOCTL_FORMAT_NVM_PENDING", "format NVM pending"},
}};

constexpr bool inValueOrder() {
    for (std::size_t row = 0; row < DRIVER_STATUSES.size(); ++row) {
        if (DRIVER_STATUSES[row].value != row + 1)
            return false;
    }
    return true;
}
static_assert(inValueOrder(), "a status's row is found by its value");

// The row of a status, or nothing for a status the driver does not define.
const DriverStatus* findDriverStatus(std::uint32_t status) {
    if (status < 1 || status > DRIVER_STATUSES.size())
        return nullptr;
    return &DRIVER_STATUSES[status - 1];
}

UpdateFailure vrocStatusFailed(FailedStep step, std::uint32_t status) {
    const DriverStatus* known = findDriverStatus(status);
    return driverStatusFailed(step, status, known ? known->meaning : "unknown driver status");
}

// How a Firmware Image Download command carries a piece of the image, and how the driver's
// answer to it is judged: by the call, the driver's status in ReturnCode, then the drive's
// completion status.
struct VrocDownload {
    static constexpr std::size_t PIECE = nvmept::DATA_BUFFER;
    Io& io;
    std::uint32_t diskId;

    void putRequest(ByteView& request, std::uint64_t offset,
                    std::span<const std::uint8_t> piece) const {
        vroc::putDownloadRequest(request, diskId, offset, piece);
    }
    static void putOffset(ByteView& request, std::uint64_t offset) {
        request.putU32(vroc::DOWNLOAD_DWORD_OFFSET, static_cast<std::uint32_t>(offset / 4));
    }
    static std::uint32_t replyLength(std::size_t) {
        return static_cast<std::uint32_t>(vroc::FIRMWARE_REPLY_SIZE);
    }
    std::optional<UpdateFailure> judge(const ControlResult& result, const ByteView& reply) const {
        if (auto refused = judgeDownloadAnswer(io, result, reply, vrocStatusFailed))
            return refused;
        if (const auto completion = completionStatus(reply)) {
            io.console.printWide(
                L"  [ERROR] Firmware download failed: (nvmePassThroughIoctl->CplEntry[3]) >> 17: "
                L"0x%08x\n",
                *completion);
            return nvmeStatusFailed(FailedStep::Download, *completion);
        }
        return std::nullopt;
    }
};

}  // namespace

UpdateOutcome vrocDownloadFirmware(Io& io, DeviceFile& port, const DiskRecord& disk,
                                   std::span<const std::uint8_t> image) {
    const std::uint32_t chunk = chunkLength(disk.updateGranularity);
    std::vector<std::uint8_t> buffer(vroc::DOWNLOAD_OVERHEAD + chunk);
    const VrocDownload stack{io, disk.vrocDiskId};
    return finishDownload(io, downloadImage(port, buffer, image, chunk, stack));
}

UpdateOutcome vrocActivateFirmware(Io& io, DeviceFile& port, std::uint32_t vrocDiskId) {
    std::array<std::uint8_t, vroc::COMMIT_REQUEST_SIZE> buffer{};
    ByteView request(buffer);
    vroc::putCommitRequest(request, vrocDiskId);
    const ControlResult result = srb::sendWhole(port, buffer);
    if (!result.ok) {
        printActivateCallFailed(io, result.error);
        return {VROC_FAILED, callFailed(FailedStep::Activate, result.error)};
    }

    const std::uint32_t status = srb::returnCode(request);
    if (status != 0) {
        if (const DriverStatus* known = findDriverStatus(status))
            io.console.printWide(L"  [ERROR] %ls\n\n", known->name);
        else
            printUnexpectedActivateStatus(io, status);
        return {VROC_FAILED, vrocStatusFailed(FailedStep::Activate, status)};
    }
    if (const auto completion = completionStatus(request)) {
        io.console.printWide(
            L"  [ERROR] Firmware activation failed: Completion Queue Entry Status Value: 0x%08x\n",
            *completion);
        return {VROC_COMPLETION_FAILED, nvmeStatusFailed(FailedStep::Activate, *completion)};
    }
    // Commit action 1: the drive runs the new image after the next reset, so the computer must
    // restart before the update is done.
    io.console.printWide(L"  [PASS] Firmware activation succeeded. Please reboot computer.\n\n");
    return {VROC_REBOOT_REQUIRED, std::nullopt};
}

UpdateOutcome vrocUpdateDisk(Io& io, const DiskRecord& disk, const UpdateImage& image,
                             std::int32_t vrocPort) {
    printTargetBanner(io, disk, BannerDriver::Vroc, image.revision);
    // The port is held without sharing for this disk's update.
    auto opened = io.platform.openDevice(vroc::portPath(vrocPort), ACCESS_READ_WRITE, SHARE_NONE,
                                         OPEN_FLAGS_NONE);
    if (!opened.file) {
        printHandleError(io, opened.error);
        return {VROC_NO_HANDLE, callFailed(FailedStep::Open, opened.error)};
    }
    UpdateOutcome outcome = vrocDownloadFirmware(io, *opened.file, disk, image.bytes);
    if (outcome.resultCode == VROC_UPDATED)
        outcome = vrocActivateFirmware(io, *opened.file, disk.vrocDiskId);
    return outcome;
}

}  // namespace velo
