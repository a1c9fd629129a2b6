#include "report/ResultDocument.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace velo {
namespace {

using nlohmann::json;

DiskRecord target(DriverKind kind, std::wstring devicePath) {
    DiskRecord record = makeCandidate(std::move(devicePath), kind);
    record.modelNumber = L"VANTORA QX7B2 1TB";
    record.serialNumber = L"VQX7B2A00000000001";
    record.firmwareRevision = L"QLR2KAXA";
    return record;
}

json documentOf(const DiskRecord& disk, bool inLog = false, bool list = false) {
    DocumentFacts facts;
    facts.run.list = list;
    DocumentTarget one;
    one.disk = disk;
    one.inLog = inLog;
    facts.targets = {one};
    return json::parse(buildResultDocument(facts))["targets"][0];
}

// Where each stack's requests went and how its address reads: the VROC driver is asked through
// its SCSI port, whatever path the disk was found by; an RST path id is the one its requests
// carry, the low byte of the disk's bus number.
TEST(ResultDocument, EachStackNamesItsAddressAndRequestPath) {
    DiskRecord inbox = target(DriverKind::Inbox, L"\\\\.\\PHYSICALDRIVE4");
    inbox.deviceNumber = 4;
    DiskRecord rst = target(DriverKind::RstPassThrough, L"\\\\?\\pci#ven_8086&dev_a77f#port");
    rst.targetAddress = 0x0103;  // a bus number past 255: its requests name path id 3
    DiskRecord vroc = target(DriverKind::VrocNonRaid, L"\\\\?\\scsi#disk&ven_nvme#vroc");
    vroc.vrocPort = 11;
    vroc.vrocDiskId = 257;
    const struct {
        DiskRecord disk;
        json address;
        std::string devicePath;
    } cases[] = {
        {inbox, {{"deviceNumber", 4}}, "\\\\.\\PHYSICALDRIVE4"},
        {rst, {{"pathId", 3}}, "\\\\?\\pci#ven_8086&dev_a77f#port"},
        {vroc, {{"port", 11}, {"diskId", 257}}, "\\\\.\\Scsi11:"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.devicePath);
        const json entry = documentOf(c.disk);
        EXPECT_EQ(entry["address"], c.address);
        EXPECT_EQ(entry["devicePath"], c.devicePath);
    }
}

// A drive pads its identity fields with blanks or NULs; the document leaves the padding out
// and keeps what stands between.
TEST(ResultDocument, DriveTextsLoseTheirPaddingOnly) {
    const struct {
        std::wstring padded;
        std::string text;
    } cases[] = {
        {L"VQX7B2A00000000001  ", "VQX7B2A00000000001"},
        {std::wstring(L"VQX7B2A0001\0\0 \0", 15), "VQX7B2A0001"},
        {L"VANTORA QX7B2 1TB", "VANTORA QX7B2 1TB"},
        {std::wstring(L" \0 ", 3), ""},
    };
    for (const auto& c : cases) {
        DiskRecord disk = target(DriverKind::Inbox, L"\\\\.\\PHYSICALDRIVE0");
        disk.serialNumber = c.padded;
        disk.modelNumber = c.padded;
        const json entry = documentOf(disk);
        EXPECT_EQ(entry["serial"], c.text);
        EXPECT_EQ(entry["model"], c.text);
    }
}

// A disk has a result code only when the log has one: not when no update pass ran, and never
// under /list, whatever the record holds.
TEST(ResultDocument, ResultCodeOnlyForADiskInTheLog) {
    DiskRecord disk = target(DriverKind::Inbox, L"\\\\.\\PHYSICALDRIVE0");
    disk.resultCode = 1602;
    const struct {
        bool inLog;
        bool list;
        json resultCode;
    } cases[] = {{true, false, 1602}, {false, false, nullptr}, {true, true, nullptr}};
    for (const auto& c : cases) {
        const json entry = documentOf(disk, c.inLog, c.list);
        EXPECT_EQ(entry["resultCode"], c.resultCode) << c.inLog << c.list;
    }
}

}  // namespace
}  // namespace velo
