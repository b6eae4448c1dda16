#include "tools/camsim/device_model.h"

#include <cstdlib>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/camsim/device_routes.h"
#include "tools/camsim/query_rules.h"

namespace camsim {

uint32_t FamilyAConfig::modelNumber() const {
    return static_cast<uint32_t>(model & 0xFF) | static_cast<uint32_t>(capabilities & 0xFF) << 8 |
           static_cast<uint32_t>(videoCode & 0xF) << 16 |
           static_cast<uint32_t>(audioCode & 0xF) << 20;
}

namespace {

int channelCount(int code) {
    return code >= 0 && code <= 4 ? 1 << code : 1;
}

}  // namespace

int FamilyAConfig::videoChannels() const {
    return device >= 0 ? videoNum : channelCount(videoCode);
}

int FamilyAConfig::audioChannels() const {
    return device >= 0 ? audioNum : channelCount(audioCode);
}

FamilyACamera::FamilyACamera(CgiServer &server, FamilyAConfig config) : config_(std::move(config)) {
    const auto A = ReplyStyle::FamilyA;
    const StorePtr &s = store_;
    head_ = std::make_shared<PtzHead>(familyAHead(), s);
    recorder_ = std::make_shared<RecorderPanel>(config_.dvrChannels);

    streams_ = std::make_shared<FamilyAStreamer>(
        config_.stream, FamilyAStreamer::Device{std::strtod(config_.firmware.c_str(), nullptr),
                                                config_.videoChannels(), config_.audioChannels()});
    streamsReady_ = streams_->attach(server);
    attachTalk(server, config_.talk);

    KeyList type = {{"CameraType", std::to_string(config_.modelNumber())}};
    if (config_.device >= 0) {
        const std::string n = std::to_string(config_.device + 1);
        type.insert(type.end(), {{"Device", std::to_string(config_.device)},
                                 {"Ptz", config_.ptz ? "1" : "0"},
                                 {"2-Way", config_.twoWay ? "1" : "0"},
                                 {"VideoNum", std::to_string(config_.videoNum)},
                                 {"AudioNum", std::to_string(config_.audioNum)},
                                 {"IO_InputNum", std::to_string(config_.inputs)},
                                 {"IO_OutputNum", std::to_string(config_.outputs)},
                                 {"Resolution" + n, config_.resolutions},
                                 {"CodecType" + n, config_.codecs}});
    }
    if (!config_.older) routeGet(server, s, A, "GetCameraType.cgi", type);

    routeGet(server, s, A, "GetTime.cgi",
             {{"Localtime", "2026/01/01 00:00:00"},
              {"NtpIP", "pool.ntp.org"},
              {"TimeZone", "0"},
              {"UseNtp", "0"}});
    routeGet(server, s, A, "GetName.cgi", {{"Name", "Kestrel Cam"}});
    routeGet(server, s, A, "GetVer.cgi", {{"Version", config_.firmware}});
    routeGet(server, s, A, "GetLanguage.cgi", {{"Language", "English"}});
    routeGet(server, s, A, "GetAdjust.cgi",
             {{"Brightness", "128"}, {"Contrast", "128"}, {"Saturation", "128"}, {"Hue", "128"}});
    routeGet(server, s, A, "GetMultimedia.cgi",
             {{"VBR", "0"},
              {"Bitrate", "1000"},
              {"Resolution", "640x480"},
              {"Fps", "30"},
              {"GOPSelect", "30"},
              {"Audio", "1"},
              {">Mode", "NTSC"},
              {">Format", "MPEG4"},
              {"Compression_Type", "mpeg4"},
              {"Jpeg_Quality", "10"}});
    KeyList network = {{"Proto", "0"},           {"Ipaddr", "127.0.0.1"}, {"Netmask", "255.0.0.0"},
                       {"Gateway", "127.0.0.1"}, {"Dns", "127.0.0.1"},    {"Http_Port", "80"}};
    if (config_.announcePorts) {
        const int video = streams_->videoPort() ? streams_->videoPort() : config_.videoPort;
        const int audio = streams_->audioPort() ? streams_->audioPort() : config_.audioPort;
        for (const auto &[key, port] : {std::pair{"Video_Port", video},
                                        {"Audio_Port", audio},
                                        {"Audio_I2P_Port", config_.audioI2PPort},
                                        {"Rtsp_Port", config_.rtspPort}})
            if (port >= 0) network.push_back({key, std::to_string(port)});
    }
    for (const auto &[key, path] : {std::pair{"Path_Live1", &config_.pathLive1},
                                    {"Path_Live2", &config_.pathLive2},
                                    {"Path_3GPP", &config_.path3gpp}})
        if (!path->empty()) network.push_back({key, *path});
    routeGet(server, s, A, "GetNetwork.cgi", std::move(network));
    server.setPublic("GetNetwork.cgi");  // clients read the stream ports before they log in
    routeGet(server, s, A, "GetPPPOE.cgi",
             {{"User", ""}, {"Pwd", ""}, {"Adsl_En", "0"}, {"SendMail", "0"}, {"Subj", "PPPoE"}});
    routeGet(server, s, A, "GetDDNS.cgi",
             {{"Ddns_En", "0"}, {"State", "0"}, {"User", ""}, {"updata_time", "10"}});
    KeyList motion = {{"md_enable", "0"}};
    for (int area = 1; area <= 3; ++area) {
        const std::string md = "md" + std::to_string(area) + "_";
        motion.insert(motion.end(), {{md + "ena", "0"},
                                     {md + "ulr", "0"},
                                     {md + "ulc", "0"},
                                     {md + "lrr", "11"},
                                     {md + "lrc", "15"}});
    }
    append(motion, numbered("level_sen", 1, 3), "5");
    for (int area = 1; area <= 3; ++area)
        motion.push_back({"Motion" + std::to_string(area) + "_Status", "0"});
    motion.push_back({"Interval", "5"});
    routeGet(server, s, A, "GetMotionDetect.cgi", motion);
    routeGet(server, s, A, "GetMail.cgi",
             {{"Smtp", ""}, {"Sender", ""}, {"Dest", ""}, {"Bcc", ""}, {"Subj", "Alarm"}});
    routeGet(server, s, A, "GetFTP.cgi",
             {{"FTP_Server", ""},
              {"FTP_User", ""},
              {"FTP_Pwd", ""},
              {"FTP_Port", "21"},
              {"FTP_Path", "/"}});
    routeGet(server, s, A, "GetCCD.cgi", {{"AES", "0"}, {"BLC", "0"}, {"AGC", "1"}, {"FLC", "0"}});
    KeyList users = {{"Check", "1"}, {"http_admin", "admin"}};
    append(users, numbered("http_user", 1, 20), "");
    routeGet(server, s, A, "GetUser.cgi", users);
    // Models from 57 on name their alarm keys differently.
    KeyList gpio;
    if (config_.model < 57) {
        append(gpio, {"Alarm1_Status", "Alarm2_Status"}, "0");
        gpio.push_back({"Alarm_Interval", "5"});
        append(gpio, numbered("COM", 1, 4), "0");
        for (KeySpec &k : gpio)
            if (k.key.starts_with("COM")) k.key += "OUT";
        gpio.insert(gpio.end(), {{"COM_Interval", "5"}, {"COM_Module", "0"}});
    } else {
        append(gpio, {"Input1_Status", "Input2_Status"}, "0");
        gpio.push_back({"Input_Interval", "5"});
        append(gpio, numbered("Output", 1, 4), "0");
        gpio.insert(gpio.end(), {{"Output_Interval", "5"}, {"Output_Mode", "0"}});
    }
    routeGet(server, s, A, "GetGPIO.cgi", gpio);
    routeGet(server, s, A, "GetStatus.cgi", {{"tv_standard", "NTSC"}, {"mode", "mpeg4"}});
    KeyList ptz = {{"PTZModel", "0"}, {"PTZSpeed", "5"}, {"PTZID", "1"}, {"PTZBaudrate", "9600"}};
    append(ptz, numbered("PName", 1, 16, true), "");
    routeGet(server, s, A, "GetPTZ.cgi", ptz);
    routeGet(server, s, A, "GetPDA.cgi", {{"pda_en", "1"}});
    routeGet(server, s, A, "GetDVRCHANNEL.cgi",
             {{"dvr_channel", std::to_string(config_.dvrChannels)}});
    routeGet(server, s, A, "GetStreamType.cgi", {{"StreamType", "0"}});

    const auto rule = [model = config_.model, device = config_.device >= 0](std::string_view cgi) {
        return familyARule(cgi, model, device);
    };
    for (const char *name : {"Time", "Name", "Language", "Adjust", "Multimedia", "Network", "PPPOE",
                             "DDNS", "MotionDetect", "Mail", "FTP", "CCD"}) {
        const std::string cgi = std::string("Set") + name + ".cgi";
        routeSet(server, s, cgi, rule(cgi), std::string("Get") + name + ".cgi");
    }
    routeSet(server, s, "SetGPIO.cgi", rule("SetGPIO.cgi"), "GetGPIO.cgi",
             renameNumbered({{"Out#STA", "Output#"},
                             {"COM#STA", "COM#OUT"},
                             {"COMModule", "COM_Module"},
                             {"CInterval", "COM_Interval"}}));
    const std::shared_ptr<PtzHead> head = head_;
    const std::shared_ptr<RecorderPanel> panel = recorder_;
    routeHead(server, s, "SetPTZ.cgi", rule("SetPTZ.cgi"),
              [head](int channel, const Values &pairs, Values &settings) {
                  return head->setPtz(channel, pairs, settings);
              });
    routeControl(server, "SetDVRKey.cgi", rule("SetDVRKey.cgi"), "DVRControl",
                 [panel](const std::string &key) { return panel->dvrKey(key); });
    routeControl(server, "SetPlayCmd.cgi", rule("SetPlayCmd.cgi"), "PLAYSTATE",
                 [panel](const std::string &state) { return panel->playCommand(state); });
    routeControl(server, "SetTimePlay.cgi", rule("SetTimePlay.cgi"), "EVENT",
                 [panel](const std::string &event) { return panel->playFrom(event); });
    routeSimState(server, A, head, panel);
    const std::vector<std::string> slots = numbered("http_user", 1, 20);
    routeChecked(server, "SetUser.cgi", rule("SetUser.cgi"), [s, slots](const RecordedRequest &r) {
        for (auto &[key, value] : parseQuery(r.query).pairs) {
            if (key == "Check") s->set("GetUser.cgi", "Check", value);
            if (key == "User" && !value.empty())
                if (!s->replaceInList("GetUser.cgi", slots, value, value, true))
                    return Reply{200, "Too many users"};
        }
        return Reply{200, "OK"};
    });
    routeChecked(server, "DelUser.cgi", rule("DelUser.cgi"), [s, slots](const RecordedRequest &r) {
        for (auto &[key, value] : parseQuery(r.query).pairs)
            if (key == "User" && !value.empty())
                s->replaceInList("GetUser.cgi", slots, value, "", false);
        return Reply{200, "OK"};
    });
    routeResets(server, s, head, panel, rule("SetFactoryDefault.cgi"), rule("Reboot.cgi"));
}

namespace {

constexpr const char *kExpires = "01 Jan 1970 00:00:00 GMT";

// The GetStatus.cgi reply laid out as the header comment of FamilyBCamera says.
Reply statusReply(const SettingsStore &store, const Values &values, bool asksCredentials) {
    std::string block = store.get("GetStatus.cgi", "status_block");
    block.resize(kStatusBlockSize, '0');
    std::string flag = store.get("GetStatus.cgi", "status_flag");
    if (flag.empty()) flag = asksCredentials ? "1" : "0";
    const std::string rest = formatValues(ReplyStyle::FamilyB, values);
    const std::string flagKey = "flags = ";
    // The head: status line, Content-Type, Content-Length (whose width depends on the body),
    // Connection: close, Expires and the blank line.
    const std::size_t fixedHead = std::string_view("HTTP/1.1 200 OK\r\n").size() +
                                  std::string_view("Content-Type: text/html\r\n").size() +
                                  std::string_view("Content-Length: \r\n").size() +
                                  std::string_view("Connection: close\r\n").size() +
                                  std::string_view("Expires: \r\n\r\n").size() +
                                  std::string_view(kExpires).size();
    std::string body;
    for (std::size_t digits = 1; digits < 8; ++digits) {
        std::size_t line = fixedHead + digits + kStatusBlockSize + 1;  // where "flags" starts
        std::size_t pad = kStatusFlagIndex - line - flagKey.size();
        body = block + "\n" + flagKey + std::string(pad, '0') + (flag.empty() ? '0' : flag[0]) +
               "\n" + rest;
        if (std::to_string(body.size()).size() == digits) break;
    }
    return Reply{200, std::move(body), {{"Expires", kExpires}}};
}

}  // namespace

FamilyBCamera::FamilyBCamera(CgiServer &server, FamilyBConfig config) : config_(std::move(config)) {
    const auto B = ReplyStyle::FamilyB;
    const StorePtr &s = store_;
    head_ = std::make_shared<PtzHead>(familyBHead(), s);
    recorder_ = std::make_shared<RecorderPanel>(config_.recorderChannels);

    KeyList status = {{"Resolution", "640x480"}, {"Quality", "3"},      {"Brightness", "128"},
                      {"Contrast", "128"},       {"Saturation", "128"}, {"Hue", "128"},
                      {"Sharpness", "128"},      {"Frequency", "60"},   {"Rect", ",0,0,640,480"}};
    if (config_.statusHasTvStandard) status.insert(status.begin(), {"tv_standard", "NTSC"});
    for (const KeySpec &k : status) s->setDefault("GetStatus.cgi", k.key, k.value);
    std::string block = kDefaultStatusBlock;
    if (!config_.stream.audioStream) block[0] = '0';
    s->setDefault("GetStatus.cgi", "status_block", block);
    s->setDefault("GetStatus.cgi", "status_flag", "");  // empty: whether the site asks an account
    streams_ = std::make_shared<FamilyBStreamer>(config_.stream);
    streams_->attach(server, s);
    attachTalk(server, config_.talk);
    routeChecked(server, "GetStatus.cgi", familyBRule("GetStatus.cgi"),
                 [s, status, &server](const RecordedRequest &) {
                     return statusReply(*s, collect(*s, "GetStatus.cgi", status, 0),
                                        !server.acceptsBasic(""));
                 });

    s->setDefault("GetName.cgi", "CameraName", "Kestrel Cam");
    s->setDefault("GetVer1.cgi", "Version", config_.firmware);
    const bool recorder = config_.recorderChannels > 0;
    routeChecked(
        server, "GetMyself.cgi", familyBRule("GetMyself.cgi"),
        [s, recorder](const RecordedRequest &) {
            Values identity = {{"CameraName", s->get("GetName.cgi", "CameraName")},
                               {"Model", recorder ? "Kestrel DVR" : "Kestrel Cam B"},
                               {"Version", s->get("GetVer1.cgi", "Version")}};
            return Reply{200, formatValues(ReplyStyle::FamilyB, identity), {{"Expires", kExpires}}};
        });
    routeGet(server, s, B, "GetVer1.cgi", {{"Version", config_.firmware}});
    routeGet(server, s, B, "GetCapability.cgi",
             {{"Brightness", "0-255"},
              {"Contrast", "0-255"},
              {"Saturation", "0-255"},
              {"Hue", "0-255"},
              {"Sharpness", "0-255"},
              {"Resolution", "160x120,320x240,640x480"},
              {"Quality", "1-5"}});
    routeGet(server, s, B, "GetMotionDetect.cgi", {{"Enable", "0"}, {"Sensitivity", "5"}});
    routeGet(server, s, B, "GetName.cgi", {{"CameraName", "Kestrel Cam"}});
    routeGet(server, s, B, "GetMail.cgi",
             {{"Sender", ""},
              {"MailServer", ""},
              {"Receiver", ""},
              {"Receiver_Cc", ""},
              {"Receiver_Bcc", ""},
              {"Subject", "Alarm"},
              {"User", ""},
              {"PassWord", ""},
              {"CheckFlag", "0"},
              {"Enable", "0"},
              {"Interval", "10"}});
    routeGet(server, s, B, "GetIP.cgi",
             {{"CameraName", "", "GetName.cgi"},
              {"IP", "127.0.0.1"},
              {"Netmask", "255.0.0.0"},
              {"Gateway", "127.0.0.1"},
              {"DNS0", "127.0.0.1"},
              {"DNS1", ""},
              {"DNS2", ""},
              {"Enable", "0"},
              {"IPWay", "0"},
              {"MailOnDhcp", "0"},
              {"MailSubject", ""},
              {"Interface", "eth0"}});
    routeGet(server, s, B, "GetHttp.cgi", {{"Port0", "80"}, {"Port1", "0"}});
    routeGet(server, s, B, "GetTime.cgi",
             {{"TimeZone", "0"},
              {"Sec1970", "1767225600"},
              {"NtpServer", "pool.ntp.org"},
              {"UseNtp", "0"}});
    routeGet(server, s, B, "GetFtp.cgi",
             {{"FtpServer", ""},
              {"Account", ""},
              {"User", ""},
              {"Pass", ""},
              {"UploadPath", "/"},
              {"Enable", "0"},
              {"Interval", "10"}});
    routeGet(server, s, B, "GetDDNS.cgi",
             {{"DomainName", ""},
              {"User", ""},
              {"Pass", ""},
              {"Interval", "10"},
              {"Proxy", ""},
              {"ProxyUser", ""},
              {"ProxyPass", ""},
              {"Enable", "0"},
              {"Info", ""}});
    routeGet(server, s, B, "GetLanguage.cgi",
             {{"Language", "English"},
              {"UseNtp", "", "GetTime.cgi"},
              {"SYS", "Kestrel"},
              {"admin", "admin"}});
    KeyList io;
    append(io, {"GPIOIN0", "GPIOIN1"}, "0");
    append(io, numbered("GPIOOUT", 1, 4), "0");
    io.push_back({"Interval", "5"});
    routeGet(server, s, B, "GetIO.cgi", io);
    routeGet(server, s, B, "GetCCD.cgi",
             {{"AGC", "1"}, {"AES", "0"}, {"BLC", "0"}, {"MIRROR", "0"}});
    KeyList ptz = {{"PTZModel", "0"}, {"Speed", "5"}, {"CameraID", "1"}, {"Baudrate", "9600"}};
    append(ptz, numbered("PointName", 0, 9), "");
    routeGet(server, s, B, "GetPTZ.cgi", ptz);
    if (recorder) {
        // 4, 8, 16 channels are types 0, 1, 2.
        int type = config_.recorderChannels >= 16 ? 2 : config_.recorderChannels >= 8 ? 1 : 0;
        routeGet(server, s, B, "GetDVRtype.cgi", {{"DVRtype", std::to_string(type)}});
    }

    const std::vector<std::pair<std::string, std::string>> changes = {{"ResType", "Resolution"},
                                                                      {"Ratio", "Quality"}};
    const auto rule = [](std::string_view cgi) { return familyBRule(cgi); };
    for (const char *name : {"Resolution", "CompressRatio", "Brightness", "Contrast", "Saturation",
                             "Hue", "Sharpness", "AECFrequency"}) {
        const std::string cgi = std::string("Change") + name + ".cgi";
        routeSet(server, s, cgi, rule(cgi), "GetStatus.cgi", renameNumbered(changes));
    }
    routeSet(server, s, "SetMonitorRect.cgi", rule("SetMonitorRect.cgi"),
             "GetStatus.cgi");  // reported as "Rect"
    // Writes whose keys are the ones their Get reports.
    static constexpr std::pair<const char *, const char *> kPlainSets[] = {
        {"SetMotionDetect.cgi", "GetMotionDetect.cgi"},
        {"SetName.cgi", "GetName.cgi"},
        {"SetUserCheck.cgi", "GetUser.cgi"},
        {"SetMail.cgi", "GetMail.cgi"},
        {"SetIP.cgi", "GetIP.cgi"},
        {"SetHttp.cgi", "GetHttp.cgi"},
        {"SetTime.cgi", "GetTime.cgi"},
        {"SetFtp.cgi", "GetFtp.cgi"},
        {"SetDDNS.cgi", "GetDDNS.cgi"},
        {"SetLanguage.cgi", "GetLanguage.cgi"},
        {"SetCCD.cgi", "GetCCD.cgi"},
        {"SetPTZ.cgi", "GetPTZ.cgi"},
    };
    for (const auto &[set, get] : kPlainSets) routeSet(server, s, set, rule(set), get);
    routeSet(server, s, "SetAdmin.cgi", rule("SetAdmin.cgi"), "GetLanguage.cgi",
             renameNumbered({{"Admin", "admin"}}));
    routeSet(server, s, "SetIO.cgi", rule("SetIO.cgi"), "GetIO.cgi",
             renameNumbered({{"GPIO#Out", "GPIOOUT#"}}));
    routeSet(server, s, "PPPoE.cgi", rule("PPPoE.cgi"), "PPPoE.cgi");
    const std::shared_ptr<PtzHead> head = head_;
    const std::shared_ptr<RecorderPanel> panel = recorder_;
    routeHead(server, s, "RS232.cgi", rule("RS232.cgi"),
              [head](int, const Values &pairs, Values &settings) {
                  return head->serialPort(pairs, settings);
              });
    // A camera text moves the head, on a recorder as one of its keys; a camera also takes
    // plain directions, a recorder its panel texts.
    routeControl(server, "MoveCamera.cgi", rule("MoveCamera.cgi"), "Dir",
                 [head, panel, recorder](const std::string &text) {
                     std::string problem = head->cameraText(text, !recorder);
                     if (!recorder) return problem;
                     if (problem.empty()) {
                         panel->recordKey(text);
                         return problem;
                     }
                     return panel->panelText(text);
                 });
    routeSimState(server, B, head, recorder ? panel : nullptr);

    // Users as numbered slots; slot 1 is the administrator.
    const std::vector<std::string> slots = numbered("User", 1, 10);
    s->setDefault("GetUser.cgi", "User1", "admin");
    s->setDefault("GetUser.cgi", "Check", "1");
    routeChecked(server, "GetUser.cgi", rule("GetUser.cgi"), [s, slots](const RecordedRequest &r) {
        const bool privileges = r.query.find("ShowPrivilege=true") != std::string::npos;
        Values values = {{"Check", s->get("GetUser.cgi", "Check")}};
        for (std::size_t i = 0; i < slots.size(); ++i) {
            std::string name = s->get("GetUser.cgi", slots[i]);
            if (name.empty()) continue;
            values.emplace_back(slots[i], name);
            if (privileges)
                values.emplace_back("Privilege" + std::to_string(i + 1), i == 0 ? "admin" : "user");
        }
        return Reply{200, formatValues(ReplyStyle::FamilyB, values)};
    });
    routeChecked(server, "SetUser.cgi", rule("SetUser.cgi"), [s, slots](const RecordedRequest &r) {
        for (auto &[key, value] : parseQuery(r.query).pairs)
            if (key == "User" && !value.empty() &&
                !s->replaceInList("GetUser.cgi", slots, value, value, true))
                return Reply{200, "Too many users"};
        return Reply{200, "OK"};
    });
    routeChecked(server, "DelUser.cgi", rule("DelUser.cgi"), [s, slots](const RecordedRequest &r) {
        for (auto &[key, value] : parseQuery(r.query).pairs)
            if (key == "User" && !value.empty())
                s->replaceInList("GetUser.cgi", slots, value, "", false);
        return Reply{200, "OK"};
    });
    routeResets(server, s, head, panel, rule("SetFactoryDefault.cgi"), rule("Reboot.cgi"));
}

}  // namespace camsim
