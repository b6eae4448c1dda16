#include "control/video_format.h"

#include <bit>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>

#include "control/capabilities.h"
#include "control/cgi_reply.h"
#include "control/settings_tables.h"
#include "core/decimal.h"
#include "core/fixed_text.h"

namespace ipcam {

namespace {

constexpr int32_t kAllQualities = 0x1F;
constexpr int32_t kStandardCeiling[] = {30, 30, 25};  // by standard: unknown, NTSC, PAL
constexpr int32_t kMegaPixelCeiling = 10;
constexpr uint32_t kMegaPixel = 1u << 24;  // "1280x1024"
constexpr int32_t kLowestFrameRate = 3;

uint32_t maskOf(std::initializer_list<std::string_view> texts) {
    uint32_t mask = 0;
    for (std::string_view text : texts) mask |= resolutionBit(text);
    return mask;
}

// The value after key up to the next "<", or an empty view.
std::string_view listAfter(const char *reply, const char *key) {
    const char *at = std::strstr(reply, key);
    if (!at) return {};
    at += std::strlen(key);
    return std::string_view(at, std::strcspn(at, "<"));
}

template <typename F>
void forEachItem(std::string_view list, F f) {
    while (!list.empty()) {
        std::size_t comma = list.find(',');
        f(trimmedValue(list.substr(0, comma)));
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 1);
    }
}

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char &c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

int32_t standardOfText(std::string_view text) {
    const std::string t = lowered(trimmedValue(text));
    return t == "ntsc" ? kStandardNtsc : t == "pal" ? kStandardPal : 0;
}

// The highest set bit as a 1-based position, for masks given by a caller (-1: not given).
int32_t highestBit(int32_t mask, int32_t width) {
    if (mask <= 0) return 0;
    uint32_t bits = static_cast<uint32_t>(mask) & ((1u << width) - 1);
    return bits ? 32 - std::countl_zero(bits) : 0;
}

std::string_view codecText(int32_t codec) {
    switch (codec) {
        case kCodecMpeg4:
            return "mpeg4";
        case kCodecMjpeg:
            return "mjpeg";
        case kCodecH264:
            return "h264";
        default:
            return "";
    }
}

SettingContext settingContext(CommandCall &call) {
    return SettingContext{call.client, call.channel, call.modelNumber};
}

// Fields of the "GetMultimedia.cgi" read.
enum MultimediaField {
    kVbr,
    kBitrate,
    kResolution,
    kFps,
    kGop,
    kAudio,
    kMode,
    kFormat,
    kType,
    kJpeg
};

// The stream settings write and its fields.
constexpr int32_t kWriteStreamSettings = 4109;
enum StreamSettingField {
    kSetFps,
    kSetMode,
    kSetVbr,
    kSetBitrate,
    kSetJpeg,
    kSetResolution,
    kSetAudio,
    kSetCodec
};

}  // namespace

DeviceCapabilities readDeviceCapabilities(const char *reply) {
    DeviceCapabilities caps;
    if (!reply) return caps;
    auto valueOf = [reply](const char *key) {
        const char *at = std::strstr(reply, key);
        return at ? decimalValue(at + std::strlen(key)) : 0;
    };
    caps.kind = valueOf("Device=");
    caps.panTilt = valueOf("Ptz=") != 0;
    caps.twoWayAudio = valueOf("2-Way=") != 0;

    // The lists of the device's own kind; a kind that leaves no number finds nothing.
    const int64_t n = static_cast<int64_t>(caps.kind) + 1;
    char key[40];
    std::snprintf(key, sizeof key, "Resolution%lld=", static_cast<long long>(n));
    forEachItem(listAfter(reply, key),
                [&caps](std::string_view item) { caps.resolutions |= resolutionBit(item); });
    std::snprintf(key, sizeof key, "CodecType%lld=", static_cast<long long>(n));
    forEachItem(listAfter(reply, key), [&caps](std::string_view item) {
        if (item.starts_with("mpeg4"))
            caps.codecs |= kCodecMpeg4;
        else if (item.starts_with("mjpeg"))
            caps.codecs |= kCodecMjpeg;
        else if (item.starts_with("h264"))
            caps.codecs |= kCodecH264;
    });
    return caps;
}

int32_t qualityOfJpegValue(int32_t value, uint32_t modelCode) {
    const bool model161 = modelCode == 161;
    for (int32_t level = 1; level <= 5; ++level) {
        const QualityLevel *q = qualityLevel(level);
        if (value >= (model161 ? q->jpegQuality161 : q->jpegQuality)) return level;
    }
    // Below the best value: a small number is the camera's own level number.
    if (value >= 1 && value <= 5) return value;
    return value > 5 ? 5 : 0;
}

