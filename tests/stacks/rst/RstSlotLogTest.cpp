// The RST firmware slot log: the pass-through's bytes against a layout written out by hand, and
// what is made of each answer of a simulated storage port.
#include "stacks/rst/RstSlotLog.h"

#include "tests/stacks/SlotLogCheck.h"

namespace velo {
namespace {

using Json = nlohmann::json;
using namespace velo::sim::testing;

TEST(RstSlotLog, PassThroughBytesAndTheLogOfEachDrive) {
    std::vector<std::uint8_t> expected = {28,  0,   0,    0, 'I',  'n',  't',  'e',  'l',  'N',
                                          'v', 'm', 10,   0, 0,    0,    0x08, 0x28, 0,    0xF0,
                                          0,   0,   0,    0, 0x88, 0x02, 0,    0,    1,    2,
                                          0,   0,   0x02, 0, 0,    0,    0xFF, 0xFF, 0xFF, 0xFF};
    expected.resize(676);
    put32(expected, 72, 0x007F0003);
    put32(expected, 116, 164);
    put32(expected, 120, 512);
    const test::SlotLogCase cases[] = {
        {"factory slots", nullptr, false, 1, 0},
        {"pending after a commit", nullptr, true, 1, 2},
        {"driver status 3 after the log",
         R"({"request": "log-page", "nth": 1, "status": 3, "performed": true})", false, 0, 0},
        {"call fails", R"({"request": "log-page", "nth": 1, "error": 31})", false, 0, 0},
    };
    for (const auto& c : cases) {
        Json machine = rstMachine();
        if (c.fault)
            rstController(machine)["drives"][1]["faults"]["requests"] =
                Json::array({Json::parse(c.fault)});
        test::checkSlotLog(
            c, machine, expected, [](sim::Machine& m) { return m.rstDrive(2); },
            [](Io& io) {
                // Only the low byte of the address names the path id.
                return readRstFirmwareSlotLog(
                    io, makeCandidate(RST_PORT_PATH, DriverKind::RstPassThrough, 0x302));
            });
    }
}

}  // namespace
}  // namespace velo
