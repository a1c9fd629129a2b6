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

// What /resume and /list learn of a target's firmware before any update step: it runs the
// revision an image installs, or such a revision waits in the slot that activates at its next
// reset. A run without them does not ask.
enum class FirmwareState {
    Unchecked,
    Current,
    Pending,
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
    // Where the disk is: the inbox driver's device number; the SCSI port the VROC driver
    // answers on (its requests go there, not to devicePath).
    std::optional<std::uint32_t> deviceNumber;
    std::int32_t vrocPort = -1;
    FirmwareState firmwareState = FirmwareState::Unchecked;
    std::wstring waitingRevision;  // Pending: the revision that waits for the next reset

    // Empties the four texts; the other fields keep their values.
    void clear() {
        devicePath.clear();
        modelNumber.clear();
        serialNumber.clear();
        firmwareRevision.clear();
    }
};

using DiskList = std::vector<DiskRecord>;

// A disk that matched the drive's identity but yielded no target, and why.
enum class UnreachedReason {
    OpenFailed,      // the disk, controller or port did not open
    IdentifyFailed,  // it opened, but the request that names the drive failed
    NoDrive,         // it answered, but names no drive
};

struct UnreachedDisk {
    DriverKind driverKind = DriverKind::None;
    std::wstring devicePath;
    std::int64_t targetAddress = -1;  // behind a controller: the drive's address there
    UnreachedReason reason = UnreachedReason::OpenFailed;
    std::optional<std::uint32_t> systemError;
};

using UnreachedList = std::vector<UnreachedDisk>;

// Appends to the list when there is one: the operations that find disks take it optionally.
inline void noteUnreached(UnreachedList* unreached, DriverKind kind, std::wstring devicePath,
                          UnreachedReason reason,
                          std::optional<std::uint32_t> systemError = std::nullopt,
                          std::int64_t targetAddress = -1) {
    if (unreached)
        unreached->push_back({kind, std::move(devicePath), targetAddress, reason, systemError});
}

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
