// Every Windows value VELO writes down itself (interface classes, property keys, flags, error
// codes; later the wire layouts and control codes of the storage requests) is held here
// against the SDK that mingw-w64 ships, so that a wrong digit fails the build instead of a
// device request.
//
// Order matters. VELO's headers come first: some of their constants carry the published
// Windows names (IOCTL_SCSI_MINIPORT and the like), which the Windows headers define as
// macros. Each such value is captured below under a name of our own before any Windows header
// is read, and compared with the macro afterwards:
//
//     constexpr std::uint32_t ourScsiMiniport = velo::IOCTL_SCSI_MINIPORT;   // before windows.h
//     static_assert(ourScsiMiniport == IOCTL_SCSI_MINIPORT);                  // after it
//
// Layouts are held the same way: our size or offset constant against sizeof / offsetof of the
// SDK structure (SRB_IO_CONTROL, STORAGE_PROPERTY_QUERY, STORAGE_PROTOCOL_SPECIFIC_DATA,
// STORAGE_DEVICE_NUMBER, NVME_IDENTIFY_CONTROLLER_DATA, NVME_COMMAND, NVME_COMPLETION_ENTRY,
// STORAGE_PROTOCOL_DATA_DESCRIPTOR, NVME_FIRMWARE_SLOT_INFO_LOG).
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/Platform.h"
#include "platform/win32/SdkChecks.h"
#include "stacks/rst/CsmiLayout.h"
#include "stacks/inbox/MiniportLayout.h"
#include "wire/FirmwareSlotLog.h"
#include "wire/NvmeCommands.h"
#include "wire/NvmeIdentify.h"
#include "stacks/vroc/NvmePassThroughLayout.h"
#include "stacks/rst/RstLayout.h"
#include "wire/SrbIoControl.h"
#include "stacks/inbox/StorageQueryLayout.h"

// VELO values captured under names the Windows headers cannot reach.
namespace ours {

constexpr std::uint32_t setPresent = velo::SET_PRESENT;
constexpr std::uint32_t setAllClasses = velo::SET_ALL_CLASSES;
constexpr std::uint32_t setDeviceInterface = velo::SET_DEVICE_INTERFACE;
constexpr std::uint32_t accessReadWrite = velo::ACCESS_READ_WRITE;
constexpr std::uint32_t shareReadWrite = velo::SHARE_READ_WRITE;
constexpr std::uint32_t shareNone = velo::SHARE_NONE;
constexpr std::uint32_t openFlagsNormalOverlapped = velo::OPEN_FLAGS_NORMAL_OVERLAPPED;
constexpr std::uint32_t openFlagsNormal = velo::OPEN_FLAGS_NORMAL;
constexpr std::uint32_t errorFileNotFound = velo::SYSTEM_ERROR_FILE_NOT_FOUND;
constexpr std::uint32_t errorAccessDenied = velo::SYSTEM_ERROR_ACCESS_DENIED;
constexpr std::uint32_t errorInvalidParameter = velo::SYSTEM_ERROR_INVALID_PARAMETER;
constexpr std::uint32_t errorInsufficientBuffer = velo::SYSTEM_ERROR_INSUFFICIENT_BUFFER;

constexpr std::uint32_t scsiMiniport = velo::srb::IOCTL_SCSI_MINIPORT;
constexpr std::uint32_t getDeviceNumber = velo::srb::IOCTL_STORAGE_GET_DEVICE_NUMBER;
constexpr std::uint32_t queryProperty = velo::srb::IOCTL_STORAGE_QUERY_PROPERTY;

}  // namespace ours

#include <windows.h>
// The one place where the SDK's GUIDs and property keys are defined rather than declared.
#include <initguid.h>
#include <winioctl.h>
#include <ntddscsi.h>
#include <nvme.h>
#include <devpkey.h>
#include <setupapi.h>

#include "platform/win32/SdkTypes.h"

