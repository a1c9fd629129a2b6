// The four embedded firmware images, the revisions that select each one, and the process-wide
// state of the image chosen for this run.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "VeloVersion.h"

namespace velo {

inline constexpr std::size_t IMAGE_SIZE = 0x200000;
inline constexpr std::size_t IMAGE_REVISION_OFFSET = 0x3020;
inline constexpr std::size_t IMAGE_REVISION_LENGTH = 8;
inline constexpr int IMAGE_COUNT = 4;
inline constexpr std::wstring_view TOOL_TITLE_PREFIX = L"VELO_QX7B2_V" VELO_VERSION_WIDE L"_";

// The embedded image with this number (1 to 4), all IMAGE_SIZE bytes.
std::span<const std::uint8_t> embeddedImage(int imageNumber);

// The image that a drive at this revision takes; nothing when the revision is in no group.
// The comparison is exact: case, length and blanks all count.
std::optional<int> selectImageForRevision(std::wstring_view revision);

// The SHA-256 digest that the build recorded for the embedded image with this number (1 to 4);
// nothing for another number.
std::optional<std::array<std::uint8_t, 32>> builtImageDigest(int imageNumber);

// The revision that the embedded image with this number (1 to 4) installs; empty for another
// number.
std::wstring installedRevision(int imageNumber);

// The image whose installed revision this is, if any: a drive at it runs current firmware.
std::optional<int> imageInstalling(std::wstring_view revision);

// Whether a drive at this revision takes the image with this number (1 to 4), the image that
// the first target's revision chose: it does when it already runs the revision that image
// installs, or when its own revision selects an image that installs that same revision. A
// number outside 1 to 4 is taken by no drive. The update pass flashes exactly the drives this
// admits, and /list plans exactly those.
bool takesImage(int imageNumber, std::wstring_view revision);

// Process-wide image state: empty until loadFirmwareImage runs, then only read. imageBuffer
// views the chosen embedded image in place; the image is not copied.
extern std::span<const std::uint8_t> imageBuffer;
extern std::wstring updatedFirmwareRevision;
extern std::wstring toolTitle;
extern int loadedImageNumber;  // 0 while no image is loaded

// Loads image 1 to 4 into the state above.
void loadFirmwareImage(int imageNumber);
// Back to the state at process start (tests run several runs in one process).
void unloadFirmwareImage();

}  // namespace velo
