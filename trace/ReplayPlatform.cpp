#include "trace/ReplayPlatform.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>

#include "platform/LocalFiles.h"
#include "platform/SystemFacts.h"
#include "platform/SystemSha256.h"
#include "platform/Text.h"
#include "trace/TraceFormat.h"

namespace velo {

using trace::Line;

namespace {

// The calls of the machine, answered from the recording. Output, message boxes, files and
// digests, the UTC time and the computer's name are the run's own doing: the replay performs
// them and skips their recorded lines.
constexpr std::array<std::string_view, 11> MACHINE_CALLS = {
    "startUp",     "deviceInfoSet",        "deviceAt",   "textProperty", "hardwareIds",
    "interfaceAt", "releaseDeviceInfoSet", "openDevice", "control",      "closeDevice",
    "localTime",
};
constexpr std::array<std::string_view, 7> RUN_CALLS = {
    "writeOutput", "writeErrorOutput", "showMessage",  "writeTextFile",
    "sha256",      "universalTime",    "computerName",
};

bool isOneOf(std::string_view op, std::span<const std::string_view> names) {
    return std::find(names.begin(), names.end(), op) != names.end();
}

// The keys of a trace line that say what was asked (the others say what came back).
constexpr std::array<std::string_view, 13> REQUEST_KEYS = {
    "set",   "index", "key",  "class",       "flags",        "path",  "access",
    "share", "file",  "code", "inputLength", "outputLength", "input",
};

// A call as one line: its operation and what was asked, long inputs shown by their length.
std::string describe(const Line& line) {
    std::string text = line.value("op", std::string("?"));
    for (const auto& [key, field] : line.items()) {
        if (!isOneOf(key, REQUEST_KEYS))
            continue;
        if (key == "input" && field.is_string()) {
            text += " input of " + std::to_string(field.get<std::string>().size() / 2) + " bytes";
        } else {
            text += " " + key + " " + (field.is_string() ? field.get<std::string>() : field.dump());
        }
    }
    return text;
}

// Where two request inputs (hex) first differ.
std::string inputDifference(const std::string& expected, const std::string& came) {
    const std::size_t length = std::min(expected.size(), came.size()) / 2;
    for (std::size_t i = 0; i < length; ++i) {
        if (expected.compare(2 * i, 2, came, 2 * i, 2) != 0) {
            return "input differs at byte " + std::to_string(i) + ": expected 0x" +
                   expected.substr(2 * i, 2) + ", came 0x" + came.substr(2 * i, 2);
        }
    }
    return "input of " + std::to_string(came.size() / 2) + " bytes, expected " +
           std::to_string(expected.size() / 2);
}

Line call(std::string_view op) {
    Line line;
    line["op"] = op;
    return line;
}

}  // namespace

// The lines of a recording, read from the first once to check them and once to replay them.
class Recording {
public:
    using Next = FileLines::Next;
    virtual ~Recording() = default;
    // Back to the first line; false with what is wrong in failure.
    virtual bool rewind(std::string& failure) = 0;
    // The next line, valid until the next call; as FileLines::next.
    virtual Next next(std::string_view& line, std::size_t maxLength, std::string& failure) = 0;
};

namespace {

class TextRecording : public Recording {
public:
    explicit TextRecording(std::string text) : text_(std::move(text)) {}
    bool rewind(std::string&) override {
        at_ = 0;
        return true;
    }
    Next next(std::string_view& line, std::size_t maxLength, std::string&) override {
        if (at_ >= text_.size())
            return Next::End;
        const std::size_t end = std::min(text_.find('\n', at_), text_.size());
        line = std::string_view(text_).substr(at_, end - at_);
        at_ = end + 1;
        return line.size() > maxLength ? Next::TooLong : Next::Line;
    }

private:
    std::string text_;
    std::size_t at_ = 0;
};

class FileRecording : public Recording {
public:
    explicit FileRecording(std::wstring path) : path_(std::move(path)) {}
    bool rewind(std::string& failure) override {
        return lines_.open(path_, ReplayPlatform::RECORDING_LIMIT, failure);
    }
    Next next(std::string_view& line, std::size_t maxLength, std::string& failure) override {
        const Next next = lines_.next(line_, maxLength, failure);
        line = line_;
        return next;
    }

private:
    std::wstring path_;
    FileLines lines_;
    std::string line_;
};

enum class LineKind { Skipped, MachineCall, NotATraceLine };

// Line lineNumber of a recording: skipped when empty or a call the run performs itself,
// otherwise parsed into line. A line that is no trace line gets why in error, named.
LineKind readLine(std::string_view text, const std::string& sourceName, std::size_t lineNumber,
                  Line& line, std::string& error) {
    auto where = [&] { return sourceName + " line " + std::to_string(lineNumber); };
    if (!text.empty() && text.back() == '\r')
        text.remove_suffix(1);
    if (text.empty())
        return LineKind::Skipped;
    // Deeper values would be compared, shown and copied by recursion, so they are refused
    // before they are parsed.
    if (trace::nestsDeeperThan(text, trace::LINE_DEPTH)) {
        error = where() + ": not a trace line: nested more than " +
                std::to_string(trace::LINE_DEPTH) + " deep";
        return LineKind::NotATraceLine;
    }
    line = Line::parse(text, nullptr, false);
    if (line.is_discarded() || !line.is_object() || !line.contains("op") ||
        !line["op"].is_string()) {
        error = where() + ": not a trace line";
        return LineKind::NotATraceLine;
    }
    const std::string& op = line["op"].get_ref<const std::string&>();
    if (isOneOf(op, MACHINE_CALLS))
        return LineKind::MachineCall;
    if (!isOneOf(op, RUN_CALLS)) {
        error = where() + ": unknown call \"" + visibleText(op) + "\"";
        return LineKind::NotATraceLine;
    }
    return LineKind::Skipped;
}

}  // namespace

struct ReplayPlatform::State {
    std::unique_ptr<Recording> recording;  // at the line after the last one read
    std::string sourceName;
    std::size_t lineNumber = 0;   // of the last line read
    std::size_t longestLine = 0;  // of the check; a longer line was written since
    std::optional<Line> ahead;    // the next recorded call, read and not yet answered
    bool ended = false;           // the recording holds no further call
    Line answer;                  // the recorded call that answered last
    std::size_t next = 0;         // recorded calls answered
    std::optional<std::string> departure;
    ReplayEcho echo;

