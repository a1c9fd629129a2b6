// Each transport fills one request buffer again for every chunk without clearing it first, and
// the driver's answers land in that buffer. What a request carries must not depend on them.
#include <gtest/gtest.h>

#include <vector>

#include "platform/Console.h"
#include "stacks/inbox/InboxFirmware.h"
#include "stacks/rst/RstDisks.h"
#include "stacks/vroc/VrocDisks.h"
#include "tests/FakeDevices.h"

namespace velo {
namespace {

using test::putLe;

const std::wstring DRIVE = L"\\\\.\\PHYSICALDRIVE0";
const std::wstring RST_PORT = L"\\\\?\\pci#ven_8086&dev_a77f#3&11583659&0&b8#{2accfe60}";
const std::wstring VROC_PORT = L"\\\\.\\Scsi2:";

// Accepts every request. A scribbling device also overwrites every byte of the buffer it does
// not need to answer with 0xEE, as a driver may hand back whatever its buffer held.
test::Answer accepting(bool scribble) {
    return [scribble](std::uint32_t, std::span<std::uint8_t> b) -> ControlResult {
        const bool getInfo = b.size() > 36 && b[4] == 'F' && b[36] == 1;
        if (scribble)
            std::fill(b.begin(), b.end(), std::uint8_t{0xEE});
        putLe(b, 20, 0, 4);  // ReturnCode
        if (b.size() >= 132)
            putLe(b, 128, 0, 4);  // a VROC completion without an error
        if (getInfo) {
            // Slot information at 52: upgrade support, one writable slot, number 2.
            putLe(b, 44, 52, 4);
            putLe(b, 52 + 8, 0x0101, 2);
            putLe(b, 52 + 16, 2, 2);
        }
        return {true, static_cast<std::uint32_t>(b.size()), 0};
    };
}

TEST(RequestBuffer, RequestsDoNotCarryWhatEarlierAnswersLeft) {
    struct Stack {
        const char* name;
        std::wstring path;
        int (*update)(Io&, const DiskRecord&, const UpdateImage&);
        DiskRecord disk;
    };
    DiskRecord vroc = makeCandidate(L"", DriverKind::VrocNonRaid);
    vroc.vrocDiskId = 257;
    const std::vector<Stack> stacks = {
        {"inbox", DRIVE,
         [](Io& io, const DiskRecord& disk, const UpdateImage& image) {
             return inboxUpdateDisk(io, disk, image).resultCode;
         },
         makeCandidate(DRIVE, DriverKind::Inbox)},
        {"rst", RST_PORT,
         [](Io& io, const DiskRecord& disk, const UpdateImage& image) {
             return rstUpdateDisk(io, disk, image).resultCode;
         },
         makeCandidate(RST_PORT, DriverKind::RstPassThrough, 3)},
        {"vroc", VROC_PORT,
         [](Io& io, const DiskRecord& disk, const UpdateImage& image) {
             return vrocUpdateDisk(io, disk, image, 2).resultCode;
         },
         vroc},
    };
    const std::vector<std::uint8_t> image = test::patternedImage();
    for (Stack stack : stacks) {
        // Granularity 3: 12 KiB chunks, and a last one of 8 KiB in the same buffer.
        stack.disk.updateGranularity = 3;
        std::vector<test::SentRequest> sent[2];
        for (bool scribble : {false, true}) {
            test::FakePlatform platform;
            platform.devices[stack.path] = {0, accepting(scribble)};
            Console console(platform);
            Io io{platform, console};
            stack.update(io, stack.disk, {image, L"QLR4KAXA"});
            sent[scribble] = platform.sent;
        }
        ASSERT_EQ(sent[0].size(), sent[1].size()) << stack.name;
        ASSERT_GT(sent[0].size(), 171u) << stack.name;
        for (std::size_t i = 0; i < sent[0].size(); ++i)
            EXPECT_EQ(sent[0][i].bytes, sent[1][i].bytes) << stack.name << " request " << i;
    }
}

}  // namespace
}  // namespace velo
