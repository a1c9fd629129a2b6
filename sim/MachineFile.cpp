// Reading a machine file: strict JSON, every field checked, every error naming the file and
// the field at fault.
#include <algorithm>
#include <cctype>
#include <set>

#include "platform/LocalFiles.h"
#include "platform/Text.h"
#include "sim/DefaultMachine.h"
#include "sim/MachineReader.h"
#include "sim/SimPlatform.h"

namespace velo::sim {

namespace {

constexpr std::string_view FORMAT_NAME = "velo-machine";
constexpr int FORMAT_VERSION = 1;

bool isLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

void readClock(const Json& value, const std::string& path, Machine& machine) {
    const std::string message =
        "must be \"system\", \"unreadable\" or a time \"YYYY-MM-DD hh:mm:ss\"";
    if (!value.is_string())
        failAt(path, message);
    const std::string setting = value.get<std::string>();
    if (setting == "system") {
        machine.clock = ClockMode::System;
        return;
    }
    if (setting == "unreadable") {
        machine.clock = ClockMode::Unreadable;
        return;
    }
    // YYYY-MM-DD hh:mm:ss
    const std::string shape = "dddd-dd-dd dd:dd:dd";
    if (setting.size() != shape.size())
        failAt(path, message);
    for (std::size_t i = 0; i < shape.size(); ++i) {
        const bool digit = std::isdigit(static_cast<unsigned char>(setting[i])) != 0;
        if (shape[i] == 'd' ? !digit : setting[i] != shape[i])
            failAt(path, message);
    }
    auto part = [&](std::size_t at, std::size_t length) {
        return std::stoi(setting.substr(at, length));
    };
    LocalTime time{part(0, 4), part(5, 2), part(8, 2), part(11, 2), part(14, 2), part(17, 2)};
    static constexpr int DAYS[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (time.year < 1601 || time.month < 1 || time.month > 12 || time.day < 1 || time.hour > 23 ||
        time.minute > 59 || time.second > 59) {
        failAt(path, "is not a valid time");
    }
    int days = DAYS[time.month - 1] + (time.month == 2 && isLeapYear(time.year) ? 1 : 0);
    if (time.day > days)
        failAt(path, "is not a valid time");
    machine.clock = ClockMode::Fixed;
    machine.fixedTime = time;
}

// "line L, column C" of the byte the JSON reader stopped at (its count starts at 1).
std::string placeOf(std::string_view json, std::size_t byte) {
    const std::size_t offset = std::min(byte == 0 ? 0 : byte - 1, json.size());
    const std::string_view before = json.substr(0, offset);
    const std::size_t line =
        1 + static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
    const std::size_t lineStart = before.rfind('\n');
    const std::size_t column =
        lineStart == std::string_view::npos ? offset + 1 : offset - lineStart;
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

void readMachine(const Json& root, MachineReader& reader) {
    expectObject(root, "",
                 {"format", "version", "description", "startup", "clock", "runLock", "computerName",
                  "faults", "controllers", "scsiPorts"});
    const Json& format = required(root, "", "format");
    if (!format.is_string() || format.get<std::string>() != FORMAT_NAME) {
        failAt("format", "must be \"velo-machine\"");
    }
    const Json& version = required(root, "", "version");
    if (!version.is_number_integer() || version.get<std::int64_t>() != FORMAT_VERSION) {
        failAt("version", "must be 1 (the only version this program reads)");
    }
    if (const Json* description = field(root, "description")) {
        text(*description, "description");
    }
    if (const Json* startup = field(root, "startup")) {
        const std::string name =
            choice(*startup, "startup", {"ok", "module-handle-failed", "framework-failed"});
        reader.machine.startup = name == "ok" ? StartupStatus::Ok
                                 : name == "module-handle-failed"
                                     ? StartupStatus::ModuleHandleFailed
                                     : StartupStatus::FrameworkFailed;
    }
    if (const Json* clock = field(root, "clock"))
        readClock(*clock, "clock", reader.machine);
    if (const Json* name = field(root, "computerName"))
        reader.machine.computerName = text(*name, "computerName");
    if (const Json* lock = field(root, "runLock"))
        reader.machine.runLockHeld = choice(*lock, "runLock", {"free", "held"}) == "held";
    if (const Json* faults = field(root, "faults")) {
        expectObject(*faults, "faults", {"deviceSets"});
        if (const Json* sets = field(*faults, "deviceSets")) {
            if (!sets->is_array())
                failAt("faults.deviceSets", "must be a list of set names");
            for (std::size_t i = 0; i < sets->size(); ++i) {
                const std::string name = choice((*sets)[i], indexed("faults.deviceSets", i),
                                                {"disk", "storage-port", "all-classes"});
                if (name == "disk")
                    reader.machine.failDiskSet = true;
                if (name == "storage-port")
                    reader.machine.failStoragePortSet = true;
                if (name == "all-classes")
                    reader.machine.failAllClassesSet = true;
            }
        }
    }
    if (const Json* controllers = field(root, "controllers")) {
        if (!controllers->is_array())
            failAt("controllers", "must be a list of controllers");
        for (std::size_t i = 0; i < controllers->size(); ++i) {
            const Json& controller = (*controllers)[i];
            const std::string path = indexed("controllers", i);
            if (!controller.is_object())
                failAt(path, "must be an object");
            const std::string driver = choice(required(controller, path, "driver"),
                                              join(path, "driver"), {"inbox", "rst"});
            if (driver == "inbox")
                readInboxController(reader, controller, path, i);
            else
                readRstController(reader, controller, path, i);
        }
    }
    if (const Json* ports = field(root, "scsiPorts"))
        readScsiPorts(reader, *ports, "scsiPorts");
}

// Follows the parser: notes the first field name that appears twice in one object (the parser
// itself keeps the last one silently), and the path of the value being read, so that a value the
// parser cannot take at all is named like any other field at fault.
struct ParseNotes {
    struct Level {
        bool isList = false;
        std::size_t items = 0;        // in a list: the items read so far
        std::string field;            // in an object: the field being read
        std::set<std::string> names;  // in an object: the fields read so far
    };
    std::vector<Level> open;
    std::string duplicate;

    std::string path() const {
        std::string text;
        for (const Level& level : open)
            text = level.isList ? indexed(text, level.items) : join(text, level.field);
        return text;
    }

    void itemRead() {
        if (!open.empty() && open.back().isList)
            ++open.back().items;
    }

    bool operator()(int, Json::parse_event_t event, Json& parsed) {
        switch (event) {
            case Json::parse_event_t::object_start:
                open.emplace_back();
                break;
            case Json::parse_event_t::array_start:
                open.emplace_back().isList = true;
                break;
            case Json::parse_event_t::object_end:
            case Json::parse_event_t::array_end:
                if (!open.empty())
                    open.pop_back();
                itemRead();
                break;
            case Json::parse_event_t::key:
                if (!open.empty()) {
                    open.back().field = parsed.get<std::string>();
                    if (!open.back().names.insert(open.back().field).second && duplicate.empty())
                        duplicate = open.back().field;
                }
                break;
            case Json::parse_event_t::value:
                itemRead();
                break;
        }
        return true;
    }
};

}  // namespace

std::unique_ptr<Machine> loadMachineText(std::string_view json, const std::string& sourceName,
                                         std::string& error) {
    try {
        if (const std::size_t bad = firstNonUtf8Byte(json); bad != json.size()) {
            throw LoadError("is not UTF-8 text (byte offset " + std::to_string(bad) + ")");
        }
        ParseNotes notes;
        Json root;
        try {
            root = Json::parse(json.begin(), json.end(), std::ref(notes));
        } catch (const Json::parse_error& e) {
            throw LoadError("is not valid JSON (" + placeOf(json, e.byte) + ")");
        } catch (const Json::out_of_range&) {
            // A number beyond the range of a double, such as 1e400 or one of a thousand digits:
            // no field takes one.
            failAt(notes.path(), "is a number out of range");
        }
        if (!notes.duplicate.empty()) {
            throw LoadError("field \"" + visibleText(notes.duplicate) +
                            "\" appears twice in one object");
        }
        auto machine = std::make_unique<Machine>();
        MachineReader reader{*machine, {}, {}, {}};
        readMachine(root, reader);
        return machine;
    } catch (const LoadError& e) {
        error = visibleText(sourceName) + ": " + e.what();
    } catch (const std::exception&) {
        // Every field is checked before it is read, so this is a value the checks did not
        // foresee; the library's own words would mean nothing to the reader of the file.
        error = visibleText(sourceName) + ": is not a machine file this program can read";
    }
    return nullptr;
}

std::unique_ptr<Machine> loadMachineFile(const std::wstring& path, std::string& error) {
    std::string content;
    std::string failure;
    if (!readFileFromDisk(path, MACHINE_FILE_LIMIT, content, failure)) {
        error = visibleText(path) + ": " + failure;
        return nullptr;
    }
    return loadMachineText(content, toUtf8(path), error);
}

std::unique_ptr<Machine> loadDefaultMachine() {
    std::string error;
    auto machine = loadMachineText(defaultMachineText(), "default machine", error);
    // The embedded file is checked by the tests; should it ever be broken, run on an empty
    // machine rather than on none.
    return machine ? std::move(machine) : std::make_unique<Machine>();
}

}  // namespace velo::sim
