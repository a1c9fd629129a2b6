// Every open and control request of a clean run on every example machine, failed one at a time
// at the platform boundary. Each faulted run must end with its banner, give every disk the
// result its transport defines for that failure, send nothing to a disk after its update ended,
// activate nothing that was not downloaded whole, and close every handle and device set.
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <sstream>

#include "RunSupport.h"
#include "tests/FakeDevices.h"
#include "app/RunContext.h"
#include "platform/Text.h"

namespace velo::test {
namespace {

constexpr std::uint64_t IMAGE_BYTES = 0x200000;

enum class Role { Open, Discovery, Identify, GetInfo, Download, Activate };
enum class Stack { None, Inbox, Rst, Vroc };
enum class Fault { OpenDenied, OpenNotFound, CallFails, DriverStatus, Completion };
constexpr const char* FAULT_NAMES[] = {"open fails with 5", "open fails with 2",
                                       "call fails with 31", "driver status 1",
                                       "NVMe completion status 2"};

bool firmwareRole(Role role) {
    return role == Role::GetInfo || role == Role::Download || role == Role::Activate;
}

// One open or control request of a run, as the wrapper saw it.
struct Call {
    Role role = Role::Open;
    Stack stack = Stack::None;
    std::string disk;        // the path, with the path id or disk id a request names
    std::uint32_t file = 0;  // the file an open made, or the file a request went through
    int pass = 0;            // 1 scan pass, 2 update pass
    bool srb = false;        // the reply carries a driver status
    bool nvme = false;       // the reply carries an NVMe completion entry
    bool failed = true;      // the open or call failed, or its reply reports a failure
    std::uint64_t offset = 0, length = 0;  // of a download
};

std::uint64_t get64(std::span<const std::uint8_t> b, std::size_t at) {
    return get32(b, at) | std::uint64_t{get32(b, at + 4)} << 32;
}

// What a request asks, told from the bytes sent with the offsets of the request layouts.
Call classify(std::uint32_t code, std::span<const std::uint8_t> b, std::string disk) {
    Call call{.role = Role::Discovery, .disk = std::move(disk)};
    if (code == 0x2D1400)
        call.role = Role::Identify, call.stack = Stack::Inbox;
    if (code != 0x4D008 || b.size() < 28)
        return call;
    call.srb = true;
    const std::string signature(reinterpret_cast<const char*>(b.data()) + 4, 8);
    if (b.size() < 56)
        return call;  // a count query
    // A firmware request block: function 1 get-info, 2 download (offset and length at the
    // given places), 3 activate.
    const auto firmware = [&call, b](std::uint32_t function, std::size_t offsetAt) {
        const Role roles[] = {Role::Discovery, Role::GetInfo, Role::Download, Role::Activate};
        call.role = roles[function < 4 ? function : 0];
        if (call.role == Role::Download && b.size() >= offsetAt + 16)
            call.offset = get64(b, offsetAt), call.length = get64(b, offsetAt + 8);
    };
    if (signature == "FIRMWARE") {
        call.stack = Stack::Inbox;
        firmware(get32(b, 36), 60);
    } else if (signature == "IntelNvm" || signature == "IntelFw ") {
        // The RST requests carry no completion entry: a drive's NVMe status reaches VELO only
        // as the driver's ReturnCode.
        call.stack = Stack::Rst;
        call.disk += "#" + std::to_string(b[29]);
        if (signature == "IntelNvm")
            call.role = Role::Identify;
        else
            firmware(get32(b, 40), 64);
    } else if (signature == "NvmeRAID" && get32(b, 16) == 0xE0002000 && b.size() >= 152) {
        call.stack = Stack::Vroc;
        call.nvme = true;
        call.disk += "#" + std::to_string(get32(b, 20));  // the disk id goes in ReturnCode
        const std::uint8_t opcode = b[52];
        call.role = opcode == 0x06   ? Role::Identify
                    : opcode == 0x10 ? Role::Activate
                    : opcode == 0x11 ? Role::Download
                                     : Role::Discovery;
        call.offset = std::uint64_t{get32(b, 96)} * 4;
        call.length = get32(b, 140);
    }
    return call;
}

// The serial number an identify reply carries, up to its first zero byte.
std::string serialIn(std::span<const std::uint8_t> reply, Stack stack) {
    const std::size_t data = stack == Stack::Inbox ? 48 : stack == Stack::Rst ? 164 : 152;
    if (reply.size() < data + 24)
        return {};
    const std::string serial(reinterpret_cast<const char*>(reply.data()) + data + 4, 20);
    return serial.substr(0, serial.find('\0'));
}

struct Injection {
    std::size_t at = SIZE_MAX;  // the call that fails
    Fault fault = Fault::CallFails;
    std::string endsDisk;  // the disk whose update an open failing here ends
};

// The platform of a run: passes every call to the simulated machine except the one it fails,
// and watches what reaches each disk's firmware and which handles stay open.
class FaultingPlatform : public Platform {
public:
    FaultingPlatform(Platform& inner, Injection injection)
        : inner_(inner), injection_(std::move(injection)) {}

