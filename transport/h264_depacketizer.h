// H.264 over RTP (RFC 6184, packetization modes 0 and 1): packets in, access units out.
//
// Single NAL unit packets, STAP-A and FU-A are taken; the other aggregation and fragmentation
// types are passed over. Sequence and parameter sets are kept here, so the caller only hands
// over every packet of the stream as it arrives. Decoding may start at an IDR picture or at a
// recovery point (SEI message 6, the periodic intra refresh of cameras without IDR pictures):
// both come out as key frames. A lost or damaged packet costs the access unit it belongs to;
// in strict mode also every picture up to the next key frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "transport/nal_units.h"
#include "transport/rtp_packet.h"

namespace ipcam {

// Bounds on what a stream can make us hold.
inline constexpr std::size_t kMaxAccessUnit = 8 * 1024 * 1024;
inline constexpr std::size_t kMaxParameterSet = 4096;  // bytes of one SPS or PPS
inline constexpr std::size_t kMaxPictureSets = 32;     // PPSs kept, by id

class H264Depacketizer {
  public:
    // The fmtp parameters of the description's video section (text after the payload type):
    // "sprop-parameter-sets" gives the initial SPS/PPS (trailing comma, empty or undecodable
    // values ignored); packetization-mode noted. Forgets everything else (like restart()).
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
    std::optional<VideoParameters> parameters() const;

    // The packetization-mode of the description (0 when it gives none). Informative only: a
    // camera that states mode 0 and still aggregates or fragments is read all the same.
    int packetizationMode() const { return packetizationMode_; }

  private:
    struct PictureSet {
        uint32_t id = 0;
        std::vector<uint8_t> nal;
    };

    void takeNalUnit(std::span<const uint8_t> nal);
    void takeAggregate(std::span<const uint8_t> payload);
    void takeFragment(std::span<const uint8_t> payload);
    void noteNalUnit(std::span<const uint8_t> nal);
    bool grow(std::size_t bytes);
    void setSequenceSet(std::span<const uint8_t> nal);
    void addPictureSet(std::span<const uint8_t> nal);
    void noteLoss();
    void damage();
    void startUnit(uint32_t timestamp);
    void finishUnit(std::vector<AccessUnit> &out);
    void dropUnit();

    // Parameter sets: the latest SPS, and the PPSs by id in the order they came.
    std::vector<uint8_t> sps_;
    std::vector<PictureSet> pictureSets_;
    std::optional<VideoParameters> parameters_;
    std::vector<uint8_t> deliveredSets_;  // the sets in front of the last key frame delivered
    int packetizationMode_ = 0;
    bool strict_ = false;

    // Sequence numbers.
    bool haveSequence_ = false;
    uint16_t lastSequence_ = 0;
    bool markersSeen_ = false;  // the stream ends its access units with the marker bit
    bool lossPending_ = false;  // a picture was lost since the last one delivered

    // The access unit being collected.
    bool open_ = false;
    uint32_t timestamp_ = 0;
    std::vector<uint8_t> body_;      // its NAL units but the parameter sets, in Annex B form
    std::size_t audEnd_ = 0;         // end of a leading access unit delimiter in body_, or 0
    bool damaged_ = false;           // something of it was lost: it is not delivered
    bool headLost_ = false;          // packets before its first may have been its own
    bool fragmentOpen_ = false;      // an FU-A is being put together at the end of body_
    std::size_t fragmentStart_ = 0;  // where its NAL unit (after the start code) begins
    bool key_ = false;               // it holds an IDR slice or a recovery point
    bool startsPicture_ = false;     // its first slice is the picture's first (macroblock 0)
    bool referenced_ = false;        // one of its slices has nal_ref_idc above 0
    bool slices_ = false;            // it holds a slice at all
    bool waitForKey_ = true;
};

}  // namespace ipcam
