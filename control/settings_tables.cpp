#include "control/settings_tables.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "control/cgi_reply.h"
#include "control/query_builder.h"
#include "core/fixed_text.h"

namespace ipcam {

namespace {

using Keys = std::span<const char *const>;
constexpr std::size_t kQuerySize = CgiClient::kRequestSize;
constexpr std::size_t kNameSize = 128;
constexpr std::size_t kEscapedFieldSize = 3 * IPCAM_SETTINGS_FIELD_SIZE;

// Family A keys.
constexpr const char *kTimeA[] = {"Localtime", "NtpIP", "TimeZone", "UseNtp"};
constexpr const char *kTimeSetA[] = {"Localtime=", "NtpIP=", "TimeZone=", "UseNtp="};
constexpr const char *kName[] = {"Name"};
constexpr const char *kNameSet[] = {"Name="};
constexpr const char *kVersion[] = {"Version"};
constexpr const char *kLanguage[] = {"Language"};
constexpr const char *kLanguageSet[] = {"Language="};
constexpr const char *kAdjust[] = {"Brightness", "Contrast", "Saturation", "Hue"};
constexpr const char *kAdjustSet[] = {"Brightness=", "Contrast=", "Saturation=", "Hue="};
constexpr const char *kMultimedia[] = {
    "VBR",   "Bitrate", "Resolution",       "Fps",         "GOPSelect", "Audio",
    ">Mode", ">Format", "Compression_Type", "Jpeg_Quality"};
// The codec last, so that the fields before it keep their places.
constexpr const char *kMultimediaSet[] = {
    "Fps=",          "Mode=",       "VBR=",   "Bitrate=",
    "Jpeg_Quality=", "Resolution=", "Audio=", "Compression_Type="};
constexpr const char *kNetwork[] = {"Proto", "Ipaddr",    "Netmask",    "Gateway",
                                    "Dns",   "Http_Port", "Video_Port", "Audio_Port"};
constexpr const char *kNetworkSet[] = {"Proto=", "Ipaddr=",    "Netmask=",    "Gateway=",
                                       "Dns=",   "Http_Port=", "Video_Port=", "Audio_Port="};
constexpr const char *kPppoe[] = {"User", "Pwd", "Adsl_En", "SendMail", "Subj"};
constexpr const char *kPppoeSet[] = {"User=", "Pwd=", "Adsl_En=", "SendMail=", "Subj="};
constexpr const char *kDdnsA[] = {"Ddns_En", "State", "User", "updata_time"};
constexpr const char *kDdnsSetA[] = {"Ddns_En=", "User=", "updata_time="};
constexpr const char *kMotion[] = {
    "md_enable", "md1_ena", "md1_ulr", "md1_ulc", "md1_lrr", "md1_lrc", "md2_ena", "md2_ulr",
    "md2_ulc", "md2_lrr", "md2_lrc", "md3_ena", "md3_ulr", "md3_ulc", "md3_lrr", "md3_lrc",
    "level_sen1", "level_sen2", "level_sen3",
    // read from newer cameras only
    "Motion1_Status", "Motion2_Status", "Motion3_Status", "Interval"};
constexpr std::size_t kMotionKeys = 19;
constexpr const char *kMotionSet[] = {
    "md_enable=", "md1_ena=", "md1_ulr=",    "md1_ulc=",    "md1_lrr=",   "md1_lrc=", "md2_ena=",
    "md2_ulr=",   "md2_ulc=", "md2_lrr=",    "md2_lrc=",    "md3_ena=",   "md3_ulr=", "md3_ulc=",
    "md3_lrr=",   "md3_lrc=", "level_sen1=", "level_sen2=", "level_sen3="};
constexpr const char *kMailA[] = {"Smtp", "Sender", "Dest", "Bcc", "Subj"};
constexpr const char *kMailSetA[] = {"Smtp=", "Sender=", "Dest=", "Bcc=", "Subj="};
constexpr const char *kFtpA[] = {"FTP_Server", "FTP_User", "FTP_Pwd", "FTP_Port", "FTP_Path"};
constexpr const char *kFtpSetA[] = {
    "FTP_Server=", "FTP_User=", "FTP_Pwd=", "FTP_Port=", "FTP_Path="};
constexpr const char *kCcdA[] = {"AES", "BLC", "AGC", "FLC"};
constexpr const char *kCcdSetA[] = {"AES=", "BLC=", "AGC=", "FLC="};
constexpr const char *kUsers[] = {
    "Check",       "http_admin",  "http_user1",  "http_user2",  "http_user3",  "http_user4",
    "http_user5",  "http_user6",  "http_user7",  "http_user8",  "http_user9",  "http_user10",
    "http_user11", "http_user12", "http_user13", "http_user14", "http_user15", "http_user16",
    "http_user17", "http_user18", "http_user19", "http_user20"};
constexpr const char *kUserSet[] = {"Check=", "User=", "Pass=", "Authority="};
constexpr const char *kUserDel[] = {"User="};
constexpr const char *kStatusA[] = {"tv_standard", "mode"};
constexpr const char *kPtzA[] = {"PTZModel", "PTZSpeed", "PTZID",   "PTZBaudrate", "PName01",
                                 "PName02",  "PName03",  "PName04", "PName05",     "PName06",
                                 "PName07",  "PName08",  "PName09", "PName10",     "PName11",
                                 "PName12",  "PName13",  "PName14", "PName15",     "PName16"};
constexpr const char *kPda[] = {"pda_en"};
constexpr const char *kDvrChannel[] = {"dvr_channel"};
constexpr const char *kCameraType[] = {"CameraType"};
constexpr const char *kStreamType[] = {"StreamType"};

constexpr unsigned R = kSettingRead, W = kSettingWrite;

const SettingRow kFamilyA[] = {
    {4097, "GetTime.cgi", R, kTimeA},
    {4098, "SetTime.cgi", W, kTimeSetA},
    {4099, "GetName.cgi", R | kSingleKey, kName},
    {4100, "SetName.cgi", W, kNameSet},
    {4101, "GetVer.cgi", R | kSingleKey, kVersion},
    {4102, "SetLanguage.cgi", W, kLanguageSet},
    {4103, "GetLanguage.cgi", R | kSingleKey, kLanguage},
    {4104, "Reboot.cgi", W | kFixedQuery, {}, "RebootNow"},
    {4105, "SetFactoryDefault.cgi", W | kFixedQuery, {}, "DefaultNow"},
    {4106, "GetAdjust.cgi", R, kAdjust},
    {4107, "SetAdjust.cgi", W, kAdjustSet},
    {4108, "GetMultimedia.cgi?CH=%d", R | kChannelInName, kMultimedia},
    {4109, "SetMultimedia.cgi", W | kChannelPrefix, kMultimediaSet},
    {4110, "GetNetwork.cgi", R, kNetwork},
    {4111, "SetNetwork.cgi", W, kNetworkSet},
    {4112, "GetPPPOE.cgi", R, kPppoe},
    {4113, "SetPPPOE.cgi", W, kPppoeSet},
    {4114, "GetDDNS.cgi", R, kDdnsA},
    {4115, "SetDDNS.cgi", W, kDdnsSetA},
    {4116, "GetMotionDetect.cgi", R | kMotionExtras, Keys(kMotion, kMotionKeys)},
    {4117, "SetMotionDetect.cgi", W | kChannelPrefix, kMotionSet},
    {4118, "GetMail.cgi", R, kMailA},
    {4119, "SetMail.cgi", W, kMailSetA},
    {4120, "GetFTP.cgi", R, kFtpA},
    {4121, "SetFTP.cgi", W, kFtpSetA},
    {4122, "GetCCD.cgi", R, kCcdA},
    {4123, "SetCCD.cgi", W, kCcdSetA},
    {4124, "GetUser.cgi", R, kUsers},
    {4125, "SetUser.cgi", W, kUserSet},
    {4126, "DelUser.cgi", W, kUserDel},
    {4129, "GetStatus.cgi", R, kStatusA},
    {4130, "GetPTZ.cgi?CH=%d", R | kChannelInName, kPtzA},
    {4132, "GetPDA.cgi", R | kSingleKey, kPda},
    {4133, "GetDVRCHANNEL.cgi", R | kSingleKey, kDvrChannel},
    {4134, "SetDVRKey.cgi", W | kFormatQuery, {}, "DVRControl=%s"},
    {4135, "GetCameraType.cgi", R | kSingleKey, kCameraType},
    {4136, "GetStreamType.cgi", R | kSingleKey, kStreamType},
};

// Family B keys.
constexpr const char *kCapability[] = {"Brightness", "Contrast",   "Saturation", "Hue",
                                       "Sharpness",  "Resolution", "Quality"};
constexpr const char *kExpires[] = {"Expires"};
constexpr const char *kMotionB[] = {"Enable", "Sensitivity"};
constexpr const char *kCameraName[] = {"CameraName"};
constexpr const char *kMailB[] = {"Sender",       "MailServer", "Receiver", "Receiver_Cc",
                                  "Receiver_Bcc", "Subject",    "User",     "PassWord",
                                  "CheckFlag",    "Enable",     "Interval"};
constexpr const char *kMailSetB[] = {
    "Sender=",  "MailServer=", "CheckFlag=", "Enable=",  "Receiver=",
    "Subject=", "User=",       "PassWord=",  "Interval="};
constexpr const char *kIp[] = {"CameraName", "IP",         "Netmask",    "Gateway",
                               "DNS0",       "DNS1",       "DNS2",       "Enable",
                               "IPWay",      "MailOnDhcp", "MailSubject"};
constexpr const char *kIpSet[] = {"Interface=", "IP=", "IPWay=", "Netmask="};
constexpr const char *kHttp[] = {"Port0", "Port1"};
constexpr const char *kHttpSet[] = {"Port0=", "Port1="};
constexpr const char *kTimeB[] = {"TimeZone", "Sec1970", "NtpServer", "UseNtp"};
constexpr const char *kTimeSetB[] = {"UseNtp=", "NtpServer=", "Sec1970=", "TimeZone="};
constexpr const char *kFtpB[] = {"FtpServer",  "Account", "User",    "Pass",
                                 "UploadPath", "Enable",  "Interval"};
constexpr const char *kFtpSetB[] = {"Enable=", "FtpServer=", "Pass=", "UploadPath=", "User="};
constexpr const char *kDdnsB[] = {"DomainName", "User",      "Pass",   "Interval", "Proxy",
                                  "ProxyUser",  "ProxyPass", "Enable", "Info"};
constexpr const char *kDdnsSetB[] = {"Enable=", "User=", "Interval=", "Info="};
constexpr const char *kPppoeB[] = {
    "Mail=",       "Pass=",   "Action=",   "ConnectOnBoot=", "User=",         "MailUser=",
    "MailServer=", "Sender=", "Receiver=", "Subject=",       "MailPassWord=", "CheckFlag="};
constexpr const char *kLanguageB[] = {"Language", "UseNtp", "SYS", "admin"};
constexpr const char *kCcdB[] = {"AGC", "AES", "BLC", "MIRROR"};
constexpr const char *kCcdSetB[] = {"AES=", "BLC=", "AGC=", "MIRROR="};
constexpr const char *kPtzB[] = {"PTZModel",   "Speed",      "CameraID",   "Baudrate",
                                 "PointName0", "PointName1", "PointName2", "PointName3",
                                 "PointName4", "PointName5", "PointName6", "PointName7",
                                 "PointName8", "PointName9"};
// The recorder type is written "DVRtype = 1"; the lookup's own step over "= " finds the value.
constexpr const char *kDvrType[] = {"DVRtype"};

std::string_view fieldOf(const IPCamSettingsRecord &record, std::size_t i) {
    return fieldText(record.field[i]);
}

// 8193: whether the camera leaves out its video standard.
int standardMissing(const SettingRow &row, SettingContext &c, IPCamSettingsRecord &) {
    int r = c.client.Get(row.cgi);
    if (r < 0) return r;
    return std::strstr(c.client.ReplyText(), "tv_standard") ? 0 : 1;
}

// 8194: the status block, which starts 37 characters after "Expires".
int statusBlock(const SettingRow &row, SettingContext &c, IPCamSettingsRecord &record) {
    int r = c.client.Get(row.cgi);
    if (r < 0) return r;
    const char *expires = std::strstr(c.client.ReplyText(), "Expires");
    if (!expires) return -1;
    const std::size_t available = std::strlen(expires);
    const std::string_view block =
        available > 37 ? std::string_view(expires + 37, std::min<std::size_t>(82, available - 37))
                       : std::string_view();
    copyTextCut(record.field[0], block);
    return 1;
}

// 8196: the version text, from the ninth character after "Version" to the end of its line,
// without the blank after "Version =" that the ninth character lands on.
int versionLine(const SettingRow &row, SettingContext &c, IPCamSettingsRecord &record) {
    int r = c.client.Get(row.cgi);
    if (r < 0) return r;
    const char *at = std::strstr(c.client.ReplyText(), "Version");
    if (at && std::strlen(at) >= 9) {
        copyTextCut(record.field[0],
                    trimmedValue(std::string_view(at + 9, std::strcspn(at + 9, "\n"))));
    }
    return 0;
}

int nothing(const SettingRow &, SettingContext &, IPCamSettingsRecord &) {
    return 0;
}

// 8209: "Rect=" and a comma before each coordinate given.
int monitorRect(const SettingRow &row, SettingContext &c, IPCamSettingsRecord &record) {
    char query[kQuerySize] = "Rect=";
    for (std::size_t i = 0; i < 4; ++i) {
        if (fieldOf(record, i).empty()) continue;
        if (!appendQueryValue(query, sizeof query, ",") ||
            !appendQueryValue(query, sizeof query, fieldOf(record, i)))
            return kCgiNoName;
    }
    return c.client.Set(row.cgi, query);
}

// 8214: the user list, with or without privileges; each line of the answer's body in a field.
int userList(const SettingRow &, SettingContext &c, IPCamSettingsRecord &record) {
    const char *cgi = fieldOf(record, 0) == "1" ? "GetUser.cgi?ShowPrivilege=true"
                                                : "GetUser.cgi?ShowPrivilege=false";
    int r = c.client.Get(cgi);
    if (r < 0) return r;
    const char *body = std::strstr(c.client.ReplyText(), "\r\n\r\n");
    std::string_view rest = body ? std::string_view(body + 4) : std::string_view();
    for (std::size_t i = 1; i < IPCAM_SETTINGS_FIELDS; ++i) record.field[i][0] = '\0';
    for (std::size_t i = 1; i < IPCAM_SETTINGS_FIELDS && !rest.empty();) {
        std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty()) copyTextCut(record.field[i++], line);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    return 0;
}

// 8217: the flag at index 294 of the whole reply text.
int statusFlag(const SettingRow &row, SettingContext &c, IPCamSettingsRecord &record) {
    int r = c.client.Get(row.cgi);
    if (r < 0) return r;
    const char *text = c.client.ReplyText();
    copyText(record.field[0], std::strlen(text) > 294 && text[294] == '1' ? "1" : "0");
    return r;
}

const SettingRow kFamilyB[] = {
    {8193, "GetStatus.cgi", R, {}, nullptr, standardMissing},
    {8194, "GetStatus.cgi", R, {}, nullptr, statusBlock},
    {8195, "GetCapability.cgi", R, kCapability},
    {8196, "GetVer1.cgi", R, {}, nullptr, versionLine},
    {8197, "GetMyself.cgi", R, kExpires},
    {8198, "", R, {}, nullptr, nothing},
    {8199, "Reboot.cgi", W | kFixedQuery, {}, "RebootNow=1"},
    {8200, "SetFactoryDefault.cgi", W | kFixedQuery, {}, ""},
    {8201, "ChangeResolution.cgi", W | kFormatQuery, {}, "ResType=%s"},
    {8202, "ChangeCompressRatio.cgi", W | kFormatQuery, {}, "Ratio=%s"},
    {8203, "ChangeBrightness.cgi", W | kFormatQuery, {}, "Brightness=%s"},
    {8204, "ChangeContrast.cgi", W | kFormatQuery, {}, "Contrast=%s"},
    {8205, "ChangeSaturation.cgi", W | kFormatQuery, {}, "Saturation=%s"},
    {8206, "ChangeHue.cgi", W | kFormatQuery, {}, "Hue=%s"},
    {8207, "ChangeSharpness.cgi", W | kFormatQuery, {}, "Sharpness=%s"},
    {8208, "ChangeAECFrequency.cgi", W | kFormatQuery, {}, "Frequency=%s"},
    {8209, "SetMonitorRect.cgi", W, {}, nullptr, monitorRect},
    {8210, "GetMotionDetect.cgi", R, kMotionB},
    {8211, "SetMotionDetect.cgi", W | kFormatQuery, {}, "Enable=%s&Sensitivity=%s"},
    {8212, "GetName.cgi", R, kCameraName},
    {8213, "SetName.cgi", W | kFormatQuery, {}, "CameraName=%s"},
    {8214, "GetUser.cgi", R, {}, nullptr, userList},
    {8215, "SetUser.cgi", W | kFormatQuery, {}, "User=%s&Pass=%s"},
    {8216, "DelUser.cgi", W | kFormatQuery, {}, "User=%s"},
    {8217, "GetStatus.cgi", R, {}, nullptr, statusFlag},
    {8218, "SetUserCheck.cgi", W | kFormatQuery, {}, "Check=%s"},
    {8219, "GetMail.cgi", R, kMailB},
    {8220, "SetMail.cgi", W, kMailSetB},
    {8221, "GetIP.cgi", R, kIp},
    {8222, "SetIP.cgi", W, kIpSet},
    {8223, "GetHttp.cgi", R, kHttp},
    {8224, "SetHttp.cgi", W, kHttpSet},
    {8225, "GetTime.cgi", R, kTimeB},
    {8226, "SetTime.cgi", W, kTimeSetB},
    {8227, "GetFtp.cgi", R, kFtpB},
    {8228, "SetFtp.cgi", W, kFtpSetB},
    {8229, "GetDDNS.cgi", R, kDdnsB},
    {8230, "SetDDNS.cgi", W, kDdnsSetB},
    {8231, "PPPoE.cgi", W, kPppoeB},
    {8232, "SetAdmin.cgi", W | kFormatQuery, {}, "Admin=%s&aPass=%s"},
    {8233, "GetLanguage.cgi", R, kLanguageB},
    {8234, "SetLanguage.cgi", W, kLanguageSet},
    {8237, "GetCCD.cgi", R, kCcdB},
    {8238, "SetCCD.cgi", W, kCcdSetB},
    {8239, "GetPTZ.cgi", R, kPtzB},
    {8242, "GetDVRtype.cgi", R, kDvrType},
    {8243, "MoveCamera.cgi", W | kFormatQuery, {}, "Dir=%s"},
};

template <std::size_t N>
const SettingRow *findRow(const SettingRow (&rows)[N], int32_t code) {
    auto it = std::find_if(std::begin(rows), std::end(rows),
                           [code](const SettingRow &r) { return r.code == code; });
    return it == std::end(rows) ? nullptr : it;
}

// The record's fields as terminated texts, whatever a caller left in them.
struct Values {
    char text[IPCAM_SETTINGS_FIELDS][IPCAM_SETTINGS_FIELD_SIZE];
    const char *pointers[IPCAM_SETTINGS_FIELDS];
    explicit Values(const IPCamSettingsRecord &record) {
        for (std::size_t i = 0; i < IPCAM_SETTINGS_FIELDS; ++i) {
            copyTextCut(text[i], fieldText(record.field[i]));
            pointers[i] = text[i];
        }
    }
};

int writeKeys(const SettingRow &row, SettingContext &c, const IPCamSettingsRecord &record,
              const char *prefix) {
    Values values(record);
    char query[kQuerySize];
    copyTextCut(query, prefix);
    if (!BuildQuery(query, sizeof query, static_cast<int>(row.keys.size()), row.keys.data(),
                    values.pointers))
        return kCgiNoName;
    return c.client.Set(row.cgi, query);
}

// The row's format takes the first two fields, escaped as query values.
int writeFormat(const SettingRow &row, SettingContext &c, const IPCamSettingsRecord &record) {
    char escaped[2][kEscapedFieldSize];
    for (std::size_t i = 0; i < 2; ++i)
        if (!encodeQueryValue(fieldOf(record, i), escaped[i], sizeof escaped[i])) return kCgiNoName;
    char query[kQuerySize];
    int n = std::snprintf(query, sizeof query, row.query, escaped[0], escaped[1]);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof query) return kCgiNoName;
    return c.client.Set(row.cgi, query);
}

int write(const SettingRow &row, SettingContext &c, IPCamSettingsRecord &record,
          const char *prefix) {
    if (row.flags & kFixedQuery) return c.client.Set(row.cgi, row.query);
    if (row.flags & kFormatQuery) return writeFormat(row, c, record);
    return writeKeys(row, c, record, prefix);
}

}  // namespace

