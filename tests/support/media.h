// Real pictures for tests: JPEG from libjpeg, MPEG-4 from libavcodec, and decoding with
// libavcodec to check that what our readers deliver is playable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel_test {

struct JpegOptions {
    int width = 64, height = 48;
    int quality = 50;  // libjpeg scales its tables exactly as RTP/JPEG receivers do
    bool subsample420 = false;
    int restartInterval = 0;  // in MCUs
};

// A baseline JPEG with the standard Huffman tables.
std::string encodeJpeg(const JpegOptions &options);

// The entropy-coded data of a JPEG: everything after the SOS segment, end marker included.
std::string scanData(const std::string &jpeg);

// The quantisation tables of a JPEG's DQT segments, in file order.
std::string quantTables(const std::string &jpeg);

// MPEG-4 part 2 frames as a camera sends them: configuration headers before every key frame.
std::vector<std::string> encodeMpeg4(int width, int height, int frames, int gop);

enum class TestCodec { Mpeg4, H264, H265 };

// Frames of any of the codecs, one access unit each, without B-frames. H.264 and H.265 come
// in Annex B form with their parameter sets in front of every key frame (libx264, libx265).
std::vector<std::string> encodeVideo(TestCodec codec, int width, int height, int frames, int gop);

struct Decoded {
    bool ok = false;
    int width = 0, height = 0;
};

// Decodes one JPEG picture.
Decoded decodeJpeg(const std::string &jpeg);

// Decodes MPEG-4 frames in order; ok when every one decoded, with the size of the last.
Decoded decodeMpeg4(const std::vector<std::string> &frames);

// The same for any of the codecs.
Decoded decodeVideo(TestCodec codec, const std::vector<std::string> &frames);

// Decodes frames in order as a player does, concealing what is damaged: how many pictures
// came out, and how many frames were refused or came out marked as damaged.
struct DecodeCount {
    int pictures = 0, damaged = 0;
};
DecodeCount decodeConcealing(TestCodec codec, const std::vector<std::string> &frames);

}  // namespace kestrel_test
