// RTP datagrams as a camera sends them over UDP: the packet parser, then the video or audio
// reader over the same datagrams, with the RTSP connection watched.
//
// Input layout: byte 0 picks the video codec (bit 0), the audio reader (bit 1) and whether the
// RTSP connection is closed (bit 2); then datagrams, each a 16-bit big-endian length and its
// bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "core/config.h"
#include "fuzz_session.h"
#include "platform/byte_source.h"
#include "transport/rtp_packet.h"
#include "transport/rtp_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    ipcam::Settings settings;
    settings.getTimeout = 0;
    ipcam::setSettings(settings);

    std::vector<std::string> datagrams;
    for (size_t at = 1; at + 2 <= size;) {
        const size_t length = std::min<size_t>(size - at - 2, data[at] << 8 | data[at + 1]);
        const uint8_t *bytes = data + at + 2;
        if (std::optional<ipcam::RtpPacket> p = ipcam::parseRtpPacket({bytes, length})) {
            if (p->payload.data() < bytes || p->payload.data() + p->payload.size() > bytes + length)
                std::abort();
        }
        datagrams.emplace_back(reinterpret_cast<const char *>(bytes), length);
        at += 2 + length;
    }

    std::unique_ptr<IPCamSession> s(kestrel_fuzz::fuzzSession(data[0] & 1 ? 4 : 0));
    s->awaitingFirstFrame = 0;
    ipcam::MemorySource rtp(datagrams, ipcam::MemorySource::Ending::Silence);
    ipcam::MemorySource control({}, data[0] & 4 ? ipcam::MemorySource::Ending::Close
                                                : ipcam::MemorySource::Ending::Silence);
    while (rtp.remaining() > 0) {
        int r = data[0] & 2 ? ipcam::readUdpAudio(s.get(), rtp, nullptr)
                            : ipcam::readUdpVideo(s.get(), rtp, nullptr, &control);
        if (r != 0 && r != -8 && r != -9) std::abort();
        if (r != 0 && (data[0] & 4)) break;
    }
    return 0;
}
