#include "sim/VrocDriver.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "sim/DriverSupport.h"

namespace velo::sim {

using namespace driver;

namespace {

// Request layouts, read with the driver's own offsets.
constexpr char SIGNATURE[] = "NvmeRAID";  // eight bytes, not terminated in the request
constexpr std::uint32_t PASS_THROUGH = 0xE0002000;
constexpr std::uint32_t GET_VOLUME_COUNT = 0xE0002014;
constexpr std::uint32_t GET_VOLUME_INFO = 0xE0002018;
constexpr std::uint32_t GET_VOLUME_MEMBERS = 0xE000201C;
constexpr std::uint32_t GET_DISK_COUNT = 0xE0002028;
constexpr std::uint32_t GET_DISK_LIST = 0xE000202C;

// The queries: one dword at 28 (a count on return, else the volume id or the room of a list).
constexpr std::uint32_t QUERY_DWORD_AT = 28;
constexpr std::uint32_t COUNT_REQUEST_SIZE = 32;
constexpr std::uint32_t MEMBER_COUNT_AT = 128;
constexpr std::uint32_t VOLUME_INFO_SIZE = 132;
constexpr std::uint32_t MEMBERS_ROOM_AT = 32;
constexpr std::uint32_t MEMBERS_AT = 36;
constexpr std::uint32_t DISKS_AT = 32;
constexpr std::uint32_t THE_VOLUME = 1;  // the id of the one volume a port holds
// A disk entry of both lists.
constexpr std::size_t ENTRY_SIZE = 108;
constexpr std::size_t ENTRY_MODEL_AT = 4;
constexpr std::size_t ENTRY_SERIAL_AT = 52;
constexpr std::size_t ENTRY_ADDRESS_AT = 100;

// NVME_PASS_THROUGH_IOCTL: the disk id arrives in ReturnCode.
constexpr std::uint32_t CDW0_AT = 52;  // opcode in bits 7..0, command identifier in 31..16
constexpr std::uint32_t CDW10_AT = 92;
constexpr std::uint32_t CDW11_AT = 96;
constexpr std::uint32_t CDW12_AT = 100;
constexpr std::uint32_t CDW13_AT = 104;
constexpr std::uint32_t COMPLETION_AT = 116;  // CplEntry[0..3]
constexpr std::uint32_t DIRECTION_AT = 132;
constexpr std::uint32_t QUEUE_ID_AT = 136;
constexpr std::uint32_t DATA_LENGTH_AT = 140;
constexpr std::uint32_t META_LENGTH_AT = 144;
constexpr std::uint32_t RETURN_LENGTH_AT = 148;
constexpr std::uint32_t DATA_AT = 152;  // also the size of the request without data
constexpr std::uint32_t TO_DEVICE = 1;
constexpr std::uint32_t FROM_DEVICE = 2;
constexpr std::uint8_t OPCODE_GET_LOG_PAGE = 0x02;
constexpr std::uint8_t OPCODE_IDENTIFY = 0x06;
constexpr std::uint8_t OPCODE_COMMIT = 0x10;
constexpr std::uint8_t OPCODE_DOWNLOAD = 0x11;
constexpr std::uint32_t CNS_CONTROLLER = 1;
constexpr std::uint32_t LOG_FIRMWARE_SLOT = 3;
constexpr std::uint32_t ACTION_REPLACE = 0;
constexpr std::uint32_t ACTION_REPLACE_ACTIVATE_AT_RESET = 1;
constexpr std::uint16_t ADMIN_QUEUE_ENTRIES = 32;

// NVMe completion status fields (status code type << 8 | status code).
constexpr std::uint32_t NVME_SUCCESS = 0x000;
constexpr std::uint32_t NVME_INVALID_OPCODE = 0x001;
constexpr std::uint32_t NVME_INVALID_FIELD = 0x002;
constexpr std::uint32_t NVME_INVALID_FIRMWARE_SLOT = 0x106;
constexpr std::uint32_t NVME_INVALID_FIRMWARE_IMAGE = 0x107;
constexpr std::uint32_t PHASE_TAG = 1u << 16;

// One request on its way through the driver.
struct Request {
    ScsiPort& port;
    std::span<std::uint8_t> buffer;  // the whole system buffer
    std::size_t extent;              // 28 + Length, within the input
    std::uint32_t outputLength;
    RequestRecord& record;
    std::uint32_t returned;  // bytes returned with an answer
};

std::string hex(std::uint64_t value) {
    static constexpr char DIGITS[] = "0123456789ABCDEF";
    std::string text;
    do {
        text.insert(text.begin(), DIGITS[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    return "0x" + text;
}

ControlResult answer(Request& r, std::uint32_t status, std::string note) {
    put32(r.buffer, SRB_RETURN_CODE_AT, status);
    r.record.status = status;
    if (!note.empty())
        r.record.note = std::move(note);
    return succeed(r.returned);
}

// A due fault answers in place of the driver unless it is performed; then it answers after.
const RequestFault* instead(const RequestFault* fault) {
    return fault && !fault->performed ? fault : nullptr;
}

// --- the queries ---

void putEntry(std::span<std::uint8_t> entry, const VrocDisk& disk) {
    put32(entry, 0, disk.diskId);
    std::copy(disk.model.begin(), disk.model.end(), entry.begin() + ENTRY_MODEL_AT);
    std::copy(disk.serial.begin(), disk.serial.end(), entry.begin() + ENTRY_SERIAL_AT);
    put32(entry, ENTRY_ADDRESS_AT, disk.address);
}

// Zeroes the entries that fit wholly in the stated room and in the request, and fills the
// first of them with the disks.
std::string putEntries(Request& r, std::size_t at, std::uint64_t room,
                       const std::vector<const VrocDisk*>& disks) {
    const std::size_t fit =
        static_cast<std::size_t>(std::min<std::uint64_t>(room, r.extent - at) / ENTRY_SIZE);
    std::fill_n(r.buffer.begin() + static_cast<std::ptrdiff_t>(at), fit * ENTRY_SIZE, 0);
    const std::size_t written = std::min(fit, disks.size());
    for (std::size_t i = 0; i < written; ++i)
        putEntry(r.buffer.subspan(at + i * ENTRY_SIZE, ENTRY_SIZE), *disks[i]);
    return number(written) + " of " + number(disks.size()) + " entries written (room for " +
           number(fit) + ")";
}

// Writes the reply of a query; returns a note.
std::string reply(Request& r, RequestKind kind) {
    ScsiPort& port = r.port;
    std::vector<const VrocDisk*> listed;
    switch (kind) {
        case RequestKind::VolumeCount:
            put32(r.buffer, QUERY_DWORD_AT, port.volumeCount);
            return "";
        case RequestKind::DiskCount:
            put32(r.buffer, QUERY_DWORD_AT, port.diskCount);
            return "";
        case RequestKind::VolumeInfo:
            put32(r.buffer, MEMBER_COUNT_AT, port.memberCount);
            return "";
        case RequestKind::VolumeMembers:
            for (std::uint32_t id : port.members)
                listed.push_back(port.diskById(id));
            return putEntries(r, MEMBERS_AT, get32(r.buffer, MEMBERS_ROOM_AT), listed);
        default:
            for (const VrocDisk& disk : port.disks) {
                if (!port.isMember(disk.diskId))
                    listed.push_back(&disk);
            }
            return putEntries(r, DISKS_AT, get32(r.buffer, QUERY_DWORD_AT), listed);
    }
}

ControlResult query(Request& r, RequestKind kind) {
    r.record.kind = kind;
    r.port.faults.count(kind);
    const std::size_t needed = kind == RequestKind::VolumeInfo      ? VOLUME_INFO_SIZE
                               : kind == RequestKind::VolumeMembers ? MEMBERS_AT
                                                                    : COUNT_REQUEST_SIZE;
    if (r.extent < needed) {
        return answer(r, NVME_IOCTL_INSUFFICIENT_IN_BUFFER,
                      "Length " + number(r.extent - SRB_HEADER_SIZE) + " cannot hold the query (" +
                          number(needed - SRB_HEADER_SIZE) + ")");
    }
    if (r.outputLength < r.extent) {
        return answer(r, NVME_IOCTL_INSUFFICIENT_OUT_BUFFER,
                      "output of " + number(r.outputLength) + " bytes cannot take the reply of " +
                          number(r.extent));
    }
    if (kind == RequestKind::VolumeInfo || kind == RequestKind::VolumeMembers) {
        const std::uint32_t volume = get32(r.buffer, QUERY_DWORD_AT);
        if (!r.port.hasVolume || volume != THE_VOLUME) {
            return answer(r, NVME_IOCTL_INVALID_PATH_TARGET_ID,
                          "no volume " + number(volume) + " on the port");
        }
    }
    const RequestFault* fault = r.port.faults.due(kind);
    if (const RequestFault* now = instead(fault)) {
        r.record.faultInjected = true;
        if (now->error)
            return fail(r.record, *now->error, "fault switch");
        return answer(r, *now->status, "fault switch");
    }
    std::string note = reply(r, kind);
    if (fault) {
        r.record.faultInjected = true;
        note = "fault switch; the reply was written" + (note.empty() ? "" : " (" + note + ")");
        if (fault->error)
            return fail(r.record, *fault->error, note);
        return answer(r, *fault->status, note);
    }
    return answer(r, NVME_IOCTL_SUCCESS, note);
}

// --- the NVMe pass-through ---

RequestKind commandKind(std::uint8_t opcode) {
    switch (opcode) {
        case OPCODE_IDENTIFY:
            return RequestKind::Identify;
        case OPCODE_GET_LOG_PAGE:
            return RequestKind::LogPage;
        case OPCODE_DOWNLOAD:
            return RequestKind::Download;
        case OPCODE_COMMIT:
            return RequestKind::Commit;
        default:
            return RequestKind::Other;
    }
}

// The completion entry as the controller posts it on the admin queue.
void complete(Request& r, VrocDisk& disk, std::uint32_t dword3) {
    disk.queueHead = static_cast<std::uint16_t>((disk.queueHead + 1) % ADMIN_QUEUE_ENTRIES);
    put32(r.buffer, COMPLETION_AT, 0);
    put32(r.buffer, COMPLETION_AT + 4, 0);
    put32(r.buffer, COMPLETION_AT + 8, disk.queueHead);  // submission queue id 0 in 31..16
    put32(r.buffer, COMPLETION_AT + 12, dword3);
    r.record.completion = dword3;
}

std::uint32_t completionWord(std::span<const std::uint8_t> buffer, std::uint32_t statusField) {
    return statusField << 17 | PHASE_TAG | get32(buffer, CDW0_AT) >> 16;
}

// The NVMe status of what the drive answered a download or a commit.
std::uint32_t nvmeStatus(std::uint32_t firmwareStatus) {
    switch (firmwareStatus) {
        case FIRMWARE_STATUS_SUCCESS:
        case FIRMWARE_STATUS_POWER_CYCLE_REQUIRED:  // a commit that activates at the reset
            return NVME_SUCCESS;
        case FIRMWARE_STATUS_ILLEGAL_REQUEST:
            return NVME_INVALID_OPCODE;
        case FIRMWARE_STATUS_INVALID_SLOT:
            return NVME_INVALID_FIRMWARE_SLOT;
        case FIRMWARE_STATUS_INVALID_IMAGE:
            return NVME_INVALID_FIRMWARE_IMAGE;
        default:
            return NVME_INVALID_FIELD;
    }
}

// The drive carries out a command the driver has checked; returns the NVMe status field.
std::uint32_t execute(Request& r, RequestKind kind, NvmeDrive& drive, std::string& why) {
    const std::uint32_t cdw10 = get32(r.buffer, CDW10_AT);
    if (kind == RequestKind::Identify) {
        const auto data = drive.identifyController();
        std::copy(data.begin(), data.end(), r.buffer.begin() + DATA_AT);
        return NVME_SUCCESS;
    }
    if (kind == RequestKind::LogPage) {
        if (get32(r.buffer, CDW12_AT) != 0 || get32(r.buffer, CDW13_AT) != 0) {
            why = "the log is read from its start, not from an offset";
            return NVME_INVALID_FIELD;
        }
        const auto log = drive.firmwareSlotLog();
        const auto data = r.buffer.subspan(DATA_AT, get32(r.buffer, DATA_LENGTH_AT));
        std::fill(data.begin(), data.end(), 0);
        std::copy_n(log.begin(), std::min<std::size_t>(log.size(), data.size()), data.begin());
        return NVME_SUCCESS;
    }
    if (kind == RequestKind::Download) {
        const std::uint64_t offset = std::uint64_t{get32(r.buffer, CDW11_AT)} * 4;
        const std::uint64_t length = (std::uint64_t{cdw10} + 1) * 4;
        return nvmeStatus(drive.download(
            offset, r.buffer.subspan(DATA_AT, static_cast<std::size_t>(length)), why));
    }
    const auto slot = static_cast<std::uint8_t>(cdw10 & 0x7);
    const std::uint32_t action = (cdw10 >> 3) & 0x7;
    if (action != ACTION_REPLACE && action != ACTION_REPLACE_ACTIVATE_AT_RESET) {
        why = "commit action " + number(action) + " is not served";
        return NVME_INVALID_FIELD;
    }
    return nvmeStatus(drive.commit(
        slot, false, why, action == ACTION_REPLACE ? Activation::None : Activation::Reset));
}

// Checks what the driver checks before the command reaches the disk; a refusal's answer.
std::optional<ControlResult> refusal(Request& r, RequestKind kind) {
    std::span<const std::uint8_t> b = r.buffer;
    const std::uint8_t opcode = b[CDW0_AT];
    const bool fromDevice = kind == RequestKind::Identify || kind == RequestKind::LogPage;
    if (kind == RequestKind::Other ||
        (kind == RequestKind::Identify && get32(b, CDW10_AT) != CNS_CONTROLLER) ||
        (kind == RequestKind::LogPage && (get32(b, CDW10_AT) & 0xFF) != LOG_FIRMWARE_SLOT)) {
        return answer(r, NVME_IOCTL_UNSUPPORTED_ADMIN_CMD,
                      "admin opcode " + hex(opcode) + ", CDW10 " + hex(get32(b, CDW10_AT)) +
                          " is not served");
    }
    if (get32(b, QUEUE_ID_AT) != 0) {
        return answer(r, NVME_IOCTL_UNSUPPORTED_NVM_CMD,
                      "QueueId " + number(get32(b, QUEUE_ID_AT)) + " is not the admin queue");
    }
    const std::uint32_t direction = get32(b, DIRECTION_AT);
    if (direction != (fromDevice ? FROM_DEVICE : TO_DEVICE)) {
        return answer(r, NVME_IOCTL_INVALID_DIRECTION_SPECIFIED,
                      "Direction " + number(direction) + " does not suit opcode " + hex(opcode));
    }
    if (get32(b, META_LENGTH_AT) != 0) {
        return answer(r, NVME_IOCTL_INVALID_META_BUFFER_LENGTH,
                      "MetaDataLen " + number(get32(b, META_LENGTH_AT)) + " is not 0");
    }
    const std::uint64_t dataLength = get32(b, DATA_LENGTH_AT);
    if (DATA_AT + dataLength > r.extent) {
        return answer(r, NVME_IOCTL_INSUFFICIENT_IN_BUFFER,
                      "DataBufferLen " + number(dataLength) +
                          " reaches past 28 + Length = " + number(r.extent));
    }
    if (kind == RequestKind::Download) {
        const std::uint64_t piece = (std::uint64_t{get32(b, CDW10_AT)} + 1) * 4;
        if (dataLength != piece) {
            return answer(r, NVME_IOCTL_INSUFFICIENT_IN_BUFFER,
                          "DataBufferLen " + number(dataLength) + " is not the piece of CDW10 (" +
                              number(piece) + " bytes)");
        }
    }
    if (kind == RequestKind::LogPage) {
        // The number of dwords (NUMDU in CDW11, NUMDL in CDW10) asks for the whole data area.
        const std::uint64_t asked =
            ((std::uint64_t{get32(b, CDW11_AT) & 0xFFFF} << 16 | get32(b, CDW10_AT) >> 16) + 1) * 4;
        if (dataLength != asked) {
            return answer(r, NVME_IOCTL_INSUFFICIENT_IN_BUFFER,
                          "DataBufferLen " + number(dataLength) + " is not the log of NUMD (" +
                              number(asked) + " bytes)");
        }
    }
    const std::uint32_t returnLength = get32(b, RETURN_LENGTH_AT);
    const std::uint64_t needed = kind == RequestKind::Identify
                                     ? DATA_AT + std::uint64_t{IDENTIFY_SIZE}
                                 : kind == RequestKind::LogPage ? DATA_AT + dataLength
                                                                : DATA_AT;
    if (returnLength < needed || r.outputLength < returnLength) {
        return answer(r, NVME_IOCTL_INSUFFICIENT_OUT_BUFFER,
                      "ReturnBufferLen " + number(returnLength) + " and output of " +
                          number(r.outputLength) + " bytes must cover " + number(needed));
    }
    return std::nullopt;
}

// A fault's answer: the call fails, or a status, or a completion entry with ReturnCode 0.
ControlResult answerFault(Request& r, VrocDisk& disk, const RequestFault& fault, std::string note) {
    r.record.faultInjected = true;
    if (fault.error) {
        r.record.completion.reset();  // nothing reaches the caller
        return fail(r.record, *fault.error, std::move(note));
    }
    if (fault.status)
        return answer(r, *fault.status, std::move(note));
    complete(r, disk, *fault.completion);
    return answer(r, NVME_IOCTL_SUCCESS, std::move(note));
}

ControlResult passThrough(Request& r) {
    RequestRecord& record = r.record;
    const std::uint32_t diskId = get32(r.buffer, SRB_RETURN_CODE_AT);
    record.vrocDiskId = diskId;
    VrocDisk* disk = r.port.diskById(diskId);
    const RequestKind kind =
        r.extent > CDW0_AT ? commandKind(r.buffer[CDW0_AT]) : RequestKind::Other;
    record.kind = kind;
    r.port.faults.count(kind);
    if (disk)
        disk->faults.count(kind);
    if (r.extent < DATA_AT) {
        return answer(r, NVME_IOCTL_INSUFFICIENT_IN_BUFFER,
                      "Length " + number(r.extent - SRB_HEADER_SIZE) +
                          " cannot hold the pass-through request (124)");
    }
    // What comes back is what ReturnBufferLen asks for, but never less than the header.
    r.returned = std::max(get32(r.buffer, RETURN_LENGTH_AT), SRB_HEADER_SIZE);
    if (auto refused = refusal(r, kind))
        return *refused;
    if (!disk) {
        return answer(r, NVME_IOCTL_INVALID_PATH_TARGET_ID,
                      "the port lists no disk id " + number(diskId));
    }
    const RequestFault* fault = disk->faults.due(kind);
    if (!fault)
        fault = r.port.faults.due(kind);
    if (const RequestFault* now = instead(fault))
        return answerFault(r, *disk, *now, "fault switch");

    if (!disk->drive) {
        const std::string why = "no drive behind disk id " + number(diskId);
        if (fault)
            return answerFault(r, *disk, *fault, "fault switch; " + why);
        return answer(r, NVME_IOCTL_INVALID_PATH_TARGET_ID, why);
    }
    std::string why;
    const std::uint32_t status = execute(r, kind, *disk->drive, why);
    if (!fault || !fault->completion)
        complete(r, *disk, completionWord(r.buffer, status));
    if (fault) {
        return answerFault(r, *disk, *fault,
                           "fault switch; the drive's own status was " + hex(status) +
                               (why.empty() ? "" : " (" + why + ")"));
    }
    return answer(r, NVME_IOCTL_SUCCESS, status == NVME_SUCCESS ? why : hex(status) + ": " + why);
}

}  // namespace

ControlResult scsiPortControl(ScsiPort& port, std::uint32_t controlCode,
                              std::span<std::uint8_t> buffer, std::uint32_t inputLength,
                              std::uint32_t outputLength, RequestRecord& record) {
    if (port.driver == ScsiDriver::None)
        return fail(record, SYSTEM_ERROR_INVALID_FUNCTION, "no driver answers on this port");
    if (controlCode != CONTROL_SCSI_MINIPORT)
        return fail(record, SYSTEM_ERROR_INVALID_FUNCTION, "control code not handled");
    // The driver judges the output itself: a download goes in whole and comes back as 153 bytes.
    std::uint64_t extent = 0;
    if (auto broken = checkEnvelope(buffer, inputLength, outputLength, record, extent, false))
        return *broken;
    Request r{port,         buffer, static_cast<std::size_t>(extent),
              outputLength, record, static_cast<std::uint32_t>(extent)};
    if (std::memcmp(buffer.data() + SRB_SIGNATURE_AT, SIGNATURE, 8) != 0)
        return answer(r, NVME_IOCTL_INVALID_SIGNATURE, "signature is not \"NvmeRAID\"");
    const std::uint32_t code = get32(buffer, SRB_CONTROL_CODE_AT);
    switch (code) {
        case PASS_THROUGH:
            return passThrough(r);
        case GET_VOLUME_COUNT:
            return query(r, RequestKind::VolumeCount);
        case GET_DISK_COUNT:
            return query(r, RequestKind::DiskCount);
        case GET_VOLUME_INFO:
            return query(r, RequestKind::VolumeInfo);
        case GET_VOLUME_MEMBERS:
            return query(r, RequestKind::VolumeMembers);
        case GET_DISK_LIST:
            return query(r, RequestKind::DiskList);
        default:
            return answer(r, NVME_IOCTL_INVALID_IOCTL_CODE,
                          "ControlCode " + hex(code) + " is unknown");
    }
}

}  // namespace velo::sim
