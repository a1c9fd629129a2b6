// Shared by the simulated-platform tests: a small machine to vary, and requests written out
// byte by byte with literal offsets (deliberately not through the transport encoders).
#pragma once

#include <cstdint>
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "sim/Machine.h"
#include "sim/SimPlatform.h"

namespace velo::sim::testing {

inline nlohmann::json baseMachine() {
    return nlohmann::json::parse(R"({
      "format": "velo-machine", "version": 1,
      "controllers": [ {
        "instanceId": "PCI\\VEN_7A3C&DEV_0B21&SUBSYS_B2017A3C&REV_01\\4&AAAA&0&0008",
        "driver": "inbox",
        "disks": [ {
          "instanceId": "SCSI\\DISK&VEN_NVME&PROD_VANTORA_QX7B2\\5&BBBB&0&000000",
          "hardwareIds": ["SCSI\\DiskNVMe____VANTORA_QX7B2_1TB", "GenDisk"],
          "deviceNumber": 3,
          "drive": {
            "serial": "SN0001", "model": "VANTORA QX7B2 1TB", "firmwareRevision": "QLR2KAXA",
            "version": "1.4", "fwug": 1,
            "slots": [ {"number": 1, "readOnly": true},
                       {"number": 2, "revision": "OLDREV02"},
                       {"number": 3, "revision": "OLDREV03"} ],
            "activeSlot": 1
          }
        } ]
      } ]
    })");
}

inline nlohmann::json& firstDisk(nlohmann::json& machine) {
    return machine["controllers"][0]["disks"][0];
}

inline nlohmann::json& firstDrive(nlohmann::json& machine) {
    return firstDisk(machine)["drive"];
}

// The machine, keeping its request history for the test to read.
inline std::unique_ptr<Machine> withHistory(std::unique_ptr<Machine> machine) {
    if (machine)
        machine->keepHistory(true);
    return machine;
}

inline std::unique_ptr<Machine> loadOrFail(const nlohmann::json& machine) {
    std::string error;
    auto loaded = loadMachineText(machine.dump(), "test.json", error);
    EXPECT_TRUE(loaded) << error;
    return withHistory(std::move(loaded));
}

