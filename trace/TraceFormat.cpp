#include "trace/TraceFormat.h"

#include <algorithm>
#include <cstdio>

namespace velo::trace {

namespace {

// Replies shorter than this are always stored whole, readable at a glance.
constexpr std::size_t WHOLE_REPLY_LIMIT = 64;
// Two changed runs closer than this are stored as one.
constexpr std::size_t JOIN_GAP = 8;

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string hexNumber(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

std::string hexBytes(std::span<const std::uint8_t> bytes) {
    static constexpr char DIGITS[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        text += DIGITS[b >> 4];
        text += DIGITS[b & 0xF];
    }
    return text;
}

std::optional<std::vector<std::uint8_t>> bytesOfHex(std::string_view text) {
    if (text.size() % 2 != 0)
        return std::nullopt;
    std::vector<std::uint8_t> bytes(text.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const int high = hexDigit(text[2 * i]);
        const int low = hexDigit(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return bytes;
}

std::string guidText(const Guid& guid) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  guid.data1, guid.data2, guid.data3, guid.data4[0], guid.data4[1], guid.data4[2],
                  guid.data4[3], guid.data4[4], guid.data4[5], guid.data4[6], guid.data4[7]);
    return text;
}

std::string keyName(const PropertyKey& key) {
    if (key == PROPERTY_PARENT)
        return "parent";
    if (key == PROPERTY_INSTANCE_ID)
        return "instance-id";
    if (key == PROPERTY_DRIVER_DESC)
        return "driver-description";
    if (key == PROPERTY_LOCATION_INFO)
        return "location-info";
    return guidText(key.fmtid) + "," + std::to_string(key.pid);
}

std::string startupName(StartupStatus status) {
    switch (status) {
        case StartupStatus::Ok:
            return "ok";
        case StartupStatus::ModuleHandleFailed:
            return "module-handle-failed";
        case StartupStatus::FrameworkFailed:
            return "framework-failed";
    }
    return "unknown";
}

void putOutput(Line& line, std::span<const std::uint8_t> sent,
               std::span<const std::uint8_t> reply) {
    if (reply.size() >= WHOLE_REPLY_LIMIT) {
        auto sentAt = [&](std::size_t i) -> std::uint8_t { return i < sent.size() ? sent[i] : 0; };
        Line changes = Line::array();
        std::size_t stored = 0;
        std::size_t i = 0;
        while (i < reply.size()) {
            if (reply[i] == sentAt(i)) {
                ++i;
                continue;
            }
            // A run of changed bytes, joined with the next run across a short gap.
            std::size_t end = i + 1;
            std::size_t same = 0;
            for (std::size_t j = end; j < reply.size() && same < JOIN_GAP; ++j) {
                if (reply[j] == sentAt(j)) {
                    ++same;
                } else {
                    end = j + 1;
                    same = 0;
                }
            }
            changes.push_back(Line::array({i, hexBytes(reply.subspan(i, end - i))}));
            stored += (end - i) * 2 + 16;
            i = end;
        }
        if (stored < reply.size() * 2) {
            line["outputChanges"] = std::move(changes);
            return;
        }
    }
    line["output"] = hexBytes(reply);
}

std::optional<std::vector<std::uint8_t>> outputOf(const Line& line,
                                                  std::span<const std::uint8_t> sent,
                                                  std::size_t length) {
    if (auto whole = line.find("output"); whole != line.end() && whole->is_string()) {
        auto bytes = bytesOfHex(whole->get<std::string>());
        if (!bytes || bytes->size() != length)
            return std::nullopt;
        return bytes;
    }
    auto changes = line.find("outputChanges");
    if (changes == line.end() || !changes->is_array())
        return std::nullopt;
    std::vector<std::uint8_t> reply(length, 0);
    std::copy_n(sent.begin(), std::min(sent.size(), length), reply.begin());
    for (const Line& change : *changes) {
        if (!change.is_array() || change.size() != 2 || !change[0].is_number_unsigned() ||
            !change[1].is_string()) {
            return std::nullopt;
        }
        const auto offset = change[0].get<std::uint64_t>();
        auto bytes = bytesOfHex(change[1].get<std::string>());
        if (!bytes || offset > length || bytes->size() > length - offset)
            return std::nullopt;
        std::copy(bytes->begin(), bytes->end(),
                  reply.begin() + static_cast<std::ptrdiff_t>(offset));
    }
    return reply;
}

bool nestsDeeperThan(std::string_view text, std::size_t depth) {
    std::size_t open = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;  // the escaped character cannot end the string
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++open > depth)
                return true;
        } else if ((c == ']' || c == '}') && open > 0) {
            --open;
        }
    }
    return false;
}

}  // namespace velo::trace
