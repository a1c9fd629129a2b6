// A machine played back from a trace that /trace recorded: every call is answered with the
// result and the bytes it got in the recording, in the recorded order. A call the recording
// does not hold ends the replay with a departure that names the first difference.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"
#include "platform/Recording.h"

namespace velo {

// Where a replay shows what the run prints: standard output, and standard error (the message
// box and what the program says about itself).
struct ReplayEcho {
    std::function<void(std::string_view)> out;
    std::function<void(std::string_view)> err;
};

class Recording;

class ReplayPlatform : public PlaybackPlatform {
public:
    // The largest recording read: some hundred drives' updates.
    static constexpr std::size_t RECORDING_LIMIT = std::size_t{1} << 30;

    // A recording, one JSON line per call, checked whole before it is returned; nothing with a
    // reason in error when a line is not a trace line. A file is read again, line by line, as
    // the run asks for its calls; a line that changed since the check is a departure.
    static std::unique_ptr<ReplayPlatform> fromText(std::string_view text,
                                                    const std::string& sourceName,
                                                    std::string& error, ReplayEcho echo = {});
    static std::unique_ptr<ReplayPlatform> fromFile(const std::wstring& path, std::string& error,
                                                    ReplayEcho echo = {});
    ~ReplayPlatform() override;

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

    std::optional<std::string> finish() override;

    struct State;

private:
    static std::unique_ptr<ReplayPlatform> checked(std::unique_ptr<Recording> recording,
                                                   const std::string& sourceName,
                                                   std::string& error, ReplayEcho echo);
    explicit ReplayPlatform(std::shared_ptr<State> state);
    std::shared_ptr<State> state_;
};

}  // namespace velo
