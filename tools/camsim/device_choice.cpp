#include "tools/camsim/device_choice.h"

#include <algorithm>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "tools/camsim/channel_config.h"
#include "tools/camsim/option_numbers.h"

namespace camsim {

namespace {

// "FRAME:WHAT[:A[:B]]" of the at= setting.
std::optional<StreamCue> parseCue(std::string_view text) {
    using What = StreamCue::What;
    static constexpr std::pair<std::string_view, What> kNames[] = {
        {"event", What::Event},        {"inputs", What::Inputs},    {"overlay", What::Overlay},
        {"talk", What::TalkUse},       {"flag", What::ChannelFlag}, {"info", What::Info},
        {"ignored", What::Ignored},    {"trailer", What::Trailer},  {"empty", What::EmptyFrame},
        {"badsum", What::BadChecksum}, {"garbage", What::Garbage},  {"switch", What::SwitchFraming},
        {"stall", What::Stall}};
    std::vector<std::string_view> parts;
    while (true) {
        std::size_t colon = text.find(':');
        parts.push_back(text.substr(0, colon));
        if (colon == std::string_view::npos) break;
        text.remove_prefix(colon + 1);
    }
    if (parts.size() < 2 || parts.size() > 4) return std::nullopt;
    StreamCue cue;
    auto frame = parseNumber(parts[0], 1000000);
    if (!frame) return std::nullopt;
    cue.frame = static_cast<int>(*frame);
    auto name = std::find_if(std::begin(kNames), std::end(kNames),
                             [&](const auto &n) { return n.first == parts[1]; });
    if (name == std::end(kNames)) return std::nullopt;
    cue.what = name->second;
    for (std::size_t i = 2; i < parts.size(); ++i) {
        auto n = parseNumber(parts[i], 65535);
        if (!n) return std::nullopt;
        (i == 2 ? cue.a : cue.b) = static_cast<int>(*n);
    }
    return cue;
}

// "WxH" with sides up to 2048, width a multiple of 16 and height of 8.
std::optional<PictureSize> parsePictureSize(std::string_view text) {
    const std::size_t x = text.find('x');
    if (x == std::string_view::npos) return std::nullopt;
    auto w = parseNumber(text.substr(0, x), 2048), h = parseNumber(text.substr(x + 1), 2048);
    if (!w || !h || *w < 16 || *h < 8 || *w % 16 != 0 || *h % 8 != 0) return std::nullopt;
    return PictureSize{static_cast<int>(*w), static_cast<int>(*h)};
}

// Six status bytes as twelve hex digits.
std::optional<StatusBytes> parseStatusBytes(std::string_view text) {
    if (text.size() != 12) return std::nullopt;
    StatusBytes bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        auto [end, error] =
            std::from_chars(text.data() + 2 * i, text.data() + 2 * i + 2, bytes[i], 16);
        if (error != std::errc() || end != text.data() + 2 * i + 2) return std::nullopt;
    }
    return bytes;
}

// "PICTURE:WHAT[:A[:B]]" of the family-b at= setting.
std::optional<DataCue> parseDataCue(std::string_view text) {
    using What = DataCue::What;
    std::vector<std::string_view> parts;
    while (true) {
        std::size_t colon = text.find(':');
        parts.push_back(text.substr(0, colon));
        if (colon == std::string_view::npos) break;
        text.remove_prefix(colon + 1);
    }
    if (parts.size() < 2 || parts.size() > 4) return std::nullopt;
    DataCue cue;
    auto picture = parseNumber(parts[0], 1000000);
    if (!picture) return std::nullopt;
    cue.picture = static_cast<int>(*picture);
    const std::string_view what = parts[1];
    const std::size_t args = parts.size() - 2;
    auto number = [&](std::size_t i, unsigned max, int &to) {
        auto n = parseNumber(parts[i], max);
        if (n) to = static_cast<int>(*n);
        return n.has_value();
    };
    bool ok = true;
    if (what == "status") {
        cue.what = What::Status;
        auto bytes = args == 1 ? parseStatusBytes(parts[2]) : std::nullopt;
        if (bytes) cue.bytes = *bytes;
        ok = bytes.has_value();
    } else if (what == "changing") {
        cue.what = What::Changing;
        ok = args == 0;
    } else if (what == "resize") {
        cue.what = What::Resize;
        auto size = args == 1 ? parsePictureSize(parts[2]) : std::nullopt;
        if (size) std::tie(cue.a, cue.b) = std::pair{size->width, size->height};
        ok = size.has_value();
    } else if (what == "code") {
        cue.what = What::SizeCode;
        cue.a = -1;
        ok = args == 0 || (args == 1 && number(2, 255, cue.a));
    } else if (what == "split") {
        cue.what = What::Split;
        ok = args >= 1 && number(2, 60000, cue.a) && (args == 1 || number(3, 81, cue.b));
    } else if (what == "garbage") {
        cue.what = What::Garbage;
        ok = args == 0;
    } else if (what == "big") {
        cue.what = What::Oversize;
        ok = args == 1 && number(2, 16 * 1024 * 1024, cue.a);
    } else if (what == "stall") {
        cue.what = What::Stall;
        ok = args == 1 && number(2, 3600000, cue.a);
    } else {
        ok = false;
    }
    if (!ok) return std::nullopt;
    return cue;
}

// The stream settings of family-b; false when name is none of them.
bool parseFamilyBStreamSetting(std::string_view name, std::string_view value, std::string_view item,
                               FamilyBConfig &b, bool &ok) {
    FamilyBStreamConfig &s = b.stream;
    auto number = [&](unsigned min, unsigned max, int &to) {
        auto n = parseNumber(value, max);
        if (n && *n >= min) to = static_cast<int>(*n);
        ok = n && *n >= min;
    };
    if (name == "size") {
        auto size = parsePictureSize(value);
        if (size) std::tie(s.width, s.height) = std::pair{size->width, size->height};
        ok = size.has_value();
    } else if (name == "fps") {
        number(1, 60, s.fps);
    } else if (name == "q") {
        number(1, 99, s.quality);
    } else if (name == "size-code") {
        number(0, 255, s.sizeCode);
    } else if (name == "bytes") {
        auto bytes = parseStatusBytes(value);
        if (bytes) s.statusBytes = *bytes;
        ok = bytes.has_value();
    } else if (item == "nodata") {
        s.dataStream = false;
    } else if (item == "noaudio") {
        s.audioStream = false;
    } else if (name == "refuse") {
        number(100, 599, s.refuseStatus);
    } else if (item == "cut") {
        s.cutRefusal = true;
    } else if (name == "at") {
        auto cue = parseDataCue(value);
        if (cue) s.cues.push_back(*cue);
        ok = cue.has_value();
    } else {
        return false;
    }
    return true;
}

// talk-status=N of either family: Chatting.cgi answers N (0: closes unanswered).
bool parseTalkStatus(std::string_view value, TalkSinkConfig &talk) {
    auto n = parseNumber(value, 599);
    if (!n || (*n != 0 && *n < 100)) return false;
    talk.status = static_cast<int>(*n);
    return true;
}

// The stream settings of family-a; false when name is none of them.
bool parseStreamSetting(std::string_view name, std::string_view value, std::string_view item,
                        FamilyAConfig &a, bool &ok) {
    FamilyAStreamConfig &s = a.stream;
    auto port = [&](int &to) {
        auto n = parseNumber(value, 65535);
        if (n) to = static_cast<int>(*n);
        ok = n.has_value();
    };
    auto number = [&](unsigned max, int &to) {
        auto n = parseNumber(value, max);
        if (n) to = static_cast<int>(*n);
        ok = n.has_value();
    };
    if (item == "http-stream") {
        a.capabilities |= 1;
    } else if (name == "caps") {
        number(255, a.capabilities);
    } else if (name == "rtsp") {
        port(a.rtspPort);
        a.capabilities |= 2;
    } else if (name == "framing") {
        ok = value == "hunt" || value == "3297";
        s.framing = value == "3297" ? Framing::Tagged : Framing::Hunt;
    } else if (name == "video-port") {
        port(s.videoListenPort);
    } else if (name == "audio-port") {
        port(s.audioListenPort);
    } else if (name == "i2p-port") {
        port(a.audioI2PPort);
    } else if (item == "noports") {
        a.announcePorts = false;
    } else if (name == "path1" || name == "path2" || name == "path3gpp") {
        (name == "path1" ? a.pathLive1 : name == "path2" ? a.pathLive2 : a.path3gpp) = value;
        ok = !value.empty();
    } else if (name == "tz") {
        auto tz = parseSigned(value, -2047, 2047);
        if (tz) s.timeZoneMinutes = *tz;
        ok = tz.has_value();
    } else if (name == "start") {
        auto n = parseNumber(value, 0xFFFFFFFFu);
        if (n) s.startSeconds = *n;
        ok = n.has_value();
    } else if (name == "stream") {
        // Channel settings after the geometry are separated by '/' here.
        std::string spec(value), why;
        std::replace(spec.begin(), spec.end(), '/', ',');
        auto channel = parseChannelSpec(spec, why);
        ok = channel && !isNalCodec(channel->codec);  // the cameras' own framings know no NAL
        if (ok) s.channels.push_back(*channel);
    } else if (item == "full") {
        s.fullHouse = true;
    } else if (item == "nohttp") {
        s.httpStream = false;
    } else if (name == "status") {
        number(599, s.refuseStatus);
        ok = ok && s.refuseStatus >= 100;
    } else if (item == "noinfo") {
        s.infoPacket = false;
    } else if (name == "extra-header") {
        number(235, s.extraHeaderBytes);
    } else if (name == "at") {
        auto cue = parseCue(value);
        if (cue) s.cues.push_back(*cue);
        ok = cue.has_value();
    } else {
        return false;
    }
    return true;
}

}  // namespace