inline void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline void put64(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v) {
    for (int i = 0; i < 8; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline std::uint32_t get32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 |
           static_cast<std::uint32_t>(b[at + 3]) << 24;
}

inline std::string textAt(const std::vector<std::uint8_t>& b, std::size_t at, std::size_t n) {
    return std::string(reinterpret_cast<const char*>(b.data()) + at, n);
}

// A miniport firmware request as the program sends it: one buffer with room for `room` data
// bytes after the 24-byte download header (L = room + 76).
inline std::vector<std::uint8_t> firmwareRequest(std::uint32_t function, std::uint32_t room) {
    const std::uint32_t length = room + 76;
    std::vector<std::uint8_t> b(length, 0);
    put32(b, 0, 28);
    std::memcpy(b.data() + 4, "FIRMWARE", 8);
    put32(b, 12, 30);
    put32(b, 16, 0x1B0780);
    put32(b, 24, length - 28);
    put32(b, 28, 1);
    put32(b, 32, 24);
    put32(b, 36, function);
    put32(b, 40, 1);
    put32(b, 44, 52);
    put32(b, 48, length - 52);
    return b;
}

inline std::vector<std::uint8_t> getInfoRequest() {
    return firmwareRequest(1, 4096);
}

inline std::vector<std::uint8_t> downloadRequest(std::uint64_t offset,
                                                 const std::vector<std::uint8_t>& piece,
                                                 std::uint32_t room = 4096) {
    auto b = firmwareRequest(2, room);
    put32(b, 52, 1);
    put32(b, 56, 24);
    put64(b, 60, offset);
    put64(b, 68, piece.size());
    std::copy(piece.begin(), piece.end(), b.begin() + 76);
    return b;
}

inline std::vector<std::uint8_t> activateRequest(std::uint8_t slot) {
    auto b = firmwareRequest(3, 4096);
    put32(b, 52, 1);
    put32(b, 56, 12);
    b[60] = slot;
    return b;
}

// The 4144-byte protocol-specific Identify Controller query.
inline std::vector<std::uint8_t> identifyRequest() {
    std::vector<std::uint8_t> b(4144, 0);
    put32(b, 0, 49);
    put32(b, 4, 0);
    put32(b, 8, 3);
    put32(b, 12, 1);
    put32(b, 16, 1);
    put32(b, 20, 0);
    put32(b, 24, 40);
    put32(b, 28, 4096);
    return b;
}

inline constexpr std::uint32_t SCSI_MINIPORT = 0x4D008;
inline constexpr std::uint32_t QUERY_PROPERTY = 0x2D1400;
inline constexpr std::uint32_t GET_DEVICE_NUMBER = 0x2D1080;

// A platform on a machine, with the disk of device number 3 opened.
struct OpenDisk {
    explicit OpenDisk(const nlohmann::json& description = baseMachine())
        : platform(loadOrFail(description)) {
        auto opened = platform.openDevice(L"\\\\.\\PHYSICALDRIVE3", 0xC0000000, 3, 0);
        EXPECT_TRUE(opened.file) << "open failed with " << opened.error;
        file = std::move(opened.file);
    }

    ControlResult send(std::uint32_t code, std::vector<std::uint8_t>& buffer,
                       std::uint32_t inputLength) {
        return file->control(code, buffer, inputLength);
    }
    ControlResult send(std::uint32_t code, std::vector<std::uint8_t>& buffer) {
        return send(code, buffer, static_cast<std::uint32_t>(buffer.size()));
    }
    NvmeDrive& drive() { return *platform.machine().drive(3); }

    SimPlatform platform;
    std::unique_ptr<DeviceFile> file;
};

// --- the RST driver on a storage port ---

// One RST controller: drives at path ids 0 (FWUG 1, immediate activation) and 2 (FWUG 8,
// activation at reset), one RAID set of both, one RAID volume disk.
inline nlohmann::json rstMachine() {
    return nlohmann::json::parse(R"({"format": "velo-machine", "version": 1, "controllers": [ {
      "instanceId": "PCI\\VEN_8086&DEV_A77F&SUBSYS_00008086&REV_00\\3&11583659&0&B8",
      "driver": "rst",
      "drives": [
        { "pathId": 0, "drive": { "serial": "RSTSN0", "model": "VANTORA QX7B2 1TB",
          "firmwareRevision": "QLR2KAXA", "fwug": 1, "slots": [ {"number": 1}, {"number": 2} ] } },
        { "pathId": 2, "drive": { "serial": "RSTSN2", "model": "VANTORA QX7B2 2TB",
          "firmwareRevision": "QLR2KAXA", "fwug": 8, "activation": "reset",
          "slots": [ {"number": 1}, {"number": 2} ] } } ],
      "raidSets": [ { "members": [0, 2] } ],
      "disks": [ { "instanceId": "SCSI\\DISK&VEN_INTEL&PROD_RAID0\\4&1F2E&0&000000",
                   "deviceNumber": 0 } ] } ]})");
}

inline nlohmann::json& rstController(nlohmann::json& machine) {
    return machine["controllers"][0];
}

inline const std::wstring RST_PORT_PATH =
    L"\\\\?\\pci#ven_8086&dev_a77f&subsys_00008086&rev_00#3&11583659&0&b8#"
    L"{2accfe60-c130-11d2-b082-00a0c91efb8b}";

// An SRB_IO_CONTROL request of `size` bytes (Length = size - 28); with a path id, the drive
// address follows the header.
inline std::vector<std::uint8_t> srbRequest(std::size_t size, const char* signature,
                                            std::uint32_t controlCode, int pathId = -1) {
    std::vector<std::uint8_t> b(size, 0);
    put32(b, 0, 28);
    std::memcpy(b.data() + 4, signature, 8);
    put32(b, 12, 30);
    put32(b, 16, controlCode);
    put32(b, 24, static_cast<std::uint32_t>(size - 28));
    if (pathId >= 0) {
        b[28] = 1;
        b[29] = static_cast<std::uint8_t>(pathId);
    }
    return b;
}

