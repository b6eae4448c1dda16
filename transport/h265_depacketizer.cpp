#include "transport/h265_depacketizer.h"

#include <charconv>
#include <iterator>
#include <string>
#include <utility>

#include "transport/h265_sps.h"
#include "transport/sdp.h"

namespace ipcam {

namespace {

constexpr int kAggregation = 48;
constexpr int kFragment = 49;
constexpr int kFirstPayloadStructure = 48;  // 48-50 are not NAL unit types of their own
constexpr int kLastPayloadStructure = 50;
constexpr int kDelimiter = 35;
constexpr std::size_t kMaxParameterSet = 16 * 1024;
// After this many packets in a row refused as older, the sender is taken to have started
// its numbering over.
constexpr int kMaxOlderInARow = 64;

bool isBaseLayer(std::span<const uint8_t> nal) {
    return nal.size() >= 2 && (nal[0] & 1) == 0 && (nal[1] >> 3) == 0;
}

bool isParameterSet(int type) {
    return type == kH265Vps || type == kH265Sps || type == kH265Pps;
}

}  // namespace

void H265Depacketizer::configure(std::string_view fmtpParameters) {
    *this = H265Depacketizer{};
    MediaSection section;
    section.parameters = std::string(fmtpParameters);
    for (const char *name : {"sprop-vps", "sprop-sps", "sprop-pps"})
        if (auto list = fmtpParameter(section, name))
            for (const Bytes &nal : parameterSetList(*list))
                if (nal.size() >= 2 && isParameterSet(h265NalType(nal[0]))) keepParameterSet(nal);
    if (auto text = fmtpParameter(section, "sprop-max-don-diff")) {
        uint32_t value = 0;
        const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
        decodingOrderNumbers_ =
            error == std::errc{} && end == text->data() + text->size() && value != 0;
    }
}

void H265Depacketizer::restart() {
    clearUnit();
    haveSequence_ = false;
    olderInARow_ = 0;
    waitingForKey_ = true;
    lossPending_ = false;
    skippingSkippedLeading_ = false;
}

void H265Depacketizer::push(const RtpPacket &packet, std::vector<AccessUnit> &out) {
    bool gap = false;
    if (!takeSequence(packet.sequence, gap)) return;
    if (gap) {
        if (collecting_) damage();
        noteLoss();
    }
    if (collecting_ && packet.timestamp != timestamp_) finishUnit(out);
    if (!collecting_) {
        collecting_ = true;
        timestamp_ = packet.timestamp;
    }
    if (!discarding_) takePayload(packet.payload);
    if (packet.marker) finishUnit(out);
}

bool H265Depacketizer::takeSequence(uint16_t sequence, bool &gap) {
    if (haveSequence_) {
        const uint16_t ahead = static_cast<uint16_t>(sequence - sequence_);
        if (ahead == 0 || ahead >= 0x8000) {
            if (++olderInARow_ <= kMaxOlderInARow) return false;
            gap = true;
        } else {
            gap = ahead != 1;
        }
    }
    haveSequence_ = true;
    sequence_ = sequence;
    olderInARow_ = 0;
    return true;
}

void H265Depacketizer::takePayload(std::span<const uint8_t> payload) {
    if (payload.size() < 2) return;  // not even a payload header: nothing in it
    if (payload[0] & 0x80) {         // the sender marks it as broken
        damage();
        return;
    }
    const int type = h265NalType(payload[0]);
    if (type == kFragment) {
        takeFragment(payload);
        return;
    }
    if (type > kAggregation) return;  // PACI and types of no meaning here
    if (fragmentOpen_) {              // the fragmented NAL unit never ended
        damage();
        return;
    }
    if (type == kAggregation) {
        takeAggregation(payload);
    } else if (!decodingOrderNumbers_) {
        takeNalUnit(payload);
    } else if (payload.size() < 4) {
        damage();
    } else {
        Bytes nal(payload.begin(), payload.begin() + 2);  // the header, then what follows DONL
        nal.insert(nal.end(), payload.begin() + 4, payload.end());
        takeNalUnit(nal);
    }
}

void H265Depacketizer::takeAggregation(std::span<const uint8_t> payload) {
    // Every size is checked before anything is taken: an aggregation that overruns the
    // packet is not trusted at all.
    std::vector<std::span<const uint8_t>> units;
    std::size_t at = 2 + (decodingOrderNumbers_ ? 2 : 0);  // DONL before the first unit
    if (at > payload.size()) {
        damage();
        return;
    }
    while (at < payload.size()) {
        if (!units.empty() && decodingOrderNumbers_) ++at;  // DOND before the later ones
        if (payload.size() < 2 || at > payload.size() - 2) {
            damage();
            return;
        }
        const std::size_t size = std::size_t{payload[at]} << 8 | payload[at + 1];
        at += 2;
        if (size < 2 || size > payload.size() - at) {
            damage();
            return;
        }
        units.push_back(payload.subspan(at, size));
        at += size;
    }
    for (std::span<const uint8_t> nal : units) {
        takeNalUnit(nal);
        if (discarding_) return;
    }
}

void H265Depacketizer::takeFragment(std::span<const uint8_t> payload) {
    if (payload.size() < 3) {
        damage();
        return;
    }
    const bool start = payload[2] & 0x80, end = payload[2] & 0x40;
    const int type = payload[2] & 0x3F;
    if ((start && end) || (type >= kFirstPayloadStructure && type <= kLastPayloadStructure)) {
        damage();
        return;
    }
    std::size_t skip = 3;
    if (start) {
        skip += decodingOrderNumbers_ ? 2 : 0;
        if (fragmentOpen_ || payload.size() < skip) {
            damage();
            return;
        }
        fragmentOpen_ = true;
        fragmentType_ = type;
        fragmentStart_ = body_.size();
        body_.insert(body_.end(), std::begin(kAnnexBStart), std::end(kAnnexBStart));
        // The NAL unit's header is the payload header with the fragment's type in it.
        body_.push_back(static_cast<uint8_t>((payload[0] & 0x81) | type << 1));
        body_.push_back(payload[1]);
    } else if (!fragmentOpen_ || type != fragmentType_) {
        damage();
        return;
    }
    body_.insert(body_.end(), payload.begin() + static_cast<std::ptrdiff_t>(skip), payload.end());
    if (body_.size() > kMaxH265AccessUnit) {
        damage();
        return;
    }
    if (!end) return;
    fragmentOpen_ = false;
    const std::size_t nalStart = fragmentStart_ + std::size(kAnnexBStart);
    const std::span<const uint8_t> nal(body_.data() + nalStart, body_.size() - nalStart);
    if (isParameterSet(type) && isBaseLayer(nal)) {
        const Bytes set(nal.begin(), nal.end());
        body_.resize(fragmentStart_);
        keepParameterSet(set);
    } else {
        noteBodyNalUnit(fragmentStart_);
    }
}

void H265Depacketizer::takeNalUnit(std::span<const uint8_t> nal) {
    if (isParameterSet(h265NalType(nal[0])) && isBaseLayer(nal)) {
        keepParameterSet(nal);
        return;
    }
    if (body_.size() + std::size(kAnnexBStart) + nal.size() > kMaxH265AccessUnit) {
        damage();
        return;
    }
    const std::size_t offset = body_.size();
    appendNalUnit(body_, nal);
    noteBodyNalUnit(offset);
}

void H265Depacketizer::noteBodyNalUnit(std::size_t offset) {
    const std::size_t at = offset + std::size(kAnnexBStart);
    const int type = h265NalType(body_[at]);
    if (offset == 0 && type == kDelimiter) delimiterEnd_ = body_.size();
    if (type >= 32) return;  // not a picture's slice
    if (!sawPicture_) {
        // The first slice segment of a picture says so in the first bit after the header.
        startsPicture_ = body_.size() > at + 2 && (body_[at + 2] & 0x80);
        sawPicture_ = true;
    }
    randomAccess_ |= type >= 16 && type <= 23;
    nonReference_ &= type <= 14 && type % 2 == 0;
    skippedLeading_ &= type == 8 || type == 9;
}

bool H265Depacketizer::keepParameterSet(std::span<const uint8_t> nal) {
    const std::optional<uint32_t> id = h265ParameterSetId(nal);
    if (!id || nal.size() > kMaxParameterSet) return false;
    const int type = h265NalType(nal[0]);
    if (type == kH265Sps) {
        const std::optional<VideoParameters> read = readH265Sps(nal);
        if (!read) return false;
        parameters_ = read;
    }
    auto &sets = type == kH265Vps ? vps_ : type == kH265Sps ? sps_ : pps_;
    sets[*id].assign(nal.begin(), nal.end());
    return true;
}

void H265Depacketizer::noteLoss() {
    if (strict_)
        waitingForKey_ = true;
    else
        lossPending_ = true;
}

void H265Depacketizer::damage() {
    body_.clear();
    fragmentOpen_ = false;
    discarding_ = true;
    noteLoss();
}

void H265Depacketizer::finishUnit(std::vector<AccessUnit> &out) {
    if (collecting_ && !discarding_) {
        if (fragmentOpen_)
            noteLoss();  // its last fragment never came
        else
            deliver(out);
    }
    clearUnit();
}

void H265Depacketizer::deliver(std::vector<AccessUnit> &out) {
    if (!sawPicture_) return;  // parameter sets or messages without a picture
    if (!startsPicture_) {     // its beginning was lost
        noteLoss();
        return;
    }
    AccessUnit unit;
    unit.timestamp = timestamp_;
    if (randomAccess_) {
        if (vps_.empty() || sps_.empty() || pps_.empty()) {
            waitingForKey_ = true;
            return;
        }
        const Bytes sets = parameterSets();
        unit.kind = IPCAM_FRAME_KEY;
        unit.data.reserve(sets.size() + body_.size());
        // An access unit delimiter stays in front of everything.
        const auto delimiterEnd = body_.begin() + static_cast<std::ptrdiff_t>(delimiterEnd_);
        unit.data.insert(unit.data.end(), body_.begin(), delimiterEnd);
        unit.data.insert(unit.data.end(), sets.begin(), sets.end());
        unit.data.insert(unit.data.end(), delimiterEnd, body_.end());
        unit.parametersChanged = sets != lastDeliveredSets_;
        lastDeliveredSets_ = sets;
        // Leading pictures that refer to pictures before a random access point the stream
        // starts at cannot be decoded.
        skippingSkippedLeading_ = waitingForKey_;
        waitingForKey_ = lossPending_ = false;
        out.push_back(std::move(unit));
        return;
    }
    if (waitingForKey_) return;
    if (skippingSkippedLeading_ && skippedLeading_) return;
    skippingSkippedLeading_ = false;
    unit.kind = nonReference_ ? IPCAM_FRAME_DROPPABLE : IPCAM_FRAME_DEPENDENT;
    unit.data = std::move(body_);
    unit.afterLoss = std::exchange(lossPending_, false);
    out.push_back(std::move(unit));
}

void H265Depacketizer::clearUnit() {
    collecting_ = false;
    discarding_ = false;
    body_.clear();
    fragmentOpen_ = false;
    fragmentStart_ = 0;
    fragmentType_ = 0;
    delimiterEnd_ = 0;
    sawPicture_ = false;
    startsPicture_ = false;
    randomAccess_ = false;
    nonReference_ = true;
    skippedLeading_ = true;
}

H265Depacketizer::Bytes H265Depacketizer::parameterSets() const {
    Bytes sets;
    for (const auto *kind : {&vps_, &sps_, &pps_})
        for (const auto &[id, nal] : *kind) appendNalUnit(sets, nal);
    return sets;
}

}  // namespace ipcam
