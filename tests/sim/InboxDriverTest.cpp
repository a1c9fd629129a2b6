// The simulated inbox driver answers well-formed requests as the driver does and refuses each
// malformed one with the status or system error the driver gives.
#include "tests/sim/SimTestSupport.h"

namespace velo::sim {
namespace {

using namespace velo::sim::testing;

// --- device number ---

TEST(InboxDriverDeviceNumber, AnswersDiskTypeNumberAndWholeDisk) {
    OpenDisk disk;
    std::vector<std::uint8_t> out(12, 0xEE);
    auto result = disk.send(GET_DEVICE_NUMBER, out, 0);
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.bytesReturned, 12u);
    EXPECT_EQ(get32(out, 0), 7u);
    EXPECT_EQ(get32(out, 4), 3u);
    EXPECT_EQ(get32(out, 8), 0u);
}

TEST(InboxDriverDeviceNumber, ShortOutputFailsWithInsufficientBuffer) {
    OpenDisk disk;
    std::vector<std::uint8_t> out(11, 0xEE);
    auto result = disk.send(GET_DEVICE_NUMBER, out, 0);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, 122u);
    EXPECT_EQ(out, std::vector<std::uint8_t>(11, 0xEE));
}

// --- identify ---

TEST(InboxDriverIdentify, AnswersDescriptorAndIdentifyDataAt48) {
    OpenDisk disk;
    auto buffer = identifyRequest();
    auto result = disk.send(QUERY_PROPERTY, buffer);
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.bytesReturned, 4144u);
    EXPECT_EQ(get32(buffer, 0), 48u);  // Version
    EXPECT_EQ(get32(buffer, 4), 48u);  // Size
    EXPECT_EQ(get32(buffer, 8), 3u);   // ProtocolType
    EXPECT_EQ(get32(buffer, 12), 1u);  // DataType
    EXPECT_EQ(get32(buffer, 16), 1u);  // RequestValue
    EXPECT_EQ(get32(buffer, 24), 40u);
    EXPECT_EQ(get32(buffer, 28), 4096u);
    EXPECT_EQ(buffer[48] | buffer[49] << 8, 0x7A3C);
    EXPECT_EQ(textAt(buffer, 52, 20), "SN0001              ");
    EXPECT_EQ(textAt(buffer, 72, 40), "VANTORA QX7B2 1TB                       ");
    EXPECT_EQ(textAt(buffer, 112, 8), "QLR2KAXA");
    EXPECT_EQ(buffer[129], 4);  // MNR
    EXPECT_EQ(buffer[130], 1);  // MJR
    EXPECT_EQ(buffer[131], 0);
    EXPECT_EQ(buffer[48 + 260], 0x17);  // FRMW: slot 1 read-only, 3 slots, no reset needed
    EXPECT_EQ(buffer[367], 1);          // FWUG
}

TEST(InboxDriverIdentify, DeviceProtocolPropertyIsAnsweredToo) {
    OpenDisk disk;
    auto buffer = identifyRequest();
    put32(buffer, 0, 50);
    EXPECT_TRUE(disk.send(QUERY_PROPERTY, buffer).ok);
}

// A request changed for each case, sent whole unless the change shortens its input.
struct BrokenCall {
    const char* name;
    std::function<void(std::vector<std::uint8_t>&, std::uint32_t&)> change;
    std::uint32_t error;
};

// Each broken request fails as a call with its system error and leaves the buffer alone.
void expectCallsFail(std::uint32_t code, std::vector<std::uint8_t> (*makeRequest)(),
                     const std::vector<BrokenCall>& cases) {
    for (const BrokenCall& c : cases) {
        OpenDisk disk;
        auto buffer = makeRequest();
        std::uint32_t inputLength = static_cast<std::uint32_t>(buffer.size());
        c.change(buffer, inputLength);
        const auto before = buffer;
        auto result = disk.send(code, buffer, inputLength);
        EXPECT_FALSE(result.ok) << c.name;
        EXPECT_EQ(result.error, c.error) << c.name;
        EXPECT_EQ(buffer, before) << c.name << ": a failed call must leave the buffer alone";
    }
}