// "IntelNvm" Identify Controller: 164 bytes, then a 4096-byte data area.
inline std::vector<std::uint8_t> rstIdentifyRequest(std::uint8_t pathId) {
    auto b = srbRequest(4260, "IntelNvm", 0xF0002808, pathId);
    b[32] = 0x06;
    put32(b, 72, 1);
    put32(b, 116, 164);
    put32(b, 120, 4096);
    return b;
}

// "IntelFw ": request block at 32, function block of `blockLength` bytes at 56, its version
// and size at 56 and 60.
inline std::vector<std::uint8_t> rstFirmwareRequest(std::uint8_t pathId, std::uint32_t function,
                                                    std::uint32_t blockLength,
                                                    std::uint32_t blockVersion) {
    auto b = srbRequest(56 + blockLength, "IntelFw ", 0xF0000040, pathId);
    put32(b, 32, 1);
    put32(b, 36, 24);
    put32(b, 40, function);
    put32(b, 44, 1);
    put32(b, 48, 56);
    put32(b, 52, blockLength);
    put32(b, 56, blockVersion);
    put32(b, 60, function == 2 ? 32 : 12);
    return b;
}

inline std::vector<std::uint8_t> rstDownloadRequest(std::uint8_t pathId, std::uint64_t offset,
                                                    const std::vector<std::uint8_t>& piece) {
    auto b = rstFirmwareRequest(pathId, 2, static_cast<std::uint32_t>(32 + piece.size()), 2);
    put64(b, 64, offset);
    put64(b, 72, piece.size());
    b[80] = 0xFF;
    std::copy(piece.begin(), piece.end(), b.begin() + 88);
    return b;
}

inline std::vector<std::uint8_t> rstActivateRequest(std::uint8_t pathId, std::uint8_t slot) {
    auto b = rstFirmwareRequest(pathId, 3, 12, 1);
    b[64] = slot;
    return b;
}

// "CSMIARY" GET RAID CONFIG of `size` bytes (the program's 336 hold two drive entries).
inline std::vector<std::uint8_t> raidConfigRequest(std::uint32_t setIndex, std::size_t size = 336) {
    auto b = srbRequest(size, "CSMIARY\0", 11);
    put32(b, 28, setIndex);
    return b;
}

// A platform on a machine, with the first RST controller's storage port opened.
struct OpenPort {
    explicit OpenPort(const nlohmann::json& description = rstMachine())
        : platform(loadOrFail(description)),
          file(platform.openDevice(RST_PORT_PATH, 0xC0000000, 0, 0).file) {}

    ControlResult send(std::vector<std::uint8_t>& buffer, std::uint32_t code = SCSI_MINIPORT) {
        return file->control(code, buffer, static_cast<std::uint32_t>(buffer.size()));
    }
    // The ReturnCode of a request the driver must take whole.
    std::uint32_t status(std::vector<std::uint8_t>& buffer) {
        const auto result = send(buffer);
        EXPECT_TRUE(result.ok && result.bytesReturned == buffer.size()) << result.error;
        return get32(buffer, 20);
    }
    NvmeDrive& drive(std::uint8_t pathId) { return *platform.machine().rstDrive(pathId); }

    SimPlatform platform;
    std::unique_ptr<DeviceFile> file;
};

// --- the VROC driver on SCSI port 2 ---

