// A baseline JPEG encoder shaped for RTP/JPEG: three components with ids 1, 2, 3, luma on
// quantisation table 0 and chroma on table 1, the example Huffman tables, and optional restart
// markers. A receiver that rebuilds the headers from the RTP/JPEG fields alone gets exactly
// the picture encoded here, which is why libavcodec's encoder (optimised Huffman tables, its
// own quantisation) does not serve.
#pragma once

#include <string>

#include "tools/camsim/jpeg_tables.h"
#include "tools/camsim/test_pattern.h"

namespace camsim {

struct JpegParams {
    QuantTables tables;
    int restartInterval = 0;  // MCUs between restart markers; 0: none
};

// The entropy-coded scan of picture: what follows the SOS segment, without the end-of-image
// marker. 4:2:2 pictures give MCUs of 16x8 pixels, 4:2:0 of 16x16; width and height must be
// multiples of the MCU.
std::string encodeJpegScan(const Picture &picture, const JpegParams &params);

// SOI through SOS for a scan of encodeJpegScan with the same arguments, so that
// header + scan + "\xFF\xD9" is a complete JPEG file.
std::string jpegHeaders(int width, int height, Chroma chroma, const JpegParams &params);

}  // namespace camsim
