// H.265 RTP packets through the depacketiser, with a description's fmtp in front.
//
// Input layout: byte 0 is the length of the fmtp text that follows; then packets, each a
// 16-bit big-endian length and its bytes (an RTP packet, read with the packet parser). A
// packet whose first length byte has its top bit set is preceded by a restart.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "transport/h265_depacketizer.h"
#include "transport/rtp_packet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const size_t fmtpLength = std::min<size_t>(data[0], size - 1);
    ipcam::H265Depacketizer depacketizer;
    depacketizer.configure(std::string_view(reinterpret_cast<const char *>(data + 1), fmtpLength));
    std::vector<ipcam::AccessUnit> units;
    for (size_t at = 1 + fmtpLength; at + 2 <= size;) {
        const bool restart = data[at] & 0x80;
        const size_t length =
            std::min<size_t>(size - at - 2, (data[at] & 0x7F) << 8 | data[at + 1]);
        const uint8_t *bytes = data + at + 2;
        if (restart) depacketizer.restart();
        if (std::optional<ipcam::RtpPacket> p = ipcam::parseRtpPacket({bytes, length}))
            depacketizer.push(*p, units);
        at += 2 + length;
    }
    for (const ipcam::AccessUnit &unit : units) {
        // Every unit is in Annex B form and bounded.
        if (unit.data.size() < 6 || unit.data[0] != 0 || unit.data[1] != 0 || unit.data[2] != 0 ||
            unit.data[3] != 1 || unit.data.size() > ipcam::kMaxH265AccessUnit + (1u << 21))
            std::abort();
        if (unit.afterLoss && unit.kind == IPCAM_FRAME_KEY) std::abort();  // nothing to damage
    }
    if (auto parameters = depacketizer.parameters())
        if (parameters->width <= 0 || parameters->height <= 0) std::abort();
    return 0;
}
