// The one boundary between VELO's logic and the operating system. Everything the
// discovery, transport and report code needs of Windows goes through these calls;
// the Win32 backend answers them with SetupAPI, CreateFileW and DeviceIoControl, the
// simulated backend with a described machine.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velo {

struct Guid {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::uint8_t data4[8] = {};
    bool operator==(const Guid&) const = default;
};

struct PropertyKey {
    Guid fmtid;
    std::uint32_t pid = 0;
    bool operator==(const PropertyKey&) const = default;
};

// Device interface classes (the SDK's GUID_DEVINTERFACE_DISK and _STORAGEPORT).
inline constexpr Guid DISK_INTERFACE_CLASS{
    0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
inline constexpr Guid STORAGE_PORT_INTERFACE_CLASS{
    0x2ACCFE60, 0xC130, 0x11D2, {0xB0, 0x82, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

// Device properties (the SDK's DEVPKEY_Device_*).
inline constexpr PropertyKey PROPERTY_DRIVER_DESC{
    {0xA8B865DD, 0x2E3D, 0x4094, {0xAD, 0x97, 0xE5, 0x93, 0xA7, 0x0C, 0x75, 0xD6}}, 4};
inline constexpr PropertyKey PROPERTY_LOCATION_INFO{
    {0xA45C254E, 0xDF1C, 0x4EFD, {0x80, 0x20, 0x67, 0xD1, 0x46, 0xA8, 0x50, 0xE0}}, 15};
inline constexpr PropertyKey PROPERTY_PARENT{
    {0x4340A6C5, 0x93FA, 0x4706, {0x97, 0x2C, 0x7B, 0x64, 0x80, 0x08, 0xA5, 0xA7}}, 8};
inline constexpr PropertyKey PROPERTY_INSTANCE_ID{
    {0x78C34FC8, 0x104A, 0x4ACA, {0x9E, 0xA4, 0x52, 0x4D, 0x52, 0x99, 0x6E, 0x57}}, 256};

// Flags of a device information set (DIGCF_*).
inline constexpr std::uint32_t SET_PRESENT = 0x2;
inline constexpr std::uint32_t SET_ALL_CLASSES = 0x4;
inline constexpr std::uint32_t SET_DEVICE_INTERFACE = 0x10;

// Arguments of a device open (GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
// FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED). Every open is
// OPEN_EXISTING.
inline constexpr std::uint32_t ACCESS_READ_WRITE = 0xC0000000;
inline constexpr std::uint32_t SHARE_READ_WRITE = 0x3;
inline constexpr std::uint32_t SHARE_NONE = 0;
inline constexpr std::uint32_t OPEN_FLAGS_NONE = 0;
inline constexpr std::uint32_t OPEN_FLAGS_NORMAL = 0x80;
inline constexpr std::uint32_t OPEN_FLAGS_NORMAL_OVERLAPPED = 0x40000080;

// System error codes the logic names.
inline constexpr std::uint32_t SYSTEM_ERROR_FILE_NOT_FOUND = 2;
inline constexpr std::uint32_t SYSTEM_ERROR_ACCESS_DENIED = 5;
inline constexpr std::uint32_t SYSTEM_ERROR_INVALID_PARAMETER = 87;
inline constexpr std::uint32_t SYSTEM_ERROR_INSUFFICIENT_BUFFER = 122;

// One device interface of a set: its path, and its device (the SP_DEVINFO_DATA that comes with
// the detail) as instance handle and as member index of the set. Interfaces are numbered across
// the set, so the device of interface i need not be member i.
struct DeviceInterface {
    std::wstring devicePath;
    std::uint32_t devInst = 0;
    std::uint32_t member = 0;
};

enum class InterfaceLookup {
    Found,         // the interface exists and its detail was read
    Absent,        // no interface of that class at that member index
    DetailFailed,  // the interface exists but its detail could not be read
};

// A device information set: the present devices of one class, addressed by member index.
// Released when the object is destroyed.
class DeviceInfoSet {
public:
    virtual ~DeviceInfoSet() = default;
    // The device instance handle of the device at this member index; nothing past the end.
    virtual std::optional<std::uint32_t> deviceAt(std::uint32_t index) = 0;
    // A text property of the device at this index; nothing when it cannot be read.
    virtual std::optional<std::wstring> textProperty(std::uint32_t index,
                                                     const PropertyKey& key) = 0;
    // The hardware-id list of the device at this index; nothing when it cannot be read.
    virtual std::optional<std::vector<std::wstring>> hardwareIds(std::uint32_t index) = 0;
    // The interface of the given class with this member index, with its detail.
    virtual InterfaceLookup interfaceAt(const Guid& interfaceClass, std::uint32_t index,
                                        DeviceInterface& found) = 0;
};

struct ControlResult {
    bool ok = false;
    std::uint32_t bytesReturned = 0;
    std::uint32_t error = 0;  // system error code when !ok
};

// An open device. The handle is closed when the object is destroyed.
class DeviceFile {
public:
    virtual ~DeviceFile() = default;
    // One device control request. The same buffer carries the input (its first inputLength
    // bytes) and receives the output (up to outputLength bytes); both lie within the buffer.
    virtual ControlResult control(std::uint32_t controlCode, std::span<std::uint8_t> buffer,
                                  std::uint32_t inputLength, std::uint32_t outputLength) = 0;
    // The same with the whole buffer as output.
    ControlResult control(std::uint32_t controlCode, std::span<std::uint8_t> buffer,
                          std::uint32_t inputLength) {
        return control(controlCode, buffer, inputLength, static_cast<std::uint32_t>(buffer.size()));
    }
};

struct OpenResult {
    std::unique_ptr<DeviceFile> file;  // empty when the open failed
    std::uint32_t error = 0;           // system error code of a failed open
};

struct LocalTime {
    int year = 0;
    int month = 0;  // 1 to 12
    int day = 0;    // 1 to 31
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// The same fields for a time in UTC.
using UniversalTime = LocalTime;

enum class StartupStatus {
    Ok,
    ModuleHandleFailed,
    FrameworkFailed,
};

// The outcome of writing a file: on failure, the system's reason in its own words.
struct FileWriteResult {
    bool ok = false;
    std::string failure;
    explicit operator bool() const { return ok; }
};

// A SHA-256 digest.
using Sha256Digest = std::array<std::uint8_t, 32>;

// The machine-wide lock that keeps two runs from sending requests to the same drives at once.
// Released when the object is destroyed.
class RunLock {
public:
    virtual ~RunLock() = default;
};

enum class RunLockOutcome {
    Taken,          // this run holds the lock
    HeldElsewhere,  // another run holds it
    Failed,         // the lock could not be made (error says why)
};

struct RunLockResult {
    RunLockOutcome outcome = RunLockOutcome::Failed;
    std::unique_ptr<RunLock> lock;  // while Taken
    std::uint32_t error = 0;        // system error when Failed
};

// The lock of a machine that no other run can reach (a replay, a test's machine): always taken.
inline RunLockResult runLockTaken() {
    return {RunLockOutcome::Taken, std::make_unique<RunLock>(), 0};
}

class Platform {
public:
    virtual ~Platform() = default;

    // Start-up of the program's own module; a failure is reported and the run goes on.
    virtual StartupStatus startUp() = 0;
    // Takes the machine-wide run lock without waiting.
    virtual RunLockResult takeRunLock() = 0;

    // A device information set of the given interface class; nothing when it cannot be built.
    virtual std::unique_ptr<DeviceInfoSet> deviceInfoSet(const Guid& interfaceClass,
                                                         std::uint32_t flags) = 0;
    // Opens an existing device.
    virtual OpenResult openDevice(const std::wstring& path, std::uint32_t access,
                                  std::uint32_t share, std::uint32_t flags) = 0;

    // A modal message with an OK button; returns when it is closed.
    virtual void showMessage(const std::wstring& caption, const std::wstring& text) = 0;
    // The local time now; nothing when it cannot be read.
    virtual std::optional<LocalTime> localTime() = 0;
    // The time now in UTC, for the result document; nothing when it cannot be read.
    virtual std::optional<UniversalTime> universalTime() = 0;
    // The computer's name, for the result document; empty when it cannot be read.
    virtual std::string computerName() = 0;
    // Appends bytes to standard output, in call order.
    virtual void writeOutput(std::string_view bytes) = 0;
    // Appends bytes to standard error: what the program says about itself, not the run's lines.
    virtual void writeErrorOutput(std::string_view bytes) = 0;
    // Replaces the file at path with text, each "\n" stored as CR LF, without a byte-order
    // mark, readable by other processes while it is open.
    virtual FileWriteResult writeTextFile(const std::wstring& path, std::string_view text) = 0;
    // The SHA-256 digest of bytes, computed by the operating system's own facility; nothing
    // when that facility fails.
    virtual std::optional<Sha256Digest> sha256(std::span<const std::uint8_t> bytes) = 0;
};

}  // namespace velo
