// SHA-256 through Windows CNG (bcrypt.dll, part of every supported Windows). The program does not
// import bcrypt.dll: the system would look for it in the program's own folder first. It is
// loaded from the system folder at start-up and its functions are looked up there.
#include "platform/SystemSha256.h"

#include <algorithm>
#include <memory>
#include <type_traits>

#include "platform/win32/SystemDlls.h"

#include <windows.h>
#include <bcrypt.h>

namespace velo {

namespace {

// The CNG functions the digest calls, all from the system folder's bcrypt.dll, or none.
struct Cng {
    decltype(&BCryptOpenAlgorithmProvider) openAlgorithmProvider = nullptr;
    decltype(&BCryptCloseAlgorithmProvider) closeAlgorithmProvider = nullptr;
    decltype(&BCryptCreateHash) createHash = nullptr;
    decltype(&BCryptHashData) hashData = nullptr;
    decltype(&BCryptFinishHash) finishHash = nullptr;
    decltype(&BCryptDestroyHash) destroyHash = nullptr;

    bool complete() const {
        return openAlgorithmProvider && closeAlgorithmProvider && createHash && hashData &&
               finishHash && destroyHash;
    }
};

template <typename Function>
void lookUp(HMODULE module, const char* name, Function& function) {
    // Through void (*)(), the one function type that converts to any other without a warning.
    function =
        reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

Cng loadCng() {
    HMODULE module = LoadLibraryExW(L"bcrypt.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr)
        return {};
    Cng cng;
    lookUp(module, "BCryptOpenAlgorithmProvider", cng.openAlgorithmProvider);
    lookUp(module, "BCryptCloseAlgorithmProvider", cng.closeAlgorithmProvider);
    lookUp(module, "BCryptCreateHash", cng.createHash);
    lookUp(module, "BCryptHashData", cng.hashData);
    lookUp(module, "BCryptFinishHash", cng.finishHash);
    lookUp(module, "BCryptDestroyHash", cng.destroyHash);
    if (!cng.complete()) {
        FreeLibrary(module);
        return {};
    }
    // The module stays loaded until the process ends: its functions are used until then.
    return cng;
}

// Loaded on the first call, which the program's start-up makes.
const Cng& cng() {
    static const Cng functions = loadCng();
    return functions;
}

struct AlgorithmCloser {
    void operator()(BCRYPT_ALG_HANDLE handle) const { cng().closeAlgorithmProvider(handle, 0); }
};
struct HashDestroyer {
    void operator()(BCRYPT_HASH_HANDLE handle) const { cng().destroyHash(handle); }
};
using Algorithm = std::unique_ptr<std::remove_pointer_t<BCRYPT_ALG_HANDLE>, AlgorithmCloser>;
using Hash = std::unique_ptr<std::remove_pointer_t<BCRYPT_HASH_HANDLE>, HashDestroyer>;

bool succeeded(NTSTATUS status) {
    return status >= 0;
}

}  // namespace

bool useSystemDllsOnly() {
    const bool restricted = SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
    const bool loaded = cng().complete();
    return restricted && loaded;
}

std::optional<Sha256Digest> systemSha256(std::span<const std::uint8_t> bytes) {
    const Cng& functions = cng();
    if (!functions.complete())
        return std::nullopt;
    BCRYPT_ALG_HANDLE rawAlgorithm = nullptr;
    if (!succeeded(
            functions.openAlgorithmProvider(&rawAlgorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
        return std::nullopt;
    Algorithm algorithm(rawAlgorithm);
    BCRYPT_HASH_HANDLE rawHash = nullptr;
    if (!succeeded(functions.createHash(algorithm.get(), &rawHash, nullptr, 0, nullptr, 0, 0)))
        return std::nullopt;
    Hash hash(rawHash);
    // BCryptHashData takes a 32-bit length: longer spans go in pieces.
    constexpr std::size_t PIECE = 0x40000000;
    for (std::size_t at = 0; at < bytes.size(); at += PIECE) {
        const std::size_t length = std::min(PIECE, bytes.size() - at);
        if (!succeeded(functions.hashData(hash.get(), const_cast<PUCHAR>(bytes.data() + at),
                                          static_cast<ULONG>(length), 0))) {
            return std::nullopt;
        }
    }
    Sha256Digest digest{};
    if (!succeeded(
            functions.finishHash(hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0)))
        return std::nullopt;
    return digest;
}

}  // namespace velo
