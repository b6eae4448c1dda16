// RTP payloads of H.264 (RFC 6184, packetization mode 1) and H.265 (RFC 7798, without
// decoding order numbers) access units.
//
// Runs of NAL units small enough to share a payload go as one aggregation packet (STAP-A,
// type 24; H.265 AP, type 48) - the parameter sets before a key frame always are such a run -
// a unit alone as a single NAL unit packet, and a unit larger than the payload limit in
// fragments (FU-A, type 28; H.265 FU, type 49).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tools/camsim/nal_encoder.h"
#include "tools/camsim/rtp_packetizer.h"

namespace camsim {

// The single NAL unit mode (H.264 packetization mode 0): the limit a unit may reach and still
// go in one packet. An interleaved frame's 16-bit length must hold it with the RTP header, the
// largest header extension and padding the faults add.
inline constexpr std::size_t kMaxSingleNalPayload = 65000;

struct NalPayloads {
    std::vector<std::string> payloads;
    int middleFragment = -1;  // a payload inside a fragmented unit, neither its first nor its
                              // last fragment (of the unit with the most); -1 when none
};

// singleOnly: no aggregation and no fragments, each unit in a packet of its own up to
// maxPayload; a unit larger even than that is still fragmented, never sent cut short.
NalPayloads packetizeNal(NalCodec codec, const std::vector<std::string> &units,
                         std::size_t maxPayload = kMaxRtpPayload, bool singleOnly = false);

}  // namespace camsim
