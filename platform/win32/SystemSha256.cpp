// SHA-256 through Windows CNG (bcrypt.dll, part of every supported Windows).
#include "platform/SystemSha256.h"

#include <algorithm>
#include <memory>
#include <type_traits>

#include <windows.h>
#include <bcrypt.h>

namespace velo {

namespace {

struct AlgorithmCloser {
    void operator()(BCRYPT_ALG_HANDLE handle) const { BCryptCloseAlgorithmProvider(handle, 0); }
};
struct HashDestroyer {
    void operator()(BCRYPT_HASH_HANDLE handle) const { BCryptDestroyHash(handle); }
};
using Algorithm = std::unique_ptr<std::remove_pointer_t<BCRYPT_ALG_HANDLE>, AlgorithmCloser>;
using Hash = std::unique_ptr<std::remove_pointer_t<BCRYPT_HASH_HANDLE>, HashDestroyer>;

bool succeeded(NTSTATUS status) {
    return status >= 0;
}

}  // namespace

std::optional<Sha256Digest> systemSha256(std::span<const std::uint8_t> bytes) {
    BCRYPT_ALG_HANDLE rawAlgorithm = nullptr;
    if (!succeeded(BCryptOpenAlgorithmProvider(&rawAlgorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
        return std::nullopt;
    Algorithm algorithm(rawAlgorithm);
    BCRYPT_HASH_HANDLE rawHash = nullptr;
    if (!succeeded(BCryptCreateHash(algorithm.get(), &rawHash, nullptr, 0, nullptr, 0, 0)))
        return std::nullopt;
    Hash hash(rawHash);
    // BCryptHashData takes a 32-bit length: longer spans go in pieces.
    constexpr std::size_t PIECE = 0x40000000;
    for (std::size_t at = 0; at < bytes.size(); at += PIECE) {
        const std::size_t length = std::min(PIECE, bytes.size() - at);
        if (!succeeded(BCryptHashData(hash.get(), const_cast<PUCHAR>(bytes.data() + at),
                                      static_cast<ULONG>(length), 0))) {
            return std::nullopt;
        }
    }
    Sha256Digest digest{};
    if (!succeeded(
            BCryptFinishHash(hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0)))
        return std::nullopt;
    return digest;
}

}  // namespace velo