int32_t qualityOfBitRate(int32_t kbits) {
    if (kbits <= 0) return 0;
    for (int32_t level = 5; level > 1; --level)
        if (kbits >= qualityLevel(level)->bitRate) return level;
    return 1;
}

FormatOffer familyAOffer(uint32_t model, int32_t channel, int32_t codec, double firmware) {
    const uint32_t defaultNtsc = maskOf({"160x120", "320x240", "640x480", "720x480"});
    const uint32_t defaultPal = maskOf({"176x144", "352x288", "704x576", "720x576"});
    FormatOffer offer;
    if (model == 0) {
        offer = {defaultNtsc, defaultPal};
    } else if (inModelSet(ModelSet::S1, model)) {
        offer.ntsc = offer.pal = maskOf({"160x120", "320x240", "640x480"});
    } else if (inModelSet(ModelSet::S2, model)) {
        offer = {maskOf({"176x120", "352x240", "704x480", "720x480"}), defaultPal};
    } else if (inModelSet(ModelSet::S3, model)) {
        offer.ntsc = offer.pal = maskOf({"160x120", "320x240", "640x480", "1280x1024"});
    } else if (model == 57 || model == 58) {
        offer = {maskOf({"160x112", "320x240", "640x480"}),
                 maskOf({"160x120", "320x240", "640x480"})};
    } else if (model == 59) {
        offer = {maskOf({"160x112", "320x240", "640x480"}),
                 maskOf({"160x120", "352x288", "640x480"})};
    } else if (inModelSet(ModelSet::S5, model)) {
        offer = {maskOf({"720x480"}), maskOf({"720x576"})};
    } else if (model == 161) {
        if (codec == kCodecMpeg4)
            offer.ntsc = offer.pal = maskOf({"176x144", "320x240", "640x480"});
        if (codec == kCodecMjpeg) offer.ntsc = offer.pal = maskOf({"640x480", "1280x960"});
    } else if (model == 177) {
        if (channel == 0 || channel == 1)
            offer.ntsc = offer.pal = maskOf({"176x144", "320x240", "640x480"});
        else if (channel == 2)
            offer.ntsc = offer.pal = maskOf({"176x144", "320x240"});
    } else {
        offer = {defaultNtsc, defaultPal};
    }

    const int32_t both = kCodecMpeg4 | kCodecMjpeg;
    if (inModelSet(ModelSet::S8, model))
        offer.codecs = kCodecMpeg4;
    else if (model == 57 || model == 151)
        offer.codecs = both | kCodecH264;
    else if (model == 161)
        offer.codecs = codec == kCodecMpeg4 || codec == kCodecMjpeg ? codec : both;
    else if (model == 177)
        offer.codecs = channel == 0 ? kCodecMjpeg : kCodecMpeg4;
    else if (model == 62 || model == 63)
        offer.codecs = firmware >= 2.0 ? both : kCodecMpeg4;
    else
        offer.codecs = both;
    return offer;
}

int32_t frameRateCeiling(int32_t standard, uint32_t resolutionMask, uint32_t modelCode) {
    if (inModelSet(ModelSet::S3, modelCode) && resolutionMask == kMegaPixel)
        return kMegaPixelCeiling;
    return kStandardCeiling[standard == kStandardPal ? 2 : 1];
}

int readFamilyAFormat(CommandCall &call, IPCamVideoFormatRecord &record) {
    IPCamSettingsRecord values = settingsRecord(4108);
    SettingContext context = settingContext(call);
    const int r = runFamilyASetting(*familyASetting(4108), context, values);
    if (r < 0) return r;
    auto text = [&values](MultimediaField f) { return fieldText(values.field[f]); };
    auto number = [&text](MultimediaField f) { return decimalValue(text(f)); };

    int32_t codec = codecFromText(text(kType));
    if (!codec) codec = codecFromText(lowered(text(kFormat)));
    if (!codec) codec = kCodecMpeg4;
    const uint32_t model = call.modelCode();
    const int32_t level = codec == kCodecMjpeg ? qualityOfJpegValue(number(kJpeg), model)
                                               : qualityOfBitRate(number(kBitrate));
    const FormatOffer offer =
        familyAOffer(model, call.channel, codec, call.client.FirmwareVersion());

    record.qualityMask = level ? 1 << (level - 1) : 0;
    record.bitRate = number(kBitrate);
    record.resolutionMask = static_cast<int32_t>(resolutionBit(trimmedValue(text(kResolution))));
    record.frameRate = number(kFps);
    record.codec = codec;
    record.standard = standardOfText(text(kMode));
    record.maxFrameRate =
        frameRateCeiling(record.standard, static_cast<uint32_t>(record.resolutionMask), model);
    record.ntscResolutions = static_cast<int32_t>(offer.ntsc);
    record.palResolutions = static_cast<int32_t>(offer.pal);
    record.qualities = kAllQualities;
    record.codecs = offer.codecs;
    record.flags = (number(kVbr) ? IPCAM_FORMAT_VARIABLE_BIT_RATE : 0) |
                   (number(kAudio) ? IPCAM_FORMAT_AUDIO : 0);
    return 0;
}

