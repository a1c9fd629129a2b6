#include "sim/InboxDriver.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "sim/DriverSupport.h"

namespace velo::sim {

using namespace driver;

namespace {

// Request layouts, read with the driver's own offsets.
//
// STORAGE_DEVICE_NUMBER: DeviceType, DeviceNumber, PartitionNumber.
constexpr std::uint32_t DEVICE_NUMBER_SIZE = 12;
constexpr std::uint32_t FILE_DEVICE_DISK = 7;

// STORAGE_PROPERTY_QUERY with STORAGE_PROTOCOL_SPECIFIC_DATA at 8.
constexpr std::uint32_t QUERY_PROPERTY_ID_AT = 0;
constexpr std::uint32_t QUERY_TYPE_AT = 4;
constexpr std::uint32_t PROTOCOL_DATA_AT = 8;  // also in the returned descriptor
constexpr std::uint32_t PROTOCOL_DATA_SIZE = 40;
constexpr std::uint32_t PROTOCOL_TYPE_AT = 8;
constexpr std::uint32_t DATA_TYPE_AT = 12;
constexpr std::uint32_t REQUEST_VALUE_AT = 16;
constexpr std::uint32_t REQUEST_SUB_VALUE_AT = 20;
constexpr std::uint32_t PROTOCOL_DATA_OFFSET_AT = 24;
constexpr std::uint32_t PROTOCOL_DATA_LENGTH_AT = 28;
constexpr std::uint32_t QUERY_HEADER_SIZE = PROTOCOL_DATA_AT + PROTOCOL_DATA_SIZE;  // 48
constexpr std::uint32_t PROPERTY_ADAPTER_PROTOCOL_SPECIFIC = 49;
constexpr std::uint32_t PROPERTY_DEVICE_PROTOCOL_SPECIFIC = 50;
constexpr std::uint32_t QUERY_STANDARD = 0;
constexpr std::uint32_t QUERY_EXISTS = 1;
constexpr std::uint32_t PROTOCOL_NVME = 3;
constexpr std::uint32_t NVME_DATA_IDENTIFY = 1;
constexpr std::uint32_t NVME_DATA_LOG_PAGE = 2;
constexpr std::uint32_t CNS_CONTROLLER = 1;
constexpr std::uint32_t LOG_FIRMWARE_SLOT = 3;
constexpr std::uint32_t REQUEST_SUB_VALUE2_AT = 36;  // a log page offset's upper half
// STORAGE_PROTOCOL_DATA_DESCRIPTOR: Version, Size, then the protocol-specific data.
constexpr std::uint32_t DESCRIPTOR_SIZE = 48;

// SRB_IO_CONTROL's control code of the miniport firmware interface.
constexpr std::uint32_t MINIPORT_FIRMWARE = 0x1B0780;
// FIRMWARE_REQUEST_BLOCK at 28.
constexpr std::uint32_t BLOCK_VERSION_AT = 28;
constexpr std::uint32_t BLOCK_SIZE_AT = 32;
constexpr std::uint32_t BLOCK_FUNCTION_AT = 36;
constexpr std::uint32_t BLOCK_FLAGS_AT = 40;
constexpr std::uint32_t BLOCK_DATA_OFFSET_AT = 44;
constexpr std::uint32_t BLOCK_DATA_LENGTH_AT = 48;
constexpr std::uint32_t BLOCK_END = 52;
constexpr std::uint32_t BLOCK_SIZE = 24;
constexpr std::uint32_t FUNCTION_GET_INFO = 1;
constexpr std::uint32_t FUNCTION_DOWNLOAD = 2;
constexpr std::uint32_t FUNCTION_ACTIVATE = 3;
// STORAGE_FIRMWARE_INFO, version 1, relative to the data buffer.
constexpr std::uint32_t INFO_HEADER_SIZE = 16;
constexpr std::uint32_t INFO_SLOT_SIZE = 16;
constexpr std::uint8_t NO_PENDING_SLOT = 0xFF;
// STORAGE_FIRMWARE_DOWNLOAD, version 1, relative to the data buffer.
constexpr std::uint32_t DOWNLOAD_HEADER_SIZE = 24;
// STORAGE_FIRMWARE_ACTIVATE, relative to the data buffer.
constexpr std::uint32_t ACTIVATE_SIZE = 12;

void count(Disk& disk, RequestRecord& record, RequestKind kind) {
    record.kind = kind;
    disk.faults.requests.count(kind);
}

const RequestFault* dueFault(const Disk& disk, RequestKind kind) {
    return disk.faults.requests.due(kind);
}

// --- IOCTL_STORAGE_QUERY_PROPERTY ---

// The answer repeats the request's protocol-specific part behind a descriptor header, with
// dataLength bytes at 8 + dataOffset: the drive's data, zero past its end. The output must hold
// them, and a fault planned for the request answers instead.
ControlResult answerProtocolData(Disk& disk, std::span<std::uint8_t> buffer,
                                 std::uint32_t outputLength, RequestRecord& record,
                                 std::uint32_t dataOffset, std::span<const std::uint8_t> data,
                                 std::uint32_t dataLength) {
    const std::uint64_t dataEnd = std::uint64_t{PROTOCOL_DATA_AT} + dataOffset + dataLength;
    if (dataEnd > outputLength) {
        return fail(record, SYSTEM_ERROR_INSUFFICIENT_BUFFER,
                    "output of " + number(outputLength) + " bytes cannot hold the data ending at " +
                        number(dataEnd));
    }
    if (const RequestFault* fault = errorFault(dueFault(disk, record.kind)))
        return failByFault(record, *fault);
    data = data.first(std::min<std::size_t>(data.size(), dataLength));
    std::uint8_t request[PROTOCOL_DATA_SIZE];
    std::memcpy(request, buffer.data() + PROTOCOL_DATA_AT, PROTOCOL_DATA_SIZE);
    std::fill(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(dataEnd), 0);
    put32(buffer, 0, DESCRIPTOR_SIZE);
    put32(buffer, 4, DESCRIPTOR_SIZE);
    std::memcpy(buffer.data() + PROTOCOL_DATA_AT, request, PROTOCOL_DATA_SIZE);
    put32(buffer, PROTOCOL_DATA_LENGTH_AT, dataLength);
    std::copy(data.begin(), data.end(),
              buffer.begin() + static_cast<std::ptrdiff_t>(PROTOCOL_DATA_AT + dataOffset));
    return succeed(static_cast<std::uint32_t>(dataEnd));
}

// The firmware slot information log, read from its start for dataLength bytes (zero past the
// log's 512).
ControlResult logPage(Disk& disk, std::span<std::uint8_t> buffer, std::uint32_t outputLength,
                      RequestRecord& record) {
    const std::uint32_t logId = get32(buffer, REQUEST_VALUE_AT);
    const std::uint32_t dataOffset = get32(buffer, PROTOCOL_DATA_OFFSET_AT);
    const std::uint32_t dataLength = get32(buffer, PROTOCOL_DATA_LENGTH_AT);
    if (logId != LOG_FIRMWARE_SLOT) {
        return fail(
            record, SYSTEM_ERROR_NOT_SUPPORTED,
            "only the firmware slot information log (3) is answered, not log " + number(logId));
    }
    if (get32(buffer, REQUEST_SUB_VALUE_AT) != 0 || get32(buffer, REQUEST_SUB_VALUE2_AT) != 0) {
        return fail(record, SYSTEM_ERROR_INVALID_PARAMETER,
                    "the log is read from its start, not from an offset");
    }
    if (dataOffset < PROTOCOL_DATA_SIZE) {
        return fail(record, SYSTEM_ERROR_INVALID_PARAMETER,
                    "ProtocolDataOffset " + number(dataOffset) + " overlaps the 40-byte header");
    }
    if (dataLength == 0 || dataLength % 4 != 0) {
        return fail(
            record, SYSTEM_ERROR_INVALID_PARAMETER,
            "ProtocolDataLength " + number(dataLength) + " is not a whole number of dwords");
    }
    const auto log = disk.drive->firmwareSlotLog();
    return answerProtocolData(disk, buffer, outputLength, record, dataOffset, log, dataLength);
}

ControlResult queryProperty(Disk& disk, std::span<std::uint8_t> buffer, std::uint32_t inputLength,
                            std::uint32_t outputLength, RequestRecord& record) {
    if (inputLength < 8) {
        return fail(record, SYSTEM_ERROR_INVALID_PARAMETER,
                    "input of " + number(inputLength) + " bytes holds no property query");
    }
    const std::uint32_t propertyId = get32(buffer, QUERY_PROPERTY_ID_AT);
    if (propertyId != PROPERTY_ADAPTER_PROTOCOL_SPECIFIC &&
        propertyId != PROPERTY_DEVICE_PROTOCOL_SPECIFIC) {
        return fail(record, SYSTEM_ERROR_NOT_SUPPORTED,
                    "property " + number(propertyId) + " is not answered by this model");
    }
    // The data type tells a log page from identify, when the input reaches it.
    const bool logPageQuery =
        inputLength >= DATA_TYPE_AT + 4 && get32(buffer, DATA_TYPE_AT) == NVME_DATA_LOG_PAGE;
    count(disk, record, logPageQuery ? RequestKind::LogPage : RequestKind::Identify);
    const std::uint32_t queryType = get32(buffer, QUERY_TYPE_AT);
    if (queryType == QUERY_EXISTS) {
        record.note = "the property exists";
        return succeed(0);
    }
    if (queryType != QUERY_STANDARD) {
        return fail(record, SYSTEM_ERROR_INVALID_PARAMETER,
                    "query type " + number(queryType) + " is unknown");
    }
    if (inputLength < QUERY_HEADER_SIZE) {
        return fail(record, SYSTEM_ERROR_INVALID_PARAMETER,
                    "input of " + number(inputLength) +
                        " bytes cannot hold the protocol-specific query (48)");
    }
    const std::uint32_t protocolType = get32(buffer, PROTOCOL_TYPE_AT);
    const std::uint32_t dataType = get32(buffer, DATA_TYPE_AT);
    const std::uint32_t requestValue = get32(buffer, REQUEST_VALUE_AT);
    const std::uint32_t subValue = get32(buffer, REQUEST_SUB_VALUE_AT);
    const std::uint32_t dataOffset = get32(buffer, PROTOCOL_DATA_OFFSET_AT);
    const std::uint32_t dataLength = get32(buffer, PROTOCOL_DATA_LENGTH_AT);
    if (protocolType != PROTOCOL_NVME) {
        return fail(record, SYSTEM_ERROR_NOT_SUPPORTED,
                    "protocol type " + number(protocolType) + " is not NVMe (3)");
    }
    if (dataType == NVME_DATA_LOG_PAGE)
        return logPage(disk, buffer, outputLength, record);
    if (dataType != NVME_DATA_IDENTIFY || requestValue != CNS_CONTROLLER) {
        return fail(record, SYSTEM_ERROR_NOT_SUPPORTED,
                    "only Identify Controller (data type 1, CNS 1) is answered by this model");
    }
    if (subValue != 0) {
        return fail(record, SYSTEM_ERROR_INVALID_PARAMETER,
                    "Identify Controller takes namespace 0, not " + number(subValue));
    }
    if (dataOffset < PROTOCOL_DATA_SIZE) {
        return fail(record, SYSTEM_ERROR_INVALID_PARAMETER,
                    "ProtocolDataOffset " + number(dataOffset) + " overlaps the 40-byte header");
    }
    if (dataLength < IDENTIFY_SIZE) {
        return fail(record, SYSTEM_ERROR_INVALID_PARAMETER,
                    "ProtocolDataLength " + number(dataLength) + " is below 4096");
    }
    const auto identify = disk.drive->identifyController();
    return answerProtocolData(disk, buffer, outputLength, record, dataOffset, identify,
                              static_cast<std::uint32_t>(IDENTIFY_SIZE));
}

// --- IOCTL_SCSI_MINIPORT, signature "FIRMWARE" ---

struct FirmwareRequest {
    std::span<std::uint8_t> srb;  // the header and Length bytes after it
    std::uint32_t flags = 0;
    std::uint32_t dataOffset = 0;
    std::uint32_t dataLength = 0;
    std::span<std::uint8_t> data() const { return srb.subspan(dataOffset, dataLength); }
};

ControlResult answerStatus(const FirmwareRequest& request, RequestRecord& record,
                           std::uint32_t status, std::string note) {
    put32(request.srb, SRB_RETURN_CODE_AT, status);
    record.status = status;
    if (!note.empty())
        record.note = std::move(note);
    return succeed(static_cast<std::uint32_t>(request.srb.size()));
}

// Answers the status a due fault performs in place of the driver's own, or the driver's own.
ControlResult answerAfter(const FirmwareRequest& request, RequestRecord& record,
                          const RequestFault* fault, std::uint32_t own, std::string why) {
    if (const RequestFault* after = statusAfter(fault)) {
        record.faultInjected = true;
        return answerStatus(request, record, *after->status, performedNote(own, why));
    }
    return answerStatus(request, record, own, std::move(why));
}

ControlResult getInfo(Disk& disk, const FirmwareRequest& request, RequestRecord& record) {
    const NvmeDrive& drive = *disk.drive;
    const GetInfoFault& nonsense = disk.faults.getInfo;
    const RequestFault* fault = dueFault(disk, record.kind);
    const auto& slots = drive.slots();
    const std::uint64_t needed = INFO_HEADER_SIZE + std::uint64_t{INFO_SLOT_SIZE} * slots.size();
    if (request.dataLength < needed) {
        return answerAfter(request, record, fault, FIRMWARE_STATUS_OUTPUT_BUFFER_TOO_SMALL,
                           "data buffer of " + number(request.dataLength) + " bytes cannot hold " +
                               number(needed));
    }
    std::vector<std::uint8_t> info(static_cast<std::size_t>(needed), 0);
    put32(info, 0, 1);  // Version
    put32(info, 4, static_cast<std::uint32_t>(needed));
    info[8] = drive.setup().upgradeSupport ? 1 : 0;
    info[9] = nonsense.slotCount.value_or(static_cast<std::uint8_t>(slots.size()));
    info[10] = drive.activeSlot();
    info[11] = drive.pendingSlot().value_or(NO_PENDING_SLOT);
    for (std::size_t i = 0; i < slots.size(); ++i) {
        const std::size_t entry = INFO_HEADER_SIZE + INFO_SLOT_SIZE * i;
        info[entry] = slots[i].number;
        info[entry + 1] = slots[i].readOnly ? 1 : 0;
        std::copy(slots[i].revision.begin(), slots[i].revision.end(),
                  info.begin() + static_cast<std::ptrdiff_t>(entry + 8));
    }
    if (nonsense.infoOffset) {
        // The information goes where the driver chooses, as far as the request reaches, and
        // the offset used is written back.
        const std::uint64_t at = *nonsense.infoOffset;
        if (at < request.srb.size()) {
            const auto fits = std::min<std::uint64_t>(info.size(), request.srb.size() - at);
            std::copy_n(info.begin(), fits, request.srb.begin() + static_cast<std::ptrdiff_t>(at));
        }
        put32(request.srb, BLOCK_DATA_OFFSET_AT, *nonsense.infoOffset);
    } else {
        std::span<std::uint8_t> data = request.data();
        std::fill(data.begin(), data.end(), 0);
        std::copy(info.begin(), info.end(), data.begin());
    }
    if (nonsense.dataBufferOffset)
        put32(request.srb, BLOCK_DATA_OFFSET_AT, *nonsense.dataBufferOffset);
    if (nonsense.slotCount || nonsense.infoOffset || nonsense.dataBufferOffset)
        record.faultInjected = true;
    return answerAfter(request, record, fault, FIRMWARE_STATUS_SUCCESS, "");
}

ControlResult download(Disk& disk, const FirmwareRequest& request, RequestRecord& record) {
    if (request.dataLength < DOWNLOAD_HEADER_SIZE) {
        return answerStatus(request, record, FIRMWARE_STATUS_INVALID_PARAMETER,
                            "data buffer cannot hold the 24-byte download header");
    }
    std::span<std::uint8_t> data = request.data();
    const std::uint32_t version = get32(data, 0);
    const std::uint32_t size = get32(data, 4);
    const std::uint64_t offset = get64(data, 8);
    const std::uint64_t length = get64(data, 16);
    if (version != 1 || size != DOWNLOAD_HEADER_SIZE) {
        return answerStatus(request, record, FIRMWARE_STATUS_INVALID_PARAMETER,
                            "download header version " + number(version) + ", size " +
                                number(size) + " (expected 1, 24)");
    }
    if (length > request.dataLength - DOWNLOAD_HEADER_SIZE) {
        return answerStatus(request, record, FIRMWARE_STATUS_INVALID_PARAMETER,
                            "BufferSize " + number(length) + " exceeds the data buffer");
    }
    const RequestFault* fault = dueFault(disk, record.kind);
    if (const RequestFault* instead = statusInstead(fault)) {
        record.faultInjected = true;
        return answerStatus(request, record, *instead->status, "fault switch");
    }
    std::string why;
    const std::uint32_t status = disk.drive->download(
        offset, data.subspan(DOWNLOAD_HEADER_SIZE, static_cast<std::size_t>(length)), why);
    return answerAfter(request, record, fault, status, why);
}

ControlResult activate(Disk& disk, const FirmwareRequest& request, RequestRecord& record) {
    if (request.dataLength < ACTIVATE_SIZE) {
        return answerStatus(request, record, FIRMWARE_STATUS_INVALID_PARAMETER,
                            "data buffer cannot hold the 12-byte activate block");
    }
    std::span<std::uint8_t> data = request.data();
    const std::uint32_t version = get32(data, 0);
    const std::uint32_t size = get32(data, 4);
    const std::uint8_t slot = data[8];
    if (version != 1 || size != ACTIVATE_SIZE) {
        return answerStatus(request, record, FIRMWARE_STATUS_INVALID_PARAMETER,
                            "activate block version " + number(version) + ", size " + number(size) +
                                " (expected 1, 12)");
    }
    const RequestFault* fault = dueFault(disk, record.kind);
    if (const RequestFault* instead = statusInstead(fault)) {
        record.faultInjected = true;
        return answerStatus(request, record, *instead->status, "fault switch");
    }
    std::string why;
    const std::uint32_t status = disk.drive->commit(
        slot, (request.flags & FLAG_SWITCH_TO_EXISTING) != 0, why, activationUnder(fault));
    return answerAfter(request, record, fault, status, why);
}

ControlResult miniport(Disk& disk, std::span<std::uint8_t> buffer, std::uint32_t inputLength,
                       std::uint32_t outputLength, RequestRecord& record) {
    std::uint64_t extent = 0;
    if (auto broken = checkEnvelope(buffer, inputLength, outputLength, record, extent))
        return *broken;
    // The miniport answers only the firmware interface.
    if (std::memcmp(buffer.data() + SRB_SIGNATURE_AT, "FIRMWARE", 8) != 0) {
        return fail(record, SYSTEM_ERROR_INVALID_FUNCTION, "signature is not \"FIRMWARE\"");
    }
    const std::uint32_t controlCode = get32(buffer, SRB_CONTROL_CODE_AT);
    if (controlCode != MINIPORT_FIRMWARE) {
        return fail(record, SYSTEM_ERROR_INVALID_FUNCTION,
                    "ControlCode " + number(controlCode) + " is not IOCTL_SCSI_MINIPORT_FIRMWARE");
    }
    if (extent < BLOCK_END) {
        return fail(
            record, SYSTEM_ERROR_INVALID_PARAMETER,
            "Length " + number(extent - SRB_HEADER_SIZE) + " cannot hold FIRMWARE_REQUEST_BLOCK");
    }
    FirmwareRequest request;
    request.srb = buffer.first(static_cast<std::size_t>(extent));
    const std::uint32_t function = get32(buffer, BLOCK_FUNCTION_AT);
    switch (function) {
        case FUNCTION_GET_INFO:
            count(disk, record, RequestKind::GetInfo);
            break;
        case FUNCTION_DOWNLOAD:
            count(disk, record, RequestKind::Download);
            break;
        case FUNCTION_ACTIVATE:
            count(disk, record, RequestKind::Activate);
            break;
        default:
            return answerStatus(request, record, FIRMWARE_STATUS_ILLEGAL_REQUEST,
                                "Function " + number(function) + " is unknown");
    }
    const std::uint32_t blockVersion = get32(buffer, BLOCK_VERSION_AT);
    const std::uint32_t blockSize = get32(buffer, BLOCK_SIZE_AT);
    if (blockVersion != 1 || blockSize != BLOCK_SIZE) {
        return answerStatus(request, record, FIRMWARE_STATUS_INVALID_PARAMETER,
                            "request block version " + number(blockVersion) + ", size " +
                                number(blockSize) + " (expected 1, 24)");
    }
    request.flags = get32(buffer, BLOCK_FLAGS_AT);
    if ((request.flags & ~KNOWN_FLAGS) != 0) {
        return answerStatus(request, record, FIRMWARE_STATUS_INVALID_PARAMETER,
                            "Flags " + number(request.flags) + " hold unknown bits");
    }
    request.dataOffset = get32(buffer, BLOCK_DATA_OFFSET_AT);
    request.dataLength = get32(buffer, BLOCK_DATA_LENGTH_AT);
    if (request.dataOffset < BLOCK_END ||
        std::uint64_t{request.dataOffset} + request.dataLength > extent) {
        return answerStatus(request, record, FIRMWARE_STATUS_INVALID_PARAMETER,
                            "data buffer at " + number(request.dataOffset) + ", " +
                                number(request.dataLength) + " bytes, lies outside 52.." +
                                number(extent));
    }
    if (const RequestFault* fault = errorFault(dueFault(disk, record.kind)))
        return failByFault(record, *fault);
    switch (function) {
        case FUNCTION_GET_INFO:
            if (const RequestFault* instead = statusInstead(dueFault(disk, record.kind))) {
                record.faultInjected = true;
                return answerStatus(request, record, *instead->status, "fault switch");
            }
            return getInfo(disk, request, record);
        case FUNCTION_DOWNLOAD:
            return download(disk, request, record);
        default:
            return activate(disk, request, record);
    }
}

}  // namespace

ControlResult diskDeviceNumber(Disk& disk, std::span<std::uint8_t> buffer,
                               std::uint32_t outputLength, RequestRecord& record) {
    count(disk, record, RequestKind::DeviceNumber);
    if (!disk.deviceNumber)
        return fail(record, SYSTEM_ERROR_INVALID_FUNCTION, "the disk has no device number");
    if (outputLength < DEVICE_NUMBER_SIZE) {
        return fail(record, SYSTEM_ERROR_INSUFFICIENT_BUFFER,
                    "output of " + number(outputLength) + " bytes cannot hold 12");
    }
    if (const RequestFault* fault = errorFault(dueFault(disk, record.kind)))
        return failByFault(record, *fault);
    put32(buffer, 0, FILE_DEVICE_DISK);
    put32(buffer, 4, *disk.deviceNumber);
    put32(buffer, 8, 0);  // the whole disk, not a partition
    return succeed(DEVICE_NUMBER_SIZE);
}

ControlResult inboxDiskControl(Disk& disk, std::uint32_t controlCode,
                               std::span<std::uint8_t> buffer, std::uint32_t inputLength,
                               std::uint32_t outputLength, RequestRecord& record) {
    if (controlCode == CONTROL_STORAGE_GET_DEVICE_NUMBER)
        return diskDeviceNumber(disk, buffer, outputLength, record);
    // Without a drive the disk is there but not ready for anything that reaches the device.
    if (!disk.drive)
        return fail(record, SYSTEM_ERROR_NOT_READY, "no drive behind the disk");
    switch (controlCode) {
        case CONTROL_STORAGE_QUERY_PROPERTY:
            return queryProperty(disk, buffer, inputLength, outputLength, record);
        case CONTROL_SCSI_MINIPORT:
            return miniport(disk, buffer, inputLength, outputLength, record);
        default:
            return fail(record, SYSTEM_ERROR_INVALID_FUNCTION, "control code not handled");
    }
}

}  // namespace velo::sim
