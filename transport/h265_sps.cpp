#include "transport/h265_sps.h"

#include <algorithm>
#include <array>
#include <vector>

#include "core/stream_bits.h"
#include "transport/sdp.h"

namespace ipcam {

namespace {

// Larger than any level allows (8 times the largest picture area, square rooted).
constexpr uint32_t kMaxPictureSide = 16888;
constexpr uint32_t kMaxSubLayers = 7;
constexpr uint32_t kMaxShortTermSets = 64;
constexpr uint32_t kMaxLongTermPictures = 32;
constexpr int kMaxDeltaPictures = 16;  // each way, in one short-term set

// The two-byte header: forbidden bit clear, the type asked for, base layer.
bool isBaseLayer(std::span<const uint8_t> nal, int type) {
    return nal.size() >= 2 && (nal[0] & 0x80) == 0 && h265NalType(nal[0]) == type &&
           ((nal[0] & 1) << 5 | nal[1] >> 3) == 0;
}

void skipProfileTierLevel(BitReader &r, uint32_t maxSubLayersMinus1) {
    r.skip(88);  // profile space, tier, profile, compatibility and constraint flags
    r.skip(8);   // general level
    std::array<bool, 8> profilePresent{}, levelPresent{};
    for (uint32_t i = 0; i < maxSubLayersMinus1; ++i) {
        profilePresent[i] = r.flag();
        levelPresent[i] = r.flag();
    }
    if (maxSubLayersMinus1 > 0)
        for (uint32_t i = maxSubLayersMinus1; i < 8; ++i) r.skip(2);
    for (uint32_t i = 0; i < maxSubLayersMinus1; ++i) {
        if (profilePresent[i]) r.skip(88);
        if (levelPresent[i]) r.skip(8);
    }
}

// What the SPS says up to the conformance window.
struct SpsHead {
    uint32_t id = 0;
    uint32_t maxSubLayersMinus1 = 0;
    uint32_t width = 0, height = 0;  // after cropping
};

// Reads up to and including the conformance window; false when cut or nonsensical.
bool readHead(BitReader &r, SpsHead &head) {
    r.skip(4);  // sps_video_parameter_set_id
    head.maxSubLayersMinus1 = r.read(3);
    r.skip(1);  // temporal id nesting
    if (head.maxSubLayersMinus1 >= kMaxSubLayers) return false;
    skipProfileTierLevel(r, head.maxSubLayersMinus1);
    head.id = r.ue();
    const uint32_t chromaFormat = r.ue();
    if (!r.ok() || head.id > 15 || chromaFormat > 3) return false;
    const bool separatePlanes = chromaFormat == 3 && r.flag();
    // The window's offsets count chroma samples: two luma samples across for 4:2:0 and 4:2:2,
    // two down for 4:2:0; one each for monochrome, 4:4:4 and separately coded planes.
    const uint64_t unitX = !separatePlanes && (chromaFormat == 1 || chromaFormat == 2) ? 2 : 1;
    const uint64_t unitY = !separatePlanes && chromaFormat == 1 ? 2 : 1;
    const uint32_t width = r.ue();
    const uint32_t height = r.ue();
    uint64_t cropX = 0, cropY = 0;
    if (r.flag()) {
        cropX = unitX * (uint64_t{r.ue()} + r.ue());
        cropY = unitY * (uint64_t{r.ue()} + r.ue());
    }
    if (!r.ok() || width == 0 || height == 0 || width > kMaxPictureSide ||
        height > kMaxPictureSide || cropX >= width || cropY >= height)
        return false;
    head.width = static_cast<uint32_t>(width - cropX);
    head.height = static_cast<uint32_t>(height - cropY);
    return true;
}

void skipScalingListData(BitReader &r) {
    for (int sizeId = 0; sizeId < 4 && r.ok(); ++sizeId) {
        for (int matrixId = 0; matrixId < 6; matrixId += sizeId == 3 ? 3 : 1) {
            if (!r.flag()) {
                r.ue();  // predicted from another matrix
                continue;
            }
            const int coefficients = std::min(64, 1 << (4 + (sizeId << 1)));
            if (sizeId > 1) r.se();  // DC coefficient
            for (int i = 0; i < coefficients && r.ok(); ++i) r.se();
        }
    }
}

// The picture order count differences of one short-term reference picture set, which a later
// set may be predicted from.
struct ShortTermSet {
    int negatives = 0, positives = 0;
    std::array<int64_t, kMaxDeltaPictures> before{}, after{};  // DeltaPocS0, DeltaPocS1
};

// Adds delta to what a set holds if there is room; false when it is full.
bool addDelta(std::array<int64_t, kMaxDeltaPictures> &deltas, int &count, int64_t delta) {
    if (count == kMaxDeltaPictures) return false;
    deltas[static_cast<std::size_t>(count++)] = delta;
    return true;
}

// A set predicted from the one before it: which of its pictures (and the reference picture
// itself, the last entry) are used, shifted by deltaRps.
bool readPredictedSet(BitReader &r, const ShortTermSet &ref, ShortTermSet &set) {
    const bool negative = r.flag();
    const int64_t magnitude = int64_t{r.ue()} + 1;
    const int64_t deltaRps = negative ? -magnitude : magnitude;
    const int count = ref.negatives + ref.positives;
    std::array<bool, 2 * kMaxDeltaPictures + 1> use{};
    for (int j = 0; j <= count; ++j) {
        const bool usedByCurrent = r.flag();
        use[static_cast<std::size_t>(j)] = usedByCurrent || r.flag();
    }
    const auto used = [&](int j) { return use[static_cast<std::size_t>(j)]; };
    bool fits = true;
    for (int j = ref.positives - 1; j >= 0; --j) {
        const int64_t d = ref.after[static_cast<std::size_t>(j)] + deltaRps;
        if (d < 0 && used(ref.negatives + j)) fits &= addDelta(set.before, set.negatives, d);
    }
    if (deltaRps < 0 && used(count)) fits &= addDelta(set.before, set.negatives, deltaRps);
    for (int j = 0; j < ref.negatives; ++j) {
        const int64_t d = ref.before[static_cast<std::size_t>(j)] + deltaRps;
        if (d < 0 && used(j)) fits &= addDelta(set.before, set.negatives, d);
    }
    for (int j = ref.negatives - 1; j >= 0; --j) {
        const int64_t d = ref.before[static_cast<std::size_t>(j)] + deltaRps;
        if (d > 0 && used(j)) fits &= addDelta(set.after, set.positives, d);
    }
    if (deltaRps > 0 && used(count)) fits &= addDelta(set.after, set.positives, deltaRps);
    for (int j = 0; j < ref.positives; ++j) {
        const int64_t d = ref.after[static_cast<std::size_t>(j)] + deltaRps;
        if (d > 0 && used(ref.negatives + j)) fits &= addDelta(set.after, set.positives, d);
    }
    return fits;
}

bool readShortTermSets(BitReader &r) {
    const uint32_t count = r.ue();
    if (count > kMaxShortTermSets) return false;
    std::vector<ShortTermSet> sets;
    sets.reserve(count);
    for (uint32_t i = 0; i < count && r.ok(); ++i) {
        ShortTermSet set;
        if (i != 0 && r.flag()) {
            if (!readPredictedSet(r, sets.back(), set)) return false;
        } else {
            const uint32_t negatives = r.ue(), positives = r.ue();
            if (negatives > kMaxDeltaPictures || positives > kMaxDeltaPictures) return false;
            int64_t poc = 0;
            for (uint32_t j = 0; j < negatives; ++j) {
                poc -= int64_t{r.ue()} + 1;
                r.skip(1);  // used by the current picture
                addDelta(set.before, set.negatives, poc);
            }
            poc = 0;
            for (uint32_t j = 0; j < positives; ++j) {
                poc += int64_t{r.ue()} + 1;
                r.skip(1);
                addDelta(set.after, set.positives, poc);
            }
        }
        sets.push_back(set);
    }
    return r.ok();
}

// The VUI up to its timing information: the frame rate, 0 without timing.
double readVuiFrameRate(BitReader &r) {
    if (r.flag()) {              // aspect ratio
        if (r.read(8) == 255) {  // extended: sample aspect ratio written out
            r.skip(16);
            r.skip(16);
        }
    }
    if (r.flag()) r.skip(1);  // overscan
    if (r.flag()) {           // video signal type
        r.skip(3 + 1);
        if (r.flag()) r.skip(8 + 8 + 8);  // colour primaries, transfer, matrix
    }
    if (r.flag()) {  // chroma sample locations
        r.ue();
        r.ue();
    }
    r.skip(3);       // neutral chroma, field sequence, frame field information
    if (r.flag()) {  // default display window
        for (int i = 0; i < 4; ++i) r.ue();
    }
    if (!r.flag()) return 0;
    const uint32_t unitsInTick = r.read(32);
    const uint32_t timeScale = r.read(32);
    if (!r.ok() || unitsInTick == 0 || timeScale == 0) return 0;
    const double rate = static_cast<double>(timeScale) / unitsInTick;
    return rate <= kMaxFrameRate ? rate : 0;
}

// From after the conformance window to the frame rate of the VUI; 0 when anything on the way
// cannot be read.
double readFrameRate(BitReader &r, const SpsHead &head) {
    r.ue();  // luma bit depth
    r.ue();  // chroma bit depth
    const uint32_t pocLsbBits = r.ue() + 4;
    if (pocLsbBits > 16) return 0;
    const bool everySubLayer = r.flag();
    for (uint32_t i = everySubLayer ? 0 : head.maxSubLayersMinus1; i <= head.maxSubLayersMinus1;
         ++i) {
        r.ue();  // picture buffering
        r.ue();  // reordering
        r.ue();  // latency
    }
    for (int i = 0; i < 6; ++i) r.ue();  // coding and transform block sizes and depths
    if (r.flag() && r.flag()) skipScalingListData(r);
    r.skip(2);       // asymmetric motion partitions, sample adaptive offset
    if (r.flag()) {  // PCM
        r.skip(4 + 4);
        r.ue();
        r.ue();
        r.skip(1);
    }
    if (!r.ok() || !readShortTermSets(r)) return 0;
    if (r.flag()) {  // long-term reference pictures
        const uint32_t count = r.ue();
        if (count > kMaxLongTermPictures) return 0;
        for (uint32_t i = 0; i < count; ++i) r.skip(pocLsbBits + 1);
    }
    r.skip(2);                // temporal motion vector prediction, strong intra smoothing
    if (!r.flag()) return 0;  // no VUI
    const double rate = readVuiFrameRate(r);
    return r.ok() ? rate : 0;
}

}  // namespace

std::optional<VideoParameters> readH265Sps(std::span<const uint8_t> nal) {
    if (!isBaseLayer(nal, kH265Sps)) return std::nullopt;
    const std::vector<uint8_t> rbsp = unescapeRbsp(nal, 2);
    BitReader r(rbsp);
    SpsHead head;
    if (!readHead(r, head)) return std::nullopt;
    VideoParameters parameters;
    parameters.width = static_cast<int32_t>(head.width);
    parameters.height = static_cast<int32_t>(head.height);
    parameters.frameRate = readFrameRate(r, head);
    return parameters;
}

std::optional<uint32_t> h265ParameterSetId(std::span<const uint8_t> nal) {
    if (nal.size() < 2) return std::nullopt;
    const int type = h265NalType(nal[0]);
    if (!isBaseLayer(nal, type)) return std::nullopt;
    const std::vector<uint8_t> rbsp = unescapeRbsp(nal, 2);
    BitReader r(rbsp);
    uint32_t id = 0, limit = 0;
    if (type == kH265Vps) {
        id = r.read(4);
        limit = 15;
    } else if (type == kH265Sps) {
        r.skip(4);
        const uint32_t maxSubLayersMinus1 = r.read(3);
        r.skip(1);
        if (maxSubLayersMinus1 >= kMaxSubLayers) return std::nullopt;
        skipProfileTierLevel(r, maxSubLayersMinus1);
        id = r.ue();
        limit = 15;
    } else if (type == kH265Pps) {
        id = r.ue();
        limit = 63;
    } else {
        return std::nullopt;
    }
    if (!r.ok() || id > limit) return std::nullopt;
    return id;
}

}  // namespace ipcam