    // Reads the next recorded call into ahead, unless it is there or the recording ended. The
    // recording was checked before the run, so a line that does not read now (or a file that
    // no longer does) changed since: a departure, returned.
    std::optional<std::string> readAhead() {
        std::string failure;
        while (!ahead && !ended) {
            std::string_view text;
            switch (recording->next(text, longestLine, failure)) {
                case Recording::Next::End:
                    ended = true;
                    continue;
                case Recording::Next::Failed:
                    return sourceName + ": " + failure;
                case Recording::Next::TooLong:
                    return sourceName + " line " + std::to_string(lineNumber + 1) +
                           ": changed since the recording was checked";
                case Recording::Next::Line:
                    break;
            }
            ++lineNumber;
            Line line;
            switch (readLine(text, sourceName, lineNumber, line, failure)) {
                case LineKind::NotATraceLine:
                    return failure;
                case LineKind::MachineCall:
                    ahead = std::move(line);
                    break;
                case LineKind::Skipped:
                    break;
            }
        }
        return std::nullopt;
    }

    // Takes the recorded call in ahead as answered.
    const Line* take() {
        answer = std::move(*ahead);
        ahead.reset();
        ++next;
        return &answer;
    }

    // Stops the replay: the first departure is kept for finish(), and the call that met it
    // throws, so that the run ends there.
    [[noreturn]] void depart(std::string why) {
        if (!departure)
            departure = std::move(why);
        throw PlaybackDeparture(*departure);
    }

    // The recorded call that answers `came`; a difference is a departure, thrown.
    const Line* expect(const Line& came) {
        if (!departure)
            departure = differenceFrom(came);
        if (departure)
            throw PlaybackDeparture(*departure);
        return take();
    }