    std::vector<Call> calls;
    std::vector<std::string> violations;
    std::map<std::string, std::string> serials;  // disk -> serial of its last identify reply
    std::string output, log;
    int opened = 0, closed = 0, setsBuilt = 0, setsReleased = 0;

    StartupStatus startUp() override { return inner_.startUp(); }
    RunLockResult takeRunLock() override { return inner_.takeRunLock(); }
    std::unique_ptr<DeviceInfoSet> deviceInfoSet(const Guid& interfaceClass,
                                                 std::uint32_t flags) override {
        // Each pass starts by listing the storage ports.
        if (interfaceClass == STORAGE_PORT_INTERFACE_CLASS)
            ++pass_;
        auto set = inner_.deviceInfoSet(interfaceClass, flags);
        if (!set)
            return nullptr;
        ++setsBuilt;
        return std::make_unique<CountedSet>(std::move(set), setsReleased);
    }
    OpenResult openDevice(const std::wstring& path, std::uint32_t access, std::uint32_t share,
                          std::uint32_t flags) override {
        Call call{.disk = toUtf8(path), .pass = pass_};
        OpenResult result;
        if (calls.size() == injection_.at) {
            result.error = injection_.fault == Fault::OpenDenied ? 5 : 2;
            if (!injection_.endsDisk.empty())
                disks_[injection_.endsDisk].ended = true;
        } else {
            result = inner_.openDevice(path, access, share, flags);
        }
        call.failed = !result.file;
        if (result.file) {
            call.file = static_cast<std::uint32_t>(++opened);
            result.file = std::make_unique<File>(*this, std::move(result.file), call);
        }
        calls.push_back(call);
        return result;
    }
    void showMessage(const std::wstring& caption, const std::wstring& text) override {
        inner_.showMessage(caption, text);
    }
    std::optional<LocalTime> localTime() override { return inner_.localTime(); }
    std::optional<UniversalTime> universalTime() override { return inner_.universalTime(); }
    std::string computerName() override { return inner_.computerName(); }
    void writeOutput(std::string_view bytes) override { output.append(bytes); }
    void writeErrorOutput(std::string_view bytes) override { inner_.writeErrorOutput(bytes); }
    FileWriteResult writeTextFile(const std::wstring&, std::string_view text) override {
        log = text;
        return {true, {}};
    }
    std::optional<Sha256Digest> sha256(std::span<const std::uint8_t> bytes) override {
        return inner_.sha256(bytes);
    }

private:
    struct DiskState {
        std::uint64_t accepted = 0;  // bytes of the image taken, in order
        bool broken = false;         // a download request failed
        bool ended = false;          // its update ended: nothing may reach it any more
    };

    class CountedSet : public DeviceInfoSet {
    public:
        CountedSet(std::unique_ptr<DeviceInfoSet> inner, int& released)
            : inner_(std::move(inner)), released_(released) {}
        ~CountedSet() override { ++released_; }
        std::optional<std::uint32_t> deviceAt(std::uint32_t index) override {
            return inner_->deviceAt(index);
        }
        std::optional<std::wstring> textProperty(std::uint32_t index,
                                                 const PropertyKey& key) override {
            return inner_->textProperty(index, key);
        }
        std::optional<std::vector<std::wstring>> hardwareIds(std::uint32_t index) override {
            return inner_->hardwareIds(index);
        }
        InterfaceLookup interfaceAt(const Guid& interfaceClass, std::uint32_t index,
                                    DeviceInterface& found) override {
            return inner_->interfaceAt(interfaceClass, index, found);
        }

    private:
        std::unique_ptr<DeviceInfoSet> inner_;
        int& released_;
    };

    class File : public DeviceFile {
    public:
        File(FaultingPlatform& owner, std::unique_ptr<DeviceFile> inner, const Call& open)
            : owner_(owner), inner_(std::move(inner)), open_(open) {}
        ~File() override { ++owner_.closed; }
        ControlResult control(std::uint32_t code, std::span<std::uint8_t> buffer,
                              std::uint32_t inputLength, std::uint32_t outputLength) override {
            return owner_.request(*this, code, buffer, inputLength, outputLength);
        }

