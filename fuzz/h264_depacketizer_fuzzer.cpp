// H.264 RTP packets of a stream: the packet parser, then the depacketiser over what it reads.
//
// Input layout: byte 0 is the length of the fmtp text that follows it; then packets, each a
// 16-bit big-endian length and its bytes. A packet of length 0 stands for a new connection.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "transport/h264_depacketizer.h"
#include "transport/h264_sps.h"
#include "transport/rtp_packet.h"
#include "transport/sdp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const size_t fmtpLength = std::min<size_t>(data[0], size - 1);
    ipcam::H264Depacketizer depacketizer;
    depacketizer.configure({reinterpret_cast<const char *>(data + 1), fmtpLength});

    std::vector<ipcam::AccessUnit> units;
    for (size_t at = 1 + fmtpLength; at + 2 <= size;) {
        const size_t length = std::min<size_t>(size - at - 2, data[at] << 8 | data[at + 1]);
        const uint8_t *bytes = data + at + 2;
        at += 2 + length;
        if (length == 0) {
            depacketizer.restart();
            continue;
        }
        if (std::optional<ipcam::RtpPacket> p = ipcam::parseRtpPacket({bytes, length}))
            depacketizer.push(*p, units);
    }
    // Units come whole: in Annex B form, of a known kind, within the bound (parameter sets
    // aside).
    const size_t limit =
        ipcam::kMaxAccessUnit + (ipcam::kMaxPictureSets + 1) * (ipcam::kMaxParameterSet + 4);
    for (const ipcam::AccessUnit &unit : units) {
        if (unit.data.size() < 5 || unit.data.size() > limit ||
            !std::equal(std::begin(ipcam::kAnnexBStart), std::end(ipcam::kAnnexBStart),
                        unit.data.begin()))
            std::abort();
        if (unit.kind != IPCAM_FRAME_KEY && unit.kind != IPCAM_FRAME_DEPENDENT &&
            unit.kind != IPCAM_FRAME_DROPPABLE)
            std::abort();
        if (unit.afterLoss && unit.kind == IPCAM_FRAME_KEY) std::abort();  // nothing to damage
    }
    if (const auto parameters = depacketizer.parameters()) {
        if (parameters->width < 1 || parameters->width > ipcam::kMaxPictureSide ||
            parameters->height < 1 || parameters->height > ipcam::kMaxPictureSide)
            std::abort();
    }
    return 0;
}
