// Runs the Windows backend against a live Windows API (wine in the smoke test): the SetupAPI
// size loops and property narrowing on a device registered here with chosen property values,
// device control on named pipes opened plainly and for overlapped I/O, and the pure text
// helpers on the buffers and command lines they must survive. Prints one line per failure
// and "N passed, M failed"; the exit status is 0 only when nothing failed.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/FileIdentity.h"
#include "platform/Platform.h"
#include "platform/win32/SystemDlls.h"
#include "platform/win32/SystemText.h"
#include "platform/win32/Win32Platform.h"

#include <windows.h>
#include <shellapi.h>
#include <winioctl.h>
#include <setupapi.h>

#include "platform/win32/SdkTypes.h"

// Present in setupapi.dll and its import library, missing from the mingw-w64 header.
extern "C" WINBOOL WINAPI SetupDiSetDevicePropertyW(HDEVINFO, PSP_DEVINFO_DATA, const DEVPROPKEY*,
                                                    DEVPROPTYPE, const BYTE*, DWORD, DWORD);

namespace {

int passed = 0;
int failed = 0;

void check(bool condition, const char* what, int line) {
    if (condition) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAIL line %d: %s\n", line, what);
    }
}
#define CHECK(condition) check((condition), #condition, __LINE__)

std::vector<std::uint8_t> utf16(std::wstring_view text) {
    std::vector<std::uint8_t> bytes;
    for (wchar_t c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>((c >> 8) & 0xFF));
    }
    return bytes;
}

// ---- Text that comes back from the system in raw buffers ----

void testPropertyNarrowing() {
    using namespace std::literals;
    // Whatever follows the terminator does not belong to the text.
    CHECK(velo::narrowPropertyText(utf16(L"PCI\\VEN_7A3C&DEV_5016\0XYZ"sv)) ==
          "PCI\\VEN_7A3C&DEV_5016");
    // A value without terminator ends with its bytes.
    CHECK(velo::narrowPropertyText(utf16(L"ABC")) == "ABC");
    // An odd last byte is not half a character.
    auto odd = utf16(L"AB");
    odd.push_back('C');
    CHECK(velo::narrowPropertyText(odd) == "AB");
    CHECK(velo::narrowPropertyText({}).empty());
    // Long texts are cut, not overrun.
    CHECK(velo::narrowPropertyText(utf16(std::wstring(300, L'x'))) == std::string(255, 'x'));
    // Latin-1 characters keep their byte; others cannot be narrowed.
    CHECK(velo::narrowPropertyText(utf16(L"R\u00AE\u4E2D")) == "R\xAE?");
}

void testMultiStringSplit() {
    using namespace std::literals;
    using List = std::vector<std::wstring>;
    CHECK(velo::splitMultiString(utf16(L"SCSI\\DiskNVMe\0GenDisk\0\0"sv)) ==
          (List{L"SCSI\\DiskNVMe", L"GenDisk"}));
    // Missing terminators: the strings held are still returned, nothing beyond the bytes.
    CHECK(velo::splitMultiString(utf16(L"A\0B"sv)) == (List{L"A", L"B"}));
    // The first empty string ends the list.
    CHECK(velo::splitMultiString(utf16(L"A\0\0B\0\0"sv)) == (List{L"A"}));
    CHECK(velo::splitMultiString(utf16(L"\0A\0\0"sv)).empty());
    auto odd = utf16(L"A\0"sv);
    odd.push_back('B');
    CHECK(velo::splitMultiString(odd) == (List{L"A"}));
    CHECK(velo::splitMultiString({}).empty());
}

void testArgumentText() {
    CHECK(velo::argumentTextOf(LR"("C:\Program Files\VELO\velo.exe" /s /log "C:\a b\r.log")") ==
          LR"(/s /log "C:\a b\r.log")");
    CHECK(velo::argumentTextOf(L"velo.exe \t /s") == L"/s");
    CHECK(velo::argumentTextOf(L"velo.exe") == L"");
    CHECK(velo::argumentTextOf(L"velo.exe   ") == L"");
    // A quoted program name ends at its closing quote, blank or not.
    CHECK(velo::argumentTextOf(L"\"velo.exe\"/s") == L"/s");
    // An unquoted name does not treat a quote inside it as an opening one.
    CHECK(velo::argumentTextOf(L"C:\\a\"b /s") == L"/s");
    CHECK(velo::argumentTextOf(L"\"C:\\never closed /s") == L"");
    // The arguments stay as typed, blanks and all.
    CHECK(velo::argumentTextOf(L"velo.exe /log  \"x y\"  ") == L"/log  \"x y\"  ");
    CHECK(velo::argumentTextOf(L"") == L"");

    // The program name that argumentTextOf skips is the one the system's splitting finds.
    for (const wchar_t* line :
         {L"\"C:\\Program Files\\v.exe\" /s", L"v.exe /s /log x", L"\"v.exe\"/s /log x"}) {
        int count = 0;
        wchar_t** argv = CommandLineToArgvW(line, &count);
        CHECK(argv != nullptr && count >= 2 && velo::argumentTextOf(line).rfind(argv[1], 0) == 0);
        if (argv != nullptr)
            LocalFree(argv);
    }

    CHECK(velo::withoutNuls(std::wstring(L"a\0b\0", 4)) == L"ab");
}

