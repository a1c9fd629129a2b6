#include "platform/SystemFacts.h"
#include "platform/Text.h"

#include <windows.h>

namespace velo {

std::string systemComputerName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &length) || length > MAX_COMPUTERNAME_LENGTH)
        return {};
    return toUtf8(std::wstring_view(name, length));
}

}  // namespace velo
