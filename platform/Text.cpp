#include "platform/Text.h"

#include <cstdint>

namespace velo {

namespace {

void appendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void appendWide(std::wstring& out, std::uint32_t cp) {
    if constexpr (sizeof(wchar_t) == 2) {
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<wchar_t>(0xD800 + (cp >> 10));
            out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
            return;
        }
    }
    out += static_cast<wchar_t>(cp);
}

bool isHighSurrogate(std::uint32_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool isLowSurrogate(std::uint32_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

}  // namespace

std::string toUtf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto unit = static_cast<std::uint32_t>(text[i]);
        if constexpr (sizeof(wchar_t) == 2) {
            if (isHighSurrogate(unit) && i + 1 < text.size() &&
                isLowSurrogate(static_cast<std::uint32_t>(text[i + 1]))) {
                auto low = static_cast<std::uint32_t>(text[++i]);
                appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                continue;
            }
        }
        if (isHighSurrogate(unit) || isLowSurrogate(unit) || unit > 0x10FFFF) {
            out += '?';
        } else {
            appendUtf8(out, unit);
        }
    }
    return out;
}

namespace {

// The length of the well-formed UTF-8 sequence at text[i], with its code point; 0 when the
// bytes there are not one (a stray or overlong sequence, a surrogate, beyond U+10FFFF).
std::size_t decodeUtf8At(std::string_view text, std::size_t i, std::uint32_t& cp) {
    auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = lead < 0x80           ? 1
                         : (lead >> 5) == 0x6  ? 2
                         : (lead >> 4) == 0xE  ? 3
                         : (lead >> 3) == 0x1E ? 4
                                               : 0;
    if (length == 0 || i + length > text.size())
        return 0;
    cp = length == 1   ? lead
         : length == 2 ? (lead & 0x1F)
         : length == 3 ? (lead & 0x0F)
                       : (lead & 0x07);
    for (std::size_t k = 1; k < length; ++k) {
        auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (next & 0x3F);
    }
    static constexpr std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < smallest[length] || cp > 0x10FFFF || isHighSurrogate(cp) || isLowSurrogate(cp))
        return 0;
    return length;
}

}  // namespace

std::wstring fromUtf8(std::string_view text) {
    std::wstring out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        std::uint32_t cp = 0;
        if (std::size_t length = decodeUtf8At(text, i, cp); length != 0) {
            appendWide(out, cp);
            i += length;
        } else {
            out += L'\uFFFD';
            ++i;
        }
    }
    return out;
}

std::size_t firstNonUtf8Byte(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        std::uint32_t cp = 0;
        std::size_t length = decodeUtf8At(text, i, cp);
        if (length == 0)
            return i;
        i += length;
    }
    return text.size();
}

std::string lowBytes(std::wstring_view text) {
    std::string out(text.size(), '\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        out[i] = static_cast<char>(static_cast<std::uint32_t>(text[i]) & 0xFF);
    }
    return out;
}

std::wstring widenBytes(std::string_view bytes) {
    std::wstring out(bytes.size(), L'\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        out[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]));
    }
    return out;
}

std::wstring_view beforeFirstNul(std::wstring_view text) {
    return text.substr(0, text.find(L'\0'));
}

std::string printableAscii(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t c : text) {
        out += (c >= 0x20 && c <= 0x7E) ? static_cast<char>(c) : '?';
    }
    return out;
}

namespace {

void appendEscape(std::string& out, const char* prefix, std::uint32_t value, int digits) {
    static constexpr char HEX[] = "0123456789abcdef";
    out += prefix;
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
        out += HEX[(value >> shift) & 0xF];
}

}  // namespace

std::string visibleText(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        std::uint32_t cp = 0;
        const std::size_t length = decodeUtf8At(utf8, i, cp);
        if (length == 0) {
            appendEscape(out, "\\x", static_cast<unsigned char>(utf8[i]), 2);
            ++i;
            continue;
        }
        if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F))
            appendEscape(out, "\\u", cp, 4);
        else
            out.append(utf8.substr(i, length));
        i += length;
    }
    return out;
}

std::string visibleText(std::wstring_view text) {
    return visibleText(toUtf8(text));
}

namespace {

// Moves the letters first..first+25 to the same letters at target.
std::wstring shiftAsciiLetters(std::wstring_view text, wchar_t first, wchar_t target) {
    std::wstring out(text);
    for (wchar_t& c : out) {
        if (c >= first && c <= first + 25)
            c = static_cast<wchar_t>(c - first + target);
    }
    return out;
}

}  // namespace

std::wstring upperAscii(std::wstring_view text) {
    return shiftAsciiLetters(text, L'a', L'A');
}

std::wstring lowerAscii(std::wstring_view text) {
    return shiftAsciiLetters(text, L'A', L'a');
}

}  // namespace velo