        FaultingPlatform& owner_;
        std::unique_ptr<DeviceFile> inner_;
        Call open_;
    };

    ControlResult request(File& file, std::uint32_t code, std::span<std::uint8_t> buffer,
                          std::uint32_t inputLength, std::uint32_t outputLength) {
        Call call = classify(code, buffer.first(std::min<std::size_t>(inputLength, buffer.size())),
                             file.open_.disk);
        call.file = file.open_.file;
        call.pass = pass_;
        DiskState& disk = disks_[call.disk];
        if (call.role == Role::Activate && (disk.broken || disk.accepted != IMAGE_BYTES)) {
            violations.push_back("activation of " + call.disk + " after " +
                                 std::to_string(disk.accepted) + " bytes of the image");
        } else if (firmwareRole(call.role) && disk.ended) {
            violations.push_back("a request reached " + call.disk + " after its update ended");
        }

        ControlResult result;
        if (calls.size() == injection_.at)
            result = inject(buffer, outputLength);
        else
            result = file.inner_->control(code, buffer, inputLength, outputLength);

        // 0x20 on an activation asks for a power cycle: the drive took the image.
        const std::uint32_t status = call.srb ? get32(buffer, 20) : 0;
        call.failed =
            !result.ok ||
            (call.srb && status != 0 && !(call.role == Role::Activate && status == 0x20)) ||
            (call.nvme && get32(buffer, 128) >= 0x20000);
        if (call.role == Role::Download && !call.failed) {
            if (call.offset != disk.accepted)
                violations.push_back("a chunk of " + call.disk + " out of order");
            disk.accepted += call.length;
        }
        disk.broken = disk.broken || (call.role == Role::Download && call.failed);
        disk.ended =
            disk.ended || call.role == Role::Activate || (firmwareRole(call.role) && call.failed);
        if (call.role == Role::Identify && !call.failed)
            serials[call.disk] = serialIn(buffer, call.stack);
        calls.push_back(call);
        return result;
    }

    // A failed call leaves the buffer as it was; a refused request comes back as it was sent,
    // with only the status the fault names.
    ControlResult inject(std::span<std::uint8_t> buffer, std::uint32_t outputLength) {
        const auto returned =
            static_cast<std::uint32_t>(std::min<std::size_t>(outputLength, buffer.size()));
        if (injection_.fault == Fault::DriverStatus) {
            putLe(buffer, 20, 1, 4);
            return {true, returned, 0};
        }
        if (injection_.fault == Fault::Completion) {
            putLe(buffer, 20, 0, 4);
            putLe(buffer, 128, 0x2u << 17, 4);  // status field 2: invalid field in command
            return {true, returned, 0};
        }
        return {false, 0, 31};
    }

    Platform& inner_;
    Injection injection_;
    int pass_ = 0;
    std::map<std::string, DiskState> disks_;
};

struct DiskResult {
    std::string serial;
    int code = 0;
    bool operator==(const DiskResult&) const = default;
};

// What a run reported: each disk's result and the final code from the log, the banner's code.
struct Outcome {
    std::vector<DiskResult> disks;
    int finalCode = -1;
    int bannerCode = -1;  // -1: the run did not end with its banner
};

Outcome outcomeOf(const FaultingPlatform& run) {
    Outcome outcome;
    std::istringstream lines(run.log);
    bool finalPart = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("[Disk #"))
            outcome.disks.emplace_back();
        finalPart = finalPart || line == "[Final Result]";
        if (line.starts_with("Serial Number : ") && !outcome.disks.empty())
            outcome.disks.back().serial = line.substr(16, line.find('\0', 16) - 16);
        if (line.starts_with("Return Code : ") && (finalPart || !outcome.disks.empty()))
            (finalPart ? outcome.finalCode : outcome.disks.back().code) = std::atoi(&line[14]);
    }
    const auto at = run.output.rfind(" >> VELO Ended (Return Code : ");
    if (at != std::string::npos && run.output.ends_with(ended(std::atoi(&run.output[at + 30]))))
        outcome.bannerCode = std::atoi(&run.output[at + 30]);
    return outcome;
}

std::string text(const std::vector<DiskResult>& disks) {
    std::string shown = disks.empty() ? " no disk" : "";
    for (const DiskResult& disk : disks)
        shown += " " + disk.serial + "=" + std::to_string(disk.code);
    return shown;
}

