#include "sim/RstDriver.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "sim/DriverSupport.h"
#include "sim/InboxDriver.h"

namespace velo::sim {

using namespace driver;

namespace {

// Request layouts, read with the driver's own offsets.
//
// The drive address that pass-through and firmware requests carry after the header.
constexpr std::uint32_t ADDRESS_VERSION_AT = 28;
constexpr std::uint32_t PATH_ID_AT = 29;
constexpr std::uint32_t TARGET_ID_AT = 30;
constexpr std::uint32_t LUN_AT = 31;
constexpr std::uint8_t ADDRESS_VERSION = 1;

// "IntelNvm": the NVMe pass-through. The submission entry's dwords start at 32.
constexpr std::uint32_t NVM_CONTROL_CODE = 0xF0002808;
constexpr std::uint32_t NVM_OPCODE_AT = 32;
constexpr std::uint32_t NVM_NSID_AT = 36;
constexpr std::uint32_t NVM_CDW10_AT = 72;
constexpr std::uint32_t NVM_CDW11_AT = 76;
constexpr std::uint32_t NVM_CDW12_AT = 80;
constexpr std::uint32_t NVM_CDW13_AT = 84;
constexpr std::uint32_t NVM_COMMAND_SET_AT = 96;
constexpr std::uint32_t NVM_DATA_OFFSET_AT = 116;
constexpr std::uint32_t NVM_DATA_LENGTH_AT = 120;
constexpr std::uint32_t NVM_REQUEST_SIZE = 164;  // the data area starts here at the earliest
constexpr std::uint8_t OPCODE_GET_LOG_PAGE = 0x02;
constexpr std::uint8_t OPCODE_IDENTIFY = 0x06;
constexpr std::uint32_t CNS_CONTROLLER = 1;
constexpr std::uint32_t LOG_FIRMWARE_SLOT = 3;
constexpr std::uint32_t NSID_ALL = 0xFFFFFFFF;

// "IntelFw ": a FIRMWARE_REQUEST_BLOCK at 32, then the function block it points to.
constexpr std::uint32_t FW_CONTROL_CODE = 0xF0000040;
constexpr std::uint32_t FW_BLOCK_VERSION_AT = 32;
constexpr std::uint32_t FW_BLOCK_SIZE_AT = 36;
constexpr std::uint32_t FW_FUNCTION_AT = 40;
constexpr std::uint32_t FW_FLAGS_AT = 44;
constexpr std::uint32_t FW_DATA_OFFSET_AT = 48;
constexpr std::uint32_t FW_DATA_LENGTH_AT = 52;
constexpr std::uint32_t FW_BLOCK_END = 56;
constexpr std::uint32_t FW_BLOCK_SIZE = 24;
constexpr std::uint32_t FUNCTION_DOWNLOAD = 2;
constexpr std::uint32_t FUNCTION_ACTIVATE = 3;
// STORAGE_FIRMWARE_DOWNLOAD, version 2, relative to the function block.
constexpr std::uint32_t DOWNLOAD_VERSION = 2;
constexpr std::uint32_t DOWNLOAD_HEADER_SIZE = 32;
constexpr std::uint32_t DOWNLOAD_OFFSET_AT = 8;
constexpr std::uint32_t DOWNLOAD_LENGTH_AT = 16;
// STORAGE_FIRMWARE_ACTIVATE, relative to the function block.
constexpr std::uint32_t ACTIVATE_VERSION = 1;
constexpr std::uint32_t ACTIVATE_SIZE = 12;
constexpr std::uint32_t ACTIVATE_SLOT_AT = 8;

// "CSMIARY" + zero: CSMI_SAS_RAID_CONFIG_BUFFER.
constexpr std::uint32_t CSMI_GET_RAID_CONFIG = 11;
constexpr std::uint32_t RAID_SET_INDEX_AT = 28;
constexpr std::uint32_t CAPACITY_AT = 32;
constexpr std::uint32_t STRIPE_SIZE_AT = 36;
constexpr std::uint32_t RAID_TYPE_AT = 40;
constexpr std::uint32_t DRIVE_COUNT_AT = 43;
constexpr std::uint32_t DRIVES_AT = 64;  // also the least request that holds the set fields
constexpr std::uint32_t DRIVE_ENTRY_SIZE = 136;
constexpr std::uint32_t ENTRY_MODEL_AT = 0;
constexpr std::uint32_t ENTRY_FIRMWARE_AT = 40;
constexpr std::uint32_t ENTRY_SERIAL_AT = 48;
constexpr std::uint32_t ENTRY_SERIAL_SIZE = 40;
constexpr std::uint32_t ENTRY_IDENTITY_END = 88;
constexpr std::uint32_t ENTRY_PATH_ID_AT = 90;  // third byte of bSASAddress (88)
// What every set reports of itself: RAID 0 (CSMI_SAS_RAID_TYPE_0), 128 KiB stripes, and a
// capacity in MB of 1,000,000 per member; status byte 0 is CSMI_SAS_RAID_SET_STATUS_OK.
constexpr std::uint8_t RAID_TYPE_0 = 1;
constexpr std::uint32_t STRIPE_SIZE_KIB = 128;
constexpr std::uint64_t CAPACITY_PER_MEMBER_MB = 1000000;

ControlResult answer(std::span<std::uint8_t> srb, RequestRecord& record, std::uint32_t status,
                     std::string note) {
    put32(srb, SRB_RETURN_CODE_AT, status);
    record.status = status;
    if (!note.empty())
        record.note = std::move(note);
    return succeed(static_cast<std::uint32_t>(srb.size()));
}

// Answers the status a due fault performs in place of the driver's own, or the driver's own.
ControlResult answerAfter(std::span<std::uint8_t> srb, RequestRecord& record,
                          const RequestFault* fault, std::uint32_t own, std::string why) {
    if (const RequestFault* after = statusAfter(fault)) {
        record.faultInjected = true;
        return answer(srb, record, *after->status, performedNote(own, why));
    }
    return answer(srb, record, own, std::move(why));
}

// A due fault that answers in place of the driver: a failed call, or its status with nothing
// carried out.
std::optional<ControlResult> answeredByFault(std::span<std::uint8_t> srb, RequestRecord& record,
                                             const RequestFault* fault) {
    if (const RequestFault* error = errorFault(fault))
        return failByFault(record, *error);
    if (const RequestFault* instead = statusInstead(fault)) {
        record.faultInjected = true;
        return answer(srb, record, *instead->status, "fault switch");
    }
    return std::nullopt;
}

// Where a request meets faults: the drive it addresses first, then the port.
struct Receivers {
    RstController& port;
    RstDrive* drive = nullptr;

