#include "transport/h264_sps.h"

#include "core/stream_bits.h"
#include "transport/sdp.h"

namespace ipcam {

namespace {

constexpr uint8_t kSpsType = 7;

// The profiles whose SPS carries the chroma format, bit depths and scaling matrices.
bool hasChromaFormat(uint32_t profile) {
    switch (profile) {
        case 44:
        case 83:
        case 86:
        case 100:
        case 110:
        case 118:
        case 122:
        case 128:
        case 134:
        case 135:
        case 138:
        case 139:
        case 144:
        case 244:
            return true;
        default:
            return false;
    }
}

// A scaling list is read only to get past it: deltas must stay within -128..127.
void skipScalingList(BitReader &r, int size) {
    int32_t last = 8, next = 8;
    for (int j = 0; j < size; ++j) {
        if (next != 0) {
            const int32_t delta = r.se();
            if (delta < -128 || delta > 127) {
                r.fail();
                return;
            }
            next = (last + delta + 256) % 256;
        }
        if (next != 0) last = next;
    }
}

// The VUI up to its timing information; the frame rate, or 0 when there is none.
double readVuiFrameRate(BitReader &r) {
    if (r.flag()) {                        // aspect_ratio_info_present
        if (r.read(8) == 255) r.skip(32);  // extended SAR: sar_width, sar_height
    }
    if (r.flag()) r.skip(1);       // overscan_info_present, overscan_appropriate
    if (r.flag()) {                // video_signal_type_present
        r.skip(4);                 // video_format, video_full_range
        if (r.flag()) r.skip(24);  // colour primaries, transfer, matrix
    }
    if (r.flag()) {  // chroma_loc_info_present
        r.ue();
        r.ue();
    }
    if (!r.flag()) return 0;  // timing_info_present
    const uint32_t unitsInTick = r.read(32);
    const uint32_t timeScale = r.read(32);
    if (unitsInTick == 0 || timeScale == 0) return 0;
    const double rate = timeScale / (2.0 * unitsInTick);
    return rate <= kMaxFrameRate ? rate : 0;
}

}  // namespace

std::optional<VideoParameters> readH264Sps(std::span<const uint8_t> nal) {
    if (nal.size() < 4 || (nal[0] & 0x1F) != kSpsType) return std::nullopt;
    const std::vector<uint8_t> rbsp = unescapeRbsp(nal, 1);
    BitReader r(rbsp);

    const uint32_t profile = r.read(8);
    r.skip(16);                            // constraint flags, level
    if (r.ue() > 31) return std::nullopt;  // seq_parameter_set_id
    uint32_t chromaFormat = 1;
    bool separateColourPlanes = false;
    if (hasChromaFormat(profile)) {
        chromaFormat = r.ue();
        if (chromaFormat > 3) return std::nullopt;
        if (chromaFormat == 3) separateColourPlanes = r.flag();
        if (r.ue() > 6 || r.ue() > 6) return std::nullopt;  // bit depths, luma and chroma
        r.skip(1);                                          // qpprime_y_zero_transform_bypass
        if (r.flag()) {                                     // seq_scaling_matrix_present
            const int lists = chromaFormat == 3 ? 12 : 8;
            for (int i = 0; i < lists && r.ok(); ++i)
                if (r.flag()) skipScalingList(r, i < 6 ? 16 : 64);
        }
    }
    if (r.ue() > 12) return std::nullopt;  // log2_max_frame_num_minus4
    const uint32_t pocType = r.ue();
    if (pocType == 0) {
        if (r.ue() > 12) return std::nullopt;  // log2_max_pic_order_cnt_lsb_minus4
    } else if (pocType == 1) {
        r.skip(1);  // delta_pic_order_always_zero
        r.se();     // offset_for_non_ref_pic
        r.se();     // offset_for_top_to_bottom_field
        const uint32_t cycle = r.ue();
        if (cycle > 255) return std::nullopt;
        for (uint32_t i = 0; i < cycle && r.ok(); ++i) r.se();
    } else if (pocType > 2) {
        return std::nullopt;
    }
    if (r.ue() > 16) return std::nullopt;  // max_num_ref_frames
    r.skip(1);                             // gaps_in_frame_num_value_allowed
    const uint64_t widthInMbs = uint64_t{r.ue()} + 1;
    const uint64_t heightInMapUnits = uint64_t{r.ue()} + 1;
    const bool frameMbsOnly = r.flag();
    if (!frameMbsOnly) r.skip(1);  // mb_adaptive_frame_field
    r.skip(1);                     // direct_8x8_inference

    uint64_t width = widthInMbs * 16;
    uint64_t height = heightInMapUnits * 16 * (frameMbsOnly ? 1 : 2);
    if (r.flag()) {  // frame_cropping
        const uint32_t chromaArray = separateColourPlanes ? 0 : chromaFormat;
        const uint64_t unitX = chromaArray == 1 || chromaArray == 2 ? 2 : 1;
        const uint64_t unitY = (chromaArray == 1 ? 2 : 1) * (frameMbsOnly ? 1 : 2);
        const uint64_t left = r.ue(), right = r.ue(), top = r.ue(), bottom = r.ue();
        const uint64_t cropX = (left + right) * unitX, cropY = (top + bottom) * unitY;
        if (cropX >= width || cropY >= height) return std::nullopt;
        width -= cropX;
        height -= cropY;
    }
    VideoParameters parameters;
    if (r.flag()) parameters.frameRate = readVuiFrameRate(r);  // vui_parameters_present
    if (!r.ok() || width > kMaxPictureSide || height > kMaxPictureSide) return std::nullopt;
    parameters.width = static_cast<int32_t>(width);
    parameters.height = static_cast<int32_t>(height);
    return parameters;
}

}  // namespace ipcam