// Why the run breaks a rule that holds whatever fails; empty when it keeps them all.
std::string brokenRule(const FaultingPlatform& run, const Outcome& outcome) {
    int folded = outcome.disks.empty() ? 1 : 0;  // 1 outranks 1602, which outranks 0
    for (const DiskResult& disk : outcome.disks)
        folded = disk.code == 0 ? folded : disk.code == 1602 && folded != 1 ? 1602 : 1;
    if (outcome.bannerCode < 0)
        return "the run did not end with its banner";
    if (outcome.bannerCode != outcome.finalCode || outcome.finalCode != folded)
        return "the final code " + std::to_string(outcome.bannerCode) + " for" +
               text(outcome.disks);
    if (!run.violations.empty())
        return run.violations.front();
    if (run.opened != run.closed || run.setsBuilt != run.setsReleased) {
        return std::to_string(run.opened - run.closed) + " handles and " +
               std::to_string(run.setsBuilt - run.setsReleased) + " device sets left open";
    }
    return {};
}

// The result a transport gives a disk whose update met this failure.
int expectedCode(Stack stack, Role role, Fault fault) {
    if (role == Role::Open)
        return 5;  // every transport: the disk's handle did not open
    if (stack == Stack::Inbox)
        return role == Role::Activate && fault == Fault::DriverStatus ? 1 : 5;
    if (role == Role::Activate && fault == Fault::Completion)
        return 5;  // a VROC commit that completed with an NVMe status
    return 1;
}

struct CleanRun {
    std::vector<Call> calls;
    std::map<std::string, std::string> serials;
    Outcome outcome;
    std::size_t firstTarget = SIZE_MAX;  // the scan pass's first identify that yields a target
};

// The update-stage request that a call is, or that the file it opens carries first.
const Call* updateRequest(const std::vector<Call>& calls, std::size_t at) {
    if (firmwareRole(calls[at].role))
        return &calls[at];
    for (std::size_t i = at + 1; calls[at].role == Role::Open && i < calls.size(); ++i) {
        if (calls[i].role != Role::Open && calls[i].file == calls[at].file)
            return firmwareRole(calls[i].role) ? &calls[i] : nullptr;
    }
    return nullptr;
}

// Why the results of a faulted run are not what the failure allows; empty when they are.
std::string wrongResults(const CleanRun& clean, std::size_t at, Fault fault,
                         const Outcome& outcome) {
    const Call& call = clean.calls[at];
    const std::vector<DiskResult>& before = clean.outcome.disks;
    std::vector<DiskResult> expected = before;
    if (const Call* update = updateRequest(clean.calls, at)) {
        // The disk whose update failed gets its transport's code; the others keep theirs.
        for (DiskResult& disk : expected) {
            if (disk.serial == clean.serials.at(update->disk))
                disk.code = expectedCode(update->stack, call.role, fault);
        }
    } else if (call.pass == 1) {
        // The image is chosen from the scan pass's first target: a fault up to its identify
        // may leave no image, and then nothing is updated; or the image comes from a later
        // target of another group, and then each disk is updated (0) or left alone (1) by that
        // image instead, in the same order.
        if (outcome.disks.empty() && at <= clean.firstTarget)
            expected.clear();
        const bool sameDisks =
            outcome.disks.size() == before.size() &&
            std::equal(before.begin(), before.end(), outcome.disks.begin(),
                       [](const DiskResult& a, const DiskResult& b) {
                           return a.serial == b.serial && (b.code == 0 || b.code == 1);
                       });
        if (at <= clean.firstTarget && sameDisks)
            expected = outcome.disks;
    } else {
        // Discovery and identify faults may remove disks, or leave a disk whose identity was
        // not read and which no image takes (result 1); the rest keep their results and order.
        auto next = before.begin();
        for (const DiskResult& disk : outcome.disks) {
            const auto known = std::find_if(next, before.end(), [&disk](const DiskResult& d) {
                return d.serial == disk.serial;
            });
            if (known == before.end() && disk.code == 1)
                continue;
            if (known == before.end() || known->code != disk.code)
                return "results" + text(outcome.disks) + ", clean" + text(before);
            next = known + 1;
        }
        expected = outcome.disks;
    }
    if (outcome.disks != expected)
        return "results" + text(outcome.disks) + ", expected" + text(expected);
    return {};
}

