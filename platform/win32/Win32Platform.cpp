#include "platform/win32/Win32Platform.h"

#include <algorithm>
#include <cstddef>
#include <ctime>
#include <new>
#include <string>
#include <vector>

#include "platform/LocalFiles.h"
#include "platform/SystemFacts.h"
#include "platform/SystemSha256.h"
#include "platform/win32/SystemText.h"

#include <windows.h>
#include <setupapi.h>

#include "platform/win32/SdkTypes.h"

namespace velo {

namespace {

// A size that the system reports for one property value is believed up to this many bytes;
// anything larger is taken as a broken answer rather than allocated.
constexpr DWORD VALUE_SIZE_LIMIT = 0x100000;
// How often a value may grow between the size query and the read before we give up on it.
constexpr int SIZE_ATTEMPTS = 8;
// WriteFile takes 32-bit lengths; output is handed over in pieces of at most this size.
constexpr std::size_t WRITE_PIECE = 0x100000;

// Reads a value whose size is learnt by asking: a first call with no buffer reports the size;
// while a call answers ERROR_INSUFFICIENT_BUFFER, a zero-filled buffer of twice the reported
// size is offered. Any other error, or a size that cannot be right, gives nothing. The bytes
// returned are those the last call reports it wrote, never more than the buffer.
template <typename Call>  // BOOL call(BYTE* buffer, DWORD size, DWORD* required)
std::optional<std::vector<std::uint8_t>> readSizedValue(Call call) {
    try {
        DWORD required = 0;
        BOOL ok = call(nullptr, 0, &required);
        DWORD error = ok ? ERROR_SUCCESS : GetLastError();
        std::vector<std::uint8_t> buffer;
        for (int attempt = 0; !ok && error == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
            if (attempt == SIZE_ATTEMPTS || required == 0 || required > VALUE_SIZE_LIMIT) {
                return std::nullopt;
            }
            DWORD size = required * 2;
            buffer.assign(size, 0);
            required = 0;
            ok = call(buffer.data(), size, &required);
            error = ok ? ERROR_SUCCESS : GetLastError();
        }
        // A value that was never fetched into a buffer of ours was not read, even when a call
        // claimed success: there is nothing to look at.
        if (!ok || buffer.empty())
            return std::nullopt;
        if (required != 0 && required < buffer.size())
            buffer.resize(required);
        return buffer;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

std::optional<std::wstring> widenUtf8(const std::string& text) {
    if (text.empty())
        return std::wstring();
    int textLength = static_cast<int>(text.size());
    int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), textLength, nullptr, 0);
    if (length <= 0)
        return std::nullopt;
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    if (MultiByteToWideChar(CP_UTF8, 0, text.data(), textLength, wide.data(), length) != length) {
        return std::nullopt;
    }
    return wide;
}

// Owners of what the system hands out, taken at once so that no path, an allocation that throws
// included, leaves a handle or a device information list open.
struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

struct DeviceInfoListDestroyer {
    void operator()(HDEVINFO set) const { SetupDiDestroyDeviceInfoList(set); }
};
using UniqueDeviceInfoList = std::unique_ptr<void, DeviceInfoListDestroyer>;

class Win32DeviceInfoSet final : public DeviceInfoSet {
public:
    explicit Win32DeviceInfoSet(UniqueDeviceInfoList set)
        : owned_(std::move(set)), set_(owned_.get()) {}

    std::optional<std::uint32_t> deviceAt(std::uint32_t index) override {
        SP_DEVINFO_DATA device;
        if (!deviceData(index, device))
            return std::nullopt;
        return device.DevInst;
    }

