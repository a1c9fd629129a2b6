// How a trace line writes the values of a platform call, shared by the tracer that writes the
// lines and the replay that reads them back.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/Platform.h"

namespace velo::trace {

using Line = nlohmann::ordered_json;

std::string hexNumber(std::uint32_t value);                 // "0x4D008"
std::string hexBytes(std::span<const std::uint8_t> bytes);  // "0a1b..."
// The bytes of lower- or upper-case hex text; nothing for an odd length or another character.
std::optional<std::vector<std::uint8_t>> bytesOfHex(std::string_view text);
std::string guidText(const Guid& guid);       // "{53F56307-B6BF-11D0-94F2-00A0C91EFB8B}"
std::string keyName(const PropertyKey& key);  // "parent", "instance-id", ...
std::string startupName(StartupStatus status);

// A reply is stored whole ("output": hex), or, when it is long and equals the request except
// for a few bytes, as those bytes ("outputChanges": [[offset, hex], ...], the bytes past the
// request counted as zero). Sets one of the two keys of line.
void putOutput(Line& line, std::span<const std::uint8_t> sent, std::span<const std::uint8_t> reply);
// The reply of a line written by putOutput, given the request it answered and its length.
// Nothing when the line holds neither key or a change lies outside the reply.
std::optional<std::vector<std::uint8_t>> outputOf(const Line& line,
                                                  std::span<const std::uint8_t> sent,
                                                  std::size_t length);

// The deepest a trace line nests: the line's object, its "outputChanges" list, one change
// [offset, hex] in it (a "value" list of hardware ids is one level less).
constexpr std::size_t LINE_DEPTH = 3;
// Whether JSON text nests arrays and objects deeper than depth, brackets inside strings aside.
// Read without recursion, so it can be asked of any text before the text is parsed.
bool nestsDeeperThan(std::string_view text, std::size_t depth);

}  // namespace velo::trace
