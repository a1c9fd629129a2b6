// What the RST and VROC transports print alike: the target-disk information block before they
// update a disk, and the lines of the download and activation steps.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "core/DiskRecord.h"
#include "platform/Io.h"
#include "platform/Platform.h"
#include "wire/SrbIoControl.h"
#include "wire/ByteView.h"

namespace velo {

enum class BannerDriver {
    Rst,   // " Driver : IRST Driver", with the RAID line
    Vroc,  // " Driver : VROC Driver", without it
};

void printTargetBanner(Io& io, const DiskRecord& disk, BannerDriver driver,
                       std::wstring_view updatedRevision);

// The line of a controller or port that did not open for the update.
void printHandleError(Io& io, std::uint32_t error);
// Builds the failure of a request answered with a nonzero ReturnCode: whose status that is, and
// what it means, depends on the driver that answered.
using StatusFailure = UpdateFailure (*)(FailedStep step, std::uint32_t status);

// A download request that was refused: prints the line of its failed call or of its
// ReturnCode, and tells why.
UpdateFailure downloadRefused(Io& io, const ControlResult& result, std::uint32_t status,
                              StatusFailure statusFailed);
// Judges a download request by its call, then by the ReturnCode of the reply, and prints the
// line of a refusal. Nothing when the request was accepted, else why not. Inline: it runs once
// per chunk.
inline std::optional<UpdateFailure> judgeDownloadAnswer(Io& io, const ControlResult& result,
                                                        const ByteView& reply,
                                                        StatusFailure statusFailed) {
    const std::uint32_t status = srb::returnCode(reply);
    if (result.ok && status == 0)
        return std::nullopt;
    return downloadRefused(io, result, status, statusFailed);
}
// Ends a download step: an empty line, then its PASS or FAIL line. Result 0 when nothing was
// refused, else 1 with the refusal.
UpdateOutcome finishDownload(Io& io, std::optional<UpdateFailure> refused);
// The line of an activation request whose call failed.
void printActivateCallFailed(Io& io, std::uint32_t error);
// The line of an activation answered with a ReturnCode no table names.
void printUnexpectedActivateStatus(Io& io, std::uint32_t status);

}  // namespace velo