// ---- Device information sets, on a device registered for the test ----

constexpr velo::Guid TEST_CLASS{
    0x5e1f7e57, 0x0b1e, 0x4c0d, {0x9a, 0x3e, 0x7e, 0x57, 0x00, 0x00, 0x00, 0x01}};
constexpr velo::Guid TEST_KEYS{
    0x5e1f7e57, 0x0b1e, 0x4c0d, {0x9a, 0x3e, 0x7e, 0x57, 0x00, 0x00, 0x00, 0x02}};
const velo::PropertyKey KEY_SHORT{TEST_KEYS, 2};
const velo::PropertyKey KEY_LONG{TEST_KEYS, 3};
const velo::PropertyKey KEY_NUMBER{TEST_KEYS, 4};
const velo::PropertyKey KEY_EMPTY{TEST_KEYS, 5};
const velo::PropertyKey KEY_LATIN1{TEST_KEYS, 6};
const velo::PropertyKey KEY_UNSET{TEST_KEYS, 7};

const wchar_t* const SHORT_TEXT =
    L"PCI\\VEN_7A3C&DEV_5016&SUBSYS_00017A3C&REV_01\\4&1A2B3C4D&0&0008";
const wchar_t* const LATIN1_TEXT = L"Intel\u00AE Chipset SATA/PCIe RST Premium Controller";
const wchar_t HARDWARE_IDS[] = L"SCSI\\DiskNVMe____VELO_SELFTEST\0SCSI\\Disk\0GenDisk\0";
const wchar_t* const REFERENCE = L"port-with-a-rather-long-reference-string-to-grow-the-path";

void removeTestDevices() {
    GUID sdkClass = velo::toSdkGuid(TEST_CLASS);
    HDEVINFO set = SetupDiGetClassDevsW(&sdkClass, nullptr, nullptr, 0);
    if (set == INVALID_HANDLE_VALUE)
        return;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i)
        SetupDiRemoveDevice(set, &device);
    SetupDiDestroyDeviceInfoList(set);
}

bool setText(HDEVINFO set, SP_DEVINFO_DATA& device, const velo::PropertyKey& key,
             std::wstring_view text) {
    DEVPROPKEY sdkKey = velo::toSdkPropertyKey(key);
    std::wstring value(text);
    return SetupDiSetDevicePropertyW(set, &device, &sdkKey, DEVPROP_TYPE_STRING,
                                     reinterpret_cast<const BYTE*>(value.c_str()),
                                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)),
                                     0) != FALSE;
}

// Registers one device of the test class with chosen properties and one interface.
bool registerTestDevice() {
    GUID sdkClass = velo::toSdkGuid(TEST_CLASS);
    HDEVINFO set = SetupDiCreateDeviceInfoList(&sdkClass, nullptr);
    if (set == INVALID_HANDLE_VALUE)
        return false;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    bool ok = SetupDiCreateDeviceInfoW(set, L"ROOT\\VELOSELFTEST\\0000", &sdkClass, nullptr,
                                       nullptr, 0, &device) &&
              SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr);
    ok = ok && setText(set, device, KEY_SHORT, SHORT_TEXT) &&
         setText(set, device, KEY_LONG, std::wstring(400, L'L')) &&
         setText(set, device, KEY_EMPTY, L"") && setText(set, device, KEY_LATIN1, LATIN1_TEXT);
    DEVPROPKEY numberKey = velo::toSdkPropertyKey(KEY_NUMBER);
    std::uint32_t number = 0x00370036;  // reads as "67" if taken for text
    ok = ok && SetupDiSetDevicePropertyW(set, &device, &numberKey, DEVPROP_TYPE_UINT32,
                                         reinterpret_cast<const BYTE*>(&number), sizeof number, 0);
    ok = ok && SetupDiSetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID,
                                                 reinterpret_cast<const BYTE*>(HARDWARE_IDS),
                                                 sizeof HARDWARE_IDS);
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof interfaceData;
    ok = ok && SetupDiCreateDeviceInterfaceW(set, &device, &sdkClass, REFERENCE, 0, &interfaceData);
    SetupDiDestroyDeviceInfoList(set);
    return ok;
}

