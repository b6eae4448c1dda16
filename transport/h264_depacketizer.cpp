#include "transport/h264_depacketizer.h"

#include <algorithm>
#include <charconv>
#include <utility>

#include "core/stream_bits.h"
#include "transport/h264_sps.h"
#include "transport/sdp.h"

namespace ipcam {

namespace {

// NAL unit types (the low five bits of the header byte).
constexpr uint8_t kIdrSlice = 5;
constexpr uint8_t kSei = 6;
constexpr uint8_t kRecoveryPoint = 6;  // SEI payload type
constexpr uint8_t kDelimiter = 9;
constexpr uint8_t kSequenceSet = 7;
constexpr uint8_t kPictureSet = 8;
constexpr uint8_t kAggregate = 24;  // STAP-A
constexpr uint8_t kFragment = 28;   // FU-A

// A packet this far behind the last one is taken as late or repeated; further behind, as a
// sender that started numbering afresh.
constexpr int kMisorder = 100;

uint8_t nalType(uint8_t header) {
    return header & 0x1F;
}

// The pic_parameter_set_id a PPS begins with.
std::optional<uint32_t> pictureSetId(std::span<const uint8_t> nal) {
    const std::vector<uint8_t> rbsp =
        unescapeRbsp(nal.first(std::min<std::size_t>(nal.size(), 8)), 1);
    BitReader r(rbsp);
    const uint32_t id = r.ue();
    if (!r.ok() || id > 255) return std::nullopt;
    return id;
}

// Whether an SEI NAL unit holds a recovery point message. Each message is a type and a size,
// both coded as runs of FF bytes plus a last byte; the trailing bits end the list.
bool holdsRecoveryPoint(std::span<const uint8_t> nal) {
    const std::vector<uint8_t> rbsp = unescapeRbsp(nal, 1);
    std::size_t at = 0;
    const auto number = [&](std::size_t &value) {
        value = 0;
        while (at < rbsp.size() && rbsp[at] == 0xFF) value += rbsp[at++];
        if (at == rbsp.size()) return false;
        value += rbsp[at++];
        return true;
    };
    while (rbsp.size() - at > 1) {
        std::size_t type = 0, size = 0;
        if (!number(type) || !number(size)) return false;
        if (type == kRecoveryPoint) return true;
        if (size > rbsp.size() - at) return false;
        at += size;
    }
    return false;
}

}  // namespace

void H264Depacketizer::configure(std::string_view fmtpParameters) {
    sps_.clear();
    pictureSets_.clear();
    parameters_.reset();
    deliveredSets_.clear();
    packetizationMode_ = 0;
    restart();

    MediaSection section;
    section.parameters = std::string(fmtpParameters);
    if (auto mode = fmtpParameter(section, "packetization-mode")) {
        int value = 0;
        const auto [end, error] = std::from_chars(mode->data(), mode->data() + mode->size(), value);
        if (error == std::errc() && end == mode->data() + mode->size()) packetizationMode_ = value;
    }
    if (auto sets = fmtpParameter(section, "sprop-parameter-sets")) {
        for (const std::vector<uint8_t> &nal : parameterSetList(*sets)) {
            if (nalType(nal[0]) == kSequenceSet)
                setSequenceSet(nal);
            else if (nalType(nal[0]) == kPictureSet)
                addPictureSet(nal);
        }
    }
}

void H264Depacketizer::restart() {
    dropUnit();
    haveSequence_ = false;
    markersSeen_ = false;
    lossPending_ = false;
    waitForKey_ = true;
}

std::optional<VideoParameters> H264Depacketizer::parameters() const {
    return parameters_;
}

void H264Depacketizer::push(const RtpPacket &packet, std::vector<AccessUnit> &out) {
    int gap = 0;  // packets lost before this one
    if (haveSequence_) {
        const auto ahead = static_cast<int16_t>(packet.sequence - lastSequence_);
        if (ahead <= 0 && ahead > -kMisorder) return;  // repeated, or too late to use
        gap = ahead - 1;
    }
    haveSequence_ = true;
    lastSequence_ = packet.sequence;

    const bool sameUnit = open_ && packet.timestamp == timestamp_;
    if (gap != 0) {
        noteLoss();
        if (sameUnit) {
            damage();
        } else {
            // The lost packets belong to the unit being collected, to this one, or to units in
            // between. Only when the stream marks its ends and a single packet went missing
            // after an unfinished unit is it certain that the loss was that unit's last packet.
            const bool onlyTheEnd = open_ && markersSeen_ && gap == 1;
            if (open_) {
                damage();
                finishUnit(out);
            }
            startUnit(packet.timestamp);
            // Otherwise the lost packets may have begun this unit. Unless strict, it is kept
            // when its first slice turns out to begin the picture.
            if (!onlyTheEnd && strict_) damage();
            headLost_ = !onlyTheEnd;
        }
    } else if (!sameUnit) {
        if (open_) finishUnit(out);  // a camera that never sets the marker
        startUnit(packet.timestamp);
    }

    if (!damaged_ && !packet.payload.empty()) {
        const uint8_t type = nalType(packet.payload[0]);
        if (fragmentOpen_ && type != kFragment)
            damage();  // the FU-A's end never came
        else if (type == kAggregate)
            takeAggregate(packet.payload);
        else if (type == kFragment)
            takeFragment(packet.payload);
        else if (type >= 1 && type <= 23)
            takeNalUnit(packet.payload);
        // STAP-B, MTAP16, MTAP24, FU-B and the unassigned types are passed over.
    }
    if (packet.marker) {
        markersSeen_ = true;
        finishUnit(out);
    }
}

void H264Depacketizer::takeNalUnit(std::span<const uint8_t> nal) {
    if (damaged_) return;
    const uint8_t type = nalType(nal[0]);
    if (type == kSequenceSet) return setSequenceSet(nal);
    if (type == kPictureSet) return addPictureSet(nal);
    if (!grow(sizeof kAnnexBStart + nal.size())) return;
    appendNalUnit(body_, nal);
    if (type == kDelimiter && body_.size() == sizeof kAnnexBStart + nal.size())
        audEnd_ = body_.size();
    noteNalUnit(nal);
}

void H264Depacketizer::takeAggregate(std::span<const uint8_t> payload) {
    // Sizes are checked first: a packet that overruns is damaged as a whole.
    for (std::size_t at = 1; at < payload.size();) {
        if (payload.size() - at < 2) return damage();
        const std::size_t size = payload[at] << 8 | payload[at + 1];
        if (payload.size() - at - 2 < size) return damage();
        at += 2 + size;
    }
    for (std::size_t at = 1; at < payload.size();) {
        const std::size_t size = payload[at] << 8 | payload[at + 1];
        if (size > 0) takeNalUnit(payload.subspan(at + 2, size));
        at += 2 + size;
    }
}

void H264Depacketizer::takeFragment(std::span<const uint8_t> payload) {
    if (payload.size() < 2) return damage();
    const uint8_t indicator = payload[0], header = payload[1];
    const bool start = header & 0x80, end = header & 0x40;
    const uint8_t nal = static_cast<uint8_t>((indicator & 0xE0) | nalType(header));
    const std::span<const uint8_t> bytes = payload.subspan(2);
    if (start) {
        if (fragmentOpen_) return damage();  // the previous one never ended
        if (!grow(sizeof kAnnexBStart + 1 + bytes.size())) return;
        body_.insert(body_.end(), std::begin(kAnnexBStart), std::end(kAnnexBStart));
        fragmentStart_ = body_.size();
        body_.push_back(nal);
        fragmentOpen_ = true;
    } else {
        // A continuation without its start, or of another NAL unit than the one open.
        if (!fragmentOpen_ || nalType(body_[fragmentStart_]) != nalType(nal)) return damage();
        if (!grow(bytes.size())) return;
    }
    body_.insert(body_.end(), bytes.begin(), bytes.end());
    if (!end) return;

    fragmentOpen_ = false;
    const uint8_t type = nalType(nal);
    if (type == kSequenceSet || type == kPictureSet) {
        // Parameter sets are kept aside, not in the body.
        const std::vector<uint8_t> set(body_.begin() + static_cast<std::ptrdiff_t>(fragmentStart_),
                                       body_.end());
        body_.resize(fragmentStart_ - sizeof kAnnexBStart);
        if (type == kSequenceSet)
            setSequenceSet(set);
        else
            addPictureSet(set);
        return;
    }
    if (type == kDelimiter && fragmentStart_ == sizeof kAnnexBStart) audEnd_ = body_.size();
    noteNalUnit(std::span<const uint8_t>(body_).subspan(fragmentStart_));
}

void H264Depacketizer::noteNalUnit(std::span<const uint8_t> nal) {
    const uint8_t type = nalType(nal[0]);
    if (type == kSei && holdsRecoveryPoint(nal)) key_ = true;
    if (type < 1 || type > kIdrSlice) return;
    // first_mb_in_slice, the first field of the slice header, is 0 when its first bit is set.
    if (!slices_) startsPicture_ = nal.size() > 1 && (nal[1] & 0x80);
    slices_ = true;
    if (type == kIdrSlice) key_ = true;
    if (nal[0] & 0x60) referenced_ = true;
}

bool H264Depacketizer::grow(std::size_t bytes) {
    if (body_.size() + bytes <= kMaxAccessUnit) return true;
    damage();
    return false;
}

void H264Depacketizer::setSequenceSet(std::span<const uint8_t> nal) {
    if (nal.size() > kMaxParameterSet) return;
    sps_.assign(nal.begin(), nal.end());
    parameters_ = readH264Sps(nal);
}

void H264Depacketizer::addPictureSet(std::span<const uint8_t> nal) {
    const std::optional<uint32_t> id = pictureSetId(nal);
    if (!id || nal.size() > kMaxParameterSet) return;
    std::erase_if(pictureSets_, [&](const PictureSet &p) { return p.id == *id; });
    if (pictureSets_.size() >= kMaxPictureSets) pictureSets_.erase(pictureSets_.begin());
    pictureSets_.push_back({*id, std::vector<uint8_t>(nal.begin(), nal.end())});
}

void H264Depacketizer::noteLoss() {
    if (strict_)
        waitForKey_ = true;
    else
        lossPending_ = true;
}

void H264Depacketizer::damage() {
    damaged_ = true;
    noteLoss();
    fragmentOpen_ = false;
    body_.clear();
}

void H264Depacketizer::startUnit(uint32_t timestamp) {
    dropUnit();
    open_ = true;
    timestamp_ = timestamp;
}

void H264Depacketizer::dropUnit() {
    open_ = false;
    body_.clear();
    audEnd_ = 0;
    damaged_ = headLost_ = false;
    fragmentOpen_ = false;
    fragmentStart_ = 0;
    key_ = referenced_ = slices_ = startsPicture_ = false;
}

void H264Depacketizer::finishUnit(std::vector<AccessUnit> &out) {
    if (fragmentOpen_) damage();  // its last fragment never came
    if (headLost_ && slices_ && !startsPicture_) damage();
    const bool deliver = !damaged_ && slices_ && (key_ || !waitForKey_) &&
                         (!key_ || (!sps_.empty() && !pictureSets_.empty()));
    if (!deliver) {
        dropUnit();
        return;
    }
    AccessUnit unit;
    unit.timestamp = timestamp_;
    if (key_) {
        std::vector<uint8_t> sets;
        appendNalUnit(sets, sps_);
        for (const PictureSet &p : pictureSets_) appendNalUnit(sets, p.nal);
        unit.kind = IPCAM_FRAME_KEY;
        unit.parametersChanged = sets != deliveredSets_;
        unit.data.reserve(sets.size() + body_.size());
        unit.data.assign(body_.begin(), body_.begin() + static_cast<std::ptrdiff_t>(audEnd_));
        unit.data.insert(unit.data.end(), sets.begin(), sets.end());
        unit.data.insert(unit.data.end(), body_.begin() + static_cast<std::ptrdiff_t>(audEnd_),
                         body_.end());
        deliveredSets_ = std::move(sets);
        waitForKey_ = lossPending_ = false;
    } else {
        unit.kind = referenced_ ? IPCAM_FRAME_DEPENDENT : IPCAM_FRAME_DROPPABLE;
        unit.data = std::move(body_);
        unit.afterLoss = std::exchange(lossPending_, false);
    }
    out.push_back(std::move(unit));
    dropUnit();
}

}  // namespace ipcam
