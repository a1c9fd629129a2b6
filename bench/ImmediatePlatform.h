// A platform whose devices answer every request at once and simulate nothing: what is left of an
// update's time on it is the host's own cost. Miniport requests come back with ReturnCode 0; a
// get-info request of the inbox driver gets one writable slot (number 2). Output is dropped.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>

#include "platform/Platform.h"
#include "platform/SystemSha256.h"
#include "stacks/inbox/MiniportLayout.h"
#include "wire/SrbIoControl.h"

namespace velo::bench {

class ImmediateDevice : public DeviceFile {
    static constexpr std::size_t FUNCTION = miniport::BLOCK + storagefw::BLOCK_FUNCTION;
    static constexpr std::size_t INFO_END =
        miniport::DATA + storagefw::INFO_SLOTS + storagefw::SLOT_ENTRY_SIZE;

public:
    explicit ImmediateDevice(std::uint64_t& requests) : requests_(requests) {}

    ControlResult control(std::uint32_t controlCode, std::span<std::uint8_t> buffer, std::uint32_t,
                          std::uint32_t outputLength) override {
        ++requests_;
        if (controlCode == srb::IOCTL_SCSI_MINIPORT && buffer.size() >= INFO_END) {
            std::memset(buffer.data() + srb::RETURN_CODE, 0, 4);
            if (buffer[FUNCTION] == storagefw::FUNCTION_GET_INFO &&
                std::memcmp(buffer.data() + srb::SIGNATURE, miniport::SIGNATURE.data(), 8) == 0) {
                // The transport's request asks for the information at miniport::DATA.
                buffer[miniport::DATA + storagefw::INFO_UPGRADE_SUPPORT] = 1;
                buffer[miniport::DATA + storagefw::INFO_SLOT_COUNT] = 1;
                buffer[miniport::DATA + storagefw::INFO_SLOTS + storagefw::SLOT_NUMBER] = 2;
                buffer[miniport::DATA + storagefw::INFO_SLOTS + storagefw::SLOT_READ_ONLY] = 0;
            }
        }
        return {true, outputLength, 0};
    }

private:
    std::uint64_t& requests_;
};

class ImmediatePlatform : public Platform {
public:
    StartupStatus startUp() override { return StartupStatus::Ok; }
    RunLockResult takeRunLock() override { return runLockTaken(); }
    std::unique_ptr<DeviceInfoSet> deviceInfoSet(const Guid&, std::uint32_t) override {
        return nullptr;
    }
    OpenResult openDevice(const std::wstring&, std::uint32_t, std::uint32_t,
                          std::uint32_t) override {
        return {std::make_unique<ImmediateDevice>(requests), 0};
    }
    void showMessage(const std::wstring&, const std::wstring&) override {}
    std::optional<LocalTime> localTime() override { return LocalTime{2026, 1, 1, 0, 0, 0}; }
    std::optional<UniversalTime> universalTime() override {
        return UniversalTime{2026, 1, 1, 0, 0, 0};
    }
    std::string computerName() override { return "BENCH"; }
    void writeOutput(std::string_view) override {}
    void writeErrorOutput(std::string_view) override {}
    FileWriteResult writeTextFile(const std::wstring&, std::string_view) override {
        return {false, "not written"};
    }
    std::optional<Sha256Digest> sha256(std::span<const std::uint8_t> bytes) override {
        return systemSha256(bytes);
    }

    std::uint64_t requests = 0;  // control requests received, over all devices
};

}  // namespace velo::bench
