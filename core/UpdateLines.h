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
// A download request that was not accepted: prints the line of its failed call or of its
// ReturnCode, and tells why in failure.
void downloadRefused(Io& io, const ControlResult& result, const ByteView& reply,
                     std::optional<UpdateFailure>& failure);
// Judges one download request by its call, then by the ReturnCode of the reply, and prints the
// line of a failure. True when the request was accepted; otherwise failure tells why. Inline:
// it runs once per chunk.
inline bool downloadRequestAccepted(Io& io, const ControlResult& result, const ByteView& reply,
                                    std::optional<UpdateFailure>& failure) {
    if (result.ok && srb::returnCode(reply) == 0)
        return true;
    downloadRefused(io, result, reply, failure);
    return false;
}
// Ends a download step: an empty line, then its PASS or FAIL line. 0 accepted, 1 failed.
int finishDownload(Io& io, bool failed);
// The line of an activation request whose call failed.
void printActivateCallFailed(Io& io, std::uint32_t error);
// The line of an activation answered with a ReturnCode no table names.
void printUnexpectedActivateStatus(Io& io, std::uint32_t status);

}  // namespace velo