namespace {

constexpr std::uint32_t sdk(unsigned long value) {
    return static_cast<std::uint32_t>(value);
}

// Device information sets.
static_assert(ours::setPresent == sdk(DIGCF_PRESENT));
static_assert(ours::setAllClasses == sdk(DIGCF_ALLCLASSES));
static_assert(ours::setDeviceInterface == sdk(DIGCF_DEVICEINTERFACE));
// The cbSize that an x64 system expects in an interface detail.
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 8);

// Device opens.
static_assert(ours::accessReadWrite == sdk(GENERIC_READ | GENERIC_WRITE));
static_assert(ours::shareReadWrite == sdk(FILE_SHARE_READ | FILE_SHARE_WRITE));
static_assert(ours::shareNone == 0);
static_assert(ours::openFlagsNormalOverlapped == sdk(FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED));
static_assert(ours::openFlagsNormal == sdk(FILE_ATTRIBUTE_NORMAL));

// System error codes.
static_assert(ours::errorFileNotFound == sdk(ERROR_FILE_NOT_FOUND));
static_assert(ours::errorAccessDenied == sdk(ERROR_ACCESS_DENIED));
static_assert(ours::errorInvalidParameter == sdk(ERROR_INVALID_PARAMETER));
static_assert(ours::errorInsufficientBuffer == sdk(ERROR_INSUFFICIENT_BUFFER));

// Control codes.
static_assert(ours::scsiMiniport == sdk(IOCTL_SCSI_MINIPORT));
static_assert(ours::getDeviceNumber == sdk(IOCTL_STORAGE_GET_DEVICE_NUMBER));
static_assert(ours::queryProperty == sdk(IOCTL_STORAGE_QUERY_PROPERTY));

// The SRB_IO_CONTROL header.
namespace srb = velo::srb;
static_assert(srb::SIZE == sizeof(SRB_IO_CONTROL));
static_assert(srb::HEADER_LENGTH == offsetof(SRB_IO_CONTROL, HeaderLength));
static_assert(srb::SIGNATURE == offsetof(SRB_IO_CONTROL, Signature));
static_assert(srb::SIGNATURE_SIZE == sizeof(SRB_IO_CONTROL::Signature));
static_assert(srb::TIMEOUT == offsetof(SRB_IO_CONTROL, Timeout));
static_assert(srb::CONTROL_CODE == offsetof(SRB_IO_CONTROL, ControlCode));
static_assert(srb::RETURN_CODE == offsetof(SRB_IO_CONTROL, ReturnCode));
static_assert(srb::LENGTH == offsetof(SRB_IO_CONTROL, Length));

// The NVMe identify query: STORAGE_PROPERTY_QUERY with STORAGE_PROTOCOL_SPECIFIC_DATA in its
// additional parameters, the identify data right after it.
namespace query = velo::query;
constexpr std::size_t specific = offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters);
static_assert(query::PROPERTY_ID == offsetof(STORAGE_PROPERTY_QUERY, PropertyId));
static_assert(query::QUERY_TYPE == offsetof(STORAGE_PROPERTY_QUERY, QueryType));
static_assert(query::PROTOCOL_TYPE ==
              specific + offsetof(STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolType));
static_assert(query::DATA_TYPE == specific + offsetof(STORAGE_PROTOCOL_SPECIFIC_DATA, DataType));
static_assert(query::REQUEST_VALUE ==
              specific + offsetof(STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolDataRequestValue));
static_assert(query::REQUEST_SUB_VALUE ==
              specific + offsetof(STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolDataRequestSubValue));
static_assert(query::PROTOCOL_DATA_OFFSET ==
              specific + offsetof(STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolDataOffset));
static_assert(query::PROTOCOL_DATA_LENGTH ==
              specific + offsetof(STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolDataLength));
static_assert(query::PROTOCOL_SPECIFIC_DATA_SIZE == sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA));
// The reply's descriptor puts the identify data at the same place.
static_assert(query::IDENTIFY_DATA == sizeof(STORAGE_PROTOCOL_DATA_DESCRIPTOR));
static_assert(query::STORAGE_ADAPTER_PROTOCOL_SPECIFIC_PROPERTY ==
              sdk(StorageAdapterProtocolSpecificProperty));
