// The part of the machine-file reader that every controller section shares: the machine being
// built, the uniqueness of instance ids, paths and device numbers, and the disk and fault
// readers. Each driver's controller section has its own reader beside its driver.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "platform/sim/JsonFields.h"
#include "platform/sim/Machine.h"

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

    // One disk behind the controller whose instance id is parent.
    void readDisk(const Json& value, const std::string& path, const std::wstring& parent);
};

// "\\?\" + the instance id with '\' as '#', in lower case, + "#" + the class.
std::wstring interfacePathFor(const std::wstring& instanceId, std::wstring_view classText);

inline constexpr std::wstring_view DISK_CLASS_TEXT = L"{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
inline constexpr std::wstring_view STORAGE_PORT_CLASS_TEXT =
    L"{2accfe60-c130-11d2-b082-00a0c91efb8b}";

Unreadable readUnreadable(const Json& value, const std::string& path, bool isDisk);
RequestFault readRequestFault(const Json& value, const std::string& path);
// The drive object of a disk (DriveReader.cpp).
DriveSetup readDrive(const Json& value, const std::string& path);

// A controller section with "driver": "inbox" (InboxReader.cpp). ordinal: its position in the
// file, from 0.
void readInboxController(MachineReader& reader, const Json& value, const std::string& path,
                         std::size_t ordinal);

}  // namespace velo::sim