    // A set released or a file closed, from a destructor: a difference is kept for finish(),
    // never thrown. Should even keeping it fail, the replay is still marked departed.
    void released(const char* op, const char* idField, std::uint32_t id) noexcept {
        if (departure)
            return;
        try {
            Line came = call(op);
            came[idField] = id;
            departure = differenceFrom(came);
            if (!departure)
                take();
        } catch (...) {
            departure.emplace();
        }
    }

    std::optional<std::string> differenceFrom(const Line& came) {
        if (auto changed = readAhead())
            return changed;
        if (!ahead) {
            return "call " + std::to_string(next + 1) + ": the recording ends, came " +
                   describe(came);
        }
        const Line& recorded = *ahead;
        const std::string at = "call " + recorded.value("seq", Line(next + 1)).dump() + ": ";
        if (recorded["op"] != came["op"]) {
            return at + "expected " + describe(recorded) + ", came " + describe(came);
        }
        for (const auto& [key, value] : came.items()) {
            if (key == "op" || (recorded.contains(key) && recorded[key] == value))
                continue;
            if (key == "input" && recorded.contains(key) && recorded[key].is_string()) {
                return at + describe(came) + ": " +
                       inputDifference(recorded[key].get<std::string>(), value.get<std::string>());
            }
            return at + "expected " + describe(recorded) + ", came " + describe(came);
        }
        return std::nullopt;
    }

    // A number of the recorded answer, within 32 bits.
    std::uint32_t number(const Line& line, const char* key) {
        auto field = line.find(key);
        if (field == line.end() || !field->is_number_unsigned() ||
            field->get<std::uint64_t>() > std::numeric_limits<std::uint32_t>::max()) {
            depart("call " + line.value("seq", Line(0)).dump() + ": the recording has no valid " +
                   key);
        }
        return static_cast<std::uint32_t>(field->get<std::uint64_t>());
    }
    std::string text(const Line& line, const char* key) {
        auto field = line.find(key);
        if (field == line.end() || !field->is_string()) {
            depart("call " + line.value("seq", Line(0)).dump() + ": the recording has no valid " +
                   key);
        }
        return field->get<std::string>();
    }
};

namespace {

using State = ReplayPlatform::State;

class ReplaySet : public DeviceInfoSet {
public:
    ReplaySet(std::shared_ptr<State> state, std::uint32_t id) : state_(std::move(state)), id_(id) {}
    ~ReplaySet() override { state_->released("releaseDeviceInfoSet", "set", id_); }

    std::optional<std::uint32_t> deviceAt(std::uint32_t index) override {
        const Line& answer = *state_->expect(start("deviceAt", index));
        if (state_->text(answer, "result") != "found")
            return std::nullopt;
        return state_->number(answer, "devInst");
    }

    std::optional<std::wstring> textProperty(std::uint32_t index, const PropertyKey& key) override {
        Line came = start("textProperty", index);
        came["key"] = trace::keyName(key);
        const Line& answer = *state_->expect(came);
        if (state_->text(answer, "result") != "read")
            return std::nullopt;
        return fromUtf8(state_->text(answer, "value"));
    }

    std::optional<std::vector<std::wstring>> hardwareIds(std::uint32_t index) override {
        const Line& answer = *state_->expect(start("hardwareIds", index));
        if (state_->text(answer, "result") != "read")
            return std::nullopt;
        std::vector<std::wstring> ids;
        auto value = answer.find("value");
        if (value != answer.end() && value->is_array()) {
            for (const Line& id : *value) {
                if (id.is_string())
                    ids.push_back(fromUtf8(id.get<std::string>()));
            }
        }
        return ids;
    }

    InterfaceLookup interfaceAt(const Guid& interfaceClass, std::uint32_t index,
                                DeviceInterface& found) override {
        Line came = start("interfaceAt", index);
        came["class"] = trace::guidText(interfaceClass);
        const Line& answer = *state_->expect(came);
        const std::string result = state_->text(answer, "result");
        if (result == "absent")
            return InterfaceLookup::Absent;
        if (result != "found")
            return InterfaceLookup::DetailFailed;
        found.devicePath = fromUtf8(state_->text(answer, "path"));
        found.devInst = state_->number(answer, "devInst");
        found.member = state_->number(answer, "member");
        return InterfaceLookup::Found;
    }

private:
    Line start(std::string_view op, std::uint32_t index) const {
        Line came = call(op);
        came["set"] = id_;
        came["index"] = index;
        return came;
    }

