// Bounded copies into the fixed-size text fields of the library's records.
//
// Every fixed field is written through these helpers, so nothing a camera or a caller sends
// can run past a field: a text either fits with its terminating NUL or is refused (copyText)
// or cut (copyTextCut).
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace ipcam {

// Copies text into field when it fits with its NUL; returns false and leaves the field
// untouched otherwise.
inline bool copyText(char *field, std::size_t capacity, std::string_view text) noexcept {
    if (capacity == 0 || text.size() >= capacity) return false;
    if (!text.empty()) std::memcpy(field, text.data(), text.size());
    field[text.size()] = '\0';
    return true;
}

template <std::size_t N>
bool copyText(char (&field)[N], std::string_view text) noexcept {
    return copyText(field, N, text);
}

// Copies as much of text as fits with its NUL; returns the number of characters kept.
inline std::size_t copyTextCut(char *field, std::size_t capacity, std::string_view text) noexcept {
    if (capacity == 0) return 0;
    std::size_t n = text.size() < capacity - 1 ? text.size() : capacity - 1;
    if (n) std::memcpy(field, text.data(), n);
    field[n] = '\0';
    return n;
}

template <std::size_t N>
std::size_t copyTextCut(char (&field)[N], std::string_view text) noexcept {
    return copyTextCut(field, N, text);
}

// The text held by a NUL-terminated field, never reading past the field.
template <std::size_t N>
std::string_view fieldText(const char (&field)[N]) noexcept {
    return std::string_view(field, strnlen(field, N));
}

}  // namespace ipcam
