// Strict JSON field readers shared by every part of the machine-file reader. Each refuses a
// value it cannot take by throwing LoadError with the field's path, such as
// "controllers[0].disks[1].drive.fwug: must be an integer 0..255".
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace velo::sim {

using Json = nlohmann::json;

struct LoadError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void failAt(const std::string& path, const std::string& message);

// "a.b" from "a" and "b"; "b" when the path is empty.
std::string join(const std::string& path, std::string_view field);
// "a[3]".
std::string indexed(const std::string& path, std::size_t index);

// An object whose fields must all be among the known ones.
void expectObject(const Json& value, const std::string& path,
                  std::initializer_list<std::string_view> known);
// The field, or nothing when the object does not have it.
const Json* field(const Json& object, std::string_view name);
const Json& required(const Json& object, const std::string& path, std::string_view name);

std::uint64_t integer(const Json& value, const std::string& path, std::uint64_t low,
                      std::uint64_t high);
bool boolean(const Json& value, const std::string& path);
std::string text(const Json& value, const std::string& path);
std::wstring wideText(const Json& value, const std::string& path, bool allowEmpty = true);
std::string choice(const Json& value, const std::string& path,
                   std::initializer_list<std::string_view> allowed);
// A list of non-empty texts.
std::vector<std::wstring> textList(const Json& value, const std::string& path);
// A system error code, 0..65535.
std::uint32_t systemError(const Json& value, const std::string& path);

// A fixed-width text field: one byte per character (U+0000 to U+00FF), padded with blanks as
// identify data is, or with the given byte.
template <std::size_t N>
std::array<std::uint8_t, N> fieldBytes(const Json& value, const std::string& path,
                                       std::uint8_t pad = ' ') {
    const std::string message =
        "must be a text of at most " + std::to_string(N) + " characters, each U+0000..U+00FF";
    if (!value.is_string())
        failAt(path, message);
    const std::wstring chars = wideText(value, path);
    if (chars.size() > N)
        failAt(path, message);
    std::array<std::uint8_t, N> bytes;
    bytes.fill(pad);
    for (std::size_t i = 0; i < chars.size(); ++i) {
        if (static_cast<std::uint32_t>(chars[i]) > 0xFF)
            failAt(path, message);
        bytes[i] = static_cast<std::uint8_t>(chars[i]);
    }
    return bytes;
}

}  // namespace velo::sim
