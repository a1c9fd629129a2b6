// The platform on a simulated machine: a Windows storage stack described by a machine file.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace velo::sim {

class Machine;

// Loads a machine description (JSON). On failure returns nothing and error names the source
// and the field at fault.
std::unique_ptr<Machine> loadMachineText(std::string_view json, const std::string& sourceName,
                                         std::string& error);
// A machine file larger than MACHINE_FILE_LIMIT, a directory or text that is not UTF-8 is
// refused without being parsed.
inline constexpr std::size_t MACHINE_FILE_LIMIT = 4 * 1024 * 1024;
std::unique_ptr<Machine> loadMachineFile(const std::wstring& path, std::string& error);
// The machine that the host build runs on without /machine.
std::unique_ptr<Machine> loadDefaultMachine();

struct ShownMessage {
    std::wstring caption;
    std::wstring text;
};

// Where a run of the program shows what the simulated machine prints: standard output, and the
// message box on standard error. Tests leave both empty and read what was captured.
struct Echo {
    std::function<void(std::string_view)> out;
    std::function<void(std::string_view)> err;
};

class SimPlatform : public Platform {
public:
    explicit SimPlatform(std::unique_ptr<Machine> machine, Echo echo = {});
    ~SimPlatform() override;

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

    // The machine, for what a test asks after a run: drive(n) for what a drive holds,
    // requests() and opens() for everything the machine received (once the test asked it to
    // keep that history), requestCount() for how many requests of each kind.
    Machine& machine() { return *machine_; }
    const std::string& output() const { return output_; }
    const std::string& errorOutput() const { return errorOutput_; }
    const std::vector<ShownMessage>& messages() const { return messages_; }
    // Overrides the machine file's clock: a fixed time (nothing: the host's local time), or
    // with readable false a clock that cannot be read.
    void setClock(std::optional<LocalTime> time, bool readable = true);

private:
    // The devices of a set of this kind, in member order.
    std::shared_ptr<const std::vector<std::size_t>> setMembers(const Guid& interfaceClass,
                                                               std::uint32_t flags);

    struct SetList {
        std::uint32_t kind = 0;  // SET_ALL_CLASSES and SET_DEVICE_INTERFACE of the flags
        Guid interfaceClass;     // none with SET_ALL_CLASSES
        std::shared_ptr<const std::vector<std::size_t>> members;
    };

    std::unique_ptr<Machine> machine_;
    std::vector<SetList> setLists_;
    std::size_t listedDevices_ = 0;
    Echo echo_;
    std::string output_;
    std::string errorOutput_;
    std::vector<ShownMessage> messages_;
    std::optional<LocalTime> fixedTime_;
    bool clockReadable_ = true;
};

}  // namespace velo::sim