TEST(InboxDriverIdentify, MalformedQueriesFailAsTheDriverFailsThem) {
    expectCallsFail(
        QUERY_PROPERTY, identifyRequest,
        {
            {"device property not modelled", [](auto& b, auto&) { put32(b, 0, 0); }, 50},
            {"query type 2", [](auto& b, auto&) { put32(b, 4, 2); }, 87},
            {"protocol ATA", [](auto& b, auto&) { put32(b, 8, 2); }, 50},
            {"log page", [](auto& b, auto&) { put32(b, 12, 2); }, 50},
            {"namespace identify", [](auto& b, auto&) { put32(b, 16, 0); }, 50},
            {"sub value 1", [](auto& b, auto&) { put32(b, 20, 1); }, 87},
            {"offset inside header", [](auto& b, auto&) { put32(b, 24, 39); }, 87},
            {"length below 4096", [](auto& b, auto&) { put32(b, 28, 4095); }, 87},
            {"data past the output", [](auto& b, auto&) { put32(b, 24, 41); }, 122},
            {"input shorter than the query", [](auto&, auto& in) { in = 47; }, 87},
            {"input shorter than a property query", [](auto&, auto& in) { in = 7; }, 87},
        });
}

TEST(InboxDriverIdentify, OutputOneByteShortFails) {
    OpenDisk disk;
    auto buffer = identifyRequest();
    buffer.resize(4143);
    auto result = disk.send(QUERY_PROPERTY, buffer);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, 122u);
}

// --- miniport envelope ---

TEST(InboxDriverMiniport, BrokenEnvelopeFailsTheCall) {
    expectCallsFail(
        SCSI_MINIPORT, getInfoRequest,
        {
            {"input shorter than SRB_IO_CONTROL", [](auto&, auto& in) { in = 27; }, 122},
            {"HeaderLength 27", [](auto& b, auto&) { put32(b, 0, 27); }, 1306},
            {"HeaderLength 0", [](auto& b, auto&) { put32(b, 0, 0); }, 1306},
            {"Length one past the buffer",
             [](auto& b, auto&) { put32(b, 24, static_cast<std::uint32_t>(b.size()) - 27); }, 122},
            {"Length beyond the input",
             [](auto& b, auto& in) {
                 in = static_cast<std::uint32_t>(b.size()) - 1;
                 (void)b;
             },
             122},
            {"Length wraps", [](auto& b, auto&) { put32(b, 24, 0xFFFFFFF0); }, 122},
            {"signature", [](auto& b, auto&) { b[11] = 'X'; }, 1},
            {"RST signature", [](auto& b, auto&) { std::memcpy(b.data() + 4, "IntelFw ", 8); }, 1},
            {"control code", [](auto& b, auto&) { put32(b, 16, 0x1B0781); }, 1},
            {"no room for the request block", [](auto& b, auto&) { put32(b, 24, 23); }, 87},
        });
}

TEST(InboxDriverMiniport, UnknownControlCodeAndOverlongInputFail) {
    OpenDisk disk;
    auto buffer = getInfoRequest();
    auto unknown = disk.send(0x2D0C14, buffer);
    EXPECT_FALSE(unknown.ok);
    EXPECT_EQ(unknown.error, 1u);
    auto overlong = disk.send(SCSI_MINIPORT, buffer, static_cast<std::uint32_t>(buffer.size()) + 1);
    EXPECT_FALSE(overlong.ok);
    EXPECT_EQ(overlong.error, 998u);
    // An output length of 4 GiB is refused before anything is sized by it.
    auto farOutput = disk.file->control(SCSI_MINIPORT, buffer,
                                        static_cast<std::uint32_t>(buffer.size()), 0xFFFFFFFF);
    EXPECT_FALSE(farOutput.ok);
    EXPECT_EQ(farOutput.error, 998u);
}

