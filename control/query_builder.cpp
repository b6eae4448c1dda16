#include "control/query_builder.h"

#include <cstring>

namespace ipcam {

namespace {

// Bytes that would end the request line, start a fragment, or split the pair or the list.
bool needsEscape(unsigned char c) {
    return c <= 0x20 || c == 0x7F || c == '%' || c == '#' || c == '&' || c == '=';
}

// Appends n bytes at at when they fit before the terminator; at moves past them.
bool put(char *text, std::size_t capacity, std::size_t &at, const char *bytes, std::size_t n) {
    if (at + n >= capacity) return false;
    std::memcpy(text + at, bytes, n);
    at += n;
    return true;
}

bool putValue(char *text, std::size_t capacity, std::size_t &at, std::string_view value) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        const char escaped[3] = {'%', kHex[byte >> 4], kHex[byte & 0xF]};
        if (!(needsEscape(byte) ? put(text, capacity, at, escaped, 3)
                                : put(text, capacity, at, &c, 1)))
            return false;
    }
    return true;
}

}  // namespace

bool appendQueryValue(char *text, std::size_t capacity, std::string_view value) {
    if (!text) return false;
    const std::size_t start = strnlen(text, capacity);
    if (start == capacity) return false;
    std::size_t at = start;
    const bool fitted = putValue(text, capacity, at, value);
    text[fitted ? at : start] = '\0';
    return fitted;
}

bool encodeQueryValue(std::string_view value, char *out, std::size_t capacity) {
    if (!out || capacity == 0) return false;
    out[0] = '\0';
    return appendQueryValue(out, capacity, value);
}

bool BuildQuery(char *text, std::size_t capacity, int count, const char *const *keys,
                const char *const *values) {
    if (!text) return false;
    const std::size_t start = strnlen(text, capacity);
    if (start == capacity) return false;
    std::size_t at = start;
    for (int i = count - 1; i >= 0; --i) {
        if (!values[i] || !values[i][0]) continue;
        if ((at > start && !put(text, capacity, at, "&", 1)) ||
            !put(text, capacity, at, keys[i], std::strlen(keys[i])) ||
            !putValue(text, capacity, at, values[i])) {
            text[start] = '\0';
            return false;
        }
    }
    // The pairs go out without a final "&": with none, a prefix's "&" ("CH=0&") goes too.
    if (at == start && at > 0 && text[at - 1] == '&') --at;
    text[at] = '\0';
    return true;
}

}  // namespace ipcam
