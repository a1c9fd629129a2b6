// The program's four output channels: the narrow and the wide console stream and the narrow
// and the wide formatted print. All four feed one ordered byte sink on standard output, so the
// lines keep the order of the calls whatever channel printed them; wide text is converted to
// UTF-8 here, not by the C runtime, so no stream orientation or code page can drop text.
#pragma once

#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Platform.h"

namespace velo {

// Writes value in lower-case hexadecimal without prefix or leading zeros; the stream is
// decimal again right after it.
struct Hex {
    std::uint32_t value;
};

// Ends the line and flushes the output.
struct LineEnd {};
inline constexpr LineEnd lineEnd{};

class Console;

template <typename Char>
class ConsoleStream {
public:
    explicit ConsoleStream(Console& console) : console_(console) {}

    ConsoleStream& operator<<(std::basic_string_view<Char> text);
    ConsoleStream& operator<<(const Char* text) {
        return *this << std::basic_string_view<Char>(text);
    }
    ConsoleStream& operator<<(const std::basic_string<Char>& text) {
        return *this << std::basic_string_view<Char>(text);
    }
    template <std::integral Number>
    requires(!std::same_as<Number, Char> && !std::same_as<Number, bool>) ConsoleStream& operator<<(
        Number value) {
        return *this << decimal(static_cast<long long>(value));
    }
    ConsoleStream& operator<<(Hex value);
    ConsoleStream& operator<<(LineEnd);

private:
    static std::basic_string<Char> decimal(long long value);
    Console& console_;
};

class Console {
public:
    explicit Console(Platform& platform) : platform_(platform), narrow(*this), wide(*this) {}
    // Pending output is written at the end; a destructor must not throw, so a failure to write
    // it loses those bytes rather than ending the process.
    ~Console() {
        try {
            flush();
        } catch (...) {
        }
    }
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // printf-style, 8-bit text.
    void printNarrow(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // wprintf-style, wide text; wide strings are passed with %ls.
    void printWide(const wchar_t* format, ...);

    void write(std::string_view bytes) { pending_.append(bytes); }
    void flush();

private:
    Platform& platform_;
    std::string pending_;

public:
    ConsoleStream<char> narrow;
    ConsoleStream<wchar_t> wide;
};

}  // namespace velo
