#include "platform/win32/SystemText.h"

namespace velo {

namespace {

std::size_t unitCount(std::span<const std::uint8_t> bytes) {
    return bytes.size() / 2;
}

wchar_t unitAt(std::span<const std::uint8_t> bytes, std::size_t index) {
    return static_cast<wchar_t>(bytes[2 * index] | (bytes[2 * index + 1] << 8));
}

bool isBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

}  // namespace

std::string narrowPropertyText(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (std::size_t i = 0; i < unitCount(bytes) && text.size() < PROPERTY_TEXT_LIMIT; ++i) {
        wchar_t unit = unitAt(bytes, i);
        if (unit == L'\0')
            break;
        text += unit <= 0xFF ? static_cast<char>(unit) : '?';
    }
    return text;
}

std::vector<std::wstring> splitMultiString(std::span<const std::uint8_t> bytes) {
    std::vector<std::wstring> strings;
    std::wstring current;
    for (std::size_t i = 0; i < unitCount(bytes); ++i) {
        wchar_t unit = unitAt(bytes, i);
        if (unit != L'\0') {
            current += unit;
            continue;
        }
        if (current.empty())
            return strings;
        strings.push_back(std::move(current));
        current.clear();
    }
    if (!current.empty())
        strings.push_back(std::move(current));
    return strings;
}

std::wstring argumentTextOf(std::wstring_view commandLine) {
    std::size_t i = 0;
    if (!commandLine.empty() && commandLine[0] == L'"') {
        std::size_t closing = commandLine.find(L'"', 1);
        i = closing == std::wstring_view::npos ? commandLine.size() : closing + 1;
    } else {
        while (i < commandLine.size() && !isBlank(commandLine[i]))
            ++i;
    }
    while (i < commandLine.size() && isBlank(commandLine[i]))
        ++i;
    return std::wstring(commandLine.substr(i));
}

std::wstring withoutNuls(std::wstring_view text) {
    std::wstring out;
    out.reserve(text.size());
    for (wchar_t c : text) {
        if (c != L'\0')
            out += c;
    }
    return out;
}

}  // namespace velo