TEST(InboxDriverMiniport, BrokenRequestBlockAnswersAStatus) {
    struct Case {
        const char* name;
        std::function<void(std::vector<std::uint8_t>&)> change;
        std::uint32_t status;
    };
    const std::vector<Case> cases = {
        {"block version 2", [](auto& b) { put32(b, 28, 2); }, 3},
        {"block size 20", [](auto& b) { put32(b, 32, 20); }, 3},
        {"function 4", [](auto& b) { put32(b, 36, 4); }, 2},
        {"unknown flag", [](auto& b) { put32(b, 40, 0x11); }, 3},
        {"data inside the block", [](auto& b) { put32(b, 44, 48); }, 3},
        {"data past Length", [](auto& b) { put32(b, 48, get32(b, 48) + 1); }, 3},
        {"data offset wraps", [](auto& b) { put32(b, 44, 0xFFFFFFFF); }, 3},
    };
    for (const Case& c : cases) {
        OpenDisk disk;
        auto buffer = getInfoRequest();
        c.change(buffer);
        auto result = disk.send(SCSI_MINIPORT, buffer);
        ASSERT_TRUE(result.ok) << c.name;
        EXPECT_EQ(result.bytesReturned, buffer.size()) << c.name;
        EXPECT_EQ(get32(buffer, 20), c.status) << c.name;
        EXPECT_EQ(get32(buffer, 52), 0u) << c.name << ": no slot information written";
    }
}

// --- get info ---

TEST(InboxDriverGetInfo, WritesVersion1SlotInformationAtTheDataOffset) {
    OpenDisk disk;
    auto buffer = getInfoRequest();
    auto result = disk.send(SCSI_MINIPORT, buffer);
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.bytesReturned, 4172u);
    EXPECT_EQ(get32(buffer, 20), 0u);
    EXPECT_EQ(get32(buffer, 44), 52u);
    EXPECT_EQ(get32(buffer, 52), 1u);            // Version
    EXPECT_EQ(get32(buffer, 56), 16u + 3 * 16);  // Size
    EXPECT_EQ(buffer[60], 1);                    // UpgradeSupport
    EXPECT_EQ(buffer[61], 3);                    // SlotCount
    EXPECT_EQ(buffer[62], 1);                    // ActiveSlot
    EXPECT_EQ(buffer[63], 0xFF);                 // PendingActivateSlot: none
    EXPECT_EQ(buffer[68], 1);
    EXPECT_EQ(buffer[69], 1);
    EXPECT_EQ(textAt(buffer, 76, 8), "QLR2KAXA");
    EXPECT_EQ(buffer[84], 2);
    EXPECT_EQ(buffer[85], 0);
    EXPECT_EQ(textAt(buffer, 92, 8), "OLDREV02");
    EXPECT_EQ(buffer[100], 3);
    EXPECT_EQ(textAt(buffer, 108, 8), "OLDREV03");
}

TEST(InboxDriverGetInfo, SlotNumbersComeInTheDrivesOrder) {
    auto machine = baseMachine();
    firstDrive(machine)["slots"] = nlohmann::json::parse(
        R"([{"number": 3}, {"number": 1, "readOnly": true, "revision": "FACTORY1"}])");
    firstDrive(machine)["activeSlot"] = 3;
    OpenDisk disk(machine);
    auto buffer = getInfoRequest();
    ASSERT_TRUE(disk.send(SCSI_MINIPORT, buffer).ok);
    EXPECT_EQ(buffer[61], 2);
    EXPECT_EQ(buffer[68], 3);
    EXPECT_EQ(buffer[69], 0);
    EXPECT_EQ(buffer[84], 1);
    EXPECT_EQ(buffer[85], 1);
}

