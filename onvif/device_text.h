// Texts a device wrote (names, scopes, tokens), made safe to show: whatever a device sends,
// what leaves the library stays on one line and is valid UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace ipcam {

// text with every control character (C0, DEL, C1), line or paragraph separator (U+2028,
// U+2029) and byte that is not part of valid UTF-8 replaced by '?'; at most limit bytes, cut
// before a character that would not fit whole (for the fixed fields of public records).
std::string deviceText(std::string_view text, std::size_t limit = std::string_view::npos);

}  // namespace ipcam