    std::shared_ptr<State> state_;
    std::uint32_t id_;
};

class ReplayFile : public DeviceFile {
public:
    ReplayFile(std::shared_ptr<State> state, std::uint32_t id)
        : state_(std::move(state)), id_(id) {}
    ~ReplayFile() override { state_->released("closeDevice", "file", id_); }

    ControlResult control(std::uint32_t controlCode, std::span<std::uint8_t> buffer,
                          std::uint32_t inputLength, std::uint32_t outputLength) override {
        const std::size_t sent = std::min<std::size_t>(inputLength, buffer.size());
        Line came = call("control");
        came["file"] = id_;
        came["code"] = trace::hexNumber(controlCode);
        came["inputLength"] = inputLength;
        came["outputLength"] = outputLength;
        came["input"] = trace::hexBytes(buffer.first(sent));
        const Line& answer = *state_->expect(came);
        if (state_->text(answer, "result") != "ok")
            return {false, 0, state_->number(answer, "error")};

        const std::uint32_t returned = state_->number(answer, "bytesReturned");
        const std::size_t length =
            std::min<std::size_t>(std::min<std::size_t>(returned, outputLength), buffer.size());
        const std::vector<std::uint8_t> request(buffer.begin(), buffer.begin() + sent);
        auto reply = trace::outputOf(answer, request, length);
        if (!reply) {
            state_->depart("call " + answer.value("seq", Line(0)).dump() +
                           ": the recording's reply does not fit " + std::to_string(length) +
                           " bytes");
        }
        std::copy(reply->begin(), reply->end(), buffer.begin());
        return {true, returned, 0};
    }

private:
    std::shared_ptr<State> state_;
    std::uint32_t id_;
};

}  // namespace

ReplayPlatform::ReplayPlatform(std::shared_ptr<State> state) : state_(std::move(state)) {}
ReplayPlatform::~ReplayPlatform() = default;

// Checks every line of a recording, then sets it back to its first line for the replay, which
// reads it again one call at a time. Nothing, with error, when a line is no trace line.
std::unique_ptr<ReplayPlatform> ReplayPlatform::checked(std::unique_ptr<Recording> recording,
                                                        const std::string& sourceName,
                                                        std::string& error, ReplayEcho echo) {
    auto state = std::make_shared<State>();
    std::string failure;
    if (!recording->rewind(failure)) {
        error = sourceName + ": " + failure;
        return nullptr;
    }
    std::size_t lineNumber = 0;
    std::string_view text;
    for (;;) {
        const auto next = recording->next(text, std::numeric_limits<std::size_t>::max(), failure);
        if (next == Recording::Next::End)
            break;
        if (next != Recording::Next::Line) {
            error = sourceName + ": " + failure;
            return nullptr;
        }
        ++lineNumber;
        state->longestLine = std::max(state->longestLine, text.size());
        Line line;
        if (readLine(text, sourceName, lineNumber, line, error) == LineKind::NotATraceLine)
            return nullptr;
    }
    if (!recording->rewind(failure)) {
        error = sourceName + ": " + failure;
        return nullptr;
    }
    state->recording = std::move(recording);
    state->sourceName = sourceName;
    state->echo = std::move(echo);
    return std::unique_ptr<ReplayPlatform>(new ReplayPlatform(std::move(state)));
}

std::unique_ptr<ReplayPlatform> ReplayPlatform::fromText(std::string_view text,
                                                         const std::string& sourceName,
                                                         std::string& error, ReplayEcho echo) {
    return checked(std::make_unique<TextRecording>(std::string(text)), sourceName, error,
                   std::move(echo));
}

std::unique_ptr<ReplayPlatform> ReplayPlatform::fromFile(const std::wstring& path,
                                                         std::string& error, ReplayEcho echo) {
    if (isRegularFile(path)) {
        return checked(std::make_unique<FileRecording>(path), visibleText(path), error,
                       std::move(echo));
    }
    // A pipe or a device can be read only once: it is read whole and replayed from memory.
    std::string content;
    std::string failure;
    if (!readFileFromDisk(path, RECORDING_LIMIT, content, failure)) {
        error = visibleText(path) + ": " + failure;
        return nullptr;
    }
    return checked(std::make_unique<TextRecording>(std::move(content)), visibleText(path), error,
                   std::move(echo));
}

StartupStatus ReplayPlatform::startUp() {
    const std::string result = state_->text(*state_->expect(call("startUp")), "result");
    if (result == "module-handle-failed")
        return StartupStatus::ModuleHandleFailed;
    if (result == "framework-failed")
        return StartupStatus::FrameworkFailed;
    return StartupStatus::Ok;
}

// A replay touches no device, so it never waits for a run on the real machine.
RunLockResult ReplayPlatform::takeRunLock() {
    return runLockTaken();
}

std::unique_ptr<DeviceInfoSet> ReplayPlatform::deviceInfoSet(const Guid& interfaceClass,
                                                             std::uint32_t flags) {
    Line came = call("deviceInfoSet");
    came["class"] = trace::guidText(interfaceClass);
    came["flags"] = trace::hexNumber(flags);
    const Line& answer = *state_->expect(came);
    if (state_->text(answer, "result") != "ok")
        return nullptr;
    return std::make_unique<ReplaySet>(state_, state_->number(answer, "set"));
}

OpenResult ReplayPlatform::openDevice(const std::wstring& path, std::uint32_t access,
                                      std::uint32_t share, std::uint32_t flags) {
    Line came = call("openDevice");
    came["path"] = toUtf8(path);
    came["access"] = trace::hexNumber(access);
    came["share"] = trace::hexNumber(share);
    came["flags"] = trace::hexNumber(flags);
    const Line& answer = *state_->expect(came);
    if (state_->text(answer, "result") != "ok")
        return {nullptr, state_->number(answer, "error")};
    return {std::make_unique<ReplayFile>(state_, state_->number(answer, "file")), 0};
}

std::optional<LocalTime> ReplayPlatform::localTime() {
    const Line& answer = *state_->expect(call("localTime"));
    if (state_->text(answer, "result") != "ok")
        return std::nullopt;
    LocalTime time;
    const std::string text = state_->text(answer, "time");
    if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &time.year, &time.month, &time.day,
                    &time.hour, &time.minute, &time.second) != 6) {
        state_->depart("call " + answer.value("seq", Line(0)).dump() +
                       ": the recording's time is not a time");
    }
    return time;
}

