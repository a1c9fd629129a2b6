// The VROC firmware slot log: the pass-through's bytes against a layout written out by hand,
// and what is made of each answer of a simulated SCSI port.
#include "stacks/vroc/VrocSlotLog.h"

#include "tests/stacks/SlotLogCheck.h"

namespace velo {
namespace {

using Json = nlohmann::json;
using namespace velo::sim::testing;

TEST(VrocSlotLog, PassThroughBytesAndTheLogOfEachDisk) {
    std::vector<std::uint8_t> expected = {28,  0,   0,  0, 'N',  'v', 'm', 'e',  'R', 'A',
                                          'I', 'D', 40, 0, 0,    0,   0,   0x20, 0,   0xE0,
                                          1,   1,   0,  0, 0x7C, 2,   0,   0};
    expected.resize(664);
    put32(expected, 52, 0x02);
    put32(expected, 56, 0xFFFFFFFF);
    put32(expected, 92, 0x007F0003);
    put32(expected, 132, 2);
    put32(expected, 140, 512);
    put32(expected, 148, 664);
    const test::SlotLogCase cases[] = {
        {"factory slots", nullptr, false, 1, 0},
        {"pending after a commit", nullptr, true, 1, 2},
        {"NVMe status after the log",
         R"({"request": "log-page", "nth": 1, "completion": 131072, "performed": true})", false, 0,
         0},
        {"call fails", R"({"request": "log-page", "nth": 1, "error": 31})", false, 0, 0},
        {"no port found", nullptr, false, 0, 0},
    };
    for (const auto& c : cases) {
        Json machine = vrocMachine();
        if (c.fault)
            machine["scsiPorts"][0]["disks"][1]["faults"]["requests"] =
                Json::array({Json::parse(c.fault)});
        const std::int32_t port = &c == &cases[4] ? -1 : 2;
        DiskRecord disk = makeCandidate(L"\\\\.\\Scsi2:", DriverKind::VrocRaidMember);
        disk.vrocDiskId = 257;
        test::checkSlotLog(
            c, machine, port < 0 ? std::vector<std::uint8_t>{} : expected,
            [](sim::Machine& m) { return m.vrocDrive(257); },
            [&](Io& io) { return readVrocFirmwareSlotLog(io, disk, port); });
    }
}

}  // namespace
}  // namespace velo
