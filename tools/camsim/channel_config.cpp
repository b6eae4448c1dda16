#include "tools/camsim/channel_config.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "tools/camsim/rtsp_mounts.h"

namespace camsim {

namespace {

constexpr int kMaxBitrateKbps = 50000;
constexpr int kMaxStartFrame = 1000;  // live encodes them all before a session's first frame
constexpr int kMaxKeyFramePadding = 8'000'000;  // within what a receiver holds of one picture

std::optional<int> number(std::string_view text) {
    int n = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || n < 0)
        return std::nullopt;
    return n;
}

// "WxH@FPS"
bool parseGeometry(std::string_view text, ChannelConfig &config) {
    std::size_t x = text.find('x'), at = text.find('@');
    if (x == std::string_view::npos || at == std::string_view::npos || at < x) return false;
    auto w = number(text.substr(0, x)), h = number(text.substr(x + 1, at - x - 1)),
         fps = number(text.substr(at + 1));
    if (!w || !h || !fps) return false;
    config.width = *w;
    config.height = *h;
    config.fps = *fps;
    return true;
}

// The keys without a value: each sets a switch of the channel or of its faults.
struct Flag {
    std::string_view key;
    bool ChannelConfig::*field;
    bool StreamFaults::*fault;
    bool value;
};
constexpr Flag kFlags[] = {
    {"audio", &ChannelConfig::audio, nullptr, true},
    {"live", &ChannelConfig::live, nullptr, true},
    {"grain", &ChannelConfig::grain, nullptr, true},
    {"refresh", &ChannelConfig::intraRefresh, nullptr, true},
    {"noeoi", &ChannelConfig::jpegEndMarker, nullptr, false},
    {"sdpconfig", &ChannelConfig::configInBand, nullptr, false},
    {"pathonly", &ChannelConfig::namedMount, nullptr, false},
    {"nocontrol", nullptr, &StreamFaults::omitVideoControl, true},
    {"lowerheaders", nullptr, &StreamFaults::oddHeaders, true},
    {"abscontrol", nullptr, &StreamFaults::absoluteControls, true},
    {"querybase", nullptr, &StreamFaults::queryInBase, true},
    {"nobase", nullptr, &StreamFaults::noContentBase, true},
    {"notype", nullptr, &StreamFaults::noContentType, true},
    {"sdplf", nullptr, &StreamFaults::sdpLfOnly, true},
    {"sdpblanks", nullptr, &StreamFaults::sdpTrailingBlanks, true},
    {"sdplower", nullptr, &StreamFaults::sdpLowerCase, true},
    {"extramap", nullptr, &StreamFaults::sdpExtraRtpmap, true},
    {"shortrtcp", nullptr, &StreamFaults::shortRtcp, true},
    {"earlyrtp", nullptr, &StreamFaults::rtpBeforePlayReply, true},
    {"nosprop", nullptr, &StreamFaults::noSprop, true},
    {"spropcomma", nullptr, &StreamFaults::spropTrailingComma, true},
    {"nomarker", nullptr, &StreamFaults::noMarker, true},
    {"mode0", nullptr, &StreamFaults::singleNalUnits, true},
    {"noserverport", nullptr, &StreamFaults::noServerPort, true},
    {"otherport", nullptr, &StreamFaults::rtpFromOtherPort, true},
};

// The keys with a number.
struct Field {
    std::string_view key;
    int ChannelConfig::*field;
};
constexpr Field kFields[] = {
    {"type", &ChannelConfig::jpegType},           {"q", &ChannelConfig::jpegQ},
    {"restart", &ChannelConfig::restartInterval}, {"tables", &ChannelConfig::jpegTablesQ},
    {"bitrate", &ChannelConfig::bitrateKbps},     {"start", &ChannelConfig::startFrame},
    {"packet", &ChannelConfig::packetBytes},
};
struct Fault {
    std::string_view key;
    int StreamFaults::*field;
    bool StreamFaults::*alsoSet;  // a switch the key turns on besides, or none
};
constexpr Fault kFaults[] = {
    {"drop", &StreamFaults::dropEveryNth, nullptr},
    {"stall", &StreamFaults::stallAfterFrames, nullptr},
    {"garbage", &StreamFaults::garbageAfterFrames, nullptr},
    {"pt", &StreamFaults::videoPayloadType, nullptr},
    {"ext", &StreamFaults::extensionEvery, nullptr},
    {"ext2", &StreamFaults::extensionEvery, &StreamFaults::twoByteExtension},
    {"pad", &StreamFaults::paddingEvery, nullptr},
    {"channels", &StreamFaults::interleavedBase, nullptr},
    {"getparam", &StreamFaults::serverRequestSeconds, nullptr},
    {"setparam", &StreamFaults::serverRequestSeconds, &StreamFaults::serverRequestSet},
    {"timeout", &StreamFaults::sessionTimeout, nullptr},
    {"fulossevery", &StreamFaults::fragmentLossEvery, nullptr},
    {"describedelay", &StreamFaults::describeDelayMs, nullptr},
    {"pace", &StreamFaults::paceMicros, nullptr},
    {"pause", &StreamFaults::pauseSeconds, nullptr},
    {"resize", &StreamFaults::resizeAfterFrames, nullptr},
    {"rtpclock", &StreamFaults::rtpClockPercent, nullptr},
    {"swap", &StreamFaults::swapEveryNth, nullptr},
    {"newssrc", &StreamFaults::newSsrcAfterFrames, nullptr},
    {"keypad", &StreamFaults::keyFramePadding, nullptr},
};

// One ",key" or ",key=value" of a spec.
bool applyKey(std::string_view item, ChannelConfig &config) {
    std::size_t eq = item.find('=');
    std::string_view key = item.substr(0, eq);
    if (eq == std::string_view::npos) {
        for (const Flag &f : kFlags) {
            if (key != f.key) continue;
            (f.field ? config.*f.field : config.faults.*f.fault) = f.value;
            return true;
        }
        return false;
    }
    if (key == "path") {
        auto path = normalizeMountPath(item.substr(eq + 1));
        if (path) config.paths.push_back(*path);
        return path.has_value();
    }
    auto value = number(item.substr(eq + 1));
    if (!value) return false;
    for (const Field &f : kFields)
        if (key == f.key) return (config.*f.field = *value, true);
    for (const Fault &f : kFaults) {
        if (key != f.key) continue;
        config.faults.*f.field = *value;
        if (f.alsoSet) config.faults.*f.alsoSet = true;
        return true;
    }
    return false;
}

}  // namespace

