#include "tools/camsim/query_rules.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "tools/camsim/command_words.h"

namespace camsim {

namespace {

using Key = std::string_view;

// Family A, in wire order (the camera's tables read backwards).
constexpr Key kTimeA[] = {"UseNtp", "TimeZone", "NtpIP", "Localtime"};
constexpr Key kName[] = {"Name"};
constexpr Key kLanguage[] = {"Language"};
constexpr Key kAdjust[] = {"Hue", "Saturation", "Contrast", "Brightness"};
constexpr Key kMultimedia[] = {"Compression_Type", "Audio", "Resolution", "Jpeg_Quality",
                               "Bitrate",          "VBR",   "Mode",       "Fps"};
constexpr Key kNetwork[] = {"Audio_Port", "Video_Port", "Http_Port", "Dns",
                            "Gateway",    "Netmask",    "Ipaddr",    "Proto"};
constexpr Key kPppoe[] = {"Subj", "SendMail", "Adsl_En", "Pwd", "User"};
constexpr Key kDdnsA[] = {"updata_time", "User", "Ddns_En"};
constexpr Key kMotionA[] = {"level_sen3", "level_sen2", "level_sen1", "md3_lrc",  "md3_lrr",
                            "md3_ulc",    "md3_ulr",    "md3_ena",    "md2_lrc",  "md2_lrr",
                            "md2_ulc",    "md2_ulr",    "md2_ena",    "md1_lrc",  "md1_lrr",
                            "md1_ulc",    "md1_ulr",    "md1_ena",    "md_enable"};
constexpr Key kMailA[] = {"Subj", "Bcc", "Dest", "Sender", "Smtp"};
constexpr Key kFtpA[] = {"FTP_Path", "FTP_Port", "FTP_Pwd", "FTP_User", "FTP_Server"};
constexpr Key kCcdA[] = {"FLC", "AGC", "BLC", "AES"};
constexpr Key kUserA[] = {"Authority", "Pass", "User", "Check"};
constexpr Key kUser[] = {"User"};
constexpr Key kOutputs[] = {"Out4Slide",   "Out3Slide",      "Out2Slide", "Out1Slide",
                            "Out4STA",     "Out3STA",        "Out2STA",   "Out1STA",
                            "Output_Mode", "Output_Interval"};
constexpr Key kComOutputs[] = {"COM4PT",    "COM3PT",    "COM2PT",    "COM1PT",   "COM4Slide",
                               "COM3Slide", "COM2Slide", "COM1Slide", "COM4STA",  "COM3STA",
                               "COM2STA",   "COM1STA",   "COMModule", "CInterval"};
// Pan/tilt: the "Dir=" wording with its companions, the moves towards a point of the models
// that have them, and the "CMD=" wording of the built-in heads.
constexpr Key kDirWording[] = {"Command",     "RemoveName", "Group",    "Dir",     "PointName",
                               "PTZBaudrate", "PTZID",      "PTZSpeed", "PTZModel"};
constexpr Key kDirAndMoves[] = {"Command", "RemoveName", "Group",   "Up860",     "Down860",
                                "Left860", "Right860",   "Dir",     "PointName", "PTZBaudrate",
                                "PTZID",   "PTZSpeed",   "PTZModel"};
constexpr Key kCmdWording[] = {"CMD", "POINTER"};
constexpr Key kDvrKey[] = {"DVRControl"};
constexpr Key kPlayState[] = {"PLAYSTATE"};
constexpr Key kEvent[] = {"EVENT"};
constexpr Key kRebootNow[] = {"RebootNow"};
constexpr Key kDefaultNow[] = {"DefaultNow"};

struct Named {
    Key cgi;
    QueryRule rule;
};

constexpr Named kFamilyA[] = {
    {"SetTime.cgi", {false, kTimeA}},
    {"SetName.cgi", {false, kName}},
    {"SetLanguage.cgi", {false, kLanguage}},
    {"SetAdjust.cgi", {false, kAdjust}},
    {"SetMultimedia.cgi", {true, kMultimedia}},
    {"SetNetwork.cgi", {false, kNetwork}},
    {"SetPPPOE.cgi", {false, kPppoe}},
    {"SetDDNS.cgi", {false, kDdnsA}},
    {"SetMotionDetect.cgi", {true, kMotionA}},
    {"SetMail.cgi", {false, kMailA}},
    {"SetFTP.cgi", {false, kFtpA}},
    {"SetCCD.cgi", {false, kCcdA}},
    {"SetUser.cgi", {false, kUserA}},
    {"DelUser.cgi", {false, kUser}},
    {"SetDVRKey.cgi", {false, kDvrKey}},
    {"SetPlayCmd.cgi", {false, kPlayState}},
    {"SetTimePlay.cgi", {false, kEvent}},
    {"Reboot.cgi", {false, kRebootNow}},
    {"SetFactoryDefault.cgi", {false, kDefaultNow}},
};
constexpr QueryRule kOutputRule = {false, kOutputs};
constexpr QueryRule kComOutputRule = {false, kComOutputs};
constexpr QueryRule kDirRule = {true, kDirWording};
constexpr QueryRule kDirAndMovesRule = {true, kDirAndMoves};
constexpr QueryRule kCmdRule = {true, kCmdWording};

// Family B: Change CGIs take one value each, the others their table backwards or their format.
constexpr Key kResType[] = {"ResType"};
constexpr Key kRatio[] = {"Ratio"};
constexpr Key kBrightness[] = {"Brightness"};
constexpr Key kContrast[] = {"Contrast"};
constexpr Key kSaturation[] = {"Saturation"};
constexpr Key kHue[] = {"Hue"};
constexpr Key kSharpness[] = {"Sharpness"};
constexpr Key kFrequency[] = {"Frequency"};
constexpr Key kRect[] = {"Rect"};
constexpr Key kMotionB[] = {"Enable", "Sensitivity"};
constexpr Key kCameraName[] = {"CameraName"};
constexpr Key kUserB[] = {"User", "Pass"};
constexpr Key kCheck[] = {"Check"};
constexpr Key kMailB[] = {"Interval", "PassWord",  "User",       "Subject", "Receiver",
                          "Enable",   "CheckFlag", "MailServer", "Sender"};
constexpr Key kIp[] = {"Netmask", "IPWay", "IP", "Interface"};
constexpr Key kHttp[] = {"Port1", "Port0"};
constexpr Key kTimeB[] = {"TimeZone", "Sec1970", "NtpServer", "UseNtp"};
constexpr Key kFtpB[] = {"User", "UploadPath", "Pass", "FtpServer", "Enable"};
constexpr Key kDdnsB[] = {"Info", "Interval", "User", "Enable"};
constexpr Key kPppoeB[] = {"CheckFlag",     "MailPassWord", "Subject",  "Receiver",
                           "Sender",        "MailServer",   "MailUser", "User",
                           "ConnectOnBoot", "Action",       "Pass",     "Mail"};
constexpr Key kAdmin[] = {"Admin", "aPass"};
constexpr Key kIo[] = {"GPIO4Out", "GPIO3Out", "GPIO2Out", "GPIO1Out"};
constexpr Key kCcdB[] = {"MIRROR", "AGC", "BLC", "AES"};
constexpr Key kPtzB[] = {"PTZModel", "CameraID", "Baudrate"};
constexpr Key kSerial[] = {"PointName", "RemoveName", "Dir", "Speed"};
constexpr Key kDir[] = {"Dir"};
constexpr Key kShowPrivilege[] = {"ShowPrivilege"};

constexpr Named kFamilyB[] = {
    {"ChangeResolution.cgi", {false, kResType}},
    {"ChangeCompressRatio.cgi", {false, kRatio}},
    {"ChangeBrightness.cgi", {false, kBrightness}},
    {"ChangeContrast.cgi", {false, kContrast}},
    {"ChangeSaturation.cgi", {false, kSaturation}},
    {"ChangeHue.cgi", {false, kHue}},
    {"ChangeSharpness.cgi", {false, kSharpness}},
    {"ChangeAECFrequency.cgi", {false, kFrequency}},
    {"SetMonitorRect.cgi", {false, kRect}},
    {"SetMotionDetect.cgi", {false, kMotionB}},
    {"SetName.cgi", {false, kCameraName}},
    {"SetUser.cgi", {false, kUserB}},
    {"DelUser.cgi", {false, kUser}},
    {"SetUserCheck.cgi", {false, kCheck}},
    {"SetMail.cgi", {false, kMailB}},
    {"SetIP.cgi", {false, kIp}},
    {"SetHttp.cgi", {false, kHttp}},
    {"SetTime.cgi", {false, kTimeB}},
    {"SetFtp.cgi", {false, kFtpB}},
    {"SetDDNS.cgi", {false, kDdnsB}},
    {"PPPoE.cgi", {false, kPppoeB}},
    {"SetAdmin.cgi", {false, kAdmin}},
    {"SetLanguage.cgi", {false, kLanguage}},
    {"SetIO.cgi", {false, kIo}},
    {"SetCCD.cgi", {false, kCcdB}},
    {"SetPTZ.cgi", {false, kPtzB}},
    {"RS232.cgi", {false, kSerial}},
    {"MoveCamera.cgi", {false, kDir}},
    {"Reboot.cgi", {false, kRebootNow}},
    {"SetFactoryDefault.cgi", {false, {}}},
    // Reads with replies of their own make; the others refuse a channel where they are routed.
    {"GetStatus.cgi", {false, {}}},
    {"GetMyself.cgi", {false, {}}},
    {"GetUser.cgi", {false, kShowPrivilege}},
};

template <std::size_t N>
const QueryRule *find(const Named (&rules)[N], std::string_view cgi) {
    for (const Named &n : rules)
        if (n.cgi == cgi) return &n.rule;
    return nullptr;
}

// The models with a built-in head (93 to 98) and those that turn towards a point.
bool builtInHead(int model) {
    return model >= 93 && model <= 98;
}
bool movesToPoints(int model) {
    return model == 61 || model == 76 || model == 80 || model == 81 || model == 135;
}

}  // namespace

Query parseQuery(std::string_view text) {
    Query query;
    while (!text.empty()) {
        std::string_view item = text.substr(0, text.find('&'));
        text.remove_prefix(std::min(text.size(), item.size() + 1));
        if (item.empty()) continue;
        std::size_t eq = item.find('=');
        std::string key = percentDecoded(item.substr(0, eq));
        std::string value =
            eq == std::string_view::npos ? std::string() : percentDecoded(item.substr(eq + 1));
        if (key == "CH") {
            query.channel = std::atoi(value.c_str());
            query.channelGiven = true;
        } else {
            query.pairs.emplace_back(std::move(key), std::move(value));
        }
    }
    return query;
}

const QueryRule *familyARule(std::string_view cgi, int model, bool device) {
    if (cgi == "SetGPIO.cgi") return model >= 57 ? &kOutputRule : &kComOutputRule;
    if (cgi == "SetPTZ.cgi") {
        if (device) return &kDirRule;
        if (builtInHead(model)) return &kCmdRule;
        return movesToPoints(model) ? &kDirAndMovesRule : &kDirRule;
    }
    return find(kFamilyA, cgi);
}

const QueryRule *familyBRule(std::string_view cgi) {
    return find(kFamilyB, cgi);
}

std::string breach(const QueryRule &rule, std::string_view query) {
    std::size_t next = 0;  // the first key still allowed
    bool first = true;
    for (std::string_view rest = query; !rest.empty();) {
        std::string_view item = rest.substr(0, rest.find('&'));
        rest.remove_prefix(std::min(rest.size(), item.size() + 1));
        if (item.empty()) continue;
        const std::string key = percentDecoded(item.substr(0, item.find('=')));
        const bool wasFirst = std::exchange(first, false);
        if (key == "CH") {
            if (!rule.channel) return "CH= is not taken here";
            if (!wasFirst) return "CH= must come first";
            continue;
        }
        if (rule.channel && wasFirst) return "CH= must come first";
        auto at =
            std::find(rule.keys.begin() + static_cast<std::ptrdiff_t>(next), rule.keys.end(), key);
        if (at == rule.keys.end()) {
            const bool known =
                std::find(rule.keys.begin(), rule.keys.end(), key) != rule.keys.end();
            return (known ? "Out of order or repeated: " : "Unknown key: ") + key;
        }
        next = static_cast<std::size_t>(at - rule.keys.begin()) + 1;
    }
    if (rule.channel && first) return "CH= must come first";
    return {};
}

}  // namespace camsim
