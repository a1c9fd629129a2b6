#include "trace/TracingPlatform.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <nlohmann/json.hpp>

#include "platform/Text.h"
#include "trace/TraceFormat.h"

namespace velo {

using trace::guidText;
using trace::hexBytes;
using trace::hexNumber;
using trace::keyName;
using trace::Line;
using trace::startupName;

struct TracingPlatform::Shared {
    TraceSink sink;
    std::uint64_t sequence = 0;
    std::uint32_t nextSet = 1;
    std::uint32_t nextFile = 1;

    Line begin(std::string_view operation) {
        Line line;
        line["seq"] = ++sequence;
        line["op"] = operation;
        return line;
    }

    void write(const Line& line) {
        // Bytes that are not UTF-8 (console output may hold any) are shown as U+FFFD.
        if (sink)
            sink(line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    }

    // The line of a released set or a closed file, written from destructors: built in a fixed
    // buffer, the same bytes write() would give, and never throwing. A sink that fails here
    // loses this one line rather than ending the process.
    void writeRelease(const char* operation, const char* idField, std::uint32_t id) noexcept {
        char text[96];
        const int length =
            std::snprintf(text, sizeof text, R"({"seq":%llu,"op":"%s","%s":%u})",
                          static_cast<unsigned long long>(++sequence), operation, idField, id);
        if (!sink || length <= 0 || static_cast<std::size_t>(length) >= sizeof text)
            return;
        try {
            sink(std::string_view(text, static_cast<std::size_t>(length)));
        } catch (...) {
        }
    }
};

namespace {

class TracingDeviceInfoSet : public DeviceInfoSet {
public:
    TracingDeviceInfoSet(std::unique_ptr<DeviceInfoSet> inner,
                         std::shared_ptr<TracingPlatform::Shared> shared, std::uint32_t id)
        : inner_(std::move(inner)), shared_(std::move(shared)), id_(id) {}

    ~TracingDeviceInfoSet() override {
        inner_.reset();
        shared_->writeRelease("releaseDeviceInfoSet", "set", id_);
    }

    std::optional<std::uint32_t> deviceAt(std::uint32_t index) override {
        auto result = inner_->deviceAt(index);
        Line line = start("deviceAt", index);
        if (result) {
            line["result"] = "found";
            line["devInst"] = *result;
        } else {
            line["result"] = "absent";
        }
        shared_->write(line);
        return result;
    }

    std::optional<std::wstring> textProperty(std::uint32_t index, const PropertyKey& key) override {
        auto result = inner_->textProperty(index, key);
        Line line = start("textProperty", index);
        line["key"] = keyName(key);
        if (result) {
            line["result"] = "read";
            line["value"] = toUtf8(*result);
        } else {
            line["result"] = "unreadable";
        }
        shared_->write(line);
        return result;
    }

    std::optional<std::vector<std::wstring>> hardwareIds(std::uint32_t index) override {
        auto result = inner_->hardwareIds(index);
        Line line = start("hardwareIds", index);
        if (result) {
            line["result"] = "read";
            Line ids = Line::array();
            for (const std::wstring& id : *result)
                ids.push_back(toUtf8(id));
            line["value"] = ids;
        } else {
            line["result"] = "unreadable";
        }
        shared_->write(line);
        return result;
    }

    InterfaceLookup interfaceAt(const Guid& interfaceClass, std::uint32_t index,
                                DeviceInterface& found) override {
        InterfaceLookup result = inner_->interfaceAt(interfaceClass, index, found);
        Line line = start("interfaceAt", index);
        line["class"] = guidText(interfaceClass);
        switch (result) {
            case InterfaceLookup::Found:
                line["result"] = "found";
                line["path"] = toUtf8(found.devicePath);
                line["devInst"] = found.devInst;
                line["member"] = found.member;
                break;
            case InterfaceLookup::Absent:
                line["result"] = "absent";
                break;
            case InterfaceLookup::DetailFailed:
                line["result"] = "detail-failed";
                break;
        }
        shared_->write(line);
        return result;
    }

private:
    Line start(std::string_view operation, std::uint32_t index) {
        Line line = shared_->begin(operation);
        line["set"] = id_;
        line["index"] = index;
        return line;
    }

