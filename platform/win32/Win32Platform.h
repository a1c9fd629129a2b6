// The platform on a real Windows machine: SetupAPI for the device lists, CreateFileW and
// DeviceIoControl for the devices, MessageBoxW, the C runtime's clock, and the process's
// standard handles. Nothing here knows what the logic above it does with the answers.
#pragma once

#include <string_view>

#include "platform/Platform.h"

namespace velo {

class Win32Platform final : public Platform {
public:
    StartupStatus startUp() override;
    RunLockResult takeRunLock() override;
    std::unique_ptr<DeviceInfoSet> deviceInfoSet(const Guid& interfaceClass,
                                                 std::uint32_t flags) override;
    OpenResult openDevice(const std::wstring& path, std::uint32_t access, std::uint32_t share,
                          std::uint32_t flags) override;
    void showMessage(const std::wstring& caption, const std::wstring& text) override;
    std::optional<LocalTime> localTime() override;
    std::optional<UniversalTime> universalTime() override;
    std::string computerName() override;
    void writeOutput(std::string_view bytes) override;
    void writeErrorOutput(std::string_view bytes) override;
    FileWriteResult writeTextFile(const std::wstring& path, std::string_view text) override;
    std::optional<Sha256Digest> sha256(std::span<const std::uint8_t> bytes) override;
};

enum class StandardStream {
    Output,
    Error,
};

// Writes bytes to the process's standard output or standard error. A GUI-subsystem program
// may have neither; the bytes are then dropped, as is whatever a failing handle refuses.
void writeStandardStream(StandardStream stream, std::string_view bytes);

}  // namespace velo
