// Conversions between the program's wide text and the bytes it reads or writes.
#pragma once

#include <string>
#include <string_view>

namespace velo {

// Wide text as UTF-8 (UTF-16 on Windows, UTF-32 elsewhere). Unpaired surrogates and values
// outside Unicode become '?'.
std::string toUtf8(std::wstring_view text);
// UTF-8 as wide text; malformed sequences become U+FFFD.
std::wstring fromUtf8(std::string_view text);
// The offset of the first byte that does not begin a well-formed UTF-8 sequence; the text's
// size when it is all UTF-8.
std::size_t firstNonUtf8Byte(std::string_view text);
// Each wide character cut to its low 8 bits, as the result log stores text.
std::string lowBytes(std::wstring_view text);
// Each byte widened unchanged to one wide character, as identify text is copied.
std::wstring widenBytes(std::string_view bytes);
// The text up to, not including, its first NUL character.
std::wstring_view beforeFirstNul(std::wstring_view text);
// Characters below 0x20 or above 0x7E shown as '?', for lines that quote drive text.
std::string printableAscii(std::wstring_view text);
// UTF-8 text as a message may quote it: each control character (U+0000 to U+001F, U+007F and
// U+0080 to U+009F) as "\u" and four lower-case hex digits, such as \u001b, and each byte that
// is not part of well-formed UTF-8 as "\x" and two, such as \xe9; all else unchanged. What a
// user or a file gave can then neither drive the terminal nor cut the message short.
std::string visibleText(std::string_view utf8);
// Wide text as UTF-8, with visibleText's escapes.
std::string visibleText(std::wstring_view text);
// ASCII letters a to z as A to Z; every other character unchanged.
std::wstring upperAscii(std::wstring_view text);
// ASCII letters A to Z as a to z; every other character unchanged.
std::wstring lowerAscii(std::wstring_view text);

}  // namespace velo
