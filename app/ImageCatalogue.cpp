#include "app/ImageCatalogue.h"

#include <algorithm>

#include "ImageDigests.h"
#include "images/EmbeddedImages.h"
#include "platform/Text.h"

namespace velo {

std::span<const std::uint8_t> imageBuffer;
std::wstring updatedFirmwareRevision;
std::wstring toolTitle;
int loadedImageNumber = 0;

namespace {

// Four revisions per image, in lookup order.
constexpr std::array<std::array<std::wstring_view, 4>, IMAGE_COUNT> REVISION_TABLE = {{
    {L"QLR1KAXA", L"QLR2KAXA", L"QLR3KAXA", L"QL90KATA"},
    {L"QLR1KAXB", L"QLR2KAXB", L"QLR3KAXB", L"QL90KATB"},
    {L"QLR1KCXA", L"QLR2KCXA", L"QLR3KCXA", L"QL90KCTA"},
    {L"QLR1KCXB", L"QLR2KCXB", L"QLR3KCXB", L"QL90KCTB"},
}};

}  // namespace

std::span<const std::uint8_t> embeddedImage(int imageNumber) {
    if (imageNumber < 1 || imageNumber > IMAGE_COUNT)
        return {};
    // The block holds image 4 first and image 1 last.
    auto position = static_cast<std::size_t>(IMAGE_COUNT - imageNumber);
    return {veloImageBlocks + position * IMAGE_SIZE, IMAGE_SIZE};
}

std::optional<std::array<std::uint8_t, 32>> builtImageDigest(int imageNumber) {
    if (imageNumber < 1 || imageNumber > IMAGE_COUNT)
        return std::nullopt;
    return BUILT_IMAGE_DIGESTS[static_cast<std::size_t>(imageNumber - 1)];
}

std::optional<int> selectImageForRevision(std::wstring_view revision) {
    for (int image = 1; image <= IMAGE_COUNT; ++image) {
        const auto& group = REVISION_TABLE[static_cast<std::size_t>(image - 1)];
        if (std::find(group.begin(), group.end(), revision) != group.end())
            return image;
    }
    return std::nullopt;
}

std::optional<int> imageInstalling(std::wstring_view revision) {
    for (int image = 1; image <= IMAGE_COUNT; ++image) {
        if (installedRevision(image) == revision)
            return image;
    }
    return std::nullopt;
}

std::wstring installedRevision(int imageNumber) {
    auto image = embeddedImage(imageNumber);
    if (image.size() != IMAGE_SIZE)
        return {};
    return widenBytes(
        std::string_view(reinterpret_cast<const char*>(image.data()) + IMAGE_REVISION_OFFSET,
                         IMAGE_REVISION_LENGTH));
}

bool takesImage(int imageNumber, std::wstring_view revision) {
    const std::wstring installs = installedRevision(imageNumber);
    if (installs.empty())
        return false;
    if (revision == installs)
        return true;
    const std::optional<int> own = selectImageForRevision(revision);
    return own && installedRevision(*own) == installs;
}

void loadFirmwareImage(int imageNumber) {
    auto image = embeddedImage(imageNumber);
    if (image.size() != IMAGE_SIZE)
        return;
    toolTitle = TOOL_TITLE_PREFIX;
    imageBuffer = image;
    updatedFirmwareRevision = widenBytes(
        std::string_view(reinterpret_cast<const char*>(imageBuffer.data()) + IMAGE_REVISION_OFFSET,
                         IMAGE_REVISION_LENGTH));
    toolTitle += updatedFirmwareRevision;
    loadedImageNumber = imageNumber;
}

void unloadFirmwareImage() {
    imageBuffer = {};
    updatedFirmwareRevision.clear();
    toolTitle.clear();
    loadedImageNumber = 0;
}

}  // namespace velo