// The interface path as the system gives it to a buffer far larger than needed.
std::wstring interfacePathDirectly() {
    GUID sdkClass = velo::toSdkGuid(TEST_CLASS);
    HDEVINFO set = SetupDiGetClassDevsW(&sdkClass, nullptr, nullptr, DIGCF_DEVICEINTERFACE);
    std::wstring path;
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof interfaceData;
    if (set != INVALID_HANDLE_VALUE &&
        SetupDiEnumDeviceInterfaces(set, nullptr, &sdkClass, 0, &interfaceData)) {
        std::vector<std::uint64_t> storage(1024, 0);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, detail, 8192, nullptr, nullptr)) {
            path = detail->DevicePath;
        }
    }
    if (set != INVALID_HANDLE_VALUE)
        SetupDiDestroyDeviceInfoList(set);
    return path;
}

void testDeviceInfoSet(velo::Platform& platform) {
    removeTestDevices();
    bool registered = registerTestDevice();
    CHECK(registered);
    if (!registered)
        return;

    auto set = platform.deviceInfoSet(TEST_CLASS, velo::SET_DEVICE_INTERFACE);
    CHECK(set != nullptr);
    if (set == nullptr)
        return;

    auto devInst = set->deviceAt(0);
    CHECK(devInst.has_value());
    CHECK(!set->deviceAt(1).has_value());

    CHECK(set->textProperty(0, KEY_SHORT) == std::optional<std::wstring>(SHORT_TEXT));
    // 800 bytes of text: the size loop must grow the buffer, the narrowing must cut at 255.
    CHECK(set->textProperty(0, KEY_LONG) == std::optional<std::wstring>(std::wstring(255, L'L')));
    CHECK(set->textProperty(0, KEY_EMPTY) == std::optional<std::wstring>(L""));
    // A character that is not ASCII does not survive narrowing and UTF-8 widening unchanged,
    // but the words around it do.
    auto latin1 = set->textProperty(0, KEY_LATIN1);
    CHECK(latin1.has_value() && latin1->find(L"Intel") == 0 &&
          latin1->find(L"RST Premium Controller") != std::wstring::npos);
    // Values that are no text, and values that are not there, are not read.
    CHECK(!set->textProperty(0, KEY_NUMBER).has_value());
    CHECK(!set->textProperty(0, KEY_UNSET).has_value());
    CHECK(!set->textProperty(1, KEY_SHORT).has_value());

    auto ids = set->hardwareIds(0);
    CHECK(ids == (std::optional<std::vector<std::wstring>>(std::vector<std::wstring>{
                     L"SCSI\\DiskNVMe____VELO_SELFTEST", L"SCSI\\Disk", L"GenDisk"})));
    CHECK(!set->hardwareIds(1).has_value());

    velo::DeviceInterface found;
    CHECK(set->interfaceAt(TEST_CLASS, 0, found) == velo::InterfaceLookup::Found);
    std::wstring expectedPath = interfacePathDirectly();
    CHECK(!expectedPath.empty() && found.devicePath == expectedPath);
    CHECK(devInst.has_value() && found.devInst == *devInst);
    velo::DeviceInterface untouched;
    CHECK(set->interfaceAt(TEST_CLASS, 1, untouched) == velo::InterfaceLookup::Absent);
    CHECK(set->interfaceAt(velo::DISK_INTERFACE_CLASS, 0, untouched) ==
          velo::InterfaceLookup::Absent);

    set.reset();
    removeTestDevices();
}

// ---- Opening devices and sending control requests, on named pipes ----

const wchar_t* const PIPE_NAME = L"velo-backend-test";
const std::wstring PIPE_PATH = std::wstring(L"\\\\.\\pipe\\") + PIPE_NAME;
constexpr std::uint32_t PEEK_HEADER = 16;  // FILE_PIPE_PEEK_BUFFER up to its Data
// Control codes of the named-pipe file system, not in the mingw-w64 headers.
constexpr DWORD FSCTL_PIPE_PEEK =
    CTL_CODE(FILE_DEVICE_NAMED_PIPE, 3, METHOD_BUFFERED, FILE_READ_DATA);
constexpr DWORD FSCTL_PIPE_WAIT =
    CTL_CODE(FILE_DEVICE_NAMED_PIPE, 6, METHOD_BUFFERED, FILE_ANY_ACCESS);

