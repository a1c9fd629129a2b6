#include "sim/JsonFields.h"

#include <algorithm>

#include "platform/Text.h"

namespace velo::sim {

[[noreturn]] void failAt(const std::string& path, const std::string& message) {
    // A path holds the names of unknown fields, and a message may quote a value, as written.
    throw LoadError(visibleText(path.empty() ? message : path + ": " + message));
}

std::string join(const std::string& path, std::string_view field) {
    return path.empty() ? std::string(field) : path + "." + std::string(field);
}

std::string indexed(const std::string& path, std::size_t index) {
    return path + "[" + std::to_string(index) + "]";
}

void expectObject(const Json& value, const std::string& path,
                  std::initializer_list<std::string_view> known) {
    if (!value.is_object())
        failAt(path, "must be an object");
    for (const auto& item : value.items()) {
        if (std::find(known.begin(), known.end(), item.key()) == known.end()) {
            failAt(join(path, item.key()), "unknown field");
        }
    }
}

const Json* field(const Json& object, std::string_view name) {
    auto found = object.find(name);
    return found == object.end() ? nullptr : &*found;
}

const Json& required(const Json& object, const std::string& path, std::string_view name) {
    const Json* value = field(object, name);
    if (!value)
        failAt(join(path, name), "missing");
    return *value;
}

std::uint64_t integer(const Json& value, const std::string& path, std::uint64_t low,
                      std::uint64_t high) {
    const std::string range =
        "must be an integer " + std::to_string(low) + ".." + std::to_string(high);
    if (!value.is_number_integer())
        failAt(path, range);
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        if (number < low || number > high)
            failAt(path, range);
        return number;
    }
    const auto number = value.get<std::int64_t>();
    if (number < 0 || static_cast<std::uint64_t>(number) < low ||
        static_cast<std::uint64_t>(number) > high) {
        failAt(path, range);
    }
    return static_cast<std::uint64_t>(number);
}

bool boolean(const Json& value, const std::string& path) {
    if (!value.is_boolean())
        failAt(path, "must be true or false");
    return value.get<bool>();
}

std::string text(const Json& value, const std::string& path) {
    if (!value.is_string())
        failAt(path, "must be a text");
    return value.get<std::string>();
}

std::wstring wideText(const Json& value, const std::string& path, bool allowEmpty) {
    std::wstring result = fromUtf8(text(value, path));
    if (!allowEmpty && result.empty())
        failAt(path, "must not be empty");
    return result;
}

std::string choice(const Json& value, const std::string& path,
                   std::initializer_list<std::string_view> allowed) {
    std::string message = "must be one of";
    for (std::string_view name : allowed)
        message += " \"" + std::string(name) + "\"";
    if (!value.is_string())
        failAt(path, message);
    std::string name = value.get<std::string>();
    if (std::find(allowed.begin(), allowed.end(), name) == allowed.end())
        failAt(path, message);
    return name;
}

std::vector<std::wstring> textList(const Json& value, const std::string& path) {
    if (!value.is_array())
        failAt(path, "must be a list of texts");
    std::vector<std::wstring> list;
    for (std::size_t i = 0; i < value.size(); ++i) {
        list.push_back(wideText(value[i], indexed(path, i), false));
    }
    return list;
}

std::uint32_t systemError(const Json& value, const std::string& path) {
    return static_cast<std::uint32_t>(integer(value, path, 0, 0xFFFF));
}

}  // namespace velo::sim
