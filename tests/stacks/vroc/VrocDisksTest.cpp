// VROC discovery and the VROC firmware transport against scripted SCSI ports: request bytes
// against layouts written out by hand, the lines printed, the records made and the results.
#include "stacks/vroc/VrocDisks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <vector>

#include "platform/Console.h"
#include "tests/FakeDevices.h"

namespace velo {
namespace {

using test::get32;
using test::putLe;
using Bytes = std::vector<std::uint8_t>;

std::wstring scsi(int port) {
    return L"\\\\.\\Scsi" + std::to_wstring(port) + L":";
}

struct Disk {
    std::uint32_t id;
    std::string serial;  // entry serial, zero-padded to 48 bytes unless 48 long
    std::uint32_t address = 0x10000;
};

// The VROC driver as the tests script it, for one port.
struct VrocPort {
    std::uint32_t volumeCount = 0;
    std::uint32_t memberCount = 0;  // as GET_VOLUME_INFO states it
    std::uint32_t diskCount = 0;
    std::vector<Disk> disks;  // listed from the first entry on, as far as the buffer holds
    bool failMembers = false, failDiskList = false, failVolumeInfo = false;
    bool failIdentify = false;
    std::map<int, std::uint32_t> downloadCompletion;  // chunk (from 1) -> CplEntry[3]
    std::map<int, std::uint32_t> downloadStatus;
    int failingDownloadCall = 0;
    std::uint32_t commitStatus = 0;
    std::uint32_t commitCompletion = 0x10000;  // phase tag only
    bool failCommitCall = false;
    int downloads = 0;

    test::Answer answer() {
        return [this](std::uint32_t, std::span<std::uint8_t> b) -> ControlResult {
            const std::uint32_t code = get32(b, 16);
            auto writeEntries = [&](std::size_t at) {
                for (std::size_t i = 0; i < disks.size() && at + 108 * (i + 1) <= b.size(); ++i) {
                    const std::size_t entry = at + 108 * i;
                    putLe(b, entry, disks[i].id, 4);
                    std::memcpy(&b[entry + 4], "VANTORA QX7B2 1TB", 17);
                    std::memcpy(&b[entry + 52], disks[i].serial.data(),
                                std::min<std::size_t>(disks[i].serial.size(), 48));
                    putLe(b, entry + 100, disks[i].address, 4);
                }
            };
            std::uint32_t status = 0;
            switch (code) {
                case 0xE0002014:
                    putLe(b, 28, volumeCount, 4);
                    break;
                case 0xE0002028:
                    putLe(b, 28, diskCount, 4);
                    break;
                case 0xE0002018:
                    if (failVolumeInfo)
                        return {false, 0, 50};
                    putLe(b, 128, memberCount, 4);
                    break;
                case 0xE000201C:
                    if (failMembers)
                        return {false, 0, 31};
                    writeEntries(36);
                    break;
                case 0xE000202C:
                    if (failDiskList)
                        return {false, 0, 31};
                    writeEntries(32);
                    break;
                case 0xE0002000:
                    return passThrough(b);
            }
            putLe(b, 20, status, 4);
            return {true, static_cast<std::uint32_t>(b.size()), 0};
        };
    }

    ControlResult passThrough(std::span<std::uint8_t> b) {
        std::uint32_t status = 0;
        std::uint32_t completion = 0x10000;
        if (b[52] == 0x06) {
            if (failIdentify)
                return {false, 0, 1117};
            const std::uint32_t id = get32(b, 20);
            std::memset(&b[152 + 4], 'A' + id % 26, 20);
            std::memcpy(&b[152 + 64], "QLR2KAXA", 8);
        } else if (b[52] == 0x11) {
            ++downloads;
            if (downloads == failingDownloadCall)
                return {false, 0, 31};
            if (auto found = downloadStatus.find(downloads); found != downloadStatus.end())
                status = found->second;
            if (auto found = downloadCompletion.find(downloads); found != downloadCompletion.end())
                completion = found->second;
        } else if (b[52] == 0x10) {
            if (failCommitCall)
                return {false, 0, 1117};
            status = commitStatus;
            completion = commitCompletion;
        }
        putLe(b, 20, status, 4);
        putLe(b, 128, completion, 4);
        return {true, static_cast<std::uint32_t>(b.size()), 0};
    }
};

class Vroc : public ::testing::Test {
protected:
    void port(int number, VrocPort& script) {
        platform.devices[scsi(number)] = {0, script.answer()};
    }

