// What the simulated drivers share: little-endian access to request bytes, the shape of their
// answers, and how a due request fault changes an answer.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/Platform.h"
#include "sim/Machine.h"

namespace velo::sim::driver {

// SRB_IO_CONTROL, the header of every IOCTL_SCSI_MINIPORT request.
constexpr std::uint32_t SRB_HEADER_LENGTH_AT = 0;
constexpr std::uint32_t SRB_SIGNATURE_AT = 4;
constexpr std::uint32_t SRB_CONTROL_CODE_AT = 16;
constexpr std::uint32_t SRB_RETURN_CODE_AT = 20;
constexpr std::uint32_t SRB_LENGTH_AT = 24;
constexpr std::uint32_t SRB_HEADER_SIZE = 28;

// FIRMWARE_REQUEST_BLOCK flags.
constexpr std::uint32_t FLAG_CONTROLLER = 0x1;
constexpr std::uint32_t FLAG_LAST_SEGMENT = 0x2;
constexpr std::uint32_t FLAG_FIRST_SEGMENT = 0x4;
constexpr std::uint32_t FLAG_SWITCH_TO_EXISTING = 0x80000000;
constexpr std::uint32_t KNOWN_FLAGS =
    FLAG_CONTROLLER | FLAG_LAST_SEGMENT | FLAG_FIRST_SEGMENT | FLAG_SWITCH_TO_EXISTING;

inline std::uint32_t get32(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 |
           static_cast<std::uint32_t>(b[at + 3]) << 24;
}

inline std::uint64_t get64(std::span<const std::uint8_t> b, std::size_t at) {
    return std::uint64_t{get32(b, at)} | std::uint64_t{get32(b, at + 4)} << 32;
}

inline void put32(std::span<std::uint8_t> b, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

inline std::string number(std::uint64_t value) {
    return std::to_string(value);
}

// The call fails with a system error; the buffer is left alone.
inline ControlResult fail(RequestRecord& record, std::uint32_t error, std::string note) {
    record.note = std::move(note);
    return {false, 0, error};
}

inline ControlResult succeed(std::uint32_t bytesReturned) {
    return {true, bytesReturned, 0};
}

// The port checks the SRB_IO_CONTROL envelope before any miniport sees the request. A broken
// one fails the call (the answer is returned); otherwise extent is 28 + Length. Without
// extentInOutput, 28 + Length need only fit the input: the miniport then judges the output
// against what the request asks back.
inline std::optional<ControlResult> checkEnvelope(std::span<const std::uint8_t> buffer,
                                                  std::uint32_t inputLength,
                                                  std::uint32_t outputLength, RequestRecord& record,
                                                  std::uint64_t& extent,
                                                  bool extentInOutput = true) {
    if (inputLength < SRB_HEADER_SIZE || outputLength < SRB_HEADER_SIZE) {
        return fail(record, SYSTEM_ERROR_INSUFFICIENT_BUFFER,
                    "buffers of " + number(inputLength) + "/" + number(outputLength) +
                        " bytes cannot hold SRB_IO_CONTROL");
    }
    const std::uint32_t headerLength = get32(buffer, SRB_HEADER_LENGTH_AT);
    if (headerLength != SRB_HEADER_SIZE) {
        return fail(record, SYSTEM_ERROR_REVISION_MISMATCH,
                    "HeaderLength " + number(headerLength) + " is not 28");
    }
    extent = std::uint64_t{SRB_HEADER_SIZE} + get32(buffer, SRB_LENGTH_AT);
    if (extent > inputLength || (extentInOutput && extent > outputLength)) {
        return fail(record, SYSTEM_ERROR_INSUFFICIENT_BUFFER,
                    "28 + Length = " + number(extent) + " exceeds the input (" +
                        number(inputLength) + ") or output (" + number(outputLength) + ") length");
    }
    return std::nullopt;
}

// A fault that fails the call.
inline const RequestFault* errorFault(const RequestFault* fault) {
    return fault && fault->error ? fault : nullptr;
}

// The call fails as the fault says.
inline ControlResult failByFault(RequestRecord& record, const RequestFault& fault) {
    record.faultInjected = true;
    return fail(record, *fault.error, "fault switch");
}

// A fault whose status is answered instead of carrying the request out.
inline const RequestFault* statusInstead(const RequestFault* fault) {
    return fault && fault->status && !fault->performed ? fault : nullptr;
}

// A fault whose status is answered after the request was carried out.
inline const RequestFault* statusAfter(const RequestFault* fault) {
    return fault && fault->status && fault->performed ? fault : nullptr;
}

// How an activation carried out under a fault's status takes effect: 0x20 leaves the image
// pending until the next power cycle, 0 runs it at once, any other status leaves it to the
// drive's own setting.
inline std::optional<Activation> activationUnder(const RequestFault* fault) {
    if (!statusAfter(fault))
        return std::nullopt;
    if (*fault->status == FIRMWARE_STATUS_POWER_CYCLE_REQUIRED)
        return Activation::Reset;
    if (*fault->status == FIRMWARE_STATUS_SUCCESS)
        return Activation::Immediate;
    return std::nullopt;
}

// The note of a request answered with a fault's status after the driver's own answer.
inline std::string performedNote(std::uint32_t own, const std::string& why) {
    return "fault switch; the driver's own answer was " + number(own) +
           (why.empty() ? "" : " (" + why + ")");
}

}  // namespace velo::sim::driver