std::string channelName(int number) {
    char name[16];
    std::snprintf(name, sizeof name, "CH%02d", number);
    return name;
}

bool isNalCodec(ChannelConfig::Codec codec) {
    return codec == ChannelConfig::Codec::H264 || codec == ChannelConfig::Codec::H265;
}

ChannelConfig resizedConfig(const ChannelConfig &c) {
    const int step = isNalCodec(c.codec) ? 2 : 16;
    auto half = [step](int side) { return std::max(16, side / 2 / step * step); };
    ChannelConfig resized = c;
    resized.width = half(c.width);
    resized.height = half(c.height);
    resized.faults.resizeAfterFrames = 0;
    return resized;
}

std::optional<std::string> configProblem(const ChannelConfig &c) {
    const bool jpeg = c.codec == ChannelConfig::Codec::Jpeg;
    const bool nal = isNalCodec(c.codec);
    const int maxSide = jpeg ? 2048 : 4096, step = nal ? 2 : 16;
    if (c.width < 16 || c.height < 16 || c.width % step || c.height % step || c.width > maxSide ||
        c.height > maxSide)
        return std::string(nal ? "width and height must be even"
                               : "width and height must be multiples of 16") +
               " from 16 to " + std::to_string(maxSide);
    if (c.fps < 1 || c.fps > 60) return "fps must be from 1 to 60";
    if (jpeg && c.jpegType != 0 && c.jpegType != 1) return "JPEG type must be 0 or 1";
    if (jpeg && (c.jpegQ < 1 || c.jpegQ > 255 || (c.jpegQ > 99 && c.jpegQ < 128)))
        return "JPEG q must be from 1 to 99 or from 128 to 255";
    if (c.restartInterval < 0 || c.restartInterval > 0xFFFF)
        return "restart interval must be from 0 to 65535";
    if (jpeg && (c.jpegTablesQ < 1 || c.jpegTablesQ > 99))
        return "JPEG tables must be from 1 to 99";
    if (c.packetBytes < 200 || c.packetBytes > 65000) return "packet must be from 200 to 65000";
    if (c.bitrateKbps < 0 || c.bitrateKbps > kMaxBitrateKbps)
        return "bitrate must be from 0 to " + std::to_string(kMaxBitrateKbps) + " kbit/s";
    for (const std::string &path : c.paths)
        if (normalizeMountPath(path) != path)
            return "path '" + path + "' must start with '/' and have no blanks, '#' or final '/'";
    if (!c.namedMount && c.paths.empty()) return "pathonly needs a path=";
    if (c.startFrame < 0 || c.startFrame > kMaxStartFrame)
        return "start must be from 0 to " + std::to_string(kMaxStartFrame);
    if (c.intraRefresh && c.codec != ChannelConfig::Codec::H264) return "refresh is for h264";
    const StreamFaults &f = c.faults;
    if (f.dropEveryNth < 0 || f.stallAfterFrames < 0 || f.garbageAfterFrames < 0 ||
        f.extensionEvery < 0 || f.paddingEvery < 0 || f.serverRequestSeconds < 0 ||
        f.sessionTimeout < 0 || f.fragmentLossEvery < 0 || f.describeDelayMs < 0 ||
        f.paceMicros < 0 || f.paceMicros > 100'000 || f.pauseSeconds < 0 ||
        f.resizeAfterFrames < 0 || f.swapEveryNth < 0 || f.newSsrcAfterFrames < 0 ||
        f.keyFramePadding < 0)
        return "fault counts must not be negative";
    if (f.pauseSeconds > 3600) return "pause must be at most 3600 seconds";
    // A receiver can follow a new size only from what the stream itself carries.
    if (f.resizeAfterFrames > 0 && !c.configInBand) return "resize needs the configuration in band";
    if (f.keyFramePadding > kMaxKeyFramePadding)
        return "keypad must be at most " + std::to_string(kMaxKeyFramePadding) + " bytes";
    if (f.videoPayloadType != 0 && (f.videoPayloadType < 96 || f.videoPayloadType > 127))
        return "pt must be a dynamic payload type, 96 to 127";
    if (f.rtpClockPercent != 0 && (f.rtpClockPercent < 50 || f.rtpClockPercent > 200))
        return "rtpclock must be from 50 to 200 (percent)";
    if (f.interleavedBase < -1 || f.interleavedBase > 252) return "channels must be from 0 to 252";
    if (!nal && (f.noSprop || f.spropTrailingComma || f.singleNalUnits || f.fragmentLossEvery ||
                 f.keyFramePadding))
        return "nosprop, spropcomma, mode0, fulossevery and keypad are for h264 and h265";
    if (f.spropTrailingComma && c.codec != ChannelConfig::Codec::H264)
        return "spropcomma is for h264";
    if (f.noSprop && !c.configInBand) return "nosprop with sdpconfig leaves no parameter sets";
    return std::nullopt;
}

