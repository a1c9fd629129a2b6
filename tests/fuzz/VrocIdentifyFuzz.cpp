// The Intel VROC driver's answer to the NVMe pass-through Identify Controller. The port itself
// answers discovery as a clean port with one non-RAID disk would; only the identify answer
// comes from the script.
#include "FuzzHarness.h"
#include "stacks/vroc/VrocDisks.h"
#include "stacks/vroc/VrocLayout.h"

namespace {

constexpr std::uint32_t DISK_ID = 7;

std::optional<velo::ControlResult> cleanPort(std::uint32_t code, std::span<std::uint8_t> buffer,
                                             std::uint32_t outputLength) {
    using namespace velo;
    ByteView request(buffer);
    if (code != srb::IOCTL_SCSI_MINIPORT)
        return std::nullopt;
    switch (request.u32(srb::CONTROL_CODE)) {
        case vroc::NVMERAID_GET_VOLUME_COUNT:
            request.putU32(vroc::COUNT, 0);
            break;
        case vroc::NVMERAID_GET_DISK_COUNT:
            request.putU32(vroc::COUNT, 1);
            break;
        case vroc::NVMERAID_GET_DISK_LIST:
            request.putU32(vroc::DISK_ENTRIES + vroc::ENTRY_DISK_ID, DISK_ID);
            request.putText(vroc::DISK_ENTRIES + vroc::ENTRY_MODEL, "VANTORA QX7B2 1TB");
            request.putText(vroc::DISK_ENTRIES + vroc::ENTRY_SERIAL, "VQX7B2V00000000001");
            break;
        default:
            return std::nullopt;  // the pass-through: the script answers
    }
    return ControlResult{true, outputLength, 0};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velo;
    fuzz::Input input(data, size);
    fuzz::ScriptedRun run(input);
    run.platform.preset = cleanPort;
    DiskList targets;
    std::int32_t port = -1;
    const int result = vrocDiscover(
        run.io, makeCandidate(L"\\\\?\\scsi#rst#port", DriverKind::RstRaid), targets, port);
    // Whatever the identify answered, the listed disk is a target with its texts' full width.
    VELO_FUZZ_CHECK(result == VROC_DISCOVERED && port == 0 && targets.size() == 1);
    VELO_FUZZ_CHECK(targets[0].vrocDiskId == DISK_ID);
    VELO_FUZZ_CHECK(targets[0].firmwareRevision.size() == 8);
    VELO_FUZZ_CHECK(targets[0].serialNumber.size() == 20);
    return 0;
}
