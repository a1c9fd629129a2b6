// The simulated machine: its devices, device files, drivers and drives, the faults it is told
// to show, how many requests of each kind it received and, when asked, the record of each.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/Platform.h"
#include "sim/NvmeDrive.h"

namespace velo::sim {

// System error codes the simulated drivers answer with (the SDK's ERROR_*).
inline constexpr std::uint32_t SYSTEM_ERROR_INVALID_FUNCTION = 1;
inline constexpr std::uint32_t SYSTEM_ERROR_NOT_READY = 21;
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
    Rst,    // the Intel RST driver: its drives are reached through the controller's storage port
};

enum class ClockMode {
    System,      // the host's local time
    Fixed,       // Machine::fixedTime
    Unreadable,  // the time cannot be read
};

// Kinds of request, as the driver that received it decoded it.
enum class RequestKind {
    DeviceNumber,   // IOCTL_STORAGE_GET_DEVICE_NUMBER
    Identify,       // IOCTL_STORAGE_QUERY_PROPERTY
    GetInfo,        // miniport firmware request, FIRMWARE_FUNCTION_GET_INFO
    Download,       // miniport firmware request, FIRMWARE_FUNCTION_DOWNLOAD
    Activate,       // miniport firmware request, FIRMWARE_FUNCTION_ACTIVATE
    RaidConfig,     // CSMI GET RAID CONFIG on an RST storage port
    VolumeCount,    // the VROC driver's NVMERAID_GET_VOLUME_COUNT
    DiskCount,      // NVMERAID_GET_DISK_COUNT
    VolumeInfo,     // NVMERAID_GET_VOLUME_INFO
    VolumeMembers,  // NVMERAID_GET_VOLUME_MEMBERS
    DiskList,       // NVMERAID_GET_DISK_LIST
    Commit,         // Firmware Commit through the VROC pass-through
    LogPage,        // the firmware slot information log: a protocol query or Get Log Page
    Other,          // anything else, including requests too broken to tell
};
inline constexpr std::size_t REQUEST_KIND_COUNT = 14;

// The name a machine file and a trace use for a kind: "device-number", "identify",
// "get-info", "download", "activate", "raid-config", "volume-count", "disk-count",
// "volume-info", "volume-members", "disk-list", "commit", "log-page", "other". On an RST
// storage port, "identify" is the NVMe pass-through (any command but Get Log Page) and
// "download" and "activate" its firmware requests; on a VROC port "identify", "log-page",
// "download" and "commit" are the NVMe commands of its pass-through.
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
    // False: the device belongs to the class's set but exposes no interface there.
    bool exposed = true;
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
    // Sets list their members by this, ties in file order.
    std::uint32_t setOrder = 0;
    Unreadable unreadable;
};

// The n-th request of a kind that a disk, a port or a drive behind one receives fails as a
// call, answers a status or, on the VROC pass-through, a completion entry.
struct RequestFault {
    RequestKind kind = RequestKind::Other;
    std::uint32_t nth = 1;                    // counted from 1 over the whole life of the machine
    bool andLater = false;                    // also every later request of the kind
    std::optional<std::uint32_t> error;       // the call fails with this system error
    std::optional<std::uint32_t> status;      // or answers this driver status
    std::optional<std::uint32_t> completion;  // or this CplEntry[3], with ReturnCode 0
    // The driver carries the request out first, then answers as the fault says (with a status
    // everywhere; on the VROC driver also with an error or a completion).
    bool performed = false;
    std::optional<std::uint8_t> driveCount;  // a RAID configuration reply states this count
};

// The request faults of one receiver and how many requests of each kind it has received.
struct RequestFaults {
    std::vector<RequestFault> list;
    std::uint32_t received[REQUEST_KIND_COUNT] = {};

    void count(RequestKind kind) { ++received[static_cast<std::size_t>(kind)]; }
    // The fault due for the request of this kind counted last, if any.
    const RequestFault* due(RequestKind kind) const;
};

// Opens of one path that fail: every one, or chosen attempts.
struct OpenAttemptFault {
    std::uint32_t nth = 1;  // counted from 1 over the whole life of the machine
    bool andLater = false;
    std::uint32_t error = 0;
};

struct OpenFault {
    std::uint32_t always = 0;  // every open fails with this system error; 0: none
    std::vector<OpenAttemptFault> attempts;
    // The system error of the attempt-th open of the path; 0: it opens.
    std::uint32_t errorFor(std::uint32_t attempt) const;
};