std::optional<UniversalTime> ReplayPlatform::universalTime() {
    return systemUniversalTime();
}

std::string ReplayPlatform::computerName() {
    return systemComputerName();
}

void ReplayPlatform::showMessage(const std::wstring& caption, const std::wstring& text) {
    if (state_->echo.err)
        state_->echo.err("[message box] " + toUtf8(caption) + "\n" + toUtf8(text) + "\n");
}

void ReplayPlatform::writeOutput(std::string_view bytes) {
    if (state_->echo.out)
        state_->echo.out(bytes);
}

void ReplayPlatform::writeErrorOutput(std::string_view bytes) {
    if (state_->echo.err)
        state_->echo.err(bytes);
}

FileWriteResult ReplayPlatform::writeTextFile(const std::wstring& path, std::string_view text) {
    return writeTextFileToDisk(path, text);
}

std::optional<Sha256Digest> ReplayPlatform::sha256(std::span<const std::uint8_t> bytes) {
    return systemSha256(bytes);
}

std::optional<std::string> ReplayPlatform::finish() {
    if (state_->departure)
        return state_->departure;
    if (auto changed = state_->readAhead()) {
        state_->departure = std::move(changed);
    } else if (state_->ahead) {
        const Line& recorded = *state_->ahead;
        state_->departure = "call " + recorded.value("seq", Line(0)).dump() + ": expected " +
                            describe(recorded) + ", the run ended";
    }
    return state_->departure;
}

}  // namespace velo