std::optional<ChannelConfig> parseChannelSpec(std::string_view spec, std::string &error) {
    ChannelConfig config;
    std::size_t colon = spec.find(':');
    std::string_view codec = spec.substr(0, colon);
    if (codec == "mpeg4") {
        config.codec = ChannelConfig::Codec::Mpeg4;
    } else if (codec == "jpeg") {
        config.codec = ChannelConfig::Codec::Jpeg;
    } else if (codec == "h264") {
        config.codec = ChannelConfig::Codec::H264;
    } else if (codec == "h265") {
        config.codec = ChannelConfig::Codec::H265;
    } else {
        error = "expected CODEC:WxH@FPS with CODEC mpeg4, jpeg, h264 or h265, got '" +
                std::string(spec) + "'";
        return std::nullopt;
    }
    std::string_view rest = colon == std::string_view::npos ? "" : spec.substr(colon + 1);
    std::string_view geometry = rest.substr(0, rest.find(','));
    if (!parseGeometry(geometry, config)) {
        error = "expected WxH@FPS, got '" + std::string(geometry) + "'";
        return std::nullopt;
    }
    rest.remove_prefix(geometry.size());
    while (!rest.empty()) {
        rest.remove_prefix(1);  // the ','
        std::string_view item = rest.substr(0, rest.find(','));
        rest.remove_prefix(item.size());
        if (!applyKey(item, config)) {
            error = "unknown channel setting '" + std::string(item) + "'";
            return std::nullopt;
        }
    }
    if (auto problem = configProblem(config)) {
        error = *problem;
        return std::nullopt;
    }
    return config;
}

}  // namespace camsim