    void count(RequestRecord& record, RequestKind kind) {
        record.kind = kind;
        port.faults.count(kind);
        if (drive)
            drive->faults.count(kind);
    }
    const RequestFault* due(RequestKind kind) const {
        if (drive) {
            if (const RequestFault* fault = drive->faults.due(kind))
                return fault;
        }
        return port.faults.due(kind);
    }
};

// A well-formed request to a path id without a drive. A port fault due for it still answers:
// that is how a controller whose driver does not serve these requests is described.
ControlResult noDrive(const Receivers& to, std::span<std::uint8_t> srb, RequestRecord& record) {
    if (auto instead = answeredByFault(srb, record, to.due(record.kind)))
        return *instead;
    return answer(srb, record, RST_STATUS_NO_DRIVE,
                  "no drive at path id " + number(*record.pathId));
}

// The drive a pass-through or firmware request names, noting its path id in the record.
Receivers addressed(RstController& port, std::span<const std::uint8_t> srb, RequestRecord& record) {
    if (srb.size() <= PATH_ID_AT)
        return {port, nullptr};
    record.pathId = srb[PATH_ID_AT];
    return {port, port.driveAt(srb[PATH_ID_AT])};
}

bool addressIsWellFormed(std::span<const std::uint8_t> srb) {
    return srb[ADDRESS_VERSION_AT] == ADDRESS_VERSION && srb[TARGET_ID_AT] == 0 && srb[LUN_AT] == 0;
}

std::string addressText(std::span<const std::uint8_t> srb) {
    return "address version " + number(srb[ADDRESS_VERSION_AT]) + ", target id " +
           number(srb[TARGET_ID_AT]) + ", LUN " + number(srb[LUN_AT]) + " (expected 1, 0, 0)";
}

// --- "IntelNvm" ---

// Get Log Page: the firmware slot information log from its start, as many bytes as the number
// of dwords asks, which must be the data area's length.
ControlResult logPage(const Receivers& to, std::span<std::uint8_t> srb, RequestRecord& record) {
    const std::uint32_t nsid = get32(srb, NVM_NSID_AT);
    const std::uint32_t cdw10 = get32(srb, NVM_CDW10_AT);
    const std::uint32_t logId = cdw10 & 0xFF;
    if (logId != LOG_FIRMWARE_SLOT) {
        return answer(
            srb, record, RST_STATUS_UNKNOWN_FUNCTION,
            "only the firmware slot information log (3) is answered, not log " + number(logId));
    }
    const std::uint64_t dwords =
        (std::uint64_t{get32(srb, NVM_CDW11_AT) & 0xFFFF} << 16 | cdw10 >> 16) + 1;
    const std::uint32_t dataOffset = get32(srb, NVM_DATA_OFFSET_AT);
    const std::uint32_t dataLength = get32(srb, NVM_DATA_LENGTH_AT);
    if (nsid != 0 && nsid != NSID_ALL) {
        return answer(srb, record, RST_STATUS_INVALID_PARAMETER,
                      "namespace " + number(nsid) + " holds no controller log");
    }
    if (dwords * 4 != dataLength) {
        return answer(
            srb, record, RST_STATUS_INVALID_PARAMETER,
            number(dwords) + " dwords asked into a data area of " + number(dataLength) + " bytes");
    }
    if (get32(srb, NVM_CDW12_AT) != 0 || get32(srb, NVM_CDW13_AT) != 0) {
        return answer(srb, record, RST_STATUS_INVALID_PARAMETER,
                      "the log is read from its start, not from an offset");
    }
    const RequestFault* fault = to.due(record.kind);
    if (auto instead = answeredByFault(srb, record, fault))
        return *instead;
    const auto log = to.drive->drive->firmwareSlotLog();
    const auto data = srb.subspan(dataOffset, dataLength);
    std::fill(data.begin(), data.end(), 0);
    std::copy_n(log.begin(), std::min<std::size_t>(log.size(), data.size()), data.begin());
    return answerAfter(srb, record, fault, RST_STATUS_SUCCESS, "");
}

ControlResult passThrough(RstController& port, std::span<std::uint8_t> srb, RequestRecord& record) {
    Receivers to = addressed(port, srb, record);
    const bool getLogPage = srb.size() > NVM_OPCODE_AT && srb[NVM_OPCODE_AT] == OPCODE_GET_LOG_PAGE;
    to.count(record, getLogPage ? RequestKind::LogPage : RequestKind::Identify);
    if (srb.size() < NVM_REQUEST_SIZE) {
        return answer(srb, record, RST_STATUS_INVALID_PARAMETER,
                      "Length " + number(srb.size() - SRB_HEADER_SIZE) +
                          " cannot hold the pass-through request (136)");
    }
    if (!addressIsWellFormed(srb))
        return answer(srb, record, RST_STATUS_INVALID_PARAMETER, addressText(srb));
    if (srb[NVM_COMMAND_SET_AT] != 0) {
        return answer(srb, record, RST_STATUS_INVALID_PARAMETER,
                      "command set " + number(srb[NVM_COMMAND_SET_AT]) + " is not admin (0)");
    }
    const std::uint32_t dataOffset = get32(srb, NVM_DATA_OFFSET_AT);
    const std::uint32_t dataLength = get32(srb, NVM_DATA_LENGTH_AT);
    if (dataOffset < NVM_REQUEST_SIZE || std::uint64_t{dataOffset} + dataLength > srb.size()) {
        return answer(srb, record, RST_STATUS_INVALID_PARAMETER,
                      "data area at " + number(dataOffset) + ", " + number(dataLength) +
                          " bytes, lies outside 164.." + number(srb.size()));
    }
    if (!to.drive)
        return noDrive(to, srb, record);
    if (getLogPage)
        return logPage(to, srb, record);
    const std::uint8_t opcode = srb[NVM_OPCODE_AT];
    const std::uint32_t nsid = get32(srb, NVM_NSID_AT);
    const std::uint32_t cdw10 = get32(srb, NVM_CDW10_AT);
    if (opcode != OPCODE_IDENTIFY || cdw10 != CNS_CONTROLLER || nsid != 0) {
        return answer(srb, record, RST_STATUS_UNKNOWN_FUNCTION,
                      "only Identify Controller (opcode 6, CDW10 1, NSID 0) is answered, not "
                      "opcode " +
                          number(opcode) + ", CDW10 " + number(cdw10) + ", NSID " + number(nsid));
    }
    if (dataLength < IDENTIFY_SIZE) {
        return answer(srb, record, RST_STATUS_INVALID_PARAMETER,
                      "data length " + number(dataLength) + " is below 4096");
    }
    const RequestFault* fault = to.due(record.kind);
    if (auto instead = answeredByFault(srb, record, fault))
        return *instead;
    const auto identify = to.drive->drive->identifyController();
    std::copy(identify.begin(), identify.end(), srb.begin() + dataOffset);
    return answerAfter(srb, record, fault, RST_STATUS_SUCCESS, "");
}

// --- "IntelFw " ---

ControlResult download(const Receivers& to, std::span<std::uint8_t> srb,
                       std::span<std::uint8_t> block, RequestRecord& record) {
    if (block.size() < DOWNLOAD_HEADER_SIZE) {
        return answer(srb, record, RST_STATUS_INVALID_PARAMETER,
                      "function block cannot hold the 32-byte download header");
    }
    const std::uint32_t version = get32(block, 0);
    const std::uint32_t size = get32(block, 4);
    if (version != DOWNLOAD_VERSION || size != DOWNLOAD_HEADER_SIZE) {
        return answer(srb, record, RST_STATUS_INVALID_PARAMETER,
                      "download header version " + number(version) + ", size " + number(size) +
                          " (expected 2, 32)");
    }
    const std::uint64_t offset = get64(block, DOWNLOAD_OFFSET_AT);
    const std::uint64_t length = get64(block, DOWNLOAD_LENGTH_AT);
    if (length > block.size() - DOWNLOAD_HEADER_SIZE) {
        return answer(srb, record, RST_STATUS_INVALID_PARAMETER,
                      "chunk length " + number(length) + " exceeds the function block");
    }
    const RequestFault* fault = to.due(record.kind);
    if (auto instead = answeredByFault(srb, record, fault))
        return *instead;
    std::string why;
    const std::uint32_t status = to.drive->drive->download(
        offset, block.subspan(DOWNLOAD_HEADER_SIZE, static_cast<std::size_t>(length)), why);
    return answerAfter(srb, record, fault, status, why);
}

ControlResult activate(const Receivers& to, std::span<std::uint8_t> srb,
                       std::span<std::uint8_t> block, bool switchOnly, RequestRecord& record) {
    if (block.size() < ACTIVATE_SIZE) {
        return answer(srb, record, RST_STATUS_INVALID_PARAMETER,
                      "function block cannot hold the 12-byte activate block");
    }
    const std::uint32_t version = get32(block, 0);
    const std::uint32_t size = get32(block, 4);
    if (version != ACTIVATE_VERSION || size != ACTIVATE_SIZE) {
        return answer(srb, record, RST_STATUS_INVALID_PARAMETER,
                      "activate block version " + number(version) + ", size " + number(size) +
                          " (expected 1, 12)");
    }
    const RequestFault* fault = to.due(record.kind);
    if (auto instead = answeredByFault(srb, record, fault))
        return *instead;
    std::string why;
    const std::uint32_t status =
        to.drive->drive->commit(block[ACTIVATE_SLOT_AT], switchOnly, why, activationUnder(fault));
    return answerAfter(srb, record, fault, status, why);
}

ControlResult firmware(RstController& port, std::span<std::uint8_t> srb, RequestRecord& record) {
    Receivers to = addressed(port, srb, record);
    if (srb.size() < FW_BLOCK_END) {
        return answer(srb, record, RST_STATUS_INVALID_PARAMETER,
                      "Length " + number(srb.size() - SRB_HEADER_SIZE) +
                          " cannot hold the firmware request block");
    }
    const std::uint32_t function = get32(srb, FW_FUNCTION_AT);
    if (function == FUNCTION_DOWNLOAD)
        to.count(record, RequestKind::Download);
    if (function == FUNCTION_ACTIVATE)
        to.count(record, RequestKind::Activate);
    if (!addressIsWellFormed(srb))
        return answer(srb, record, RST_STATUS_INVALID_PARAMETER, addressText(srb));
    const std::uint32_t blockVersion = get32(srb, FW_BLOCK_VERSION_AT);
    const std::uint32_t blockSize = get32(srb, FW_BLOCK_SIZE_AT);
    if (blockVersion != 1 || blockSize != FW_BLOCK_SIZE) {
        return answer(srb, record, RST_STATUS_INVALID_PARAMETER,
                      "request block version " + number(blockVersion) + ", size " +
                          number(blockSize) + " (expected 1, 24)");
    }
    const std::uint32_t flags = get32(srb, FW_FLAGS_AT);
    if ((flags & ~KNOWN_FLAGS) != 0) {
        return answer(srb, record, RST_STATUS_INVALID_PARAMETER,
                      "Flags " + number(flags) + " hold unknown bits");
    }
    const std::uint32_t blockOffset = get32(srb, FW_DATA_OFFSET_AT);
    const std::uint32_t blockLength = get32(srb, FW_DATA_LENGTH_AT);
    if (blockOffset < FW_BLOCK_END || std::uint64_t{blockOffset} + blockLength > srb.size()) {
        return answer(srb, record, RST_STATUS_INVALID_PARAMETER,
                      "function block at " + number(blockOffset) + ", " + number(blockLength) +
                          " bytes, lies outside 56.." + number(srb.size()));
    }
    if (function != FUNCTION_DOWNLOAD && function != FUNCTION_ACTIVATE) {
        return answer(srb, record, RST_STATUS_UNKNOWN_FUNCTION,
                      "Function " + number(function) + " is unknown");
    }
    if (!to.drive)
        return noDrive(to, srb, record);
    const auto block = srb.subspan(blockOffset, blockLength);
    if (function == FUNCTION_DOWNLOAD)
        return download(to, srb, block, record);
    return activate(to, srb, block, (flags & FLAG_SWITCH_TO_EXISTING) != 0, record);
}

// --- "CSMIARY": GET RAID CONFIG ---

void putText(std::span<std::uint8_t> entry, std::size_t at, std::span<const std::uint8_t> text) {
    std::copy(text.begin(), text.end(), entry.begin() + static_cast<std::ptrdiff_t>(at));
}

void fillDriveEntry(std::span<std::uint8_t> entry, std::uint8_t pathId, const NvmeDrive* drive) {
    std::fill(entry.begin(), entry.begin() + ENTRY_IDENTITY_END, std::uint8_t{' '});
    if (drive) {
        putText(entry, ENTRY_MODEL_AT, drive->setup().model);
        putText(entry, ENTRY_FIRMWARE_AT, drive->setup().runningRevision);
        putText(entry, ENTRY_SERIAL_AT, drive->setup().serial);
    }
    static_assert(SERIAL_LENGTH <= ENTRY_SERIAL_SIZE);
    entry[ENTRY_PATH_ID_AT] = pathId;
}

ControlResult raidConfig(RstController& port, std::span<std::uint8_t> srb, RequestRecord& record) {
    Receivers to{port, nullptr};
    to.count(record, RequestKind::RaidConfig);
    if (srb.size() < DRIVES_AT) {
        return answer(srb, record, CSMI_SAS_STATUS_INVALID_PARAMETER,
                      "Length " + number(srb.size() - SRB_HEADER_SIZE) +
                          " cannot hold the RAID configuration (36)");
    }
    const std::uint32_t setIndex = get32(srb, RAID_SET_INDEX_AT);
    if (setIndex >= port.raidSets.size()) {
        return answer(srb, record, CSMI_SAS_RAID_SET_OUT_OF_RANGE,
                      "no RAID set " + number(setIndex) + " (the controller has " +
                          number(port.raidSets.size()) + ")");
    }
    const RequestFault* fault = to.due(record.kind);
    if (const RequestFault* error = errorFault(fault))
        return failByFault(record, *error);
    // A stated drive count is part of the reply, so a fault that carries one lets it be made.
    if (const RequestFault* instead = statusInstead(fault); instead && !instead->driveCount) {
        record.faultInjected = true;
        return answer(srb, record, *instead->status, "fault switch");
    }
    const RaidSet& set = port.raidSets[setIndex];
    std::fill(srb.begin() + CAPACITY_AT, srb.end(), 0);
    put32(srb, CAPACITY_AT,
          static_cast<std::uint32_t>(
              std::min<std::uint64_t>(CAPACITY_PER_MEMBER_MB * set.members.size(), 0xFFFFFFFF)));
    put32(srb, STRIPE_SIZE_AT, STRIPE_SIZE_KIB);
    srb[RAID_TYPE_AT] = RAID_TYPE_0;
    srb[DRIVE_COUNT_AT] = set.driveCount;
    // Entries for the members, as many as fit whole in the request.
    const std::size_t room = (srb.size() - DRIVES_AT) / DRIVE_ENTRY_SIZE;
    for (std::size_t i = 0; i < std::min(room, set.members.size()); ++i) {
        const std::uint8_t pathId = set.members[i];
        const RstDrive* member = port.driveAt(pathId);
        fillDriveEntry(srb.subspan(DRIVES_AT + i * DRIVE_ENTRY_SIZE, DRIVE_ENTRY_SIZE), pathId,
                       member ? member->drive.get() : nullptr);
    }
    if (fault) {
        record.faultInjected = true;
        if (fault->driveCount)
            srb[DRIVE_COUNT_AT] = *fault->driveCount;
        if (fault->status)
            return answer(srb, record, *fault->status, "fault switch");
        return answer(srb, record, RST_STATUS_SUCCESS, "fault switch: the drive count");
    }
    return answer(srb, record, RST_STATUS_SUCCESS, "");
}

struct Signature {
    const char* text;  // eight bytes
    std::uint32_t controlCode;
    ControlResult (*handle)(RstController&, std::span<std::uint8_t>, RequestRecord&);
};

constexpr Signature SIGNATURES[] = {
    {"IntelNvm", NVM_CONTROL_CODE, passThrough},
    {"IntelFw ", FW_CONTROL_CODE, firmware},
    {"CSMIARY\0", CSMI_GET_RAID_CONFIG, raidConfig},
};

}  // namespace

ControlResult rstPortControl(RstController& port, std::uint32_t controlCode,
                             std::span<std::uint8_t> buffer, std::uint32_t inputLength,
                             std::uint32_t outputLength, RequestRecord& record) {
    if (controlCode != CONTROL_SCSI_MINIPORT)
        return fail(record, SYSTEM_ERROR_INVALID_FUNCTION, "control code not handled");
    std::uint64_t extent = 0;
    if (auto broken = checkEnvelope(buffer, inputLength, outputLength, record, extent))
        return *broken;
    for (const Signature& signature : SIGNATURES) {
        if (std::memcmp(buffer.data() + SRB_SIGNATURE_AT, signature.text, 8) != 0)
            continue;
        const std::uint32_t inner = get32(buffer, SRB_CONTROL_CODE_AT);
        if (inner != signature.controlCode) {
            return fail(record, SYSTEM_ERROR_INVALID_FUNCTION,
                        "ControlCode " + number(inner) + " does not belong to the signature");
        }
        return signature.handle(port, buffer.first(static_cast<std::size_t>(extent)), record);
    }
    return fail(record, SYSTEM_ERROR_INVALID_FUNCTION,
                "signature is not \"IntelNvm\", \"IntelFw \" or \"CSMIARY\"");
}

ControlResult rstDiskControl(Disk& disk, std::uint32_t controlCode, std::span<std::uint8_t> buffer,
                             std::uint32_t outputLength, RequestRecord& record) {
    if (controlCode == CONTROL_STORAGE_GET_DEVICE_NUMBER)
        return diskDeviceNumber(disk, buffer, outputLength, record);
    return fail(record, SYSTEM_ERROR_INVALID_FUNCTION,
                "a disk behind the RST controller answers only its device number");
}

}  // namespace velo::sim