    int discover() {
        Io io{platform, console};
        DiskRecord candidate = makeCandidate(L"\\\\?\\pci#ven_8086#port", DriverKind::RstRaid);
        const int result = vrocDiscover(io, candidate, targets, vrocPort);
        console.flush();
        return result;
    }
    DiskRecord target(DriverKind kind = DriverKind::VrocRaidMember, std::int32_t granularity = 1) {
        DiskRecord record = makeCandidate(L"\\\\?\\pci#ven_8086#port", kind, 0x10000);
        record.vrocDiskId = 0x101;
        record.modelNumber = L"VANTORA QX7B2 1TB";
        record.serialNumber = L"S1";
        record.firmwareRevision = L"QLR2KAXA";
        record.updateGranularity = granularity;
        return record;
    }
    int update(const DiskRecord& record, std::int32_t onPort = 2) {
        Io io{platform, console};
        const int result = vrocUpdateDisk(io, record, {image, L"QLR4KAXA"}, onPort).resultCode;
        console.flush();
        return result;
    }
    std::string stepLines() const { return test::afterBanner(platform.output); }
    std::vector<std::uint32_t> controlCodes() const {
        std::vector<std::uint32_t> codes;
        for (const auto& request : platform.sent)
            codes.push_back(get32(request.bytes, 16));
        return codes;
    }

