// One NVMe disk from discovery to the result report.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/UpdateFailure.h"

namespace velo {

// The driver stack that serves a disk.
enum class DriverKind : std::int32_t {
    None = 0,            // not yet set by the record's creator
    RstRaid = 1,         // Intel RST RAID volume (candidate) or one of its members (target)
    RstPassThrough = 2,  // disk behind the Intel RST driver, outside any RAID volume
    Inbox = 3,           // disk on the Windows inbox NVMe driver
    VrocRaidMember = 4,  // member of a VROC RAID volume
    VrocNonRaid = 5,     // VROC disk outside any RAID volume
};

// What a drive reported when it was identified again after its update (/verify).
enum class VerifyOutcome {
    Verified,         // it runs the revision the image installs
    RevisionDiffers,  // it runs another revision
    PendingRestart,   // the new image runs only after a restart: nothing to check yet
    NotIdentified,    // the identify request after the update failed
};

struct Verification {
    VerifyOutcome outcome = VerifyOutcome::NotIdentified;
    std::wstring runningRevision;  // as identified; empty unless Verified or RevisionDiffers
};

struct DiskRecord {
    std::wstring devicePath;
    std::int64_t targetAddress = -1;  // -1: opened directly, no address behind a controller
    DriverKind driverKind = DriverKind::None;
    std::wstring modelNumber;
    std::wstring serialNumber;
    std::wstring firmwareRevision;
    std::int32_t updateGranularity = 1;  // in units of FIRMWARE_CHUNK_UNIT
    std::uint32_t vrocDiskId = 0;
    std::int32_t resultCode = 0;
    std::optional<UpdateFailure> failure;      // why the update failed, when it did
    std::optional<Verification> verification;  // with /verify, for an updated disk

    // Empties the four texts; the other fields keep their values.
    void clear() {
        devicePath.clear();
        modelNumber.clear();
        serialNumber.clear();
        firmwareRevision.clear();
    }
};

using DiskList = std::vector<DiskRecord>;

// A fresh candidate as the enumerators append it.
inline DiskRecord makeCandidate(std::wstring devicePath, DriverKind kind,
                                std::int64_t targetAddress = -1) {
    DiskRecord record;
    record.devicePath = std::move(devicePath);
    record.driverKind = kind;
    record.targetAddress = targetAddress;
    return record;
}

}  // namespace velo
