#include "app/ImageCatalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "images/EmbeddedImages.h"

namespace velo {
namespace {

struct ImageGroup {
    int image;
    std::vector<std::wstring> revisions;
    std::wstring installs;
};

const std::vector<ImageGroup> GROUPS = {
    {1, {L"QLR1KAXA", L"QLR2KAXA", L"QLR3KAXA", L"QL90KATA"}, L"QLR4KAXA"},
    {2, {L"QLR1KAXB", L"QLR2KAXB", L"QLR3KAXB", L"QL90KATB"}, L"QLR4KAXB"},
    {3, {L"QLR1KCXA", L"QLR2KCXA", L"QLR3KCXA", L"QL90KCTA"}, L"QLR4KCXA"},
    {4, {L"QLR1KCXB", L"QLR2KCXB", L"QLR3KCXB", L"QL90KCTB"}, L"QLR4KCXB"},
};

TEST(ImageSelection, EveryTableRevisionSelectsItsGroup) {
    for (const auto& group : GROUPS) {
        for (const auto& revision : group.revisions) {
            EXPECT_EQ(selectImageForRevision(revision), group.image);
        }
    }
}

TEST(ImageSelection, NearMissesSelectNothing) {
    for (const auto& group : GROUPS) {
        for (const auto& revision : group.revisions) {
            std::wstring lower = revision;
            std::transform(lower.begin(), lower.end(), lower.begin(), ::towlower);
            EXPECT_FALSE(selectImageForRevision(lower)) << lower.c_str();
            EXPECT_FALSE(selectImageForRevision(revision + L" "));
            EXPECT_FALSE(selectImageForRevision(revision.substr(0, 7)));
            EXPECT_FALSE(selectImageForRevision(revision + L"X"));
            EXPECT_FALSE(selectImageForRevision(std::wstring(revision) + L'\0'));
        }
        // A drive that already runs an image's firmware selects none.
        EXPECT_FALSE(selectImageForRevision(group.installs));
    }
    EXPECT_FALSE(selectImageForRevision(L""));
}

class ImageLoading : public ::testing::Test {
protected:
    void TearDown() override { unloadFirmwareImage(); }
};

TEST_F(ImageLoading, EachImageLoadsWithItsRevisionAndTitle) {
    const auto blockSize = static_cast<std::size_t>(veloImageBlocksEnd - veloImageBlocks);
    ASSERT_EQ(blockSize, 4 * IMAGE_SIZE);
    for (const auto& group : GROUPS) {
        loadFirmwareImage(group.image);
        EXPECT_EQ(updatedFirmwareRevision, group.installs);
        EXPECT_EQ(toolTitle, L"VELO_QX7B2_V1.0.2_" + group.installs);

        // Image 4 lies first in the block and image 1 last.
        const unsigned char* embedded = veloImageBlocks + (4 - group.image) * IMAGE_SIZE;
        EXPECT_TRUE(std::equal(imageBuffer.begin(), imageBuffer.end(), embedded));

        // The embedded block is the file the build made or took.
        std::ifstream file(
            std::string(VELO_IMAGE_OUT_DIR) + "/image" + std::to_string(group.image) + ".bin",
            std::ios::binary);
        std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)),
                                         std::istreambuf_iterator<char>());
        ASSERT_EQ(bytes.size(), IMAGE_SIZE);
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), imageBuffer.begin()));
    }
}

TEST_F(ImageLoading, ImagesDifferFromEachOther) {
    for (int a = 1; a <= 4; ++a) {
        for (int b = a + 1; b <= 4; ++b) {
            EXPECT_FALSE(std::equal(embeddedImage(a).begin(), embeddedImage(a).end(),
                                    embeddedImage(b).begin()));
        }
    }
}

TEST_F(ImageLoading, UnloadedStateIsEmpty) {
    loadFirmwareImage(2);
    unloadFirmwareImage();
    EXPECT_TRUE(updatedFirmwareRevision.empty());
    EXPECT_TRUE(toolTitle.empty());
    EXPECT_TRUE(imageBuffer.empty());
    EXPECT_TRUE(embeddedImage(0).empty());
    EXPECT_TRUE(embeddedImage(5).empty());
}

}  // namespace
}  // namespace velo