    std::unique_ptr<DeviceInfoSet> inner_;
    std::shared_ptr<TracingPlatform::Shared> shared_;
    std::uint32_t id_;
};

class TracingDeviceFile : public DeviceFile {
public:
    TracingDeviceFile(std::unique_ptr<DeviceFile> inner,
                      std::shared_ptr<TracingPlatform::Shared> shared, std::uint32_t id)
        : inner_(std::move(inner)), shared_(std::move(shared)), id_(id) {}

    ~TracingDeviceFile() override {
        inner_.reset();
        shared_->writeRelease("closeDevice", "file", id_);
    }

    ControlResult control(std::uint32_t controlCode, std::span<std::uint8_t> buffer,
                          std::uint32_t inputLength, std::uint32_t outputLength) override {
        // The buffer is overwritten by the answer, so the bytes sent are taken first.
        const std::size_t sent = std::min<std::size_t>(inputLength, buffer.size());
        const std::vector<std::uint8_t> request(buffer.begin(), buffer.begin() + sent);
        ControlResult result = inner_->control(controlCode, buffer, inputLength, outputLength);
        Line line = shared_->begin("control");
        line["file"] = id_;
        line["code"] = hexNumber(controlCode);
        line["inputLength"] = inputLength;
        line["outputLength"] = outputLength;
        line["input"] = hexBytes(request);
        if (result.ok) {
            const std::size_t returned = std::min<std::size_t>(
                std::min<std::size_t>(result.bytesReturned, outputLength), buffer.size());
            line["result"] = "ok";
            line["bytesReturned"] = result.bytesReturned;
            trace::putOutput(line, request, buffer.first(returned));
        } else {
            line["result"] = "error";
            line["error"] = result.error;
        }
        shared_->write(line);
        return result;
    }

private:
    std::unique_ptr<DeviceFile> inner_;
    std::shared_ptr<TracingPlatform::Shared> shared_;
    std::uint32_t id_;
};

// A clock read: the time as the run saw it, or that it could not be read.
void writeClockLine(TracingPlatform::Shared& shared, const char* op,
                    const std::optional<LocalTime>& time) {
    Line line = shared.begin(op);
    if (time) {
        char text[64];
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", time->year, time->month,
                      time->day, time->hour, time->minute, time->second);
        line["result"] = "ok";
        line["time"] = text;
    } else {
        line["result"] = "unreadable";
    }
    shared.write(line);
}

}  // namespace

std::unique_ptr<TraceFile> TraceFile::create(const std::wstring& path) {
#if defined(_WIN32)
    std::FILE* file = _wfopen(path.c_str(), L"wb");
#else
    std::FILE* file = std::fopen(toUtf8(path).c_str(), "wb");
#endif
    if (!file)
        return nullptr;
    return std::unique_ptr<TraceFile>(new TraceFile(file));
}

TraceFile::~TraceFile() {
    close();
}

void TraceFile::writeLine(std::string_view line) {
    if (!file_)
        return;
    errno = 0;
    const bool written = std::fwrite(line.data(), 1, line.size(), file_) == line.size() &&
                         std::fputc('\n', file_) != EOF && std::fflush(file_) == 0;
    if (!written)
        noteFailure();
}

std::unique_ptr<Platform> TraceFile::wrap(Platform& inner) {
    return std::make_unique<TracingPlatform>(inner, sink());
}

std::optional<std::string> TraceFile::close() {
    if (file_) {
        errno = 0;
        if (std::ferror(file_) != 0)
            noteFailure();
        errno = 0;
        if (std::fclose(file_) != 0)
            noteFailure();
        file_ = nullptr;
    }
    return failure_;
}

void TraceFile::noteFailure() {
    // The first reason is kept: later failures follow from it.
    if (!failure_)
        failure_ = errno != 0 ? std::strerror(errno) : "unknown error";
}

TracingPlatform::TracingPlatform(Platform& inner, TraceSink sink)
    : inner_(inner), shared_(std::make_shared<Shared>()) {
    shared_->sink = std::move(sink);
}

TracingPlatform::~TracingPlatform() = default;

StartupStatus TracingPlatform::startUp() {
    StartupStatus status = inner_.startUp();
    Line line = shared_->begin("startUp");
    line["result"] = startupName(status);
    shared_->write(line);
    return status;
}

// The lock is taken before the trace is written, so a run held off by another writes no trace
// line; a replay needs none, as it touches no device.
RunLockResult TracingPlatform::takeRunLock() {
    return inner_.takeRunLock();
}

std::unique_ptr<DeviceInfoSet> TracingPlatform::deviceInfoSet(const Guid& interfaceClass,
                                                              std::uint32_t flags) {
    auto set = inner_.deviceInfoSet(interfaceClass, flags);
    Line line = shared_->begin("deviceInfoSet");
    line["class"] = guidText(interfaceClass);
    line["flags"] = hexNumber(flags);
    if (!set) {
        line["result"] = "failed";
        shared_->write(line);
        return nullptr;
    }
    const std::uint32_t id = shared_->nextSet++;
    line["result"] = "ok";
    line["set"] = id;
    shared_->write(line);
    return std::make_unique<TracingDeviceInfoSet>(std::move(set), shared_, id);
}

OpenResult TracingPlatform::openDevice(const std::wstring& path, std::uint32_t access,
                                       std::uint32_t share, std::uint32_t flags) {
    OpenResult result = inner_.openDevice(path, access, share, flags);
    Line line = shared_->begin("openDevice");
    line["path"] = toUtf8(path);
    line["access"] = hexNumber(access);
    line["share"] = hexNumber(share);
    line["flags"] = hexNumber(flags);
    if (!result.file) {
        line["result"] = "error";
        line["error"] = result.error;
        shared_->write(line);
        return result;
    }
    const std::uint32_t id = shared_->nextFile++;
    line["result"] = "ok";
    line["file"] = id;
    shared_->write(line);
    result.file = std::make_unique<TracingDeviceFile>(std::move(result.file), shared_, id);
    return result;
}

void TracingPlatform::showMessage(const std::wstring& caption, const std::wstring& text) {
    // Written before the call: the message box waits for a person.
    Line line = shared_->begin("showMessage");
    line["caption"] = toUtf8(caption);
    line["text"] = toUtf8(text);
    shared_->write(line);
    inner_.showMessage(caption, text);
}

std::optional<LocalTime> TracingPlatform::localTime() {
    auto time = inner_.localTime();
    writeClockLine(*shared_, "localTime", time);
    return time;
}

// The UTC time and the computer's name are the run's own facts, not the machine's: a replay
// takes them from the system it runs on and skips these lines.
std::optional<UniversalTime> TracingPlatform::universalTime() {
    auto time = inner_.universalTime();
    writeClockLine(*shared_, "universalTime", time);
    return time;
}

std::string TracingPlatform::computerName() {
    std::string name = inner_.computerName();
    Line line = shared_->begin("computerName");
    line["name"] = name;
    shared_->write(line);
    return name;
}

void TracingPlatform::writeOutput(std::string_view bytes) {
    inner_.writeOutput(bytes);
    Line line = shared_->begin("writeOutput");
    line["length"] = bytes.size();
    line["text"] = std::string(bytes);
    shared_->write(line);
}

void TracingPlatform::writeErrorOutput(std::string_view bytes) {
    inner_.writeErrorOutput(bytes);
    Line line = shared_->begin("writeErrorOutput");
    line["text"] = std::string(bytes);
    shared_->write(line);
}

FileWriteResult TracingPlatform::writeTextFile(const std::wstring& path, std::string_view text) {
    FileWriteResult result = inner_.writeTextFile(path, text);
    Line line = shared_->begin("writeTextFile");
    line["path"] = toUtf8(path);
    line["length"] = text.size();
    line["result"] = result.ok ? "ok" : "failed";
    if (!result.ok)
        line["failure"] = result.failure;
    shared_->write(line);
    return result;
}

std::optional<Sha256Digest> TracingPlatform::sha256(std::span<const std::uint8_t> bytes) {
    auto digest = inner_.sha256(bytes);
    // The bytes hashed are the program's own: the line says how many and what came of them.
    Line line = shared_->begin("sha256");
    line["length"] = bytes.size();
    if (digest) {
        line["result"] = "ok";
        line["digest"] = trace::hexBytes(*digest);
    } else {
        line["result"] = "failed";
    }
    shared_->write(line);
    return digest;
}

}  // namespace velo
