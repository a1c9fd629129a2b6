// The inbox firmware slot log: the query's bytes against a layout written out by hand, what is
// made of each answer of a simulated disk, and answers whose data lies elsewhere.
#include "stacks/inbox/InboxSlotLog.h"

#include "tests/FakeDevices.h"
#include "tests/stacks/SlotLogCheck.h"

namespace velo {
namespace {

using Json = nlohmann::json;
const std::wstring DRIVE = L"\\\\.\\PHYSICALDRIVE3";

std::optional<FirmwareSlotLog> read(Io& io) {
    return readInboxFirmwareSlotLog(io, makeCandidate(DRIVE, DriverKind::Inbox));
}

TEST(InboxSlotLog, QueryBytesAndTheLogOfEachDrive) {
    std::vector<std::uint8_t> expected = {50, 0, 0, 0, 0, 0, 0, 0, 3,  0, 0, 0, 2, 0, 0, 0,
                                          3,  0, 0, 0, 0, 0, 0, 0, 40, 0, 0, 0, 0, 2, 0, 0};
    expected.resize(560);
    const test::SlotLogCase cases[] = {
        {"factory slots", nullptr, false, 1, 0},
        {"pending after a commit", nullptr, true, 1, 2},
        {"no slots: no active slot", nullptr, false, 0, 0},
        {"query fails", R"({"request": "log-page", "nth": 1, "error": 31})", false, 0, 0},
    };
    for (const auto& c : cases) {
        Json machine = sim::testing::baseMachine();
        Json& drive = sim::testing::firstDrive(machine);
        drive["slots"][1].erase("revision");
        if (&c == &cases[2]) {
            drive.erase("activeSlot");
            drive["slots"] = Json::array();
        }
        if (c.fault)
            sim::testing::firstDisk(machine)["faults"]["requests"] =
                Json::array({Json::parse(c.fault)});
        test::checkSlotLog(
            c, machine, expected, [](sim::Machine& m) { return m.drive(3); }, read);
    }
}

TEST(InboxSlotLog, TheDescriptorMustPlaceTheWholeLogInTheBuffer) {
    struct Case {
        std::uint32_t version, offset, length;
        bool usable;
    };
    const Case cases[] = {{48, 40, 512, true},          {48, 41, 512, false}, {48, 39, 512, false},
                          {48, 0xFFFFFFF8, 512, false}, {48, 40, 508, false}, {0, 40, 512, false}};
    for (const Case& c : cases) {
        test::FakePlatform platform;
        platform.devices[DRIVE] = {0, [c](std::uint32_t, std::span<std::uint8_t> b) {
                                       std::fill(b.begin(), b.end(), 0x01);
                                       test::putLe(b, 0, c.version, 4);
                                       test::putLe(b, 4, 48, 4);
                                       test::putLe(b, 24, c.offset, 4);
                                       test::putLe(b, 28, c.length, 4);
                                       return ControlResult{true, 560, 0};
                                   }};
        Console console(platform);
        Io io{platform, console};
        EXPECT_EQ(read(io).has_value(), c.usable)
            << c.version << " " << c.offset << " " << c.length;
    }
}

}  // namespace
}  // namespace velo
