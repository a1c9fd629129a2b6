// VELO's identifiers in the shapes the Windows API takes. Include after windows.h.
#pragma once

#include <windows.h>
#include <devpropdef.h>

#include "platform/Platform.h"

namespace velo {

inline GUID toSdkGuid(const Guid& guid) {
    GUID sdk{};
    sdk.Data1 = guid.data1;
    sdk.Data2 = guid.data2;
    sdk.Data3 = guid.data3;
    for (int i = 0; i < 8; ++i)
        sdk.Data4[i] = guid.data4[i];
    return sdk;
}

inline DEVPROPKEY toSdkPropertyKey(const PropertyKey& key) {
    DEVPROPKEY sdk{};
    sdk.fmtid = toSdkGuid(key.fmtid);
    sdk.pid = key.pid;
    return sdk;
}

}  // namespace velo