// What a get-info answer does differently.
struct GetInfoFault {
    std::optional<std::uint8_t> slotCount;          // reported instead of the real count
    std::optional<std::uint32_t> dataBufferOffset;  // written back into the request block
    // The slot information is written at this byte of the request, which is written back.
    std::optional<std::uint32_t> infoOffset;
};

struct DiskFaults {
    OpenFault openInterface;      // opening the interface path
    OpenFault openPhysicalDrive;  // opening \\.\PHYSICALDRIVEn
    RequestFaults requests;
    GetInfoFault getInfo;
};

// A disk: a device of the tree, reached through its files, answered by its controller's
// driver. An inbox disk is backed by one NVMe drive or by none; an RST disk never is (the RST
// driver reaches its drives through the storage port).
struct Disk {
    std::size_t device = 0;  // index into Machine::devices
    std::optional<std::uint32_t> deviceNumber;
    DriverStack driver = DriverStack::Inbox;
    std::unique_ptr<NvmeDrive> drive;
    DiskFaults faults;
};

// An NVMe drive behind an RST controller, addressed by its path id.
struct RstDrive {
    std::uint8_t pathId = 0;
    std::unique_ptr<NvmeDrive> drive;
    RequestFaults faults;  // counted over the requests addressed to this path id
};

struct RaidSet {
    std::vector<std::uint8_t> members;  // path ids; a path id need not hold a drive
    std::uint8_t driveCount = 0;        // what GET RAID CONFIG states
};

// An Intel RST controller: the device of its storage port, and what the port's driver serves.
struct RstController {
    std::size_t device = 0;  // index into Machine::devices
    std::vector<RstDrive> drives;
    std::vector<RaidSet> raidSets;
    RequestFaults faults;  // counted over all requests the port receives

    RstDrive* driveAt(std::uint8_t pathId);
};

inline constexpr std::size_t VROC_SERIAL_LENGTH = 48;

// An NVMe disk the VROC driver knows on a SCSI port, addressed by its disk id.
struct VrocDisk {
    std::uint32_t diskId = 0;
    std::uint32_t address = 0;
    std::array<std::uint8_t, MODEL_LENGTH> model{};         // as the disk entry carries it
    std::array<std::uint8_t, VROC_SERIAL_LENGTH> serial{};  // zero-padded
    std::unique_ptr<NvmeDrive> drive;  // none: an entry with no drive behind it
    RequestFaults faults;              // counted over the requests to this disk id
    std::uint16_t queueHead = 0;       // admin submission queue head after the last command
};

enum class ScsiDriver {
    Vroc,  // the Intel VROC driver
    None,  // the port opens and fails every request
};

// A SCSI port (\\.\ScsiN:), a device file only, and what its driver knows.
struct ScsiPort {
    std::uint8_t number = 0;
    ScsiDriver driver = ScsiDriver::Vroc;
    std::vector<VrocDisk> disks;  // in file order
    bool hasVolume = false;
    std::vector<std::uint32_t> members;  // disk ids of the volume's members, in volume order
    // What the queries state, independently of the entries held.
    std::uint32_t volumeCount = 0;
    std::uint32_t memberCount = 0;
    std::uint32_t diskCount = 0;
    RequestFaults faults;  // counted over all requests the port receives

    VrocDisk* diskById(std::uint32_t diskId);
    bool isMember(std::uint32_t diskId) const;
};

// What opening a path reaches. Share access is not checked: storage drivers do not, so a
// device held open without sharing can be opened again.
struct DeviceFileEntry {
    enum class Target {
        Disk,         // index into Machine::disks
        StoragePort,  // of an inbox controller; index into Machine::devices
        RstPort,      // of an RST controller; index into Machine::rstControllers
        ScsiPort,     // index into Machine::scsiPorts
    };
    std::wstring path;
    Target target = Target::Disk;
    std::size_t index = 0;
    OpenFault openFault;
    std::uint32_t opens = 0;  // attempts so far
};

struct OpenRecord {
    std::wstring path;
    std::uint32_t access = 0;
    std::uint32_t share = 0;
    std::uint32_t flags = 0;
    std::uint32_t error = 0;  // 0: opened
};

