// Runs the program on a simulated machine, as the host build does, and writes the served file
// that lets velo.exe meet the same machine under wine: the machine's devices, its SCSI ports,
// and every control request the run sent, with the answer the simulated driver gave. The test
// driver presents those devices and answers each request from this file.
//
// usage: velo_served_machine SERVED_FILE MACHINE_FILE [switches of the run...]
// The run gets /machine MACHINE_FILE and the switches; it prints as the host build does, and
// its exit status is returned. A machine the driver cannot present exits 3 with the reason on
// standard error and writes nothing.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/Launch.h"
#include "entry/Backends.h"
#include "platform/Text.h"
#include "sim/Machine.h"
#include "sim/SimPlatform.h"
#include "trace/TracingPlatform.h"

namespace {

using velo::sim::Machine;

constexpr int EXIT_CANNOT_SERVE = 3;
constexpr std::uint32_t INTERFACE_STORAGE_PORT = 1;
constexpr std::uint32_t INTERFACE_DISK = 2;

// The status a driver completes a request with so that the caller sees this system error.
std::uint32_t ntStatusFor(std::uint32_t systemError) {
    struct Pair {
        std::uint32_t error;
        std::uint32_t status;
    };
    static constexpr Pair PAIRS[] = {
        {1, 0xC0000010},    {5, 0xC0000022},    {21, 0xC00000A3},  {31, 0xC0000001},
        {50, 0xC00000BB},   {87, 0xC000000D},   {122, 0xC0000023}, {998, 0xC0000005},
        {1117, 0xC0000185}, {1306, 0xC0000059},
    };
    for (const Pair& pair : PAIRS) {
        if (pair.error == systemError)
            return pair.status;
    }
    return 0;
}

std::uint64_t fnv1a(const std::vector<std::uint8_t>& bytes) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (std::uint8_t byte : bytes) {
        hash ^= byte;
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

class Writer {
public:
    void u32(std::uint32_t value) {
        for (int i = 0; i < 4; ++i)
            bytes_.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
    void u64(std::uint64_t value) {
        u32(static_cast<std::uint32_t>(value));
        u32(static_cast<std::uint32_t>(value >> 32));
    }
    void text(const std::wstring& value) {
        u32(static_cast<std::uint32_t>(value.size()));
        for (wchar_t unit : value) {
            bytes_.push_back(static_cast<char>(unit & 0xFF));
            bytes_.push_back(static_cast<char>((unit >> 8) & 0xFF));
        }
    }
    void raw(const std::vector<std::uint8_t>& value) {
        bytes_.append(reinterpret_cast<const char*>(value.data()), value.size());
    }
    const std::string& bytes() const { return bytes_; }

private:
    std::string bytes_;
};

// Why the test driver cannot present this machine, or nothing when it can. Wine hands out a
// device's handle before its driver sees the open, so opens cannot fail there; properties and
// device sets are wine's own to answer.
std::string whyNotServed(const Machine& machine) {
    if (machine.startup != velo::StartupStatus::Ok)
        return "the program's start-up fails on this machine";
    if (machine.runLockHeld)
        return "another run holds the run lock";
    if (machine.clock == velo::sim::ClockMode::Unreadable)
        return "the clock cannot be read";
    if (machine.failDiskSet || machine.failStoragePortSet || machine.failAllClassesSet)
        return "a device information set cannot be built";
    for (const auto& file : machine.files) {
        if (file.openFault.always != 0 || !file.openFault.attempts.empty())
            return "an open fails: " + velo::toUtf8(file.path);
    }
    for (const auto& device : machine.devices) {
        const auto& u = device.unreadable;
        if (u.parent || u.instanceId || u.hardwareIds || u.driverDescription || u.locationInfo ||
            u.interfaceDetail) {
            return "a property cannot be read: " + velo::toUtf8(device.instanceId);
        }
        for (const auto& entry : device.interfaces) {
            if (!entry.exposed)
                return "a device belongs to a set without its interface: " +
                       velo::toUtf8(device.instanceId);
        }
        if (device.instanceId.find(L'\\') == std::wstring::npos)
            return "an instance id without a device id: " + velo::toUtf8(device.instanceId);
    }
    return {};
}

constexpr std::wstring_view PHYSICAL_DRIVE = L"\\\\.\\PHYSICALDRIVE";

// The served file: devices, ports, then the answers in the order the run asked for them.
std::string servedFile(const Machine& machine) {
    Writer out;
    out.raw({'V', 'E', 'L', 'O', 'S', 'R', 'V', '1'});
    out.u32(static_cast<std::uint32_t>(machine.devices.size()));
    for (std::size_t index = 0; index < machine.devices.size(); ++index) {
        const auto& device = machine.devices[index];
        const std::size_t split = device.instanceId.rfind(L'\\');
        out.text(device.instanceId.substr(0, split));
        out.text(device.instanceId.substr(split + 1));
        out.text(device.parent);
        out.text(device.driverDescription);
        out.text(device.locationInfo);
        out.u32(static_cast<std::uint32_t>(device.hardwareIds.size()));
        for (const auto& id : device.hardwareIds)
            out.text(id);
        std::uint32_t interfaces = 0;
        for (const auto& entry : device.interfaces) {
            if (entry.interfaceClass == velo::STORAGE_PORT_INTERFACE_CLASS)
                interfaces |= INTERFACE_STORAGE_PORT;
            if (entry.interfaceClass == velo::DISK_INTERFACE_CLASS)
                interfaces |= INTERFACE_DISK;
        }
        out.u32(interfaces);
        std::int32_t physicalDrive = -1;
        for (const auto& file : machine.files) {
            if (file.target == velo::sim::DeviceFileEntry::Target::Disk &&
                machine.disks[file.index].device == index &&
                file.path.starts_with(PHYSICAL_DRIVE)) {
                physicalDrive = std::stoi(file.path.substr(PHYSICAL_DRIVE.size()));
            }
        }
        out.u32(static_cast<std::uint32_t>(physicalDrive));
    }
    out.u32(static_cast<std::uint32_t>(machine.scsiPorts.size()));
    for (const auto& port : machine.scsiPorts)
        out.u32(port.number);

    const auto deviceCount = static_cast<std::uint32_t>(machine.devices.size());
    const auto& requests = machine.requests();
    out.u32(static_cast<std::uint32_t>(requests.size()));
    for (const auto& request : requests) {
        const velo::sim::DeviceFileEntry* file = machine.findFile(request.path);
        std::uint32_t target = 0;
        switch (file->target) {
            case velo::sim::DeviceFileEntry::Target::Disk:
                target = static_cast<std::uint32_t>(machine.disks[file->index].device);
                break;
            case velo::sim::DeviceFileEntry::Target::StoragePort:
                target = static_cast<std::uint32_t>(file->index);
                break;
            case velo::sim::DeviceFileEntry::Target::RstPort:
                target = static_cast<std::uint32_t>(machine.rstControllers[file->index].device);
                break;
            case velo::sim::DeviceFileEntry::Target::ScsiPort:
                target = deviceCount + static_cast<std::uint32_t>(file->index);
                break;
        }
        out.u32(target);
        out.u32(request.controlCode);
        out.u32(request.inputLength);
        out.u32(request.outputLength);
        out.u64(fnv1a(request.input));
        out.u32(request.ok ? 0 : ntStatusFor(request.error));
        out.u32(request.ok ? request.bytesReturned : 0);
        const auto& output = request.ok ? request.output : std::vector<std::uint8_t>{};
        out.u32(static_cast<std::uint32_t>(output.size()));
        out.raw(output);
    }
    return out.bytes();
}

void writeTo(std::FILE* stream, std::string_view bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
    std::fflush(stream);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: velo_served_machine SERVED_FILE MACHINE_FILE [switches...]\n", stderr);
        return 2;
    }
    const std::string servedPath = argv[1];
    std::vector<std::wstring> args = {L"/machine", velo::fromUtf8(argv[2])};
    for (int i = 3; i < argc; ++i)
        args.push_back(velo::fromUtf8(argv[i]));
    std::wstring argumentText;
    for (const auto& arg : args)
        argumentText += (argumentText.empty() ? L"" : L" ") + arg;

    velo::LaunchHooks hooks;
    hooks.writeStdout = [](std::string_view bytes) { writeTo(stdout, bytes); };
    hooks.writeStderr = [](std::string_view bytes) { writeTo(stderr, bytes); };
    velo::offerSimulation(hooks);
    velo::offerTracing(hooks);
    // The run gets a forwarding platform over the machine's, which is kept past the run so that
    // the requests it received can be written out.
    std::unique_ptr<velo::sim::SimPlatform> kept;
    std::string whyNot;
    const velo::sim::Echo echo{hooks.writeStdout, hooks.writeStderr};
    hooks.simulatedPlatform = [&](const std::wstring& file,
                                  std::string& error) -> std::unique_ptr<velo::Platform> {
        auto machine = velo::sim::loadMachineFile(file, error);
        if (!machine)
            return nullptr;
        whyNot = whyNotServed(*machine);
        machine->keepHistory(true);
        kept = std::make_unique<velo::sim::SimPlatform>(std::move(machine), echo);
        // The run's calls, watched for the one wine cannot answer alike: a disk's location
        // (its bus number) is read from the device of the same DevInst in a second device
        // set, and wine numbers DevInst per set.
        return std::make_unique<velo::TracingPlatform>(*kept, [&whyNot](std::string_view line) {
            if (whyNot.empty() && line.find(R"("key":"location-info")") != std::string_view::npos)
                whyNot =
                    "a disk's bus number is read from the device of the same DevInst in a "
                    "second device set, and wine numbers DevInst per set";
        });
    };
    const int status = velo::launch(args, argumentText, hooks);
    if (!kept)
        return status;
    if (!whyNot.empty()) {
        std::fprintf(stderr, "velo_served_machine: cannot serve %s: %s\n", argv[2], whyNot.c_str());
        return EXIT_CANNOT_SERVE;
    }
    std::ofstream served(servedPath, std::ios::binary | std::ios::trunc);
    const std::string bytes = servedFile(kept->machine());
    served.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    served.close();
    if (!served) {
        std::fprintf(stderr, "velo_served_machine: cannot write %s\n", servedPath.c_str());
        return 1;
    }
    return status;
}
