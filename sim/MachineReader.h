// The part of the machine-file reader that every controller section shares: the machine being
// built, the uniqueness of instance ids, paths and device numbers, and the disk and fault
// readers. Each driver's controller section has its own reader beside its driver.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "sim/JsonFields.h"
#include "sim/Machine.h"

namespace velo::sim {

struct MachineReader {
    Machine& machine;
    std::map<std::wstring, std::string> instanceIds;  // upper-cased id -> where it was given
    std::map<std::wstring, std::string> paths;        // upper-cased path -> where it was given
    std::map<std::uint32_t, std::string> deviceNumbers;

    void claimInstanceId(const std::wstring& id, const std::string& where);
    void addFile(DeviceFileEntry file, const std::string& where);
    std::uint32_t nextDevInst() const {
        return static_cast<std::uint32_t>(machine.devices.size() + 1);
    }

    // Gives the device its interface of the class; with a path, also the device file that
    // opening it reaches. Without one the device is a member of the class's set but exposes
    // no interface.
    void addInterface(Device& device, const Guid& interfaceClass,
                      const std::optional<std::wstring>& path, DeviceFileEntry file,
                      const std::string& where);

    // The device of a controller: instance id, driver description (default given),
    // location, hardware ids and set order. ordinal: its position in the file, from 0.
    Device readControllerDevice(const Json& value, const std::string& path, std::size_t ordinal,
                                std::wstring_view defaultDescription);
    // The controller's "disks" list; parent is the controller's instance id.
    void readDisks(const Json& value, const std::string& path, const std::wstring& parent,
                   DriverStack stack);
    // One disk behind a controller of the given stack.
    void readDisk(const Json& value, const std::string& path, const std::wstring& parent,
                  DriverStack stack);
};

// "\\?\" + the instance id with '\' as '#', in lower case, + "#" + the class.
std::wstring interfacePathFor(const std::wstring& instanceId, std::wstring_view classText);

inline constexpr std::wstring_view DISK_CLASS_TEXT = L"{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
inline constexpr std::wstring_view STORAGE_PORT_CLASS_TEXT =
    L"{2accfe60-c130-11d2-b082-00a0c91efb8b}";

Unreadable readUnreadable(const Json& value, const std::string& path, bool isDisk);
// Who receives the requests a fault list counts: each takes its own kinds of request.
enum class FaultReceiver { InboxDisk, RstDisk, RstPort, RstDrive, VrocPort, VrocDisk };
RequestFault readRequestFault(const Json& value, const std::string& path, FaultReceiver receiver);
RequestFaults readRequestFaults(const Json& value, const std::string& path, FaultReceiver receiver);
// A system error for every open of a path, or a list of the attempts that fail.
OpenFault readOpenFault(const Json& value, const std::string& path);
// "setOrder", default 0.
std::uint32_t readSetOrder(const Json& object, const std::string& path);
// An interface path field: absent gives the default, null gives none.
std::optional<std::wstring> readInterfacePath(const Json& object, const std::string& path,
                                              std::string_view name,
                                              const std::wstring& defaultPath);
// The drive object of a disk (DriveReader.cpp).
DriveSetup readDrive(const Json& value, const std::string& path);

// A controller section with "driver": "inbox" (InboxReader.cpp).
void readInboxController(MachineReader& reader, const Json& value, const std::string& path,
                         std::size_t ordinal);
// A controller section with "driver": "rst" (RstReader.cpp).
void readRstController(MachineReader& reader, const Json& value, const std::string& path,
                       std::size_t ordinal);
// The top-level "scsiPorts" list (VrocReader.cpp).
void readScsiPorts(MachineReader& reader, const Json& value, const std::string& path);

}  // namespace velo::sim
