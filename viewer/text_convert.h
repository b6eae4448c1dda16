// UTF-16 (the site record's names, the status line) and UTF-8 (the library's 8-bit texts).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrel {

// At most maxUnits code units of text (to its first zero), encoded as UTF-8 and cut at a
// character boundary so that the result has fewer than maxBytes bytes.
std::string toUtf8(const char16_t *text, std::size_t maxUnits, std::size_t maxBytes);

// Bytes that are not UTF-8 become U+FFFD.
std::u16string fromUtf8(std::string_view text);

}  // namespace kestrel
