#include "platform/Console.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <vector>

#include "platform/Text.h"

namespace velo {

template <>
ConsoleStream<char>& ConsoleStream<char>::operator<<(std::string_view text) {
    console_.write(text);
    return *this;
}

template <>
ConsoleStream<wchar_t>& ConsoleStream<wchar_t>::operator<<(std::wstring_view text) {
    console_.write(toUtf8(text));
    return *this;
}

template <typename Char>
std::basic_string<Char> ConsoleStream<Char>::decimal(long long value) {
    std::string digits = std::to_string(value);
    return std::basic_string<Char>(digits.begin(), digits.end());
}

template <typename Char>
ConsoleStream<Char>& ConsoleStream<Char>::operator<<(Hex value) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%x", static_cast<unsigned>(value.value));
    console_.write(digits);
    return *this;
}

template <typename Char>
ConsoleStream<Char>& ConsoleStream<Char>::operator<<(LineEnd) {
    console_.write("\n");
    console_.flush();
    return *this;
}

template class ConsoleStream<char>;
template class ConsoleStream<wchar_t>;

void Console::printNarrow(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length > 0) {
        std::vector<char> text(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, args);
        write(std::string_view(text.data(), static_cast<std::size_t>(length)));
    }
    va_end(args);
}

void Console::printWide(const wchar_t* format, ...) {
    // vswprintf gives no length for a buffer that is too small, so grow until it fits.
    std::vector<wchar_t> text(256);
    for (;;) {
        va_list args;
        va_start(args, format);
        int length = std::vswprintf(text.data(), text.size(), format, args);
        va_end(args);
        if (length >= 0) {
            write(toUtf8(std::wstring_view(text.data(), static_cast<std::size_t>(length))));
            return;
        }
        if (text.size() >= (1u << 20))
            return;  // a format that never fits: print nothing
        text.resize(text.size() * 2);
    }
}

void Console::flush() {
    if (!pending_.empty()) {
        platform_.writeOutput(pending_);
        pending_.clear();
    }
}

}  // namespace velo
