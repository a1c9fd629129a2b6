// The SRB_IO_CONTROL header that starts every IOCTL_SCSI_MINIPORT request, and the control
// codes of the Windows storage stack that VELO sends.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/Platform.h"
#include "wire/ByteView.h"

namespace velo::srb {

inline constexpr std::uint32_t IOCTL_SCSI_MINIPORT = 0x0004D008;
inline constexpr std::uint32_t IOCTL_STORAGE_GET_DEVICE_NUMBER = 0x002D1080;
inline constexpr std::uint32_t IOCTL_STORAGE_QUERY_PROPERTY = 0x002D1400;

// Offsets within the 28-byte header.
inline constexpr std::size_t HEADER_LENGTH = 0;
inline constexpr std::size_t SIGNATURE = 4;
inline constexpr std::size_t SIGNATURE_SIZE = 8;
inline constexpr std::size_t TIMEOUT = 12;
inline constexpr std::size_t CONTROL_CODE = 16;
inline constexpr std::size_t RETURN_CODE = 20;
inline constexpr std::size_t LENGTH = 24;
inline constexpr std::size_t SIZE = 28;

// Fills the header of a request that occupies the whole buffer.
inline void putHeader(ByteView request, std::string_view signature, std::uint32_t timeoutSeconds,
                      std::uint32_t controlCode) {
    request.putU32(HEADER_LENGTH, static_cast<std::uint32_t>(SIZE));
    request.putText(SIGNATURE, signature.substr(0, SIGNATURE_SIZE));
    request.putU32(TIMEOUT, timeoutSeconds);
    request.putU32(CONTROL_CODE, controlCode);
    request.putU32(RETURN_CODE, 0);
    request.putU32(LENGTH, static_cast<std::uint32_t>(request.size() - SIZE));
}

// Sends one IOCTL_SCSI_MINIPORT request whose buffer goes in and comes back whole.
inline ControlResult sendWhole(DeviceFile& device, std::span<std::uint8_t> buffer) {
    return device.control(IOCTL_SCSI_MINIPORT, buffer, static_cast<std::uint32_t>(buffer.size()));
}

inline std::uint32_t returnCode(const ByteView& reply) {
    return reply.u32(RETURN_CODE);
}

}  // namespace velo::srb
