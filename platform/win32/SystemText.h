// Text that Windows hands back in raw buffers or as one command-line string. The buffers come
// from the system and from drivers, so nothing here trusts a terminator or an even length:
// every read stays inside the bytes given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velo {

// The longest device property text kept, in bytes, before it is widened again.
inline constexpr std::size_t PROPERTY_TEXT_LIMIT = 255;

// A UTF-16LE property value narrowed to 8-bit characters: the text up to its first NUL or the
// end of the bytes (an odd last byte is ignored), at most PROPERTY_TEXT_LIMIT characters,
// each character up to U+00FF kept as its byte and every other one as '?'.
std::string narrowPropertyText(std::span<const std::uint8_t> bytes);

// A UTF-16LE list of NUL-terminated strings, ended by an empty string. A list that runs to the
// end of the bytes without its terminators still yields the strings it holds.
std::vector<std::wstring> splitMultiString(std::span<const std::uint8_t> bytes);

// The argument text as typed: the process command line without the program name and the
// blanks after it. The name is quoted (to the next quote) or runs to the first blank, as the
// system's own command-line splitting reads it.
std::wstring argumentTextOf(std::wstring_view commandLine);

// The text without its NUL characters, for calls that would stop at the first one.
std::wstring withoutNuls(std::wstring_view text);

}  // namespace velo
