#include <set>
#include <string>
#include <vector>

#include "platform/Console.h"
#include "platform/Text.h"
#include "wire/NvmeIdentify.h"
#include "stacks/vroc/VrocDisks.h"
#include "stacks/vroc/VrocLayout.h"

namespace velo {

namespace {

void printCallError(Io& io, const ControlResult& result) {
    if (!result.ok)
        io.console.printNarrow("dwError: %lu\n", static_cast<unsigned long>(result.error));
}

// A count query; the reply dword whether or not the call succeeded (a failed call leaves the 0
// that was sent).
std::uint32_t askCount(DeviceFile& port, std::uint32_t controlCode) {
    std::vector<std::uint8_t> buffer(vroc::COUNT_REQUEST_SIZE);
    vroc::putQuery(ByteView(buffer), controlCode);
    srb::sendWhole(port, buffer);
    return ByteView(buffer).u32(vroc::COUNT);
}

// The serial text of an entry: up to its first zero byte, and never past the address field.
std::string entrySerial(const ByteView& entry) {
    const std::string_view field =
        entry.text(vroc::ENTRY_SERIAL, vroc::ENTRY_ADDRESS - vroc::ENTRY_SERIAL);
    return std::string(field.substr(0, field.find('\0')));
}

// The disks listed on one port, identified one after the other with the record as template.
class ListedDisks {
public:
    ListedDisks(Io& io, DeviceFile& port, DiskRecord& record, DiskList& targets)
        : io_(io), port_(port), record_(record), targets_(targets) {}

