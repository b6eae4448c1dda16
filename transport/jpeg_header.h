// Rebuilding the JPEG header that the RTP/JPEG payload format (RFC 2435) leaves out.
#pragma once

#include <cstddef>
#include <cstdint>

#include "transport/jpeg_tables.h"

namespace ipcam {

inline constexpr std::size_t kJpegHeaderArea = 1024;

struct JpegHeaderResult {
    bool ok = false;
    std::size_t headerLength = 0;    // bytes written to the output area (0 for a later fragment)
    std::size_t payloadHeaders = 0;  // bytes of the payload taken by the RTP/JPEG headers
};

// Reads the RTP/JPEG headers at the start of payload. For the first fragment (offset 0) it
// writes a complete JPEG header (SOI up to SOS) into out, which holds capacity bytes; later
// fragments need none. Fails on a payload shorter than a header it needs or a header that
// does not fit.
JpegHeaderResult makeJpegHeader(const uint8_t *payload, std::size_t length, uint8_t *out,
                                std::size_t capacity = kJpegHeaderArea);

// Width and height from the start-of-frame segment of a JPEG picture; false when it has none
// within length.
bool jpegPictureSize(const uint8_t *picture, std::size_t length, int32_t &width, int32_t &height);

}  // namespace ipcam