IPCamSettingsRecord settingsRecord(int32_t code) {
    IPCamSettingsRecord record;
    std::memset(&record, 0, sizeof record);
    record.code = code;
    return record;
}

const SettingRow *familyASetting(int32_t code) {
    return findRow(kFamilyA, code);
}
const SettingRow *familyBSetting(int32_t code) {
    return findRow(kFamilyB, code);
}

int runFamilyASetting(const SettingRow &row, SettingContext &c, IPCamSettingsRecord &record) {
    if (row.special) return row.special(row, c, record);
    if (row.flags & kSettingWrite) {
        char prefix[32] = "";
        if (row.flags & kChannelPrefix) std::snprintf(prefix, sizeof prefix, "CH=%d&", c.channel);
        return write(row, c, record, prefix);
    }
    char cgi[kNameSize];
    Keys keys = row.keys;
    if (row.flags & kMotionExtras) {
        // Cameras from firmware 1.06 on, and models 57 and 59, keep motion detection per channel.
        const uint32_t model = c.modelCode & 0xFF;
        if (c.client.FirmwareVersion() >= 1.06 || model == 57 || model == 59) {
            std::snprintf(cgi, sizeof cgi, "GetMotionDetect.cgi?CH=%d", c.channel);
            keys = Keys(kMotion);
        } else {
            copyTextCut(cgi, row.cgi);
        }
    } else if (row.flags & kChannelInName) {
        std::snprintf(cgi, sizeof cgi, row.cgi, c.channel);
    } else {
        copyTextCut(cgi, row.cgi);
    }
    int r = c.client.Get(cgi);
    if (r < 0) return r;
    int lookup = 0;
    for (std::size_t i = keys.size(); i-- > 0;)
        lookup = c.client.GetValueA(keys[i], record.field[i], sizeof record.field[i]);
    return row.flags & kSingleKey ? lookup : 0;
}

int runFamilyBSetting(const SettingRow &row, SettingContext &c, IPCamSettingsRecord &record) {
    if (row.special) return row.special(row, c, record);
    if (row.flags & kSettingWrite) return write(row, c, record, "");
    int r = c.client.Get(row.cgi);
    if (r < 0) return r;
    // A missing key ends the series, but the last lookup (the first key) does not count.
    for (std::size_t i = row.keys.size(); i-- > 0;) {
        int lookup = c.client.GetValueB(row.keys[i], record.field[i], sizeof record.field[i]);
        if (lookup < 0 && i > 0) return lookup;
    }
    return 0;
}

}  // namespace ipcam