    void identify(const ByteView& entry, DriverKind kind) {
        const std::uint32_t diskId = entry.u32(vroc::ENTRY_DISK_ID);
        ByteView request(identify_);
        vroc::putIdentifyRequest(request, diskId);
        printCallError(io_, srb::sendWhole(port_, identify_));

        // Neither the call's result nor the statuses stop the step: whatever the data area
        // holds is the identity, and the 0x55 fill of a reply without data selects no image.
        const ByteView data(request.slice(nvmept::DATA_BUFFER, nvme::IDENTIFY_SIZE));
        record_.driverKind = kind;
        record_.firmwareRevision =
            widenBytes(data.text(nvme::FIRMWARE_REVISION, nvme::FIRMWARE_REVISION_SIZE));
        record_.serialNumber = widenBytes(data.text(nvme::SERIAL_NUMBER, nvme::SERIAL_NUMBER_SIZE));
        // The drive's own granularity, as the other stacks read it: a drive that enforces one
        // refuses pieces of any other size.
        record_.updateGranularity = nvme::updateGranularity(data);
        record_.targetAddress = entry.u32(vroc::ENTRY_ADDRESS);
        record_.vrocDiskId = diskId;
        record_.modelNumber = widenBytes(entry.text(vroc::ENTRY_MODEL, vroc::ENTRY_MODEL_SIZE));
        // One disk is one target, however often a list names its id.
        if (appended_.insert(diskId).second)
            targets_.push_back(record_);
    }

private:
    Io& io_;
    DeviceFile& port_;
    DiskRecord& record_;
    DiskList& targets_;
    std::vector<std::uint8_t> identify_ = std::vector<std::uint8_t>(vroc::IDENTIFY_REQUEST_SIZE);
    std::set<std::uint32_t> appended_;
};

int raidVolumes(Io& io, DeviceFile& port, DiskRecord& record, DiskList& targets) {
    std::vector<std::uint8_t> info(vroc::VOLUME_INFO_SIZE);
    vroc::putQuery(ByteView(info), vroc::NVMERAID_GET_VOLUME_INFO);
    ByteView(info).putU32(vroc::VOLUME_INFO_VOLUME, vroc::FIRST_VOLUME);
    printCallError(io, srb::sendWhole(port, info));
    const std::uint32_t members = ByteView(info).u32(vroc::VOLUME_INFO_MEMBER_COUNT);
    io.console.printNarrow("Number of NVMe RAID volume member disks: %lu\n",
                           static_cast<unsigned long>(members));

    // The count comes from the driver: a list it cannot back is not asked for.
    const std::uint64_t size = vroc::membersRequestSize(members);
    if (size > vroc::LIST_SIZE_LIMIT)
        return VROC_NO_BUFFER;
    std::vector<std::uint8_t> list(size);
    ByteView request(list);
    vroc::putQuery(request, vroc::NVMERAID_GET_VOLUME_MEMBERS);
    request.putU32(vroc::MEMBERS_VOLUME, vroc::FIRST_VOLUME);
    request.putU32(vroc::MEMBERS_ROOM, static_cast<std::uint32_t>(members * vroc::ENTRY_SIZE));
    const ControlResult listed = srb::sendWhole(port, list);
    printCallError(io, listed);
    // A list whose call failed holds only zeros: it names no disk.
    if (!listed.ok)
        return VROC_DISCOVERED;

    ListedDisks disks(io, port, record, targets);
    for (std::size_t k = 0; k < members; ++k) {
        const ByteView entry(
            request.slice(vroc::MEMBER_ENTRIES + k * vroc::ENTRY_SIZE, vroc::ENTRY_SIZE));
        io.console.printNarrow("\nSerial: %s\nvrocDiskId:%lx\n", entrySerial(entry).c_str(),
                               static_cast<unsigned long>(entry.u32(vroc::ENTRY_DISK_ID)));
        io.console.wide << L"RaidVROC" << lineEnd;
        disks.identify(entry, DriverKind::VrocRaidMember);
    }
    return VROC_DISCOVERED;
}

int nonRaidDisks(Io& io, DeviceFile& port, std::uint32_t count, DiskRecord& record,
                 DiskList& targets) {
    const std::uint64_t size = vroc::diskListRequestSize(count);
    if (size > vroc::LIST_SIZE_LIMIT)
        return VROC_NO_BUFFER;
    std::vector<std::uint8_t> list(size);
    ByteView request(list);
    vroc::putQuery(request, vroc::NVMERAID_GET_DISK_LIST);
    request.putU32(vroc::DISK_LIST_ROOM, static_cast<std::uint32_t>(count * vroc::ENTRY_SIZE));
    if (!srb::sendWhole(port, list).ok)
        return VROC_DISCOVERED;

    ListedDisks disks(io, port, record, targets);
    for (std::size_t k = 0; k < count; ++k) {
        io.console.wide << L"NonRaidVROC" << lineEnd;
        disks.identify(
            ByteView(request.slice(vroc::DISK_ENTRIES + k * vroc::ENTRY_SIZE, vroc::ENTRY_SIZE)),
            DriverKind::VrocNonRaid);
    }
    return VROC_DISCOVERED;
}

}  // namespace

int vrocDiscover(Io& io, DiskRecord record, DiskList& targets, std::int32_t& vrocPort) {
    for (int port = vroc::FIRST_PORT; port <= vroc::LAST_PORT; ++port) {
        auto opened = io.platform.openDevice(vroc::portPath(port), ACCESS_READ_WRITE,
                                             SHARE_READ_WRITE, OPEN_FLAGS_NORMAL);
        if (!opened.file)
            continue;
        // The first port that reports volumes, or else disks, is the one; volumes come first.
        int result = VROC_DISCOVERED;
        if (askCount(*opened.file, vroc::NVMERAID_GET_VOLUME_COUNT) != 0) {
            result = raidVolumes(io, *opened.file, record, targets);
        } else if (const auto disks = static_cast<std::int32_t>(
                       askCount(*opened.file, vroc::NVMERAID_GET_DISK_COUNT));
                   disks > 0) {
            result =
                nonRaidDisks(io, *opened.file, static_cast<std::uint32_t>(disks), record, targets);
        } else {
            continue;
        }
        if (result == VROC_DISCOVERED)
            vrocPort = port;
        return result;
    }
    return VROC_DISCOVERED;
}

}  // namespace velo