static_assert(query::PROPERTY_STANDARD_QUERY == sdk(PropertyStandardQuery));
static_assert(query::PROTOCOL_TYPE_NVME == sdk(ProtocolTypeNvme));
static_assert(query::NVME_DATA_TYPE_IDENTIFY == sdk(NVMeDataTypeIdentify));
static_assert(query::NVME_IDENTIFY_CNS_CONTROLLER == sdk(NVME_IDENTIFY_CNS_CONTROLLER));
// The firmware slot log query asks the device for a log page; its reply's descriptor tells
// where the data stands.
static_assert(query::STORAGE_DEVICE_PROTOCOL_SPECIFIC_PROPERTY ==
              sdk(StorageDeviceProtocolSpecificProperty));
static_assert(query::NVME_DATA_TYPE_LOG_PAGE == sdk(NVMeDataTypeLogPage));
static_assert(query::DESCRIPTOR_LENGTH == sizeof(STORAGE_PROTOCOL_DATA_DESCRIPTOR));
static_assert(query::DESCRIPTOR_VERSION == offsetof(STORAGE_PROTOCOL_DATA_DESCRIPTOR, Version));
static_assert(query::DESCRIPTOR_SIZE == offsetof(STORAGE_PROTOCOL_DATA_DESCRIPTOR, Size));
static_assert(query::DESCRIPTOR_PROTOCOL_DATA ==
              offsetof(STORAGE_PROTOCOL_DATA_DESCRIPTOR, ProtocolSpecificData));
static_assert(query::DEVICE_NUMBER_SIZE == sizeof(STORAGE_DEVICE_NUMBER));
static_assert(query::DEVICE_NUMBER == offsetof(STORAGE_DEVICE_NUMBER, DeviceNumber));

// The Identify Controller fields read.
namespace nvme = velo::nvme;
static_assert(nvme::IDENTIFY_SIZE == sizeof(NVME_IDENTIFY_CONTROLLER_DATA));
static_assert(nvme::SERIAL_NUMBER == offsetof(NVME_IDENTIFY_CONTROLLER_DATA, SN));
static_assert(nvme::SERIAL_NUMBER_SIZE == sizeof(NVME_IDENTIFY_CONTROLLER_DATA::SN));
static_assert(nvme::MODEL_NUMBER == offsetof(NVME_IDENTIFY_CONTROLLER_DATA, MN));
static_assert(nvme::MODEL_NUMBER_SIZE == sizeof(NVME_IDENTIFY_CONTROLLER_DATA::MN));
static_assert(nvme::FIRMWARE_REVISION == offsetof(NVME_IDENTIFY_CONTROLLER_DATA, FR));
static_assert(nvme::FIRMWARE_REVISION_SIZE == sizeof(NVME_IDENTIFY_CONTROLLER_DATA::FR));
// VER is a little-endian dword: tertiary, minor, then the 16-bit major version.
static_assert(nvme::VERSION_MINOR == offsetof(NVME_IDENTIFY_CONTROLLER_DATA, VER) + 1);
static_assert(nvme::VERSION_MAJOR == offsetof(NVME_IDENTIFY_CONTROLLER_DATA, VER) + 2);
static_assert(nvme::FIRMWARE_UPDATE_GRANULARITY == offsetof(NVME_IDENTIFY_CONTROLLER_DATA, FWUG));

// The NVMe admin commands sent through the pass-through requests, and the completion entry.
static_assert(nvme::COMMAND_SIZE == sizeof(NVME_COMMAND));
static_assert(nvme::COMMAND_OPCODE == offsetof(NVME_COMMAND, CDW0));
static_assert(nvme::COMMAND_NSID == offsetof(NVME_COMMAND, NSID));
static_assert(nvme::COMMAND_CDW10 == offsetof(NVME_COMMAND, u.GENERAL.CDW10));
static_assert(nvme::COMMAND_CDW11 == offsetof(NVME_COMMAND, u.GENERAL.CDW11));
static_assert(nvme::ADMIN_IDENTIFY == NVME_ADMIN_COMMAND_IDENTIFY);
static_assert(nvme::ADMIN_FIRMWARE_COMMIT == NVME_ADMIN_COMMAND_FIRMWARE_COMMIT);
static_assert(nvme::ADMIN_FIRMWARE_IMAGE_DOWNLOAD == NVME_ADMIN_COMMAND_FIRMWARE_IMAGE_DOWNLOAD);
static_assert(nvme::IDENTIFY_CNS_CONTROLLER == sdk(NVME_IDENTIFY_CNS_CONTROLLER));
static_assert(nvme::COMMIT_ACTION_REPLACE_AND_ACTIVATE ==
              sdk(NVME_FIRMWARE_ACTIVATE_ACTION_DOWNLOAD_TO_SLOT_AND_ACTIVATE));
