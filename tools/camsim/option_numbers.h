// Numbers in kestrel-camsim's option values: decimal digits and nothing else.
#pragma once

#include <charconv>
#include <optional>
#include <string_view>

namespace camsim {

// 0 to max; nothing when text is empty, has anything but digits or is out of range.
inline std::optional<unsigned> parseNumber(std::string_view text, unsigned max) {
    unsigned n = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || n > max)
        return std::nullopt;
    return n;
}

// min to max, a '-' allowed in front.
inline std::optional<int> parseSigned(std::string_view text, int min, int max) {
    int n = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || n < min ||
        n > max)
        return std::nullopt;
    return n;
}

}  // namespace camsim