    // Property texts are narrowed to 8-bit characters and widened again as UTF-8, so an ASCII
    // text (what instance ids, descriptions and locations are) comes back unchanged.
    std::optional<std::wstring> textProperty(std::uint32_t index, const PropertyKey& key) override {
        SP_DEVINFO_DATA device;
        if (!deviceData(index, device))
            return std::nullopt;
        DEVPROPKEY sdkKey = toSdkPropertyKey(key);
        DEVPROPTYPE type = DEVPROP_TYPE_EMPTY;
        auto value = readSizedValue([&](BYTE* buffer, DWORD size, DWORD* required) {
            return SetupDiGetDevicePropertyW(set_, &device, &sdkKey, &type, buffer, size, required,
                                             0);
        });
        if (!value || type != DEVPROP_TYPE_STRING)
            return std::nullopt;
        return widenUtf8(narrowPropertyText(*value));
    }

    std::optional<std::vector<std::wstring>> hardwareIds(std::uint32_t index) override {
        SP_DEVINFO_DATA device;
        if (!deviceData(index, device))
            return std::nullopt;
        DWORD type = REG_NONE;
        auto value = readSizedValue([&](BYTE* buffer, DWORD size, DWORD* required) {
            return SetupDiGetDeviceRegistryPropertyW(set_, &device, SPDRP_HARDWAREID, &type, buffer,
                                                     size, required);
        });
        if (!value || (type != REG_MULTI_SZ && type != REG_SZ))
            return std::nullopt;
        return splitMultiString(*value);
    }

    InterfaceLookup interfaceAt(const Guid& interfaceClass, std::uint32_t index,
                                DeviceInterface& found) override {
        GUID sdkClass = toSdkGuid(interfaceClass);
        SP_DEVICE_INTERFACE_DATA interfaceData{};
        interfaceData.cbSize = sizeof interfaceData;
        if (!SetupDiEnumDeviceInterfaces(set_, nullptr, &sdkClass, index, &interfaceData)) {
            return InterfaceLookup::Absent;
        }
        try {
            return readInterfaceDetail(interfaceData, found);
        } catch (const std::bad_alloc&) {
            return InterfaceLookup::DetailFailed;
        }
    }

private:
    bool deviceData(std::uint32_t index, SP_DEVINFO_DATA& device) const {
        device = {};
        device.cbSize = sizeof device;
        return SetupDiEnumDeviceInfo(set_, index, &device) != FALSE;
    }

    bool memberOf(DWORD devInst, std::uint32_t& member) const {
        SP_DEVINFO_DATA device;
        for (std::uint32_t index = 0; deviceData(index, device); ++index) {
            if (device.DevInst == devInst) {
                member = index;
                return true;
            }
        }
        return false;
    }

    InterfaceLookup readInterfaceDetail(SP_DEVICE_INTERFACE_DATA& interfaceData,
                                        DeviceInterface& found) const {
        constexpr std::size_t pathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
        DWORD required = 0;
        if (SetupDiGetDeviceInterfaceDetailW(set_, &interfaceData, nullptr, 0, &required,
                                             nullptr) ||
            GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            return InterfaceLookup::DetailFailed;
        }
        for (int attempt = 0; attempt < SIZE_ATTEMPTS; ++attempt) {
            // The buffer must at least hold the structure whose cbSize we set.
            if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) ||
                required > VALUE_SIZE_LIMIT) {
                return InterfaceLookup::DetailFailed;
            }
            // Whole 8-byte words keep the structure aligned; only `required` bytes are offered.
            std::vector<std::uint64_t> storage((required + 7) / 8, 0);
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
            SP_DEVINFO_DATA device{};
            device.cbSize = sizeof device;
            DWORD size = required;
            if (SetupDiGetDeviceInterfaceDetailW(set_, &interfaceData, detail, size, &required,
                                                 &device)) {
                // The path is read within the bytes offered, whether or not it ends in NUL.
                const auto* path = reinterpret_cast<const WCHAR*>(
                    reinterpret_cast<const std::uint8_t*>(storage.data()) + pathOffset);
                const WCHAR* end = path + (size - pathOffset) / sizeof(WCHAR);
                found.devicePath.assign(path, std::find(path, end, L'\0'));
                found.devInst = device.DevInst;
                // The detail names the interface's device; properties are read by member index.
                if (!memberOf(device.DevInst, found.member))
                    return InterfaceLookup::DetailFailed;
                return InterfaceLookup::Found;
            }
            if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
                return InterfaceLookup::DetailFailed;
        }
        return InterfaceLookup::DetailFailed;
    }