HANDLE makePipeInstance() {
    return CreateNamedPipeW(PIPE_PATH.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT,
                            PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
}

// FILE_PIPE_WAIT_FOR_BUFFER for the test pipe: wait for a free instance up to timeoutMs.
std::vector<std::uint8_t> pipeWaitRequest(std::int64_t timeoutMs, std::uint32_t& inputLength) {
    std::wstring_view name(PIPE_NAME);
    auto nameBytes = static_cast<std::uint32_t>(name.size() * sizeof(wchar_t));
    inputLength = 14 + nameBytes;
    std::vector<std::uint8_t> request(inputLength + 16, 0);
    std::int64_t timeout = -timeoutMs * 10000;  // relative, in 100 ns units
    std::memcpy(request.data(), &timeout, 8);
    std::memcpy(request.data() + 8, &nameBytes, 4);
    request[12] = 1;
    std::memcpy(request.data() + 14, name.data(), nameBytes);
    return request;
}

void testControl(velo::Platform& platform, std::uint32_t flags, const char* mode) {
    std::printf("control on a handle opened %s\n", mode);
    HANDLE server = makePipeInstance();
    CHECK(server != INVALID_HANDLE_VALUE);
    if (server == INVALID_HANDLE_VALUE)
        return;

    auto opened =
        platform.openDevice(PIPE_PATH, velo::ACCESS_READ_WRITE, velo::SHARE_READ_WRITE, flags);
    CHECK(opened.file != nullptr && opened.error == 0);
    if (opened.file == nullptr) {
        CloseHandle(server);
        return;
    }
    DWORD written = 0;
    CHECK(WriteFile(server, "velo", 4, &written, nullptr) && written == 4);

    // Output arrives in the same buffer, and the count returned is what the driver wrote.
    std::vector<std::uint8_t> buffer(64, 0xEE);
    auto peek = opened.file->control(FSCTL_PIPE_PEEK, buffer, 0);
    CHECK(peek.ok && peek.bytesReturned == PEEK_HEADER + 4);
    CHECK(std::memcmp(buffer.data() + PEEK_HEADER, "velo", 4) == 0);
    CHECK(buffer[4] == 4);  // ReadDataAvailable

    // A refused request reports the system's error, not success.
    std::vector<std::uint8_t> small(8, 0);
    auto refused = opened.file->control(FSCTL_PIPE_PEEK, small, 0);
    CHECK(!refused.ok && refused.error != 0 && refused.bytesReturned == 0);

    // An input length beyond the buffer never reaches the driver.
    auto overlong = opened.file->control(FSCTL_PIPE_PEEK, small, 9);
    CHECK(!overlong.ok && overlong.error == ERROR_INVALID_PARAMETER);

    // A request the driver holds pending: waiting for a free instance of the test pipe,
    // whose only instance this client occupies. First it times out...
    auto root = platform.openDevice(L"\\\\.\\pipe\\", GENERIC_READ, velo::SHARE_READ_WRITE, flags);
    CHECK(root.file != nullptr);
    if (root.file != nullptr) {
        std::uint32_t inputLength = 0;
        auto request = pipeWaitRequest(200, inputLength);
        auto timedOut = root.file->control(FSCTL_PIPE_WAIT, request, inputLength);
        CHECK(!timedOut.ok && timedOut.error == ERROR_SEM_TIMEOUT);

        // ...then it completes once another instance is created meanwhile.
        request = pipeWaitRequest(5000, inputLength);
        HANDLE second = INVALID_HANDLE_VALUE;
        std::thread creator([&second] {
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            second = makePipeInstance();
        });
        auto waited = root.file->control(FSCTL_PIPE_WAIT, request, inputLength);
        creator.join();
        CHECK(waited.ok);
        if (second != INVALID_HANDLE_VALUE)
            CloseHandle(second);
    }

    opened.file.reset();
    CloseHandle(server);
}

void testOpenFailures(velo::Platform& platform) {
    auto missing = platform.openDevice(L"\\\\.\\VeloNoSuchDevice", velo::ACCESS_READ_WRITE,
                                       velo::SHARE_READ_WRITE, velo::OPEN_FLAGS_NONE);
    CHECK(missing.file == nullptr && missing.error == velo::SYSTEM_ERROR_FILE_NOT_FOUND);

    // A NUL inside the path would make the system open the shorter path before it.
    HANDLE server = makePipeInstance();
    auto truncated =
        platform.openDevice(PIPE_PATH + std::wstring(1, L'\0') + L"-other", velo::ACCESS_READ_WRITE,
                            velo::SHARE_READ_WRITE, velo::OPEN_FLAGS_NONE);
    CHECK(truncated.file == nullptr && truncated.error != 0);
    if (server != INVALID_HANDLE_VALUE)
        CloseHandle(server);
}

// ---- Clock and files ----

long long secondsOfDay(int hour, int minute, int second) {
    return hour * 3600LL + minute * 60LL + second;
}

void testLocalTime(velo::Platform& platform) {
    SYSTEMTIME before;
    GetLocalTime(&before);
    auto now = platform.localTime();
    CHECK(now.has_value());
    if (!now)
        return;
    SYSTEMTIME after;
    GetLocalTime(&after);
    if (before.wDay != after.wDay)
        return;  // ran across midnight; nothing to compare
    CHECK(now->year == before.wYear && now->month == before.wMonth && now->day == before.wDay);
    long long ours = secondsOfDay(now->hour, now->minute, now->second);
    CHECK(ours >= secondsOfDay(before.wHour, before.wMinute, before.wSecond) &&
          ours <= secondsOfDay(after.wHour, after.wMinute, after.wSecond));
}

void testTextFile(velo::Platform& platform, const std::wstring& folder) {
    std::wstring path = folder + L"\\backend-test.log";
    CHECK(platform.writeTextFile(path, std::string(100, 'x')).ok);
    CHECK(platform.writeTextFile(path, "a\nb\n").ok);
    std::string stored;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        char bytes[256];
        DWORD got = 0;
        if (ReadFile(file, bytes, sizeof bytes, &got, nullptr))
            stored.assign(bytes, got);
        CloseHandle(file);
    }
    CHECK(stored == "a\r\nb\r\n");
    DeleteFileW(path.c_str());
    const velo::FileWriteResult missing =
        platform.writeTextFile(folder + L"\\no-such-folder\\x.log", "x");
    CHECK(!missing.ok && missing.failure == "No such file or directory");
}

