#include "core/UpdateLines.h"

#include "platform/Console.h"
#include "wire/SrbIoControl.h"

namespace velo {

namespace {

constexpr std::wstring_view RULE = L"---------------------------------------------";

}  // namespace

void printTargetBanner(Io& io, const DiskRecord& disk, BannerDriver driver,
                       std::wstring_view updatedRevision) {
    auto& out = io.console.wide;
    out << lineEnd;
    out << RULE << lineEnd;
    out << L" Firmware Download | Target Disk Information " << lineEnd;
    out << RULE << lineEnd;
    if (driver == BannerDriver::Rst) {
        out << L" Driver : IRST Driver" << lineEnd;
        out << L" Raid : " << (disk.driverKind == DriverKind::RstRaid ? L"Yes" : L"No") << lineEnd;
    } else {
        out << L" Driver : VROC Driver" << lineEnd;
    }
    out << L" Model Number : " << disk.modelNumber << lineEnd;
    out << L" Serial Number : " << disk.serialNumber << lineEnd;
    out << L" Current FW : " << disk.firmwareRevision << lineEnd;
    out << L" Updated FW : " << updatedRevision << lineEnd;
    out << RULE << lineEnd;
}

void printHandleError(Io& io, std::uint32_t error) {
    io.console.narrow << "  [ERROR] Failed to get disk handle: 0x" << Hex{error} << lineEnd
                      << lineEnd;
}

UpdateFailure downloadRefused(Io& io, const ControlResult& result, std::uint32_t status,
                              StatusFailure statusFailed) {
    if (!result.ok) {
        io.console.printWide(L"  [ERROR] Firmware download IOCTL failed: 0x%X\n", result.error);
        return callFailed(FailedStep::Download, result.error);
    }
    io.console.printWide(L"  [ERROR] Firmware download failed: srbControl->ReturnCode %d\n",
                         static_cast<int>(status));
    return statusFailed(FailedStep::Download, status);
}

UpdateOutcome finishDownload(Io& io, std::optional<UpdateFailure> refused) {
    io.console.narrow << lineEnd;
    if (refused) {
        io.console.narrow << "  [FAIL] Firmware download failed." << lineEnd;
        return {1, std::move(refused)};
    }
    io.console.narrow << "  [PASS] Firmware download succeeded." << lineEnd;
    return {0, std::nullopt};
}

void printActivateCallFailed(Io& io, std::uint32_t error) {
    io.console.printWide(L"  [ERROR] Firmware activate IOCTL failed: 0x%X\n", error);
}

void printUnexpectedActivateStatus(Io& io, std::uint32_t status) {
    io.console.printWide(
        L"  [ERROR] Firmware activate failed: unexpected error, srbControl->ReturnCode %d\n\n",
        static_cast<int>(status));
}

}  // namespace velo
