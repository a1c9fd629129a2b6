// SHA-256 through the system's own facility: Windows CNG in velo.exe, OpenSSL's libcrypto in
// the host build. Each Platform answers sha256() with it; only the build links one of the two.
#pragma once

#include <optional>
#include <span>

#include "platform/Platform.h"

namespace velo {

// Nothing when the facility fails.
std::optional<Sha256Digest> systemSha256(std::span<const std::uint8_t> bytes);

}  // namespace velo
