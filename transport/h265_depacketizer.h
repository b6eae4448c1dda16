// H.265 over RTP (RFC 7798): packets in, access units in Annex B form out.
//
// Single NAL unit packets, aggregation packets and fragmentation units are taken, in the
// order they arrive (decoding order numbers are skipped over, nothing is reordered). The
// parameter sets, from the description or in-band, are kept apart and put in front of every
// key frame (every IRAP picture: IDR, CRA and BLA). A lost, late or damaged packet costs the
// access unit it belongs to, and in strict mode every picture up to the next key frame;
// nothing is delivered before the first key frame whose parameter sets are known.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "transport/nal_units.h"
#include "transport/rtp_packet.h"

namespace ipcam {

// A larger access unit is dropped as damaged.
inline constexpr std::size_t kMaxH265AccessUnit = 8u << 20;

class H265Depacketizer {
  public:
    // The fmtp parameters of the description's video section (text after the payload type):
    // "sprop-vps", "sprop-sps", "sprop-pps" (comma lists; trailing comma, empty or undecodable
    // values ignored) and "sprop-max-don-diff" (DONL/DOND fields present when non-zero).
    // Forgets everything else (like restart()).
    void configure(std::string_view fmtpParameters);
    // One RTP packet of the stream, in arrival order; completed access units are appended.
    void push(const RtpPacket &packet, std::vector<AccessUnit> &out);
    // A new connection: the unit being collected is dropped and delivery waits for a key
    // frame again; the parameter sets known so far stay.
    void restart();
    // Strict: after a loss nothing is delivered until the next key frame. Otherwise (the
    // default) the pictures after it are, the first marked afterLoss.
    void setStrict(bool strict) { strict_ = strict; }
    // What the current SPS says; nullopt before any SPS was read.
    std::optional<VideoParameters> parameters() const { return parameters_; }

  private:
    using Bytes = std::vector<uint8_t>;

    bool takeSequence(uint16_t sequence, bool &gap);
    void takePayload(std::span<const uint8_t> payload);
    void takeAggregation(std::span<const uint8_t> payload);
    void takeFragment(std::span<const uint8_t> payload);
    // A whole NAL unit: a parameter set is kept, anything else joins the unit's body.
    void takeNalUnit(std::span<const uint8_t> nal);
    // Notes what a NAL unit now in the body (at offset, behind its start code) is.
    void noteBodyNalUnit(std::size_t offset);
    bool keepParameterSet(std::span<const uint8_t> nal);
    // A picture was lost: strict delivery waits for the next key frame, otherwise the next
    // picture delivered says so.
    void noteLoss();
    // The unit being collected is lost: what remains of it is passed over.
    void damage();
    void finishUnit(std::vector<AccessUnit> &out);
    void deliver(std::vector<AccessUnit> &out);
    void clearUnit();
    Bytes parameterSets() const;

    bool decodingOrderNumbers_ = false;          // DONL and DOND fields in the payloads
    std::map<uint32_t, Bytes> vps_, sps_, pps_;  // by their ids
    std::optional<VideoParameters> parameters_;
    Bytes lastDeliveredSets_;  // the parameter sets in front of the last key frame

    bool haveSequence_ = false;
    uint16_t sequence_ = 0;  // of the last packet taken
    int olderInARow_ = 0;    // packets refused as older since the last one taken

    bool strict_ = false;
    bool waitingForKey_ = true;
    bool lossPending_ = false;             // a picture was lost since the last one delivered
    bool skippingSkippedLeading_ = false;  // after a start at a random access point

    // The unit being collected.
    bool collecting_ = false;
    bool discarding_ = false;  // it is damaged: its remaining packets are passed over
    uint32_t timestamp_ = 0;
    Bytes body_;                 // its NAL units behind start codes, parameter sets left out
    bool fragmentOpen_ = false;  // a fragmented NAL unit is being put together at its end
    std::size_t fragmentStart_ = 0;
    int fragmentType_ = 0;
    std::size_t delimiterEnd_ = 0;  // end of the access unit delimiter it begins with, or 0
    bool sawPicture_ = false;       // any VCL NAL unit
    bool startsPicture_ = false;    // its first VCL NAL unit begins a picture
    bool randomAccess_ = false;     // an IRAP picture
    bool nonReference_ = true;      // every VCL NAL unit a sub-layer non-reference one
    bool skippedLeading_ = true;    // every VCL NAL unit a RASL one
};

}  // namespace ipcam