static_assert(nvme::ADMIN_GET_LOG_PAGE == NVME_ADMIN_COMMAND_GET_LOG_PAGE);
static_assert(nvme::COMPLETION_SIZE == sizeof(NVME_COMPLETION_ENTRY));
static_assert(nvme::COMPLETION_DW3 == offsetof(NVME_COMPLETION_ENTRY, DW3));
// The status field sits above the phase tag in the upper half of dword 3.
static_assert(offsetof(NVME_COMPLETION_ENTRY, DW3) + sizeof(USHORT) ==
              offsetof(NVME_COMPLETION_ENTRY, DW3.Status));

// The Firmware Slot Information log: the Active Firmware Info byte, then one 8-byte revision
// per slot.
static_assert(nvme::LOG_FIRMWARE_SLOT_INFO == NVME_LOG_PAGE_FIRMWARE_SLOT_INFO);
static_assert(nvme::FIRMWARE_SLOT_LOG_SIZE == sizeof(NVME_FIRMWARE_SLOT_INFO_LOG));
static_assert(nvme::SLOT_LOG_AFI == offsetof(NVME_FIRMWARE_SLOT_INFO_LOG, AFI));
static_assert(sizeof(NVME_FIRMWARE_SLOT_INFO_LOG::AFI) == 1);
static_assert(nvme::SLOT_LOG_REVISIONS == offsetof(NVME_FIRMWARE_SLOT_INFO_LOG, FRS));
static_assert(nvme::SLOT_LOG_REVISION_SIZE == sizeof(NVME_FIRMWARE_SLOT_INFO_LOG::FRS[0]));
static_assert(nvme::FIRMWARE_SLOTS * nvme::SLOT_LOG_REVISION_SIZE ==
              sizeof(NVME_FIRMWARE_SLOT_INFO_LOG::FRS));

// The requests of the Intel RST and VROC drivers and of CSMI start with SRB_IO_CONTROL and
// carry the NVMe command words at their own offsets.
static_assert(velo::rst::PASS_THROUGH_COMMAND >= sizeof(SRB_IO_CONTROL) + 4);
static_assert(velo::nvmept::NVME_CMD + sizeof(NVME_COMMAND) == velo::nvmept::CPL_ENTRY);
static_assert(velo::nvmept::CPL_ENTRY + sizeof(NVME_COMPLETION_ENTRY) == velo::nvmept::DIRECTION);
static_assert(velo::csmi::RAID_SET_INDEX == sizeof(SRB_IO_CONTROL));

