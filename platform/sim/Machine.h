// The simulated machine: its devices, device files, drivers and drives, the faults it is told
// to show, and the record of every request it received.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/sim/NvmeDrive.h"

namespace velo::sim {

// System error codes the simulated drivers answer with (the SDK's ERROR_*).
inline constexpr std::uint32_t SYSTEM_ERROR_INVALID_FUNCTION = 1;
inline constexpr std::uint32_t SYSTEM_ERROR_NOT_SUPPORTED = 50;
inline constexpr std::uint32_t SYSTEM_ERROR_NOACCESS = 998;
inline constexpr std::uint32_t SYSTEM_ERROR_REVISION_MISMATCH = 1306;

// Control codes the simulated drivers understand.
inline constexpr std::uint32_t CONTROL_STORAGE_GET_DEVICE_NUMBER = 0x2D1080;
inline constexpr std::uint32_t CONTROL_STORAGE_QUERY_PROPERTY = 0x2D1400;
inline constexpr std::uint32_t CONTROL_SCSI_MINIPORT = 0x4D008;

// The driver stack that serves a controller and the disks behind it.
enum class DriverStack {
    Inbox,  // the Windows inbox NVMe miniport
};

enum class ClockMode {
    System,      // the host's local time
    Fixed,       // Machine::fixedTime
    Unreadable,  // the time cannot be read
};

// Kinds of request, as the driver that received it decoded it.
enum class RequestKind {
    DeviceNumber,  // IOCTL_STORAGE_GET_DEVICE_NUMBER
    Identify,      // IOCTL_STORAGE_QUERY_PROPERTY
    GetInfo,       // miniport firmware request, FIRMWARE_FUNCTION_GET_INFO
    Download,      // miniport firmware request, FIRMWARE_FUNCTION_DOWNLOAD
    Activate,      // miniport firmware request, FIRMWARE_FUNCTION_ACTIVATE
    Other,         // anything else, including requests too broken to tell
};
inline constexpr std::size_t REQUEST_KIND_COUNT = 6;

// The name a machine file and a trace use for a kind: "device-number", "identify",
// "get-info", "download", "activate", "other".
std::string requestKindName(RequestKind kind);
std::optional<RequestKind> requestKindFromName(std::string_view name);

// Device properties that a fault can make unreadable.
struct Unreadable {
    bool parent = false;
    bool instanceId = false;
    bool hardwareIds = false;
    bool driverDescription = false;
    bool locationInfo = false;
    bool interfaceDetail = false;
};

struct DeviceInterfaceEntry {
    Guid interfaceClass;
    std::wstring path;
};

// One node of the device tree.
struct Device {
    std::wstring instanceId;
    std::wstring parent;  // the parent's instance id; empty for a root device
    std::vector<std::wstring> hardwareIds;
    std::wstring driverDescription;
    std::wstring locationInfo;
    std::vector<DeviceInterfaceEntry> interfaces;
    std::uint32_t devInst = 0;
    Unreadable unreadable;
};

// The n-th request of a kind that a disk receives fails as a call or answers a status.
struct RequestFault {
    RequestKind kind = RequestKind::Other;
    std::uint32_t nth = 1;                // counted from 1 over the whole life of the machine
    bool andLater = false;                // also every later request of the kind
    std::optional<std::uint32_t> error;   // the call fails with this system error
    std::optional<std::uint32_t> status;  // or answers this firmware status
};

// Nonsense that a get-info answer carries.
struct GetInfoFault {
    std::optional<std::uint8_t> slotCount;          // reported instead of the real count
    std::optional<std::uint32_t> dataBufferOffset;  // written back into the request block
};

struct DiskFaults {
    std::uint32_t openInterface = 0;      // system error of opening the interface path
    std::uint32_t openPhysicalDrive = 0;  // system error of opening \\.\PHYSICALDRIVEn
    std::vector<RequestFault> requests;
    GetInfoFault getInfo;
};

// A disk: a device of the tree, reached through its files, answered by its controller's
// driver, backed by one NVMe drive.
struct Disk {
    std::size_t device = 0;  // index into Machine::devices
    std::uint32_t deviceNumber = 0;
    DriverStack driver = DriverStack::Inbox;
    std::unique_ptr<NvmeDrive> drive;
    DiskFaults faults;
    std::uint32_t received[REQUEST_KIND_COUNT] = {};  // requests received, per kind
};

// What opening a path reaches.
struct DeviceFileEntry {
    enum class Target { Disk, StoragePort };
    std::wstring path;
    Target target = Target::Disk;
    std::size_t index = 0;        // into Machine::disks, or Machine::devices for a storage port
    std::uint32_t openError = 0;  // 0: the open succeeds
};

struct OpenRecord {
    std::wstring path;
    std::uint32_t access = 0;
    std::uint32_t share = 0;
    std::uint32_t flags = 0;
    std::uint32_t error = 0;  // 0: opened
};

// One control request as the machine received and answered it.
struct RequestRecord {
    std::wstring path;                          // the path through which the device was opened
    std::wstring instanceId;                    // the device the request reached
    std::optional<std::uint32_t> deviceNumber;  // of a disk
    RequestKind kind = RequestKind::Other;
    std::uint32_t controlCode = 0;
    std::uint32_t inputLength = 0;
    std::uint32_t outputLength = 0;
    std::vector<std::uint8_t> input;   // the first inputLength bytes, as sent
    std::vector<std::uint8_t> output;  // the first bytesReturned bytes, as answered
    bool ok = false;
    std::uint32_t error = 0;  // system error when !ok
    std::uint32_t bytesReturned = 0;
    std::optional<std::uint32_t> status;  // firmware status written into ReturnCode
    bool faultInjected = false;           // the answer came from a fault switch
    std::string note;                     // why the driver refused, or what it did
};

class Machine {
public:
    Machine();
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    // --- How the machine is built (the loader fills these) ---
    StartupStatus startup = StartupStatus::Ok;
    ClockMode clock = ClockMode::System;
    LocalTime fixedTime;
    bool failDiskSet = false;         // a device information set of disks cannot be built
    bool failStoragePortSet = false;  // ... of storage ports
    bool failAllClassesSet = false;   // ... of all classes
    std::vector<Device> devices;
    std::vector<Disk> disks;
    std::vector<DeviceFileEntry> files;

    // --- What a test asks after a run ---
    // The drive of the disk with this device number; nothing when there is none.
    NvmeDrive* drive(std::uint32_t deviceNumber);
    Disk* diskByNumber(std::uint32_t deviceNumber);
    const Device* deviceByInstanceId(std::wstring_view instanceId) const;
    const std::vector<RequestRecord>& requests() const { return requests_; }
    std::vector<RequestRecord> requestsOfKind(RequestKind kind) const;
    const std::vector<OpenRecord>& opens() const { return opens_; }
    void clearHistory();
    // Every drive goes through a power cycle: pending activations take effect.
    void powerCycle();

    // --- What the platform does with it ---
    const DeviceFileEntry* findFile(const std::wstring& path) const;
    void recordOpen(OpenRecord record) { opens_.push_back(std::move(record)); }
    // One control request to an opened file; answers as the file's driver would.
    ControlResult control(const DeviceFileEntry& file, std::uint32_t controlCode,
                          std::span<std::uint8_t> buffer, std::uint32_t inputLength);

private:
    std::vector<RequestRecord> requests_;
    std::vector<OpenRecord> opens_;
};

}  // namespace velo::sim
