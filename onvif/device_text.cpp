#include "onvif/device_text.h"

#include <cstdint>

namespace ipcam {

namespace {

// The length of the valid UTF-8 sequence at text[at] and its code point; 0 when it is none.
std::size_t sequenceAt(std::string_view text, std::size_t at, uint32_t &code) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    uint32_t lowest = 0;
    if (lead < 0x80) {
        code = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, code = lead & 0x1Fu, lowest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, code = lead & 0x0Fu, lowest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, code = lead & 0x07u, lowest = 0x10000;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        code = code << 6 | (byte(at + i) & 0x3Fu);
    }
    // Over-long forms, surrogates and values past U+10FFFF are no characters.
    if (code < lowest || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return 0;
    return length;
}

bool unsafe(uint32_t code) {
    return code < 0x20 || (code >= 0x7F && code <= 0x9F) || code == 0x2028 || code == 0x2029;
}

}  // namespace

std::string deviceText(std::string_view text, std::size_t limit) {
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        uint32_t code = 0;
        const std::size_t length = sequenceAt(text, at, code);
        const bool replaced = length == 0 || unsafe(code);
        if (out.size() + (replaced ? 1 : length) > limit) break;
        if (replaced)
            out += '?';
        else
            out.append(text.substr(at, length));
        at += length == 0 ? 1 : length;
    }
    return out;
}

}  // namespace ipcam