TEST(InboxDriverGetInfo, DataBufferTooSmallForAllSlotsAnswersOutputBufferTooSmall) {
    OpenDisk disk;
    auto buffer = firmwareRequest(1, 0);  // 76 bytes: data buffer of 24 bytes
    put32(buffer, 48, 16 + 3 * 16 - 1);
    buffer.resize(52 + 16 + 3 * 16 - 1);
    put32(buffer, 24, static_cast<std::uint32_t>(buffer.size()) - 28);
    auto result = disk.send(SCSI_MINIPORT, buffer);
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(get32(buffer, 20), 5u);
    EXPECT_EQ(buffer[61], 0);

    buffer.resize(52 + 16 + 3 * 16, 0);
    put32(buffer, 24, static_cast<std::uint32_t>(buffer.size()) - 28);
    put32(buffer, 48, 16 + 3 * 16);
    put32(buffer, 20, 0);
    ASSERT_TRUE(disk.send(SCSI_MINIPORT, buffer).ok);
    EXPECT_EQ(get32(buffer, 20), 0u);
    EXPECT_EQ(buffer[61], 3);
}

// --- download ---

TEST(InboxDriverDownload, MisplacedOrMisshapenPiecesAreRefusedAndNotStaged) {
    struct Case {
        const char* name;
        std::uint64_t offset;
        std::size_t length;
        int fwug;
        std::uint32_t status;
    };
    const std::vector<Case> cases = {
        {"offset off the 4 KiB unit", 2048, 4096, 1, 3},
        {"offset off the 32 KiB unit", 4096, 4096, 8, 3},
        {"length not a multiple of 4", 0, 4094, 1, 3},
        {"length above the unit but not a multiple of it", 0, 6144, 1, 3},
        {"offset not a multiple of 4 without granularity", 2, 4096, 0, 3},
        {"zero length", 0, 0, 1, 3},
    };
    for (const Case& c : cases) {
        auto machine = baseMachine();
        firstDrive(machine)["fwug"] = c.fwug;
        OpenDisk disk(machine);
        auto buffer = downloadRequest(c.offset, std::vector<std::uint8_t>(c.length, 0xAB), 8192);
        auto result = disk.send(SCSI_MINIPORT, buffer);
        ASSERT_TRUE(result.ok) << c.name;
        EXPECT_EQ(get32(buffer, 20), c.status) << c.name;
        EXPECT_FALSE(disk.drive().hasStaged()) << c.name;
    }
}

TEST(InboxDriverDownload, AlignedPiecesAndAShortLastPieceAreStaged) {
    struct Case {
        const char* name;
        std::uint64_t offset;
        std::size_t length;
        int fwug;
    };
    const std::vector<Case> cases = {
        {"one unit", 4096, 4096, 1},
        {"two units", 8192, 8192, 1},
        {"short last piece", 4096, 2048, 1},
        {"any dword without granularity", 12, 8, 0},
        {"any dword with FWUG 0xFF", 1028, 100, 255},
    };
    for (const Case& c : cases) {
        auto machine = baseMachine();
        firstDrive(machine)["fwug"] = c.fwug;
        OpenDisk disk(machine);
        auto buffer = downloadRequest(c.offset, std::vector<std::uint8_t>(c.length, 0x5A), 8192);
        ASSERT_TRUE(disk.send(SCSI_MINIPORT, buffer).ok) << c.name;
        EXPECT_EQ(get32(buffer, 20), 0u) << c.name;
        ASSERT_EQ(disk.drive().stagedPieces().size(), 1u) << c.name;
        EXPECT_EQ(disk.drive().stagedPieces()[0],
                  std::make_pair(c.offset, static_cast<std::uint64_t>(c.length)))
            << c.name;
        EXPECT_EQ(disk.drive().stagedBytes().size(), c.offset + c.length) << c.name;
    }
}