std::optional<DeviceChoice> parseDeviceSpec(const std::string &text, std::string &error) {
    DeviceChoice device;
    std::string_view kind(text), settings;
    if (std::size_t colon = text.find(':'); colon != std::string::npos) {
        kind = std::string_view(text).substr(0, colon);
        settings = std::string_view(text).substr(colon + 1);
    }
    if (kind == "server" && settings.empty()) return device;
    if (kind != "family-a" && kind != "family-b") {
        error = "expected server, family-a[:...] or family-b[:...], got '" + text + "'";
        return std::nullopt;
    }
    device.kind = kind == "family-a" ? DeviceChoice::Kind::FamilyA : DeviceChoice::Kind::FamilyB;
    FamilyAConfig &a = device.familyA;
    FamilyBConfig &b = device.familyB;
    // Lists inside a setting use '/' because ',' separates the settings.
    auto list = [](std::string_view v) {
        std::string out(v);
        std::replace(out.begin(), out.end(), '/', ',');
        return out;
    };
    while (!settings.empty()) {
        std::string_view item = settings.substr(0, settings.find(','));
        settings.remove_prefix(std::min(settings.size(), item.size() + 1));
        std::size_t eq = item.find('=');
        std::string_view name = item.substr(0, eq);
        std::string_view value = eq == std::string_view::npos ? "" : item.substr(eq + 1);
        auto bad = [&](const char *why) {
            error = "device setting '" + std::string(item) + "': " + why;
            return std::nullopt;
        };
        auto number = [&](unsigned max, int &to) {
            auto n = parseNumber(value, max);
            if (n) to = static_cast<int>(*n);
            return n.has_value();
        };
        auto flag = [&](bool &to) {
            if (value != "0" && value != "1") return false;
            to = value == "1";
            return true;
        };
        bool ok = true;
        if (device.kind == DeviceChoice::Kind::FamilyA) {
            if (name == "model")
                ok = number(255, a.model);
            else if (name == "firmware")
                ok = !(a.firmware = value).empty();
            else if (name == "video")
                ok = number(4, a.videoCode);
            else if (name == "audio")
                ok = number(4, a.audioCode);
            else if (name == "device")
                ok = number(254, a.device);
            else if (name == "ptz")
                ok = flag(a.ptz);
            else if (name == "2way")
                ok = flag(a.twoWay);
            else if (name == "videonum")
                ok = number(16, a.videoNum);
            else if (name == "audionum")
                ok = number(16, a.audioNum);
            else if (name == "inputs")
                ok = number(4, a.inputs);
            else if (name == "outputs")
                ok = number(4, a.outputs);
            else if (name == "resolutions")
                ok = !(a.resolutions = list(value)).empty();
            else if (name == "codecs")
                ok = !(a.codecs = list(value)).empty();
            else if (name == "dvr")
                ok = number(16, a.dvrChannels);
            else if (item == "older")
                a.older = true;
            else if (name == "talk-status")
                ok = parseTalkStatus(value, a.talk);
            else if (!parseStreamSetting(name, value, item, a, ok))
                return bad("unknown for family-a");
        } else {
            if (name == "firmware")
                ok = !(b.firmware = value).empty();
            else if (name == "recorder")
                ok = number(16, b.recorderChannels) &&
                     (b.recorderChannels == 4 || b.recorderChannels == 8 ||
                      b.recorderChannels == 16);
            else if (item == "notv")
                b.statusHasTvStandard = false;
            else if (name == "talk-status")
                ok = parseTalkStatus(value, b.talk);
            else if (!parseFamilyBStreamSetting(name, value, item, b, ok))
                return bad("unknown for family-b");
        }
        if (!ok) return bad("malformed value");
    }
    return device;
}

}  // namespace camsim
