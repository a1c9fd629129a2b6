#include "core/UpdateFailure.h"

#include <cstdio>

namespace velo {

namespace {

std::string hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

// The status field of an NVMe completion (Status Code Type in bits 8 to 10, Status Code in
// bits 0 to 7), for the codes a firmware download or commit can end with.
std::string nvmeStatusMeaning(std::uint32_t status) {
    const std::uint32_t type = (status >> 8) & 0x7;
    const std::uint32_t code = status & 0xFF;
    if (type == 0) {
        switch (code) {
            case 0x01:
                return "invalid command opcode";
            case 0x02:
                return "invalid field in command";
            case 0x04:
                return "data transfer error";
            case 0x06:
                return "internal error";
            case 0x07:
                return "command abort requested";
        }
        return "generic command status " + hex(code);
    }
    if (type == 1) {
        switch (code) {
            case 0x06:
                return "invalid firmware slot";
            case 0x07:
                return "invalid firmware image";
            case 0x0B:
                return "firmware activation requires a conventional reset";
            case 0x10:
                return "firmware activation requires an NVM subsystem reset";
            case 0x11:
                return "firmware activation requires a controller level reset";
            case 0x12:
                return "firmware activation requires maximum time violation";
            case 0x13:
                return "firmware activation prohibited";
            case 0x14:
                return "overlapping range";
        }
        return "command specific status " + hex(code);
    }
    return "status code type " + std::to_string(type) + ", status code " + hex(code);
}

UpdateFailure statusFailed(FailedStep step, StatusSource source, std::uint32_t status,
                           std::string meaning) {
    UpdateFailure failure;
    failure.step = step;
    failure.source = source;
    failure.status = status;
    failure.meaning = std::move(meaning);
    return failure;
}

}  // namespace

std::string failedStepName(FailedStep step) {
    switch (step) {
        case FailedStep::Image:
            return "image";
        case FailedStep::Revision:
            return "revision";
        case FailedStep::Open:
            return "open";
        case FailedStep::GetInfo:
            return "get-info";
        case FailedStep::Download:
            return "download";
        case FailedStep::Activate:
            return "activate";
    }
    return "unknown";
}

std::string statusSourceName(StatusSource source) {
    switch (source) {
        case StatusSource::None:
            return "";
        case StatusSource::Firmware:
            return "firmware";
        case StatusSource::Driver:
            return "driver";
        case StatusSource::Nvme:
            return "nvme";
        case StatusSource::Slot:
            return "slot";
    }
    return "";
}

std::string firmwareStatusMeaning(std::uint32_t status) {
    switch (status) {
        case 0x00:
            return "success";
        case 0x01:
            return "error";
        case 0x02:
            return "illegal request";
        case 0x03:
            return "invalid parameter";
        case 0x04:
            return "input buffer too big";
        case 0x05:
            return "output buffer too small";
        case 0x06:
            return "invalid slot";
        case 0x07:
            return "invalid image";
        case 0x10:
            return "controller error";
        case 0x20:
            return "power cycle required";
        case 0x40:
            return "device error";
    }
    return "unknown status";
}

std::string describeFailure(const UpdateFailure& failure) {
    std::string text = failedStepName(failure.step);
    if (failure.step == FailedStep::Download && failure.chunks != 0) {
        text += " chunk " + std::to_string(failure.chunk) + " of " + std::to_string(failure.chunks);
    }
    text += ": ";
    if (failure.systemError) {
        return text + "call failed with system error " + hex(*failure.systemError);
    }
    switch (failure.source) {
        case StatusSource::Firmware:
            return text + "firmware status " + std::to_string(failure.status) + ", " +
                   failure.meaning;
        case StatusSource::Driver:
            return text + "driver status " + std::to_string(failure.status) + ", " +
                   failure.meaning;
        case StatusSource::Nvme:
            return text + "NVMe status " + hex(failure.status) + ", " + failure.meaning;
        case StatusSource::Slot:
        case StatusSource::None:
            break;
    }
    return text + failure.meaning;
}

UpdateFailure callFailed(FailedStep step, std::uint32_t systemError) {
    UpdateFailure failure;
    failure.step = step;
    failure.systemError = systemError;
    failure.meaning = "system error " + hex(systemError);
    return failure;
}

UpdateFailure firmwareStatusFailed(FailedStep step, std::uint32_t status) {
    return statusFailed(step, StatusSource::Firmware, status, firmwareStatusMeaning(status));
}

UpdateFailure driverStatusFailed(FailedStep step, std::uint32_t status, std::string meaning) {
    return statusFailed(step, StatusSource::Driver, status, std::move(meaning));
}

UpdateFailure nvmeStatusFailed(FailedStep step, std::uint32_t status) {
    return statusFailed(step, StatusSource::Nvme, status, nvmeStatusMeaning(status));
}

UpdateFailure inChunk(UpdateFailure failure, std::size_t index, std::size_t chunks) {
    failure.chunk = static_cast<std::uint32_t>(index + 1);
    failure.chunks = static_cast<std::uint32_t>(chunks);
    return failure;
}

}  // namespace velo
