// RTCP from a device, and from a client to the simulator: compounds read by the session (over
// the RTSP connection and the RTCP socket, answered as the session type answers) and by the
// simulator's strict check; the bytes as packet numbers and times for the reception counts.
//
// Input layout: byte 0 picks the session type (bit 0: URL, else the design's streaming server)
// and the stream (bit 1: audio); the rest is one compound.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>

#include "core/config.h"
#include "core/session.h"
#include "fuzz_session.h"
#include "platform/byte_source.h"
#include "tools/camsim/rtcp_check.h"
#include "transport/rtcp_answer.h"
#include "transport/rtcp_reception.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    ipcam::Settings settings;
    settings.getTimeout = 0;
    ipcam::setSettings(settings);
    std::unique_ptr<IPCamSession> s(kestrel_fuzz::fuzzSession(0));
    s->protocolType = data[0] & 1 ? IPCAM_PROTOCOL_RTSP_URL : IPCAM_PROTOCOL_STREAMING_SERVER;
    const uint8_t stream = data[0] & 2 ? ipcam::RtpChannels::kAudio : ipcam::RtpChannels::kVideo;
    const std::span<const uint8_t> compound(data + 1, size - 1);
    const std::string bytes(reinterpret_cast<const char *>(compound.data()), compound.size());

    ipcam::MemorySource connection(std::vector<std::string>{});
    ipcam::answerDeviceReport(s.get(), connection, compound, 1, stream);
    // A URL session's first answer is due at once, and whatever it was told it is valid.
    const std::string answer = connection.sent();
    if (data[0] & 1 && (answer.size() < 4 || !camsim::checkRtcpCompound(answer.substr(4)).valid))
        std::abort();
    ipcam::MemorySource socket(std::vector<std::string>{bytes});
    ipcam::serviceRtcpSocket(s.get(), socket, stream);
    camsim::checkRtcpCompound(bytes);

    ipcam::RtpReception reception;
    for (std::size_t at = 0; at + 8 <= compound.size(); at += 8) {
        const uint8_t *p = compound.data() + at;
        reception.packet(p[0] & 1, static_cast<uint16_t>(p[1] << 8 | p[2]),
                         static_cast<uint32_t>(p[3] << 24 | p[4] << 16 | p[5] << 8 | p[6]),
                         at * 997u * p[7], 90'000);
    }
    reception.report(compound.size() * 1000u);
    return 0;
}
