#include "control/capabilities.h"

#include <algorithm>
#include <array>
#include <bit>

namespace ipcam {

namespace {

struct Range {
    uint8_t first, last;
};

// Members as ranges of model codes, both ends included.
constexpr Range kS1[] = {{60, 60},   {71, 71},   {77, 80},  {84, 88},
                         {122, 122}, {124, 124}, {126, 126}};
constexpr Range kS2[] = {{61, 64}, {67, 67}, {69, 69},   {72, 72},  {81, 81},
                         {83, 83}, {89, 89}, {123, 123}, {127, 130}};
constexpr Range kS3[] = {{68, 68}, {73, 76}, {121, 121}, {125, 125}};
constexpr Range kS4[] = {{57, 59}};
constexpr Range kS5[] = {{90, 91}, {99, 99}};
constexpr Range kS6[] = {{61, 61}, {76, 76}, {80, 81}, {135, 135}};
constexpr Range kS7[] = {{93, 98}};
constexpr Range kS8[] = {{60, 60}, {64, 64}, {71, 71}, {84, 84}, {90, 91}, {99, 99}};
constexpr Range kS9[] = {{0, 0}, {10, 56}, {82, 82}, {88, 123}};

constexpr std::array<std::span<const Range>, 9> kSets = {kS1, kS2, kS3, kS4, kS5,
                                                         kS6, kS7, kS8, kS9};

constexpr std::string_view kResolutions[] = {
    "160x112",   "160x120",   "176x144",   "176x120",   "192x144",   "240x180",
    "320x240",   "352x240",   "352x288",   "384x288",   "480x360",   "640x480",
    "704x240",   "704x288",   "704x240x2", "704x288x2", "704x480",   "704x576",
    "720x480",   "720x576",   "768x576",   "800x600",   "1280x720",  "1280x960",
    "1280x1024", "1600x1200", "1920x1080", "2048x1536", "2560x1920", "2560x2048"};

constexpr QualityLevel kQualities[] = {{"Low", 19, 31, 64},
                                       {"Medium", 14, 27, 512},
                                       {"Standard", 10, 23, 1000},
                                       {"High", 7, 19, 2000},
                                       {"Best", 5, 16, 3000}};

}  // namespace

bool inModelSet(ModelSet set, uint32_t modelCode) {
    if (modelCode > 0xFF) return false;
    for (const Range &r : kSets[static_cast<std::size_t>(set)])
        if (modelCode >= r.first && modelCode <= r.last) return true;
    return false;
}

int32_t codecFromText(std::string_view text) {
    if (text == "mpeg4") return kCodecMpeg4;
    if (text == "mjpeg" || text == "mjpge") return kCodecMjpeg;
    if (text == "h264" || text == "h.264") return kCodecH264;
    return 0;
}

std::string_view codecDisplayText(int32_t codec) {
    switch (codec) {
        case kCodecMpeg4:
            return "MPEG4";
        case kCodecMjpeg:
            return "MJPEG";
        case kCodecH264:
            return "H.264";
        default:
            return "";
    }
}

std::string_view standardText(int32_t standard) {
    return standard == kStandardNtsc ? "NTSC" : standard == kStandardPal ? "PAL" : "";
}

const QualityLevel *qualityLevel(int32_t level) {
    return level >= 1 && level <= 5 ? &kQualities[level - 1] : nullptr;
}

std::span<const std::string_view> resolutionTexts() {
    return kResolutions;
}

uint32_t resolutionBit(std::string_view text) {
    // The longest entry wins, so "704x240x2" is not taken for "704x240".
    uint32_t bit = 0;
    std::size_t longest = 0;
    for (std::size_t i = 0; i < std::size(kResolutions); ++i) {
        if (text.starts_with(kResolutions[i]) && kResolutions[i].size() > longest) {
            bit = 1u << i;
            longest = kResolutions[i].size();
        }
    }
    return bit;
}

std::string_view resolutionOfMask(uint32_t mask) {
    mask &= (1u << std::size(kResolutions)) - 1;
    if (mask == 0) return "";
    return kResolutions[31 - std::countl_zero(mask)];
}

}  // namespace ipcam