    test::FakePlatform platform;
    Console console{platform};
    VrocPort vroc;
    DiskList targets;
    std::int32_t vrocPort = -1;
    Bytes image = test::patternedImage();
};

constexpr std::uint32_t VOLUME_COUNT = 0xE0002014, DISK_COUNT = 0xE0002028,
                        VOLUME_INFO = 0xE0002018, MEMBERS = 0xE000201C, DISK_LIST = 0xE000202C,
                        PASS_THROUGH = 0xE0002000;

TEST_F(Vroc, NoPortOpens) {
    EXPECT_EQ(discover(), 0);
    EXPECT_EQ(platform.opened.size(), 16u);
    EXPECT_EQ(platform.opened.front(), L"\\\\.\\Scsi0:");
    EXPECT_EQ(platform.opened.back(), L"\\\\.\\Scsi15:");
    EXPECT_EQ(platform.output, "");
    EXPECT_EQ(vrocPort, -1);
    EXPECT_TRUE(targets.empty());
}

TEST_F(Vroc, VolumeOfTwoMembersOnPort2) {
    VrocPort empty;  // port 1 answers, but with nothing
    port(1, empty);
    vroc.volumeCount = 1;
    vroc.memberCount = 2;
    vroc.disks = {{0x101, "VQX7B2V01"}, {0x1A2, std::string(48, 'S'), 0x20000}};
    port(2, vroc);
    VrocPort later;
    later.volumeCount = 1;
    port(3, later);
    EXPECT_EQ(discover(), 0);
    EXPECT_EQ(vrocPort, 2);
    // Ports 3 to 15 are never opened.
    EXPECT_EQ(platform.opened.back(), L"\\\\.\\Scsi2:");
    EXPECT_EQ(platform.output,
              "Number of NVMe RAID volume member disks: 2\n"
              "\nSerial: VQX7B2V01\nvrocDiskId:101\nRaidVROC\n"
              "\nSerial: " +
                  std::string(48, 'S') + "\nvrocDiskId:1a2\nRaidVROC\n");
    EXPECT_EQ(controlCodes(),
              (std::vector<std::uint32_t>{VOLUME_COUNT, DISK_COUNT, VOLUME_COUNT, VOLUME_INFO,
                                          MEMBERS, PASS_THROUGH, PASS_THROUGH}));
    ASSERT_EQ(targets.size(), 2u);
    EXPECT_EQ(targets[1].driverKind, DriverKind::VrocRaidMember);
    EXPECT_EQ(targets[1].vrocDiskId, 0x1A2u);
    EXPECT_EQ(targets[1].targetAddress, 0x20000);
    EXPECT_EQ(targets[1].modelNumber.size(), 40u);
    EXPECT_EQ(targets[1].serialNumber, std::wstring(20, L'A' + 0x1A2 % 26));
    EXPECT_EQ(targets[1].firmwareRevision, L"QLR2KAXA");
    EXPECT_EQ(targets[1].devicePath, L"\\\\?\\pci#ven_8086#port");

    // The requests, against bytes written out by hand.
    const Bytes info = [] {
        Bytes b(132, 0);
        const std::uint8_t head[] = {0x1C, 0,  0,   0, 'N', 'v',  'm',  'e',  'R',  'A', 'I',
                                     'D',  40, 0,   0, 0,   0x18, 0x20, 0x00, 0xE0, 0,   0,
                                     0,    0,  104, 0, 0,   0,    1,    0,    0,    0};
        std::copy(std::begin(head), std::end(head), b.begin());
        return b;
    }();
    EXPECT_EQ(platform.sent[3].bytes, info);
    const auto& members = platform.sent[4].bytes;
    ASSERT_EQ(members.size(), 2u * 108 + 40);
    EXPECT_EQ(get32(members, 24), 2u * 108 + 12);
    EXPECT_EQ(get32(members, 28), 1u);
    EXPECT_EQ(get32(members, 32), 216u);
    Bytes identify(4252, 0);
    const std::uint8_t identifyHead[] = {0x1C, 0,    0,  0, 'N',  'v',  'm',  'e',  'R',  'A',
                                         'I',  'D',  40, 0, 0,    0,    0x00, 0x20, 0x00, 0xE0,
                                         0xA2, 0x01, 0,  0, 0x80, 0x10, 0,    0};  // Length 4224
    std::copy(std::begin(identifyHead), std::end(identifyHead), identify.begin());
    identify[52] = 0x06;
    identify[92] = 1;
    identify[132] = 2;              // device to host
    putLe(identify, 148, 4252, 4);  // ReturnBufferLen
    std::fill(identify.begin() + 152, identify.begin() + 152 + 4096, 0x55);
    EXPECT_EQ(platform.sent[6].bytes, identify);
    EXPECT_EQ(platform.sent[6].outputLength, 4252u);
}

TEST_F(Vroc, NonRaidDisksAndCounts) {
    struct Case {
        const char* name;
        std::function<void(VrocPort&)> script;
        std::string output;
        std::size_t targets;
        std::int32_t port;  // vrocPort afterwards
        int result;
    };
    const std::vector<Disk> three = {{1, "A"}, {2, "B"}, {3, "C"}};
    const std::vector<Case> cases = {
        {"three non-RAID disks",
         [&](VrocPort& p) {
             p.diskCount = 3;
             p.disks = three;
         },
         "NonRaidVROC\nNonRaidVROC\nNonRaidVROC\n", 3, 2, 0},
        {"disk count -1", [](VrocPort& p) { p.diskCount = 0xFFFFFFFF; }, "", 0, -1, 0},
        {"member count 0",
         [](VrocPort& p) {
             p.volumeCount = 1;
             p.memberCount = 0;
         },
         "Number of NVMe RAID volume member disks: 0\n", 0, 2, 0},
        {"member list fails",
         [&](VrocPort& p) {
             p.volumeCount = 1;
             p.memberCount = 3;
             p.disks = three;
             p.failMembers = true;
         },
         "Number of NVMe RAID volume member disks: 3\ndwError: 31\n", 0, 2, 0},
        {"volume info fails",
         [&](VrocPort& p) {
             p.volumeCount = 1;
             p.failVolumeInfo = true;
         },
         "dwError: 50\nNumber of NVMe RAID volume member disks: 0\n", 0, 2, 0},
        {"disk list fails",
         [&](VrocPort& p) {
             p.diskCount = 3;
             p.disks = three;
             p.failDiskList = true;
         },
         "", 0, 2, 0},
        {"member count too large",
         [](VrocPort& p) {
             p.volumeCount = 1;
             p.memberCount = 0x40000000;
         },
         "Number of NVMe RAID volume member disks: 1073741824\n", 0, -1, -1},
        {"member count whose list would wrap",
         [](VrocPort& p) {
             p.volumeCount = 1;
             p.memberCount = 0xFFFFFFFF;
         },
         "Number of NVMe RAID volume member disks: 4294967295\n", 0, -1, -1},
        {"disk count too large", [](VrocPort& p) { p.diskCount = 9710; }, "", 0, -1, -1},
        {"a list naming one id twice: one target",
         [](VrocPort& p) {
             p.diskCount = 3;
             p.disks = {{5, "A"}, {5, "A"}, {6, "B"}};
         },
         "NonRaidVROC\nNonRaidVROC\nNonRaidVROC\n", 2, 2, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform = test::FakePlatform{};
        targets.clear();
        vrocPort = -1;
        vroc = VrocPort{};
        c.script(vroc);
        port(2, vroc);
        EXPECT_EQ(discover(), c.result);
        EXPECT_EQ(platform.output, c.output);
        EXPECT_EQ(targets.size(), c.targets);
        EXPECT_EQ(vrocPort, c.port);
        for (const DiskRecord& record : targets)
            EXPECT_EQ(record.driverKind, DriverKind::VrocNonRaid);
    }
    // The member list is asked for even with member count 0; a list over 1 MiB never is.
    platform = test::FakePlatform{};
    vroc = VrocPort{};
    vroc.volumeCount = 1;
    port(2, vroc);
    discover();
    EXPECT_EQ(controlCodes().back(), MEMBERS);
    EXPECT_EQ(platform.sent.back().bytes.size(), 40u);
}

TEST_F(Vroc, UnusableIdentifyStillMakesARecord) {
    vroc.diskCount = 1;
    vroc.disks = {{7, "A"}};
    vroc.failIdentify = true;
    port(0, vroc);
    discover();
    EXPECT_EQ(platform.output, "NonRaidVROC\ndwError: 1117\n");
    ASSERT_EQ(targets.size(), 1u);
    // The fill shows: the letter U, which no revision group holds.
    EXPECT_EQ(targets[0].firmwareRevision, L"UUUUUUUU");
    EXPECT_EQ(vrocPort, 0);
}

TEST_F(Vroc, DownloadAndCommitRequestBytes) {
    port(2, vroc);
    ASSERT_EQ(update(target()), 1602);
    ASSERT_EQ(platform.sent.size(), 513u);
    for (std::size_t i : {0u, 1u}) {
        Bytes expected(4256, 0);
        const std::uint8_t head[] = {0x1C, 0,    0,  0, 'N',  'v',  'm',  'e',  'R',  'A',
                                     'I',  'D',  30, 0, 0,    0,    0x00, 0x20, 0x00, 0xE0,
                                     0x01, 0x01, 0,  0, 0x84, 0x10, 0,    0};  // Length 4228
        std::copy(std::begin(head), std::end(head), expected.begin());
        expected[52] = 0x11;
        putLe(expected, 92, 1023, 4);
        putLe(expected, 96, 1024 * i, 4);
        expected[132] = 1;
        putLe(expected, 140, 4096, 4);
        putLe(expected, 148, 153, 4);
        std::copy(image.begin() + 4096 * i, image.begin() + 4096 * (i + 1), expected.begin() + 152);
        EXPECT_EQ(platform.sent[i].bytes, expected) << i;
        EXPECT_EQ(platform.sent[i].inputLength, 4256u);
        EXPECT_EQ(platform.sent[i].outputLength, 153u);
    }
    Bytes commit(153, 0);
    const std::uint8_t head[] = {0x1C, 0,    0,  0, 'N', 'v', 'm',  'e',  'R',  'A',
                                 'I',  'D',  30, 0, 0,   0,   0x00, 0x20, 0x00, 0xE0,
                                 0x01, 0x01, 0,  0, 125, 0,   0,    0};
    std::copy(std::begin(head), std::end(head), commit.begin());
    commit[52] = 0x10;
    commit[92] = 0x0A;
    commit[132] = 1;
    commit[148] = 153;
    EXPECT_EQ(platform.sent.back().bytes, commit);
    EXPECT_EQ(platform.sent.back().outputLength, 153u);
    EXPECT_EQ(platform.opened, (std::vector<std::wstring>{L"\\\\.\\Scsi2:"}));

    // Granularity 3: 170 chunks of 12 KiB and a last one of 8 KiB in a full-size buffer.
    platform.sent.clear();
    ASSERT_EQ(update(target(DriverKind::VrocNonRaid, 3)), 1602);
    ASSERT_EQ(platform.sent.size(), 172u);
    const auto& last = platform.sent[170];
    ASSERT_EQ(last.bytes.size(), 12288u + 160);
    EXPECT_EQ(last.inputLength, 12288u + 160);
    EXPECT_EQ(get32(last.bytes, 24), 12288u + 132);
    EXPECT_EQ(get32(last.bytes, 92), 8192u / 4 - 1);
    EXPECT_EQ(get32(last.bytes, 96), 170u * 12288 / 4);
    EXPECT_EQ(get32(last.bytes, 140), 8192u);
    EXPECT_TRUE(std::equal(last.bytes.begin() + 152, last.bytes.begin() + 152 + 8192,
                           image.begin() + 170 * 12288));
    EXPECT_TRUE(std::all_of(last.bytes.begin() + 152 + 8192, last.bytes.end(),
                            [](std::uint8_t b) { return b == 0; }));
}

TEST_F(Vroc, DownloadFailures) {
    struct Case {
        const char* name;
        std::function<void(VrocPort&)> script;
        const char* line;
    };
    const std::vector<Case> cases = {
        {"call", [](VrocPort& p) { p.failingDownloadCall = 2; },
         "  [ERROR] Firmware download IOCTL failed: 0x1F\n"},
        {"driver status", [](VrocPort& p) { p.downloadStatus[2] = 3; },
         "  [ERROR] Firmware download failed: srbControl->ReturnCode 3\n"},
        {"completion status 1", [](VrocPort& p) { p.downloadCompletion[2] = 0x00020000; },
         "  [ERROR] Firmware download failed: (nvmePassThroughIoctl->CplEntry[3]) >> 17: "
         "0x00000001\n"},
        {"invalid firmware slot", [](VrocPort& p) { p.downloadCompletion[2] = 0x020D1234; },
         "  [ERROR] Firmware download failed: (nvmePassThroughIoctl->CplEntry[3]) >> 17: "
         "0x00000106\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform = test::FakePlatform{};
        vroc = VrocPort{};
        c.script(vroc);
        port(2, vroc);
        EXPECT_EQ(update(target()), 1);
        EXPECT_EQ(platform.sent.size(), 2u);  // no commit
        EXPECT_EQ(stepLines(), std::string(c.line) + "\n  [FAIL] Firmware download failed.\n");
    }
    // A phase tag and command identifier alone are no status.
    platform = test::FakePlatform{};
    vroc = VrocPort{};
    vroc.downloadCompletion[1] = 0x0001FFFF;
    port(2, vroc);
    EXPECT_EQ(update(target()), 1602);
}

TEST_F(Vroc, CommitTable) {
    struct Row {
        std::uint32_t status, completion;
        std::string line;
        int result;
    };
    std::vector<Row> rows = {
        {0, 0x10000, "  [PASS] Firmware activation succeeded. Please reboot computer.\n\n", 1602},
        {0, 0x0001FFFF, "  [PASS] Firmware activation succeeded. Please reboot computer.\n\n",
         1602},
        {0, 0x020D0000,
         "  [ERROR] Firmware activation failed: Completion Queue Entry Status Value: "
         "0x00000106\n",
         5},
        {2, 0x020D0000, "  [ERROR] NVME_IOCTL_INVALID_SIGNATURE\n\n", 1},  // status decides
        {16, 0x10000,
         "  [ERROR] Firmware activate failed: unexpected error, srbControl->ReturnCode 16\n\n", 1},
    };
    const char* names[] = {"INVALID_IOCTL_CODE",
                           "INVALID_SIGNATURE",
                           "INSUFFICIENT_IN_BUFFER",
                           "INSUFFICIENT_OUT_BUFFER",
                           "UNSUPPORTED_ADMIN_CMD",
                           "UNSUPPORTED_NVM_CMD",
                           "INVALID_ADMIN_VENDOR_SPECIFIC_OPCODE",
                           "INVALID_NVM_VENDOR_SPECIFIC_OPCODE",
                           "ADMIN_VENDOR_SPECIFIC_NOT_SUPPORTED",
                           "NVM_VENDOR_SPECIFIC_NOT_SUPPORTED",
                           "INVALID_DIRECTION_SPECIFIED",
                           "INVALID_META_BUFFER_LENGTH",
                           "PRP_TRANSLATION_ERROR",
                           "INVALID_PATH_TARGET_ID",
                           "FORMAT_NVM_PENDING"};
    for (std::uint32_t status = 1; status <= 15; ++status)
        rows.push_back({status, 0x10000,
                        std::string("  [ERROR] NVME_IOCTL_") + names[status - 1] + "\n\n", 1});
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        platform = test::FakePlatform{};
        vroc = VrocPort{};
        vroc.commitStatus = row.status;
        vroc.commitCompletion = row.completion;
        port(2, vroc);
        EXPECT_EQ(update(target()), row.result);
        EXPECT_EQ(stepLines(), "\n  [PASS] Firmware download succeeded.\n" + row.line);
    }
    platform = test::FakePlatform{};
    vroc = VrocPort{};
    vroc.failCommitCall = true;
    port(2, vroc);
    EXPECT_EQ(update(target()), 1);
    EXPECT_EQ(stepLines(),
              "\n  [PASS] Firmware download succeeded.\n"
              "  [ERROR] Firmware activate IOCTL failed: 0x45D\n");
}

TEST_F(Vroc, BannerAndUnopenablePort) {
    EXPECT_EQ(update(target(DriverKind::VrocNonRaid), 4), 5);
    EXPECT_EQ(platform.opened, (std::vector<std::wstring>{L"\\\\.\\Scsi4:"}));
    EXPECT_EQ(platform.output,
              "\n---------------------------------------------\n"
              " Firmware Download | Target Disk Information \n"
              "---------------------------------------------\n"
              " Driver : VROC Driver\n"
              " Model Number : VANTORA QX7B2 1TB\n"
              " Serial Number : S1\n"
              " Current FW : QLR2KAXA\n"
              " Updated FW : QLR4KAXA\n"
              "---------------------------------------------\n"
              "  [ERROR] Failed to get disk handle: 0x2\n\n");
}

}  // namespace
}  // namespace velo
