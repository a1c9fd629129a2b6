// One simulated NVMe drive: its identity, its firmware slots and the image being downloaded.
// The drive knows nothing of Windows; the drivers translate requests into these operations.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace velo::sim {

// Status values of the miniport firmware interface (the SDK's FIRMWARE_STATUS_*).
inline constexpr std::uint32_t FIRMWARE_STATUS_SUCCESS = 0x0;
inline constexpr std::uint32_t FIRMWARE_STATUS_ERROR = 0x1;
inline constexpr std::uint32_t FIRMWARE_STATUS_ILLEGAL_REQUEST = 0x2;
inline constexpr std::uint32_t FIRMWARE_STATUS_INVALID_PARAMETER = 0x3;
inline constexpr std::uint32_t FIRMWARE_STATUS_INPUT_BUFFER_TOO_BIG = 0x4;
inline constexpr std::uint32_t FIRMWARE_STATUS_OUTPUT_BUFFER_TOO_SMALL = 0x5;
inline constexpr std::uint32_t FIRMWARE_STATUS_INVALID_SLOT = 0x6;
inline constexpr std::uint32_t FIRMWARE_STATUS_INVALID_IMAGE = 0x7;
inline constexpr std::uint32_t FIRMWARE_STATUS_CONTROLLER_ERROR = 0x10;
inline constexpr std::uint32_t FIRMWARE_STATUS_POWER_CYCLE_REQUIRED = 0x20;
inline constexpr std::uint32_t FIRMWARE_STATUS_DEVICE_ERROR = 0x40;

inline constexpr std::size_t IDENTIFY_SIZE = 4096;
inline constexpr std::size_t SLOT_LOG_SIZE = 512;
inline constexpr std::size_t SERIAL_LENGTH = 20;
inline constexpr std::size_t MODEL_LENGTH = 40;
inline constexpr std::size_t REVISION_LENGTH = 8;
// Where a firmware image carries the revision it installs.
inline constexpr std::size_t IMAGE_REVISION_AT = 0x3020;
inline constexpr std::size_t GRANULARITY_UNIT = 4096;
// The most image bytes the drive's staging area holds.
inline constexpr std::uint64_t STAGING_CAPACITY = 32ull * 1024 * 1024;

using Revision = std::array<std::uint8_t, REVISION_LENGTH>;

enum class Activation {
    Immediate,  // a commit runs the new image at once
    Reset,      // a commit takes effect at the next power cycle
    None,       // for one commit only: the slot takes the image and nothing activates it
};

struct FirmwareSlot {
    std::uint8_t number = 1;  // 1 to 7
    bool readOnly = false;
    Revision revision{};
    // The image committed to this slot during the run; none while it holds its factory image.
    // Slots that took the same bytes share one copy (a run updates many drives with one image).
    std::shared_ptr<const std::vector<std::uint8_t>> image;
};

// How the drive is built, as the machine file describes it.
struct DriveSetup {
    std::uint16_t vendorId = 0x7A3C;
    std::array<std::uint8_t, SERIAL_LENGTH> serial{};
    std::array<std::uint8_t, MODEL_LENGTH> model{};
    Revision runningRevision{};
    std::uint16_t versionMajor = 1;
    std::uint8_t versionMinor = 4;
    std::uint8_t fwug = 0;
    bool upgradeSupport = true;
    std::vector<FirmwareSlot> slots;  // in the order the drive reports them
    std::uint8_t activeSlot = 0;      // 0 only when there is no slot
    // A slot whose firmware an earlier update committed for the next reset; none when none.
    std::optional<std::uint8_t> pendingSlot;
    Activation activation = Activation::Immediate;
    // A faulty drive: whatever it runs, identify keeps reporting the revision it started with.
    bool keepsRevision = false;
};

class NvmeDrive {
public:
    explicit NvmeDrive(DriveSetup setup);

    // The 4096-byte Identify Controller data as the drive reports it now.
    std::array<std::uint8_t, IDENTIFY_SIZE> identifyController() const;

    // The 512-byte Firmware Slot Information log page: the active slot and the slot pending
    // for the next reset in byte 0, then the revision each slot holds (zero for a slot the
    // drive does not have).
    std::array<std::uint8_t, SLOT_LOG_SIZE> firmwareSlotLog() const;

    const DriveSetup& setup() const { return state_; }
    const std::vector<FirmwareSlot>& slots() const { return state_.slots; }
    const FirmwareSlot* slot(std::uint8_t number) const;
    std::uint8_t activeSlot() const { return state_.activeSlot; }
    std::optional<std::uint8_t> pendingSlot() const { return pending_; }
    // The revision of the firmware running now, as identify reports it (8 bytes).
    std::string runningRevision() const;
    // The bytes a slot holds after a commit in this run; empty for a factory image or an
    // unknown slot.
    std::vector<std::uint8_t> slotImage(std::uint8_t number) const;

    // Staging area: the pieces downloaded since the last commit. A commit that takes the
    // staged image empties it and gives its memory back.
    bool hasStaged() const { return !pieces_.empty(); }
    // Staged bytes from offset 0 to the end of the furthest piece; gaps read as zero.
    const std::vector<std::uint8_t>& stagedBytes() const { return staged_; }
    // True when every byte from 0 to the end of the furthest piece was downloaded.
    bool stagedIsWhole() const;
    // Each download the drive accepted since the last commit: offset and length.
    const std::vector<std::pair<std::uint64_t, std::uint64_t>>& stagedPieces() const {
        return pieces_;
    }

    // Takes one downloaded piece. The offset must be a multiple of the update granularity
    // (none when FWUG is 0 or 0xFF, or below NVMe 1.3 where the byte is reserved) and of 4; the
    // length a non-zero multiple of 4 and of the granularity, unless shorter than the granularity
    // (a last piece).
    std::uint32_t download(std::uint64_t offset, std::span<const std::uint8_t> bytes,
                           std::string& why);
    // Commits the staged image to a slot (or, with switchOnly, runs the image the slot holds).
    // activation, when given, replaces the drive's own setting for this commit.
    std::uint32_t commit(std::uint8_t slotNumber, bool switchOnly, std::string& why,
                         std::optional<Activation> activation = std::nullopt);
    // Power cycle: a pending slot becomes the active one, and the drive runs what its active
    // slot holds.
    void powerCycle();

private:
    FirmwareSlot* findSlot(std::uint8_t number);
    std::uint64_t granularityBytes() const;

    DriveSetup state_;
    std::optional<std::uint8_t> pending_;
    std::vector<std::uint8_t> staged_;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> pieces_;
};

}  // namespace velo::sim