// The firmware request block and the firmware download and activate structures
// (FIRMWARE_REQUEST_BLOCK, STORAGE_FIRMWARE_DOWNLOAD versions 1 and 2,
// STORAGE_FIRMWARE_ACTIVATE) and IOCTL_SCSI_MINIPORT_FIRMWARE are not in the headers that
// mingw-w64 ships. They are held against their published layouts here instead: naturally
// aligned structures of 32- and 64-bit fields, whose sizes the requests of both stacks add up.
namespace storagefw = velo::storagefw;
struct PublishedRequestBlock {
    ULONG Version, Size, Function, Flags, DataBufferOffset, DataBufferLength;
};
struct PublishedDownloadV2 {
    ULONG Version, Size;
    ULONGLONG Offset, BufferSize;
    UCHAR Slot, Reserved[3];
    ULONG ImageSize;
    UCHAR ImageBuffer[1];
};
struct PublishedActivate {
    ULONG Version, Size;
    UCHAR SlotToActivate, Reserved0[3];
};
static_assert(storagefw::BLOCK_SIZE == sizeof(PublishedRequestBlock));
static_assert(storagefw::BLOCK_FUNCTION == offsetof(PublishedRequestBlock, Function));
static_assert(storagefw::BLOCK_DATA_OFFSET == offsetof(PublishedRequestBlock, DataBufferOffset));
static_assert(storagefw::BLOCK_DATA_LENGTH == offsetof(PublishedRequestBlock, DataBufferLength));
static_assert(storagefw::DOWNLOAD_OFFSET == offsetof(PublishedDownloadV2, Offset));
static_assert(storagefw::DOWNLOAD_BUFFER_SIZE == offsetof(PublishedDownloadV2, BufferSize));
static_assert(storagefw::DOWNLOAD_V2_SLOT == offsetof(PublishedDownloadV2, Slot));
static_assert(storagefw::DOWNLOAD_V2_IMAGE_SIZE == offsetof(PublishedDownloadV2, ImageSize));
static_assert(storagefw::DOWNLOAD_V2_IMAGE == offsetof(PublishedDownloadV2, ImageBuffer));
static_assert(storagefw::ACTIVATE_SLOT == offsetof(PublishedActivate, SlotToActivate));
static_assert(storagefw::ACTIVATE_SIZE == sizeof(PublishedActivate));
static_assert(velo::rst::FUNCTION_BLOCK ==
              velo::rst::FIRMWARE_BLOCK + sizeof(PublishedRequestBlock));
static_assert(velo::rst::DOWNLOAD_OVERHEAD ==
              velo::rst::FUNCTION_BLOCK + offsetof(PublishedDownloadV2, ImageBuffer));
static_assert(velo::rst::ACTIVATE_REQUEST_SIZE ==
              velo::rst::FUNCTION_BLOCK + sizeof(PublishedActivate));
static_assert(velo::miniport::DATA == sizeof(SRB_IO_CONTROL) + sizeof(PublishedRequestBlock));

bool sameGuid(const velo::Guid& ours, const GUID& sdkGuid) {
    GUID converted = velo::toSdkGuid(ours);
    return std::memcmp(&converted, &sdkGuid, sizeof(GUID)) == 0;
}

bool sameKey(const velo::PropertyKey& ours, const DEVPROPKEY& sdkKey) {
    DEVPROPKEY converted = velo::toSdkPropertyKey(ours);
    return std::memcmp(&converted.fmtid, &sdkKey.fmtid, sizeof(GUID)) == 0 &&
           converted.pid == sdkKey.pid;
}

}  // namespace

namespace velo {

// The SDK defines GUIDs and property keys as variables, not constants, so they are compared
// when the program starts. The comparison goes through the same conversion that the device
// calls use.
std::vector<std::string> sdkIdentifierMismatches() {
    std::vector<std::string> differing;
    auto guid = [&](const char* name, const Guid& ours, const GUID& sdkGuid) {
        if (!sameGuid(ours, sdkGuid))
            differing.emplace_back(name);
    };
    auto key = [&](const char* name, const PropertyKey& ours, const DEVPROPKEY& sdkKey) {
        if (!sameKey(ours, sdkKey))
            differing.emplace_back(name);
    };
    guid("GUID_DEVINTERFACE_DISK", DISK_INTERFACE_CLASS, GUID_DEVINTERFACE_DISK);
    guid("GUID_DEVINTERFACE_STORAGEPORT", STORAGE_PORT_INTERFACE_CLASS,
         GUID_DEVINTERFACE_STORAGEPORT);
    key("DEVPKEY_Device_DriverDesc", PROPERTY_DRIVER_DESC, DEVPKEY_Device_DriverDesc);
    key("DEVPKEY_Device_LocationInfo", PROPERTY_LOCATION_INFO, DEVPKEY_Device_LocationInfo);
    key("DEVPKEY_Device_Parent", PROPERTY_PARENT, DEVPKEY_Device_Parent);
    key("DEVPKEY_Device_InstanceId", PROPERTY_INSTANCE_ID, DEVPKEY_Device_InstanceId);
    return differing;
}

}  // namespace velo
