// The fuzzers' check of what leaves the library for people to read: one line, no control
// characters.
#pragma once

#include <string_view>

inline bool oneLine(std::string_view text) {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F) return false;
    return true;
}
