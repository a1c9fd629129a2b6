// A platform that passes every call to another one and writes one JSON line per call: what
// was asked, what was sent and what came back. Works over any backend.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Platform.h"
#include "platform/Recording.h"

namespace velo {

// Receives each trace line, without its line end.
using TraceSink = std::function<void(std::string_view line)>;

// A trace file, replaced when it is created; each line is written and flushed at once so that
// the trace survives a run that ends abruptly. A line that cannot be written is not retried;
// the first failure's reason is kept for the end of the run.
class TraceFile : public TraceRecorder {
public:
    // Nothing when the file cannot be created.
    static std::unique_ptr<TraceFile> create(const std::wstring& path);
    ~TraceFile() override;
    TraceFile(const TraceFile&) = delete;
    TraceFile& operator=(const TraceFile&) = delete;

    void writeLine(std::string_view line);
    TraceSink sink() {
        return [this](std::string_view line) { writeLine(line); };
    }
    // A tracing platform over inner that writes to this file.
    std::unique_ptr<Platform> wrap(Platform& inner) override;
    // Closes the file. The system's reason when any line could not be written whole (a full
    // disk, say); nothing when the trace is complete.
    std::optional<std::string> close() override;

private:
    explicit TraceFile(std::FILE* file) : file_(file) {}
    void noteFailure();
    std::FILE* file_;
    std::optional<std::string> failure_;
};

class TracingPlatform : public Platform {
public:
    // inner must outlive this object and every set and file opened through it.
    TracingPlatform(Platform& inner, TraceSink sink);
    ~TracingPlatform() override;

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

    // Internal: shared by the wrapped sets and files.
    struct Shared;

private:
    Platform& inner_;
    std::shared_ptr<Shared> shared_;
};

}  // namespace velo
