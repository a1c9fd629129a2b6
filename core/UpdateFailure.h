// Why one disk's update failed, as the transport that served it learned it: the step, the
// chunk of a download, and the system error or status that ended it. The console and log lines
// stay as they are; the result document tells this.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace velo {

enum class FailedStep {
    Image,     // the loaded image differs from the build's digest; nothing was sent to any disk
    Revision,  // the disk's revision does not take the loaded image; nothing was sent
    Open,      // the device, controller or port did not open
    GetInfo,   // the firmware slot information request
    Download,  // a download request
    Activate,  // the activation (or commit) request
};

// Whose status a failed step reports.
enum class StatusSource {
    None,
    Firmware,  // the ReturnCode of a miniport firmware request (FIRMWARE_STATUS_*)
    Driver,    // the VROC driver's NVME_IOCTL_* status
    Nvme,      // the status field of the drive's NVMe completion
    Slot,      // the slot information: no upgrade support or no writable slot
};

struct UpdateFailure {
    FailedStep step = FailedStep::Open;
    std::uint32_t chunk = 0;                   // download: the failing chunk, counted from 1
    std::uint32_t chunks = 0;                  // download: the chunks of the whole image
    std::optional<std::uint32_t> systemError;  // the call itself failed with this error
    StatusSource source = StatusSource::None;
    std::uint32_t status = 0;  // by source; 0 with StatusSource::None or Slot
    std::string meaning;       // what the status or the slot information means
};

// What an update operation gives back: the disk's result code, and why the update failed when
// it did.
struct UpdateOutcome {
    int resultCode = 0;
    std::optional<UpdateFailure> failure;
};

// "download", "activate", ...
std::string failedStepName(FailedStep step);
// "firmware", "driver", "nvme", "slot", or empty.
std::string statusSourceName(StatusSource source);
// One sentence: "download chunk 3 of 512: call failed with system error 0x1F".
std::string describeFailure(const UpdateFailure& failure);

// Builders for the transports.
UpdateFailure callFailed(FailedStep step, std::uint32_t systemError);
UpdateFailure firmwareStatusFailed(FailedStep step, std::uint32_t status);
// The driver's status comes with its meaning: the stack that knows the driver tells it.
UpdateFailure driverStatusFailed(FailedStep step, std::uint32_t status, std::string meaning);
UpdateFailure nvmeStatusFailed(FailedStep step, std::uint32_t status);
// Marks a failure as that of download chunk index (from 0) of chunks.
UpdateFailure inChunk(UpdateFailure failure, std::size_t index, std::size_t chunks);

// The meaning of a FIRMWARE_STATUS_* value, e.g. "invalid slot".
std::string firmwareStatusMeaning(std::uint32_t status);

}  // namespace velo