// ---- Which file a path names, and the run lock ----

void testFileIdentity(const std::wstring& folder) {
    const std::wstring path = folder + L"\\a long file name.log";
    DeleteFileW(path.c_str());
    velo::OutputClaim claim(path);
    CHECK(claim.created() && claim.identity());
    // Other spellings of the same file: the identity is the file system's, not the text's.
    wchar_t shortName[MAX_PATH] = {};
    const DWORD shortLength = GetShortPathNameW(path.c_str(), shortName, MAX_PATH);
    CHECK(shortLength > 0 && shortLength < MAX_PATH);
    for (const std::wstring& other :
         {L"\\\\?\\" + path, L"\\\\.\\" + path, std::wstring(shortName, shortLength)}) {
        CHECK(velo::existingFileIdentity(other) == claim.identity());
        velo::OutputClaim again(other);
        CHECK(!again.created() && again.identity() == claim.identity());
    }
    claim.removeCreated();
    CHECK(GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES);
    // A file that was there before the claim stays after it.
    velo::Win32Platform().writeTextFile(path, "kept\n");
    velo::OutputClaim existing(path);
    existing.removeCreated();
    CHECK(!existing.created() && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES);
    DeleteFileW(path.c_str());
}

void testRunLock(velo::Win32Platform& platform) {
    velo::RunLockResult first = platform.takeRunLock();
    CHECK(first.outcome == velo::RunLockOutcome::Taken);
    // A mutex is its owning thread's again and again; another thread stands for another run.
    velo::RunLockOutcome other = velo::RunLockOutcome::Failed;
    std::thread([&] { other = velo::Win32Platform().takeRunLock().outcome; }).join();
    CHECK(other == velo::RunLockOutcome::HeldElsewhere);
    first.lock.reset();
    std::thread([&] { other = velo::Win32Platform().takeRunLock().outcome; }).join();
    CHECK(other == velo::RunLockOutcome::Taken);
}

}  // namespace

// Argument: a scratch folder for files.
int wmain(int argc, wchar_t** argv) {
    CHECK(velo::useSystemDllsOnly());
    std::wstring folder = argc > 1 ? argv[1] : L".";
    velo::Win32Platform platform;
    CHECK(platform.startUp() == velo::StartupStatus::Ok);

    testPropertyNarrowing();
    testMultiStringSplit();
    testArgumentText();
    testDeviceInfoSet(platform);
    testControl(platform, velo::OPEN_FLAGS_NONE, "for plain I/O");
    testControl(platform, velo::OPEN_FLAGS_NORMAL_OVERLAPPED, "for overlapped I/O");
    testOpenFailures(platform);
    testLocalTime(platform);
    testTextFile(platform, folder);
    testFileIdentity(folder);
    testRunLock(platform);

    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