// One control request as the machine received and answered it. The drivers fill in what they
// decoded (kind, addressee, status, note); the rest is filled in only for the history.
struct RequestRecord {
    std::wstring path;                          // the path through which the device was opened
    std::wstring instanceId;                    // the device the request reached
    std::optional<std::uint32_t> deviceNumber;  // of a disk
    std::optional<std::uint8_t> pathId;         // of an RST pass-through or firmware request
    std::optional<std::uint32_t> vrocDiskId;    // of a VROC pass-through
    RequestKind kind = RequestKind::Other;
    std::uint32_t controlCode = 0;
    std::uint32_t inputLength = 0;
    std::uint32_t outputLength = 0;
    std::vector<std::uint8_t> input;   // the first inputLength bytes, as sent
    std::vector<std::uint8_t> output;  // the first bytesReturned bytes, as answered
    bool ok = false;
    std::uint32_t error = 0;  // system error when !ok
    std::uint32_t bytesReturned = 0;
    std::optional<std::uint32_t> status;      // driver status written into ReturnCode
    std::optional<std::uint32_t> completion;  // CplEntry[3] as written
    bool faultInjected = false;               // the answer came from a fault switch
    std::string note;                         // why the driver refused, or what it did
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
    bool runLockHeld = false;  // another run holds the machine-wide run lock
    std::string computerName = "VELO-SIM";
    bool failDiskSet = false;         // a device information set of disks cannot be built
    bool failStoragePortSet = false;  // ... of storage ports
    bool failAllClassesSet = false;   // ... of all classes
    std::vector<Device> devices;
    std::vector<Disk> disks;
    std::vector<RstController> rstControllers;  // in file order
    std::vector<ScsiPort> scsiPorts;            // in file order
    std::vector<DeviceFileEntry> files;

    // --- What a test asks after a run ---
    // The history (requests() and opens(): every request with its bytes, every open) is kept
    // only after keepHistory(true); a run of the program asks for none and keeps only the
    // counts. Reading a history that is not kept is a fault of the test and throws
    // std::logic_error.
    void keepHistory(bool keep) { keepHistory_ = keep; }
    bool keepsHistory() const { return keepHistory_; }
    // The requests of this kind the machine received, kept with or without the history.
    std::uint64_t requestCount(RequestKind kind) const {
        return requestCounts_[static_cast<std::size_t>(kind)];
    }
    // The drive of the disk with this device number; nothing when there is none.
    NvmeDrive* drive(std::uint32_t deviceNumber);
    // The drive at this path id of the n-th RST controller; nothing when there is none.
    NvmeDrive* rstDrive(std::uint8_t pathId, std::size_t controller = 0);
    // The drive of this VROC disk id on the first SCSI port (in file order) where that disk id
    // has a drive; nothing when none.
    NvmeDrive* vrocDrive(std::uint32_t diskId);
    Disk* diskByNumber(std::uint32_t deviceNumber);
    const Device* deviceByInstanceId(std::wstring_view instanceId) const;
    const std::vector<RequestRecord>& requests() const;
    std::vector<RequestRecord> requestsOfKind(RequestKind kind) const;
    const std::vector<OpenRecord>& opens() const;
    // Empties the history and the counts.
    void clearHistory();
    // Every drive goes through a power cycle: pending activations take effect.
    void powerCycle();

    // --- What the platform does with it ---
    const DeviceFileEntry* findFile(const std::wstring& path) const;
    // One open of a path: counts the attempt and records it. Nothing when it fails (error
    // then holds the system error); otherwise the index of the file in files.
    std::optional<std::size_t> open(const std::wstring& path, std::uint32_t access,
                                    std::uint32_t share, std::uint32_t flags, std::uint32_t& error);
    // One control request to an opened file (its index in files); answers as the file's
    // driver would.
    ControlResult control(std::size_t file, std::uint32_t controlCode,
                          std::span<std::uint8_t> buffer, std::uint32_t inputLength,
                          std::uint32_t outputLength);

private:
    std::optional<std::size_t> lookUp(const std::wstring& path) const;
    void checkHistoryKept() const;
    // The answer of the file's driver, on the system buffer.
    ControlResult answer(const DeviceFileEntry& file, std::uint32_t controlCode,
                         std::span<std::uint8_t> system, std::uint32_t inputLength,
                         std::uint32_t outputLength, RequestRecord& record);

    bool keepHistory_ = false;
    std::uint64_t requestCounts_[REQUEST_KIND_COUNT] = {};
    std::vector<RequestRecord> requests_;
    std::vector<OpenRecord> opens_;
    // The driver's system buffer, kept from one request to the next.
    std::vector<std::uint8_t> system_;
    // Upper-cased path -> index into files, built on the first look-up after files changed.
    mutable std::unordered_map<std::wstring, std::size_t> fileIndex_;
    mutable std::size_t indexedFiles_ = 0;
};

}  // namespace velo::sim