    UniqueDeviceInfoList owned_;
    HDEVINFO set_;
};

ControlResult controlFailure(DWORD error) {
    return ControlResult{false, 0, error};
}

class Win32DeviceFile final : public DeviceFile {
public:
    Win32DeviceFile(UniqueHandle handle, bool overlapped)
        : owned_(std::move(handle)), handle_(owned_.get()), overlapped_(overlapped) {}

    ControlResult control(std::uint32_t controlCode, std::span<std::uint8_t> buffer,
                          std::uint32_t inputLength, std::uint32_t outputLength) override {
        // The driver reads inputLength bytes from the buffer and writes up to outputLength into
        // it; neither must lead it past its end.
        if (inputLength > buffer.size() || outputLength > buffer.size()) {
            return controlFailure(ERROR_INVALID_PARAMETER);
        }
        void* data = buffer.empty() ? nullptr : buffer.data();
        DWORD returned = 0;
        if (!overlapped_) {
            if (!DeviceIoControl(handle_, controlCode, data, inputLength, data, outputLength,
                                 &returned, nullptr)) {
                return controlFailure(GetLastError());
            }
        } else {
            // A handle opened for overlapped I/O completes asynchronously; wait here so that
            // the request is finished, and the buffer filled, when control returns.
            UniqueHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
            if (!done)
                return controlFailure(GetLastError());
            OVERLAPPED pending{};
            pending.hEvent = done.get();
            if (!DeviceIoControl(handle_, controlCode, data, inputLength, data, outputLength,
                                 nullptr, &pending)) {
                DWORD error = GetLastError();
                if (error != ERROR_IO_PENDING)
                    return controlFailure(error);
            }
            if (!GetOverlappedResult(handle_, &pending, &returned, TRUE)) {
                return controlFailure(GetLastError());
            }
        }
        return ControlResult{true, std::min<std::uint32_t>(returned, outputLength), 0};
    }

private:
    UniqueHandle owned_;
    HANDLE handle_;
    bool overlapped_;
};

// Where an application framework would be set up for the program's module. VELO has none,
// so there is nothing to prepare and the step always succeeds.
bool startApplicationLayer(HMODULE /*module*/) {
    return true;
}

// The machine-wide lock: a named mutex in the Global namespace, so that runs in every session
// (an administrator's console, a deployment service in session 0) see one another.
constexpr wchar_t RUN_LOCK_NAME[] = L"Global\\VELO-QX7B2-firmware-update";

class NamedMutexLock : public RunLock {
public:
    explicit NamedMutexLock(HANDLE mutex) : mutex_(mutex) {}
    ~NamedMutexLock() override {
        ReleaseMutex(mutex_);
        CloseHandle(mutex_);
    }
    NamedMutexLock(const NamedMutexLock&) = delete;
    NamedMutexLock& operator=(const NamedMutexLock&) = delete;

private:
    HANDLE mutex_;
};

}  // namespace

RunLockResult Win32Platform::takeRunLock() {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, RUN_LOCK_NAME);
    if (mutex == nullptr) {
        const DWORD error = GetLastError();
        // The mutex exists but was made by another account (a deployment service, say) whose
        // run is under way.
        if (error == ERROR_ACCESS_DENIED)
            return {RunLockOutcome::HeldElsewhere, nullptr, 0};
        return {RunLockOutcome::Failed, nullptr, error};
    }
    switch (WaitForSingleObject(mutex, 0)) {
        case WAIT_OBJECT_0:
        case WAIT_ABANDONED:  // a run that ended without releasing it: the drives are free now
            return {RunLockOutcome::Taken, std::make_unique<NamedMutexLock>(mutex), 0};
        case WAIT_TIMEOUT:
            CloseHandle(mutex);
            return {RunLockOutcome::HeldElsewhere, nullptr, 0};
        default: {
            const DWORD error = GetLastError();
            CloseHandle(mutex);
            return {RunLockOutcome::Failed, nullptr, error};
        }
    }
}