// Disks 256 (FWUG 1) and 257 (FWUG 8) form the volume, listed 257, 256; 512 (no drive) and 513
// are the non-RAID disks.
inline nlohmann::json vrocMachine() {
    return nlohmann::json::parse(R"({"format": "velo-machine", "version": 1, "scsiPorts": [ {
      "port": 2, "driver": "vroc", "volume": { "members": [257, 256] },
      "disks": [
        { "diskId": 256, "address": 65536, "drive": { "serial": "VSN256", "model": "VANTORA 1TB",
          "firmwareRevision": "QLR2KAXA", "fwug": 1, "slots": [ {"number": 1}, {"number": 2} ] } },
        { "diskId": 257, "drive": { "serial": "VSN257", "model": "VANTORA 2TB",
          "firmwareRevision": "QLR2KAXA", "fwug": 8, "slots": [ {"number": 1}, {"number": 2} ] } },
        { "diskId": 512, "serial": "VSN512" },
        { "diskId": 513, "drive": { "serial": "VSN513", "model": "VANTORA 1TB",
          "firmwareRevision": "QLR2KAXA", "slots": [ {"number": 1} ] } } ] } ]})");
}

// An "NvmeRAID" request. A pass-through names its disk in ReturnCode and carries command
// identifier 0x42 (CDW0 at 52), CDW10 at 92, Direction at 132 and ReturnBufferLen at 148.
inline std::vector<std::uint8_t> vrocRequest(std::size_t size, std::uint32_t controlCode,
                                             std::uint32_t diskId = 0, std::uint8_t opcode = 0,
                                             std::uint32_t cdw10 = 0) {
    auto b = srbRequest(size, "NvmeRAID", controlCode);
    put32(b, 20, diskId);
    if (controlCode == 0xE0002000) {
        put32(b, 52, 0x420000u | opcode);
        put32(b, 92, cdw10);
        put32(b, 132, opcode == 0x06 ? 2 : 1);
        put32(b, 148, opcode == 0x06 ? 4252 : 153);
    }
    return b;
}

// A download as the program sends it: the piece at 152 in a buffer of piece + 160 bytes, its
// offset in dwords at 96 and its length at 140.
inline std::vector<std::uint8_t> vrocDownload(std::uint32_t diskId, std::uint64_t offset,
                                              const std::vector<std::uint8_t>& piece) {
    const auto length = static_cast<std::uint32_t>(piece.size());
    auto b = vrocRequest(length + 160, 0xE0002000, diskId, 0x11, length / 4 - 1);
    put32(b, 96, static_cast<std::uint32_t>(offset / 4));
    put32(b, 140, length);
    std::copy(piece.begin(), piece.end(), b.begin() + 152);
    return b;
}

// A platform on a machine, with \\.\Scsi2: opened.
struct OpenScsi {
    explicit OpenScsi(const nlohmann::json& description = vrocMachine())
        : platform(loadOrFail(description)),
          file(platform.openDevice(L"\\\\.\\Scsi2:", 0xC0000000, 0, 0).file) {}

    // The whole buffer goes in; 153 bytes come back from a download or a commit, as the
    // program asks, and the whole buffer from the rest, unless output says otherwise.
    ControlResult send(std::vector<std::uint8_t>& buffer, std::uint32_t output = 0) {
        const bool firmware = get32(buffer, 16) == 0xE0002000 && buffer[52] != 0x06;
        if (output == 0)
            output = firmware ? 153 : static_cast<std::uint32_t>(buffer.size());
        return file->control(0x4D008, buffer, static_cast<std::uint32_t>(buffer.size()), output);
    }
    std::uint32_t status(std::vector<std::uint8_t>& buffer) {
        EXPECT_TRUE(send(buffer).ok);
        return get32(buffer, 20);
    }
    NvmeDrive& drive(std::uint32_t diskId) { return *platform.machine().vrocDrive(diskId); }

    SimPlatform platform;
    std::unique_ptr<DeviceFile> file;
};

// A 16 KiB image whose revision text at 0x3020 is the given one.
inline std::vector<std::uint8_t> testImage(const std::string& revision) {
    std::vector<std::uint8_t> image(0x4000);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>(i * 7 + 1);
    std::memcpy(image.data() + 0x3020, revision.data(), 8);
    return image;
}

inline std::vector<std::uint8_t> slice(const std::vector<std::uint8_t>& bytes, std::size_t at,
                                       std::size_t n) {
    return std::vector<std::uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                     bytes.begin() + static_cast<std::ptrdiff_t>(at + n));
}

}  // namespace velo::sim::testing
