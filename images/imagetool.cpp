// Build-time tool for the four embedded firmware images.
//
//   imagetool make OUTDIR         writes deterministic placeholder images image1.bin..image4.bin
//   imagetool take INDIR OUTDIR   checks the maker's image1.bin..image4.bin and copies them
//
// Either way every image is checked before it reaches OUTDIR: exactly 2,097,152 bytes, with
// the 8-character revision that its position installs at offset 0x3020. A failed check stops
// the build with a message that names the file. With all four in OUTDIR, the tool writes
// OUTDIR/ImageDigests.h: the SHA-256 digest of each image, which the program checks the image
// it is about to send against.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <openssl/evp.h>

namespace {

constexpr std::size_t IMAGE_SIZE = 0x200000;
constexpr std::size_t IMAGE_REVISION_OFFSET = 0x3020;
constexpr std::array<const char*, 4> INSTALLED_REVISION = {"QLR4KAXA", "QLR4KAXB", "QLR4KCXA",
                                                           "QLR4KCXB"};

std::string imagePath(const std::string& dir, int number) {
    return dir + "/image" + std::to_string(number) + ".bin";
}

// Placeholder content: a per-image xorshift stream, so every image differs from the others
// everywhere but is the same on every build.
std::vector<unsigned char> makePlaceholder(int number) {
    std::vector<unsigned char> image(IMAGE_SIZE);
    std::uint64_t state = 0x9E3779B97F4A7C15ULL * static_cast<std::uint64_t>(number);
    for (std::size_t i = 0; i < IMAGE_SIZE; i += 8) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        for (std::size_t k = 0; k < 8; ++k) {
            image[i + k] = static_cast<unsigned char>(state >> (8 * k));
        }
    }
    std::memcpy(&image[IMAGE_REVISION_OFFSET], INSTALLED_REVISION[number - 1], 8);
    return image;
}

bool readFile(const std::string& path, std::vector<unsigned char>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool check(const std::string& path, int number, const std::vector<unsigned char>& image) {
    if (image.size() != IMAGE_SIZE) {
        std::fprintf(stderr, "imagetool: %s is %zu bytes; a firmware image must be exactly %zu\n",
                     path.c_str(), image.size(), IMAGE_SIZE);
        return false;
    }
    const char* expected = INSTALLED_REVISION[number - 1];
    if (std::memcmp(&image[IMAGE_REVISION_OFFSET], expected, 8) != 0) {
        std::string found(reinterpret_cast<const char*>(&image[IMAGE_REVISION_OFFSET]), 8);
        for (char& c : found) {
            if (c < 0x20 || c > 0x7E)
                c = '?';
        }
        std::fprintf(stderr,
                     "imagetool: %s holds revision \"%s\" at 0x3020; image %d must install %s\n",
                     path.c_str(), found.c_str(), number, expected);
        return false;
    }
    return true;
}

bool writeFile(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "imagetool: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

bool sha256(const std::vector<unsigned char>& bytes, std::array<unsigned char, 32>& digest) {
    unsigned int length = 0;
    return EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr) ==
               1 &&
           length == digest.size();
}

// The header, image 1 first, as an initializer the program's catalogue includes.
std::string digestHeader(const std::array<std::array<unsigned char, 32>, 4>& digests) {
    std::string text =
        "// Written by the image tool: the SHA-256 digest of embedded images 1 to 4.\n"
        "#pragma once\n\n"
        "#include <array>\n#include <cstdint>\n\n"
        "namespace velo {\n\n"
        "inline constexpr std::array<std::array<std::uint8_t, 32>, 4> BUILT_IMAGE_DIGESTS = {{\n";
    for (const auto& digest : digests) {
        text += "    {{";
        for (std::size_t i = 0; i < digest.size(); ++i) {
            char byte[8];
            std::snprintf(byte, sizeof byte, "%s0x%02x", i == 0 ? "" : ", ", digest[i]);
            text += byte;
        }
        text += "}},\n";
    }
    return text + "}};\n\n}  // namespace velo\n";
}

int usage() {
    std::fprintf(stderr, "usage: imagetool make OUTDIR | imagetool take INDIR OUTDIR\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3)
        return usage();
    const std::string mode = argv[1];
    if (mode != "make" && !(mode == "take" && argc == 4))
        return usage();
    const std::string outDir = argv[argc - 1];

    bool ok = true;
    std::array<std::array<unsigned char, 32>, 4> digests{};
    for (int number = 1; number <= 4; ++number) {
        std::vector<unsigned char> image;
        std::string source;
        if (mode == "make") {
            image = makePlaceholder(number);
            source = "placeholder image " + std::to_string(number);
        } else {
            source = imagePath(argv[2], number);
            if (!readFile(source, image)) {
                std::fprintf(stderr, "imagetool: cannot read %s\n", source.c_str());
                ok = false;
                continue;
            }
        }
        ok = check(source, number, image) && writeFile(imagePath(outDir, number), image) && ok;
        if (ok && !sha256(image, digests[static_cast<std::size_t>(number - 1)])) {
            std::fprintf(stderr, "imagetool: cannot compute the SHA-256 digest of %s\n",
                         source.c_str());
            ok = false;
        }
    }
    if (!ok)
        return 1;
    const std::string header = digestHeader(digests);
    return writeFile(outDir + "/ImageDigests.h", {header.begin(), header.end()}) ? 0 : 1;
}
