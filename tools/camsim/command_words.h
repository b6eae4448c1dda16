// Small readers for the words of control requests ("Point3", "dvrkey_12", "3:Front%20door"),
// shared by the pan/tilt head and the recorder panel.
#pragma once

#include <cctype>
#include <charconv>
#include <optional>
#include <string>
#include <string_view>

namespace camsim {

// A decimal number of 1 to 6 digits and nothing else.
inline std::optional<int> wholeNumber(std::string_view text) {
    if (text.empty() || text.size() > 6) return std::nullopt;
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.front() == '-')
        return std::nullopt;
    return value;
}

// The number that follows prefix in text: numberAfter("Point12", "Point") is 12.
inline std::optional<int> numberAfter(std::string_view text, std::string_view prefix) {
    if (!text.starts_with(prefix)) return std::nullopt;
    return wholeNumber(text.substr(prefix.size()));
}

// "%20" and the other "%XX" escapes decoded; a '%' without two hex digits stays as it is.
inline std::string percentDecoded(std::string_view text) {
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 &&
            hex(text[i + 2]) >= 0) {
            out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace camsim
