// Reading a device's properties as the enumerators of every stack do.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Platform.h"

namespace velo {

// Reads one text property of the device at this index; text is unchanged when it fails.
inline bool readDeviceTextProperty(DeviceInfoSet& deviceInfoSet, std::uint32_t index,
                                   const PropertyKey& propertyKey, std::wstring& text) {
    auto value = deviceInfoSet.textProperty(index, propertyKey);
    if (!value)
        return false;
    text = std::move(*value);
    return true;
}

}  // namespace velo
