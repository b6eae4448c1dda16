// What devices can do, as the control and settings commands name it: the model sets, codec,
// standard and quality codes, and the table of the 30 resolutions whose bits form masks.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace ipcam {

// Fixed sets of model codes that decide how a command is worded or what a camera offers.
enum class ModelSet { S1, S2, S3, S4, S5, S6, S7, S8, S9 };
bool inModelSet(ModelSet set, uint32_t modelCode);

// Codecs, one bit each so that masks can be formed.
inline constexpr int32_t kCodecMpeg4 = 1, kCodecMjpeg = 2, kCodecH264 = 4;
// The codec a camera text names ("mpeg4", "mjpeg" or "mjpge", "h264" or "h.264"), or 0.
int32_t codecFromText(std::string_view text);
// "MPEG4", "MJPEG", "H.264", or "" for anything else.
std::string_view codecDisplayText(int32_t codec);

inline constexpr int32_t kStandardNtsc = 1, kStandardPal = 2;
std::string_view standardText(int32_t standard);  // "NTSC", "PAL" or ""

// Quality levels 1 (Low) to 5 (Best): display text, JPEG quality value and bit rate.
struct QualityLevel {
    std::string_view text;
    int32_t jpegQuality;     // smaller is better
    int32_t jpegQuality161;  // the same for model code 161
    int32_t bitRate;         // kbit/s
};
const QualityLevel *qualityLevel(int32_t level);

// The resolution table: bit i of a resolution mask stands for entry i.
std::span<const std::string_view> resolutionTexts();
// The longest entry the text begins with, as its bit, or 0.
uint32_t resolutionBit(std::string_view text);
// The text of the highest set bit of mask, or "" for an empty mask.
std::string_view resolutionOfMask(uint32_t mask);

}  // namespace ipcam
