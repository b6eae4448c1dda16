#include "tools/cli/stats.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ipcam.h"

namespace ipcam_cli {

namespace {

long perSecond(uint64_t n, double seconds) {
    return seconds > 0 ? std::lround(static_cast<double>(n) / seconds) : 0;
}

std::string formatText(const StreamFormat &f) {
    if (!f.known) return "format unknown";
    char text[96];
    std::snprintf(text, sizeof text, "%s %dx%d @%g", codecName(f.videoCodec).c_str(),
                  std::abs(f.width), std::abs(f.height), f.frameRate);
    return text;
}

std::string eventText(int lastEvent, int lastInputs) {
    std::string text = "event ";
    text += lastEvent < 0 ? "-" : std::to_string(lastEvent);
    text += " inputs ";
    if (lastInputs < 0) {
        text += "-";
    } else {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%02X", lastInputs);
        text += hex;
    }
    return text;
}

}  // namespace

std::string codecName(int videoCodec) {
    switch (videoCodec) {
    case IPCAM_VIDEO_JPEG: return "JPEG";
    case IPCAM_VIDEO_MPEG4: return "MPEG-4";
    case IPCAM_VIDEO_H264: return "H.264";
    case IPCAM_VIDEO_H265: return "H.265";
    default: return "codec " + std::to_string(videoCodec);
    }
}

void FrameStats::add(int kind, const unsigned char *payload, std::size_t size) {
    interval_.bytes += size;
    total_.bytes += size;
    auto count = [&](uint64_t Counts::*field) {
        ++(interval_.*field);
        ++(total_.*field);
    };
    switch (kind) {
    case IPCAM_FRAME_KEY: count(&Counts::key); break;
    case IPCAM_FRAME_DEPENDENT: count(&Counts::dependent); break;
    case IPCAM_FRAME_DROPPABLE: count(&Counts::droppable); break;
    case IPCAM_FRAME_AUDIO: count(&Counts::audio); break;
    case IPCAM_MSG_EVENT:
        count(&Counts::events);
        if (size >= 1) lastEvent_ = payload[0];
        break;
    case IPCAM_MSG_INPUT:
        count(&Counts::inputs);
        if (size >= 2)
            lastInputs_ = payload[0] | payload[1] << 8;
        else if (size == 1)
            lastInputs_ = payload[0];
        break;
    case IPCAM_MSG_FORMAT:
        if (size >= sizeof(StreamFormatBlock)) {
            StreamFormatBlock block;
            std::memcpy(&block, payload, sizeof block);
            format_.known = true;
            format_.videoCodec = block.videoCodec;
            format_.width = block.width;
            format_.height = block.height;
            format_.frameRate = block.frameRate;
            format_.audioCodec = block.audioCodec;
        }
        break;
    case IPCAM_MSG_TIME_STEP: count(&Counts::timeSteps); break;
    case IPCAM_MSG_OVERLAY: count(&Counts::overlays); break;
    case IPCAM_MSG_DAMAGE: count(&Counts::losses); break;
    default: count(&Counts::other); break;
    }
}

std::string FrameStats::tick(double seconds) {
    const Counts &c = interval_;
    char text[320];
    std::snprintf(text, sizeof text,
                  "fps key %ld dependent %ld droppable %ld audio %ld | %.1f kB/s | %s | events %llu, ",
                  perSecond(c.key, seconds), perSecond(c.dependent, seconds),
                  perSecond(c.droppable, seconds), perSecond(c.audio, seconds),
                  seconds > 0 ? static_cast<double>(c.bytes) / seconds / 1000.0 : 0.0,
                  formatText(format_).c_str(), static_cast<unsigned long long>(c.events));
    std::string line = text + eventText(lastEvent_, lastInputs_);
    if (c.decoded || c.decodeErrors)
        line += " | decoded " + std::to_string(c.decoded) + " errors " +
                std::to_string(c.decodeErrors);
    if (c.timeSteps) line += " | time steps " + std::to_string(c.timeSteps);
    if (c.losses) line += " | losses " + std::to_string(c.losses);
    interval_ = Counts{};
    return line;
}

std::string FrameStats::summary(double seconds) const {
    const Counts &c = total_;
    char text[384];
    std::snprintf(text, sizeof text,
                  "summary: %.1f s, %llu video frames (%llu key, %llu dependent, %llu droppable), "
                  "%llu audio frames, %llu bytes (%.1f kB/s), %s, %llu events, %llu input changes",
                  seconds, static_cast<unsigned long long>(videoFrames()),
                  static_cast<unsigned long long>(c.key),
                  static_cast<unsigned long long>(c.dependent),
                  static_cast<unsigned long long>(c.droppable),
                  static_cast<unsigned long long>(c.audio),
                  static_cast<unsigned long long>(c.bytes),
                  seconds > 0 ? static_cast<double>(c.bytes) / seconds / 1000.0 : 0.0,
                  formatText(format_).c_str(), static_cast<unsigned long long>(c.events),
                  static_cast<unsigned long long>(c.inputs));
    std::string line = text;
    if (c.decoded || c.decodeErrors)
        line += ", decoded " + std::to_string(c.decoded) + ", decode errors " +
                std::to_string(c.decodeErrors);
    if (c.timeSteps) line += ", time steps " + std::to_string(c.timeSteps);
    if (c.losses) line += ", losses " + std::to_string(c.losses);
    return line;
}

}  // namespace ipcam_cli