int writeFamilyAFormat(CommandCall &call, IPCamVideoFormatRecord &record) {
    const uint32_t model = call.modelCode();
    // The stream settings write carries the values, so they go out in its keys' order.
    IPCamSettingsRecord values = settingsRecord(kWriteStreamSettings);
    auto field = [&values](StreamSettingField f) -> char(&)[IPCAM_SETTINGS_FIELD_SIZE] {
        return values.field[f];
    };
    const int32_t resolutionBitPos = highestBit(record.resolutionMask, 30);
    const uint32_t mask = resolutionBitPos ? 1u << (resolutionBitPos - 1) : 0;
    copyTextCut(field(kSetResolution), resolutionOfMask(mask));

    if (const QualityLevel *q = qualityLevel(highestBit(record.qualityMask, 5))) {
        std::snprintf(field(kSetBitrate), IPCAM_SETTINGS_FIELD_SIZE, "%d", q->bitRate);
        std::snprintf(field(kSetJpeg), IPCAM_SETTINGS_FIELD_SIZE, "%d",
                      model == 161 ? q->jpegQuality161 : q->jpegQuality);
    }
    if (record.frameRate >= 1) {
        // The caller's mask as given: a mask naming more than the megapixel size is no
        // megapixel request.
        const int32_t ceiling =
            frameRateCeiling(record.standard, static_cast<uint32_t>(record.resolutionMask), model);
        if (record.frameRate < kLowestFrameRate) record.frameRate = kLowestFrameRate;
        if (record.frameRate > ceiling) record.frameRate = ceiling;
        std::snprintf(field(kSetFps), IPCAM_SETTINGS_FIELD_SIZE, "%d", record.frameRate);
    }
    copyTextCut(field(kSetCodec), codecText(record.codec));
    copyTextCut(field(kSetMode), standardText(record.standard));

    bool any = false;
    for (const auto &text : values.field) any = any || text[0];
    if (!any) return 0;
    SettingContext context = settingContext(call);
    return runFamilyASetting(*familyASetting(kWriteStreamSettings), context, values);
}

int readFamilyBFormat(CommandCall &call, IPCamVideoFormatRecord &record) {
    const int r = call.client.Get("GetStatus.cgi");
    if (r < 0) return r;
    char resolution[32] = "", quality[16] = "", standard[16] = "";
    call.client.GetValueB("Resolution", resolution, sizeof resolution);
    call.client.GetValueB("Quality", quality, sizeof quality);
    call.client.GetValueB("tv_standard", standard, sizeof standard);

    const int32_t level = decimalValue(quality);
    const int32_t tv = standardOfText(standard);
    record.qualityMask = level >= 1 && level <= 5 ? 1 << (level - 1) : 0;
    record.bitRate = 0;
    record.resolutionMask = static_cast<int32_t>(resolutionBit(trimmedValue(resolution)));
    record.frameRate = 0;
    record.codec = kCodecMjpeg;
    record.standard = tv ? tv : kStandardNtsc;
    record.maxFrameRate = frameRateCeiling(record.standard, 0, 0);
    record.ntscResolutions = record.palResolutions =
        static_cast<int32_t>(maskOf({"160x120", "320x240", "640x480"}));
    record.qualities = kAllQualities;
    record.codecs = kCodecMjpeg;
    record.flags = 0;
    return 0;
}

int writeFamilyBFormat(CommandCall &call, IPCamVideoFormatRecord &record) {
    SettingContext context = settingContext(call);
    int result = 0;
    const int32_t bit = highestBit(record.resolutionMask, 30);
    if (bit) {
        IPCamSettingsRecord change = settingsRecord(8201);
        copyTextCut(change.field[0], resolutionOfMask(1u << (bit - 1)));
        result = runFamilyBSetting(*familyBSetting(8201), context, change);
        if (result < 0) return result;
    }
    if (const int32_t level = highestBit(record.qualityMask, 5)) {
        IPCamSettingsRecord change = settingsRecord(8202);
        std::snprintf(change.field[0], sizeof change.field[0], "%d", level);
        result = runFamilyBSetting(*familyBSetting(8202), context, change);
    }
    return result;
}

}  // namespace ipcam