TEST(InboxDriverDownload, BufferSizeBeyondTheDataBufferIsRefused) {
    OpenDisk disk;
    auto buffer = downloadRequest(0, std::vector<std::uint8_t>(4096, 1));
    put64(buffer, 68, 4100);
    auto result = disk.send(SCSI_MINIPORT, buffer);
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(get32(buffer, 20), 3u);
    EXPECT_FALSE(disk.drive().hasStaged());
}

TEST(InboxDriverDownload, WrongDownloadHeaderIsRefused) {
    OpenDisk disk;
    auto buffer = downloadRequest(0, std::vector<std::uint8_t>(4096, 1));
    put32(buffer, 56, 32);
    ASSERT_TRUE(disk.send(SCSI_MINIPORT, buffer).ok);
    EXPECT_EQ(get32(buffer, 20), 3u);
    EXPECT_FALSE(disk.drive().hasStaged());
}

// --- activate ---

TEST(InboxDriverActivate, SlotsThatCannotTakeTheImageAnswerInvalidSlot) {
    for (std::uint8_t slot : {std::uint8_t{1}, std::uint8_t{4}, std::uint8_t{0}}) {
        OpenDisk disk;
        const auto image = testImage("NEWREV01");
        auto piece = downloadRequest(0, image, static_cast<std::uint32_t>(image.size()));
        ASSERT_TRUE(disk.send(SCSI_MINIPORT, piece).ok);
        auto buffer = activateRequest(slot);
        ASSERT_TRUE(disk.send(SCSI_MINIPORT, buffer).ok);
        EXPECT_EQ(get32(buffer, 20), 6u) << "slot " << int{slot};
        EXPECT_EQ(disk.drive().activeSlot(), 1);
        EXPECT_EQ(disk.drive().runningRevision(), "QLR2KAXA");
    }
}

TEST(InboxDriverActivate, MissingOrIncompleteImageAnswersInvalidImage) {
    OpenDisk nothing;
    auto buffer = activateRequest(2);
    ASSERT_TRUE(nothing.send(SCSI_MINIPORT, buffer).ok);
    EXPECT_EQ(get32(buffer, 20), 7u);

    OpenDisk gap;
    const auto image = testImage("NEWREV01");
    auto first = downloadRequest(0, slice(image, 0, 4096));
    auto third = downloadRequest(8192, slice(image, 8192, 4096));
    ASSERT_TRUE(gap.send(SCSI_MINIPORT, first).ok);
    ASSERT_TRUE(gap.send(SCSI_MINIPORT, third).ok);
    buffer = activateRequest(2);
    ASSERT_TRUE(gap.send(SCSI_MINIPORT, buffer).ok);
    EXPECT_EQ(get32(buffer, 20), 7u);
    EXPECT_TRUE(gap.drive().slotImage(2).empty());
}

TEST(InboxDriverActivate, WrongActivateBlockIsRefused) {
    OpenDisk disk;
    auto buffer = activateRequest(2);
    put32(buffer, 56, 16);
    ASSERT_TRUE(disk.send(SCSI_MINIPORT, buffer).ok);
    EXPECT_EQ(get32(buffer, 20), 3u);
}

TEST(InboxDriverActivate, DriveWithoutUpgradeSupportRefusesFirmwareRequests) {
    auto machine = baseMachine();
    firstDrive(machine)["upgradeSupport"] = false;
    OpenDisk disk(machine);
    auto info = getInfoRequest();
    ASSERT_TRUE(disk.send(SCSI_MINIPORT, info).ok);
    EXPECT_EQ(info[60], 0);
    auto piece = downloadRequest(0, std::vector<std::uint8_t>(4096, 1));
    ASSERT_TRUE(disk.send(SCSI_MINIPORT, piece).ok);
    EXPECT_EQ(get32(piece, 20), 2u);
    EXPECT_FALSE(disk.drive().hasStaged());
}

}  // namespace
}  // namespace velo::sim
