// The firmware slot information log as the simulated drivers answer it: the drive's slots as
// they stand after a commit and a power cycle, and each driver's refusal of what it cannot
// decode.
#include "tests/sim/SimTestSupport.h"

namespace velo::sim {
namespace {

using namespace velo::sim::testing;
using Bytes = std::vector<std::uint8_t>;

// The inbox log page query (48 + 512 bytes) and the pass-throughs' Get Log Page of 512 bytes.
Bytes logRequest(int driver) {
    Bytes b;
    if (driver == 0) {
        b = identifyRequest();
        b.resize(560);
        put32(b, 0, 50);
        put32(b, 12, 2);
        put32(b, 16, 3);
        put32(b, 28, 512);
    } else if (driver == 1) {
        b = srbRequest(676, "IntelNvm", 0xF0002808, 0);
        b[32] = 0x02;
        put32(b, 36, 0xFFFFFFFF);
        put32(b, 72, 0x007F0003);
        put32(b, 116, 164);
        put32(b, 120, 512);
    } else {
        b = vrocRequest(664, 0xE0002000, 256, 0x02, 0x007F0003);
        put32(b, 132, 2);
        put32(b, 140, 512);
        put32(b, 148, 664);
    }
    return b;
}

TEST(SlotLogAnswer, TheLogShowsTheSlotsAndTheImageWaitingForTheReset) {
    OpenDisk disk;
    std::string why;
    ASSERT_EQ(disk.drive().download(0, testImage("NEWREV01"), why), 0u);
    ASSERT_EQ(disk.drive().commit(3, false, why, Activation::Reset), 0x20u);
    auto pending = logRequest(0);
    ASSERT_TRUE(disk.send(QUERY_PROPERTY, pending).ok);
    EXPECT_EQ(get32(pending, 28), 512u);
    EXPECT_EQ(pending[48], 0x31);  // slot 1 active, slot 3 at the reset
    EXPECT_EQ(textAt(pending, 48 + 8, 24), "QLR2KAXAOLDREV02NEWREV01");
    EXPECT_EQ(slice(pending, 48 + 32, 480), Bytes(480, 0)) << "slots 4 to 7 are empty";
    disk.platform.machine().powerCycle();
    auto after = logRequest(0);
    ASSERT_TRUE(disk.send(QUERY_PROPERTY, after).ok);
    EXPECT_EQ(after[48], 0x03);
}

TEST(SlotLogAnswer, EachDriverRefusesWhatItCannotDecode) {
    struct Case {
        const char* name;
        int driver;  // 0 inbox, 1 RST at path id 0, 2 VROC disk 256
        std::size_t at;
        std::uint32_t value;  // written at `at`
        bool ok;
        std::uint32_t code;  // the system error, else ReturnCode
    };
    const Case cases[] = {
        {"inbox: log 2", 0, 16, 2, false, 50},
        {"inbox: length off dwords", 0, 28, 510, false, 87},
        {"inbox: data past the output", 0, 28, 516, false, 122},
        {"rst: log 2", 1, 72, 0x007F0002, true, 2},
        {"rst: NUMD not the data area", 1, 72, 0x003F0003, true, 3},
        {"vroc: log 2", 2, 92, 0x007F0002, true, 5},
        {"vroc: NUMD not DataBufferLen", 2, 140, 256, true, 3},
    };
    for (const Case& c : cases) {
        OpenDisk disk;
        OpenPort port;
        OpenScsi scsi;
        Bytes b = logRequest(c.driver);
        put32(b, c.at, c.value);
        const ControlResult result = c.driver == 0   ? disk.send(QUERY_PROPERTY, b)
                                     : c.driver == 1 ? port.send(b)
                                                     : scsi.send(b, 664);
        ASSERT_EQ(result.ok, c.ok) << c.name;
        EXPECT_EQ(c.ok ? get32(b, 20) : result.error, c.code) << c.name;
        if (c.ok) {
            EXPECT_EQ(b[c.driver == 1 ? 164 : 152], 0) << c.name << ": no log written";
        }
    }
}

}  // namespace
}  // namespace velo::sim
