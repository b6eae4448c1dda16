#include "transport/rtp_udp_buffer.h"

#include <algorithm>
#include <cstdio>

#include "core/session.h"
#include "platform/message.h"
#include "transport/delivery.h"

namespace ipcam {

namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;
constexpr std::size_t kLargePictures = 4 * kMiB;
constexpr std::size_t kMostWanted = 64 * kMiB;
constexpr int64_t kFullHdPixels = 1920 * 1080;

}  // namespace

void noteUdpFrameBytes(UdpBufferFit &fit, uint32_t timestamp, std::size_t payloadBytes) {
    if (timestamp != fit.timestamp) {
        fit.timestamp = timestamp;
        fit.frameBytes = 0;
    }
    fit.frameBytes += payloadBytes;
    fit.largestFrame = std::max(fit.largestFrame, fit.frameBytes);
}

std::size_t udpBufferWanted(const UdpBufferFit &fit, int32_t width, int32_t height) {
    std::size_t wanted = (2 * fit.largestFrame + kMiB - 1) / kMiB * kMiB;
    if (int64_t{width} * height > kFullHdPixels) wanted = std::max(wanted, kLargePictures);
    return std::min(wanted, kMostWanted);
}

void fitUdpBuffer(IPCamSession *session, ByteSource &socket) {
    UdpBufferFit &fit = session->rtp.udp.buffer;
    const StreamFormatBlock format = currentFormat(session);
    const std::size_t wanted = udpBufferWanted(fit, format.width, format.height);
    if (wanted <= fit.asked) return;
    fit.asked = wanted;
    const std::size_t granted = socket.askReceiveBuffer(wanted);
    if (granted == 0 || granted >= wanted || session->rtp.udpLimitSaid) return;
    session->rtp.udpLimitSaid = true;
    char text[160];
    std::snprintf(text, sizeof text,
                  "the system allows %zu kB for UDP; large pictures may lose packets: raise "
                  "net.core.rmem_max or use TCP",
                  granted / 1024);
    showMessage(text, "UDP receive buffer");
}

}  // namespace ipcam