StartupStatus Win32Platform::startUp() {
    HMODULE module = GetModuleHandleW(nullptr);
    if (module == nullptr)
        return StartupStatus::ModuleHandleFailed;
    return startApplicationLayer(module) ? StartupStatus::Ok : StartupStatus::FrameworkFailed;
}

std::unique_ptr<DeviceInfoSet> Win32Platform::deviceInfoSet(const Guid& interfaceClass,
                                                            std::uint32_t flags) {
    GUID sdkClass = toSdkGuid(interfaceClass);
    HDEVINFO set = SetupDiGetClassDevsW(&sdkClass, nullptr, nullptr, flags);
    if (set == INVALID_HANDLE_VALUE)
        return nullptr;
    return std::make_unique<Win32DeviceInfoSet>(UniqueDeviceInfoList(set));
}

OpenResult Win32Platform::openDevice(const std::wstring& path, std::uint32_t access,
                                     std::uint32_t share, std::uint32_t flags) {
    // The system reads the path up to its first NUL; a path holding one would open something
    // other than what was asked for.
    if (path.find(L'\0') != std::wstring::npos)
        return OpenResult{nullptr, ERROR_INVALID_NAME};
    HANDLE handle =
        CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return OpenResult{nullptr, GetLastError()};
    UniqueHandle owned(handle);
    bool overlapped = (flags & FILE_FLAG_OVERLAPPED) != 0;
    return OpenResult{std::make_unique<Win32DeviceFile>(std::move(owned), overlapped), 0};
}

void Win32Platform::showMessage(const std::wstring& caption, const std::wstring& text) {
    // MessageBoxW ends its texts at the first NUL; a NUL inside a drive's text must not hide
    // the lines after it.
    MessageBoxW(nullptr, withoutNuls(text).c_str(), withoutNuls(caption).c_str(), MB_OK);
}

std::optional<LocalTime> Win32Platform::localTime() {
    std::time_t now = std::time(nullptr);
    if (now == static_cast<std::time_t>(-1))
        return std::nullopt;
    std::tm calendar{};
    if (localtime_s(&calendar, &now) != 0)
        return std::nullopt;
    return LocalTime{calendar.tm_year + 1900, calendar.tm_mon + 1, calendar.tm_mday,
                     calendar.tm_hour,        calendar.tm_min,     calendar.tm_sec};
}

std::optional<UniversalTime> Win32Platform::universalTime() {
    return systemUniversalTime();
}

std::string Win32Platform::computerName() {
    return systemComputerName();
}

void Win32Platform::writeOutput(std::string_view bytes) {
    writeStandardStream(StandardStream::Output, bytes);
}

void Win32Platform::writeErrorOutput(std::string_view bytes) {
    writeStandardStream(StandardStream::Error, bytes);
}

FileWriteResult Win32Platform::writeTextFile(const std::wstring& path, std::string_view text) {
    return writeTextFileToDisk(path, text);
}

std::optional<Sha256Digest> Win32Platform::sha256(std::span<const std::uint8_t> bytes) {
    return systemSha256(bytes);
}

void writeStandardStream(StandardStream stream, std::string_view bytes) {
    HANDLE handle =
        GetStdHandle(stream == StandardStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return;
    while (!bytes.empty()) {
        DWORD piece = static_cast<DWORD>(std::min(bytes.size(), WRITE_PIECE));
        DWORD written = 0;
        if (!WriteFile(handle, bytes.data(), piece, &written, nullptr) || written == 0)
            return;
        bytes.remove_prefix(std::min<std::size_t>(written, piece));
    }
}

}  // namespace velo
