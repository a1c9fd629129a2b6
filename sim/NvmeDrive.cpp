#include "sim/NvmeDrive.h"

#include <algorithm>
#include <mutex>

namespace velo::sim {

namespace {

using Bytes = std::vector<std::uint8_t>;

// The staging area grows by at least this much: the size of a firmware image.
constexpr std::size_t STAGING_STEP = 2 * 1024 * 1024;

// The image a slot takes: the same bytes as a slot of any drive already holds are shared with
// it, so that the memory of a run does not grow with the number of drives updated.
std::shared_ptr<const Bytes> shareImage(Bytes&& bytes) {
    static std::mutex lock;
    static std::vector<std::weak_ptr<const Bytes>> held;
    const std::lock_guard<std::mutex> guard(lock);
    std::erase_if(held, [](const std::weak_ptr<const Bytes>& image) { return image.expired(); });
    for (const std::weak_ptr<const Bytes>& candidate : held) {
        if (auto image = candidate.lock(); image && *image == bytes)
            return image;
    }
    auto image = std::make_shared<const Bytes>(std::move(bytes));
    held.push_back(image);
    return image;
}

void putLe(std::span<std::uint8_t> out, std::size_t at, std::uint64_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) {
        out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

}  // namespace

NvmeDrive::NvmeDrive(DriveSetup setup) : state_(std::move(setup)), pending_(state_.pendingSlot) {}

std::array<std::uint8_t, IDENTIFY_SIZE> NvmeDrive::identifyController() const {
    std::array<std::uint8_t, IDENTIFY_SIZE> data{};
    putLe(data, 0, state_.vendorId, 2);  // VID
    putLe(data, 2, state_.vendorId, 2);  // SSVID
    std::copy(state_.serial.begin(), state_.serial.end(), data.begin() + 4);
    std::copy(state_.model.begin(), state_.model.end(), data.begin() + 24);
    std::copy(state_.runningRevision.begin(), state_.runningRevision.end(), data.begin() + 64);
    data[77] = 5;  // MDTS: 2^5 pages of 4 KiB, 128 KiB per transfer
    putLe(data, 80,
          (static_cast<std::uint32_t>(state_.versionMajor) << 16) |
              (static_cast<std::uint32_t>(state_.versionMinor) << 8),
          4);
    // OACS bit 2: Firmware Commit and Firmware Image Download are supported.
    putLe(data, 256, state_.upgradeSupport ? 0x4 : 0x0, 2);
    // FRMW: bit 0 slot 1 read-only, bits 3..1 number of slots, bit 4 activation without reset.
    std::uint8_t frmw =
        static_cast<std::uint8_t>((std::min<std::size_t>(state_.slots.size(), 7)) << 1);
    if (const FirmwareSlot* first = slot(1); first && first->readOnly)
        frmw |= 0x1;
    if (state_.activation == Activation::Immediate)
        frmw |= 0x10;
    data[260] = frmw;
    data[319] = state_.fwug;
    return data;
}

std::array<std::uint8_t, SLOT_LOG_SIZE> NvmeDrive::firmwareSlotLog() const {
    std::array<std::uint8_t, SLOT_LOG_SIZE> log{};
    log[0] =
        static_cast<std::uint8_t>((state_.activeSlot & 0x7) | (pending_.value_or(0) & 0x7) << 4);
    for (const FirmwareSlot& held : state_.slots) {
        if (held.number >= 1 && held.number <= 7) {
            std::copy(held.revision.begin(), held.revision.end(),
                      log.begin() + 8 * static_cast<std::ptrdiff_t>(held.number));
        }
    }
    return log;
}

const FirmwareSlot* NvmeDrive::slot(std::uint8_t number) const {
    for (const FirmwareSlot& candidate : state_.slots) {
        if (candidate.number == number)
            return &candidate;
    }
    return nullptr;
}

FirmwareSlot* NvmeDrive::findSlot(std::uint8_t number) {
    for (FirmwareSlot& candidate : state_.slots) {
        if (candidate.number == number)
            return &candidate;
    }
    return nullptr;
}

std::string NvmeDrive::runningRevision() const {
    return std::string(state_.runningRevision.begin(), state_.runningRevision.end());
}

std::vector<std::uint8_t> NvmeDrive::slotImage(std::uint8_t number) const {
    const FirmwareSlot* found = slot(number);
    return found && found->image ? *found->image : std::vector<std::uint8_t>{};
}

bool NvmeDrive::stagedIsWhole() const {
    // The pieces in offset order leave no gap up to the end of the furthest one.
    auto pieces = pieces_;
    std::sort(pieces.begin(), pieces.end());
    std::uint64_t reach = 0;
    for (const auto& [offset, length] : pieces) {
        if (offset > reach)
            return false;
        reach = std::max(reach, offset + length);
    }
    return !pieces.empty();
}

std::uint64_t NvmeDrive::granularityBytes() const {
    // FWUG 0: no granularity stated; 0xFF: no restriction. Below NVMe 1.3 the byte is
    // reserved and may hold anything.
    const bool before13 =
        state_.versionMajor < 1 || (state_.versionMajor == 1 && state_.versionMinor < 3);
    if (before13 || state_.fwug == 0 || state_.fwug == 0xFF)
        return 0;
    return std::uint64_t{state_.fwug} * GRANULARITY_UNIT;
}

std::uint32_t NvmeDrive::download(std::uint64_t offset, std::span<const std::uint8_t> bytes,
                                  std::string& why) {
    if (!state_.upgradeSupport) {
        why = "the drive does not support firmware download";
        return FIRMWARE_STATUS_ILLEGAL_REQUEST;
    }
    const std::uint64_t length = bytes.size();
    if (length == 0 || length % 4 != 0) {
        why = "piece length " + std::to_string(length) + " is not a non-zero multiple of 4";
        return FIRMWARE_STATUS_INVALID_PARAMETER;
    }
    if (offset % 4 != 0) {
        why = "piece offset " + std::to_string(offset) + " is not a multiple of 4";
        return FIRMWARE_STATUS_INVALID_PARAMETER;
    }
    if (const std::uint64_t unit = granularityBytes(); unit != 0) {
        if (offset % unit != 0) {
            why = "piece offset " + std::to_string(offset) +
                  " is not a multiple of the update granularity " + std::to_string(unit);
            return FIRMWARE_STATUS_INVALID_PARAMETER;
        }
        if (length >= unit && length % unit != 0) {
            why = "piece length " + std::to_string(length) +
                  " is not a multiple of the update granularity " + std::to_string(unit);
            return FIRMWARE_STATUS_INVALID_PARAMETER;
        }
    }
    if (offset > STAGING_CAPACITY || length > STAGING_CAPACITY - offset) {
        why = "piece ends past the staging capacity";
        return FIRMWARE_STATUS_INVALID_PARAMETER;
    }
    const auto begin = static_cast<std::size_t>(offset);
    const auto end = static_cast<std::size_t>(offset + length);
    if (begin == staged_.size()) {
        // The next piece in order, as a download sends them: appended without filling first,
        // into room for a whole image so that the bytes held are not moved as the area grows.
        if (staged_.capacity() < end)
            staged_.reserve(
                std::max<std::size_t>(end, std::max(2 * staged_.capacity(), STAGING_STEP)));
        staged_.insert(staged_.end(), bytes.begin(), bytes.end());
    } else {
        if (staged_.size() < end)
            staged_.resize(end, 0);
        std::copy(bytes.begin(), bytes.end(), staged_.begin() + static_cast<std::ptrdiff_t>(begin));
    }
    pieces_.emplace_back(offset, length);
    return FIRMWARE_STATUS_SUCCESS;
}

std::uint32_t NvmeDrive::commit(std::uint8_t slotNumber, bool switchOnly, std::string& why,
                                std::optional<Activation> activation) {
    if (!state_.upgradeSupport) {
        why = "the drive does not support firmware commit";
        return FIRMWARE_STATUS_ILLEGAL_REQUEST;
    }
    FirmwareSlot* target = findSlot(slotNumber);
    if (!target) {
        why = "the drive has no slot " + std::to_string(slotNumber);
        return FIRMWARE_STATUS_INVALID_SLOT;
    }
    if (!switchOnly) {
        if (target->readOnly) {
            why = "slot " + std::to_string(slotNumber) + " is read-only";
            return FIRMWARE_STATUS_INVALID_SLOT;
        }
        if (!hasStaged()) {
            why = "no image was downloaded";
            return FIRMWARE_STATUS_INVALID_IMAGE;
        }
        if (!stagedIsWhole()) {
            why = "the downloaded image has gaps";
            return FIRMWARE_STATUS_INVALID_IMAGE;
        }
        if (staged_.size() < IMAGE_REVISION_AT + REVISION_LENGTH) {
            why = "the downloaded image is too short to carry a revision";
            return FIRMWARE_STATUS_INVALID_IMAGE;
        }
        std::copy_n(staged_.begin() + IMAGE_REVISION_AT, REVISION_LENGTH, target->revision.begin());
        target->image = shareImage(std::move(staged_));
        // The staging area is emptied and its memory given back (assigning {} would keep it).
        staged_ = std::vector<std::uint8_t>();
        pieces_ = std::vector<std::pair<std::uint64_t, std::uint64_t>>();
    }
    const Activation how = activation.value_or(state_.activation);
    if (how == Activation::None) {
        why = "the image waits in slot " + std::to_string(slotNumber) + "; nothing activates it";
        return FIRMWARE_STATUS_SUCCESS;
    }
    if (how == Activation::Reset) {
        pending_ = slotNumber;
        why = "the new firmware runs after a power cycle";
        return FIRMWARE_STATUS_POWER_CYCLE_REQUIRED;
    }
    state_.activeSlot = slotNumber;
    if (!state_.keepsRevision)
        state_.runningRevision = target->revision;
    pending_.reset();
    return FIRMWARE_STATUS_SUCCESS;
}

void NvmeDrive::powerCycle() {
    if (pending_ && slot(*pending_))
        state_.activeSlot = *pending_;
    pending_.reset();
    // An image that replaced the active slot's without activation runs from now on.
    const FirmwareSlot* active = slot(state_.activeSlot);
    if (active && !state_.keepsRevision)
        state_.runningRevision = active->revision;
}

}  // namespace velo::sim
