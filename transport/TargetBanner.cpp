#include "transport/TargetBanner.h"

#include "platform/Console.h"

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

}  // namespace velo