// Download requests are sampled: within a run of consecutive chunks to one disk only the first,
// second, middle, last-but-one and last are failed (a clean update sends 512 chunks per drive).
bool sampledChunk(const std::vector<Call>& calls, std::size_t at) {
    const auto sameRun = [&calls, at](std::size_t i) {
        return calls[i].role == Role::Download && calls[i].disk == calls[at].disk;
    };
    std::size_t first = at, last = at;
    while (first > 0 && sameRun(first - 1))
        --first;
    while (last + 1 < calls.size() && sameRun(last + 1))
        ++last;
    const std::size_t k = at - first, n = last - first + 1;
    return k <= 1 || k == n / 2 || k + 2 >= n;
}

// The faults a call of the clean run is tried with.
std::vector<Fault> faultsFor(const std::vector<Call>& calls, std::size_t at) {
    const Call& call = calls[at];
    if (call.role == Role::Open) {
        // An open that fails in the clean run already has no other way to fail.
        return call.failed ? std::vector<Fault>{}
                           : std::vector<Fault>{Fault::OpenDenied, Fault::OpenNotFound};
    }
    if (call.role == Role::Download && !sampledChunk(calls, at))
        return {};
    std::vector<Fault> faults{Fault::CallFails};
    if (call.srb)
        faults.push_back(Fault::DriverStatus);
    if (call.nvme)
        faults.push_back(Fault::Completion);
    return faults;
}

struct Totals : ::testing::Environment {
    int examples = 0, points = 0, holding = 0;
    void TearDown() override {
        if (examples > 0) {
            std::cout << "fault matrix: " << examples << " examples, " << points << " points, "
                      << holding << " hold\n";
        }
    }
};
Totals* const totals = static_cast<Totals*>(::testing::AddGlobalTestEnvironment(new Totals));

class FaultMatrix : public ::testing::TestWithParam<std::string> {
protected:
    void TearDown() override { silentMode = false; }

    std::unique_ptr<FaultingPlatform> run(Injection injection) {
        std::string error;
        auto machine = sim::loadMachineText(text_, GetParam(), error);
        EXPECT_TRUE(machine) << error;
        sim::SimPlatform simulated(std::move(machine));
        auto platform = std::make_unique<FaultingPlatform>(simulated, std::move(injection));
        RunOptions options;
        options.silent = true;
        options.logFilePath = L"fault-matrix.log";
        EXPECT_EQ(runVelo(*platform, options), 0);
        unloadFirmwareImage();
        return platform;
    }

    std::string text_ = readBytes(GetParam());
};

TEST_P(FaultMatrix, EveryCallFailsInTurn) {
    CleanRun clean;
    {
        auto run = this->run({});
        clean.calls = run->calls;
        clean.serials = run->serials;
        clean.outcome = outcomeOf(*run);
        ASSERT_EQ(brokenRule(*run, clean.outcome), "") << "clean run";
    }
    for (std::size_t i = 0; i < clean.calls.size() && clean.firstTarget == SIZE_MAX; ++i) {
        const Call& call = clean.calls[i];
        if (call.pass == 1 && call.role == Role::Identify && !call.failed)
            clean.firstTarget = i;
    }

    int points = 0, holding = 0;
    for (std::size_t at = 0; at < clean.calls.size(); ++at) {
        const Call& call = clean.calls[at];
        const Call* update = updateRequest(clean.calls, at);
        for (Fault fault : faultsFor(clean.calls, at)) {
            auto run = this->run({at, fault, update && update != &call ? update->disk : ""});
            const Outcome outcome = outcomeOf(*run);
            std::string problem = brokenRule(*run, outcome);
            if (problem.empty())
                problem = wrongResults(clean, at, fault, outcome);
            ++points;
            holding += problem.empty();
            EXPECT_EQ(problem, "") << "call " << at << " (" << call.disk << ", pass " << call.pass
                                   << "): " << FAULT_NAMES[static_cast<int>(fault)];
        }
    }
    ++totals->examples;
    totals->points += points;
    totals->holding += holding;
    std::cout << std::filesystem::path(GetParam()).filename().string() << ": " << points
              << " points, " << holding << " hold\n";
    RecordProperty("points", points);
    RecordProperty("holding", holding);
}

std::vector<std::string> exampleFiles() {
    std::vector<std::string> files;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::filesystem::path(VELO_SOURCE_DIR) / "examples")) {
        if (entry.path().extension() == ".json")
            files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

INSTANTIATE_TEST_SUITE_P(Examples, FaultMatrix, ::testing::ValuesIn(exampleFiles()),
                         [](const ::testing::TestParamInfo<std::string>& example) {
                             std::string name =
                                 std::filesystem::path(example.param).stem().string();
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

}  // namespace
}  // namespace velo::test
