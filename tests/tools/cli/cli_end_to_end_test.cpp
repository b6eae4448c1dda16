// The built ipcam tool against simulated devices in this process: it watches, records,
// snapshots and sends commands, and fails clearly on a host that is not there.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "camsim/cgi_server.h"
#include "camsim/device_model.h"
#include "camsim/onvif_device.h"
#include "camsim/rtsp_server.h"
#include "support/media.h"
#include "support/temp_dir.h"
#include "tool_process.h"
#include "tools/cli/file_probe.h"

namespace {

namespace fs = std::filesystem;

using kestrel_test::ToolRun;

std::string readFile(const fs::path &path) { return kestrel_test::readFile(path.string()); }

std::size_t countLines(const std::string &text, const std::string &start) {
    std::size_t n = 0;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) n += line.rfind(start, 0) == 0;
    return n;
}

// An MPEG-4 elementary stream cut into pictures: after a picture (VOP), the next header or
// picture start code begins the next one.
std::vector<std::string> splitMpeg4(const std::string &stream) {
    std::vector<std::string> frames;
    std::size_t begin = 0;
    bool havePicture = false;
    for (std::size_t i = 0; i + 3 < stream.size(); ++i) {
        if (stream[i] != 0 || stream[i + 1] != 0 || stream[i + 2] != 1) continue;
        const auto code = static_cast<unsigned char>(stream[i + 3]);
        const bool starts = code == 0xB0 || code <= 0x2F || code == 0xB3 || code == 0xB6;
        if (starts && havePicture) {
            frames.push_back(stream.substr(begin, i - begin));
            begin = i;
            havePicture = false;
        }
        if (code == 0xB6) havePicture = true;
    }
    if (begin < stream.size()) frames.push_back(stream.substr(begin));
    return frames;
}

enum class Kind { Mpeg4Http, JpegHttp, StreamingServer };

// One simulated device on 127.0.0.1, account admin/secret.
class Device {
  public:
    explicit Device(Kind kind) {
        EXPECT_TRUE(web_.start());
        web_.setCredentials("admin", "secret");
        camsim::ChannelConfig jpeg;
        jpeg.codec = camsim::ChannelConfig::Codec::Jpeg;
        jpeg.width = 320;
        jpeg.height = 240;
        jpeg.fps = 10;
        switch (kind) {
            case Kind::Mpeg4Http:
                camera_ = std::make_unique<camsim::FamilyACamera>(
                    web_, camsim::FamilyAConfig{.capabilities = 1});
                break;
            case Kind::JpegHttp:
                camera_ = std::make_unique<camsim::FamilyACamera>(
                    web_, camsim::FamilyAConfig{.capabilities = 1, .stream = {.channels = {jpeg}}});
                break;
            case Kind::StreamingServer:
                rtsp_.addChannel({});
                EXPECT_TRUE(rtsp_.start());
                camsim::addServerDevice(rtsp_, web_);
                break;
        }
    }
    std::string address() const { return "127.0.0.1:" + std::to_string(web_.port()); }
    camsim::FamilyACamera &camera() { return *camera_; }

  private:
    camsim::CgiServer web_;
    std::unique_ptr<camsim::FamilyACamera> camera_;
    camsim::StreamingServer rtsp_;
};

class CliEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("ipcam-cli-e2e-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    ToolRun run(const std::string &args) { return kestrel_test::runTool(args, dir_); }

    fs::path dir_;
};

constexpr const char *kAccount = " --user admin --password secret";

TEST_F(CliEndToEnd, WatchShowsTheStreamOnceASecond) {
    struct Case {
        const char *name;
        Kind kind;
        const char *options;
        const char *format;
    } cases[] = {
        {"family A, MPEG-4, decoded", Kind::Mpeg4Http, " --decode", "MPEG-4 640x480 @30"},
        {"family A, Motion-JPEG, decoded", Kind::JpegHttp, " --decode", "JPEG 320x240 @10"},
        {"streaming server over RTSP", Kind::StreamingServer, "", "640x480"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Device device(c.kind);
        const ToolRun r = run("watch " + device.address() + kAccount + " --seconds 3" + c.options);
        EXPECT_EQ(r.status, 0) << r.output;
        EXPECT_GE(countLines(r.output, "connecting: IPCAM_IS_UNCONNECTED"), 1u) << r.output;
        EXPECT_GE(countLines(r.output, "fps key "), 1u) << r.output;
        EXPECT_NE(r.output.find(c.format), std::string::npos) << r.output;
        EXPECT_EQ(countLines(r.output, "summary: "), 1u) << r.output;
        EXPECT_EQ(countLines(r.output, "decode error"), 0u) << r.output;
        if (std::string(c.options).find("decode") != std::string::npos) {
            EXPECT_NE(r.output.find(", decode errors 0"), std::string::npos) << r.output;
        }
        EXPECT_LT(r.seconds, 10);
    }
}

TEST_F(CliEndToEnd, RecordWritesFilesThatDecode) {
    {
        Device device(Kind::Mpeg4Http);
        const ToolRun r = run("record " + device.address() + kAccount + " --seconds 3 --out " +
                              (dir_ / "m4v").string());
        ASSERT_EQ(r.status, 0) << r.output;
        const std::vector<std::string> frames = splitMpeg4(readFile(dir_ / "m4v" / "video.m4v"));
        ASSERT_GE(frames.size(), 5u);
        EXPECT_EQ(frames[0].substr(0, 3), std::string("\x00\x00\x01", 3));
        EXPECT_NE(frames[0].find(std::string("\x00\x00\x01\x20", 4)), std::string::npos)
            << "the stream starts with the key frame's configuration header";
        const kestrel_test::Decoded d = kestrel_test::decodeMpeg4(frames);
        EXPECT_TRUE(d.ok);
        EXPECT_EQ(d.width, 640);
        EXPECT_NE(r.output.find("recorded " + std::to_string(frames.size()) + " pictures"),
                  std::string::npos)
            << r.output;
    }
    {
        Device device(Kind::JpegHttp);
        const fs::path out = dir_ / "jpeg";
        const ToolRun r =
            run("record " + device.address() + kAccount + " --seconds 3 --out " + out.string());
        ASSERT_EQ(r.status, 0) << r.output;
        std::size_t files = 0;
        auto numbered = [&](std::size_t n) {
            char name[16];
            std::snprintf(name, sizeof name, "%06zu.jpg", n);
            return out / name;
        };
        while (fs::exists(numbered(files + 1))) ++files;
        ASSERT_GE(files, 3u) << r.output;
        for (const char *name : {"000001.jpg", "000003.jpg"}) {
            const kestrel_test::Decoded d = kestrel_test::decodeJpeg(readFile(out / name));
            EXPECT_TRUE(d.ok) << name;
            EXPECT_EQ(d.width, 320);
            EXPECT_EQ(d.height, 240);
        }
    }
}

// The rows run side by side. The library gives a silent stream 1 s, then tries again after 3 s.
TEST_F(CliEndToEnd, RecordByUrlWritesContainerFilesThatFfprobeReads) {
    if (!kestrel_test::onPath("ffprobe")) GTEST_SKIP() << "ffprobe not on PATH";
    std::ofstream(dir_ / "IPCamconfig.txt") << "Get_Timeout=1000<E>\n";
    using Codec = camsim::ChannelConfig::Codec;
    struct Case {
        Codec codec;
        bool configInBand;  // false: the parameter sets come only in the description
        camsim::StreamFaults faults;
        const char *file;
        const char *probed;
        const char *sizes;  // of the pictures, in order
        int seconds;        // 0: killed (SIGKILL) after three seconds' report lines
        double away;        // at least this much of the file's time has no picture
    } cases[] = {
        {Codec::H264, true, {}, "killed.mp4", "h264", "320x240", 0, 0},
        {Codec::H264, true, {.resizeAfterFrames = 25}, "h264.mp4", "h264", "320x240 160x120", 4, 0},
        {Codec::H265, false, {}, "h265.mkv", "hevc", "320x240", 4, 0},
        {Codec::H264, true, {.pauseSeconds = 2}, "outage.mp4", "h264", "320x240", 8, 2},
    };
    std::vector<std::unique_ptr<camsim::StreamingServer>> servers;
    std::vector<std::unique_ptr<kestrel_test::ToolProcess>> tools;
    for (const Case &c : cases) {
        servers.push_back(std::make_unique<camsim::StreamingServer>());
        servers.back()->addChannel({.codec = c.codec, .width = 320, .height = 240, .fps = 25,
                                    .configInBand = c.configInBand, .faults = c.faults});
        ASSERT_TRUE(servers.back()->start());
        tools.push_back(std::make_unique<kestrel_test::ToolProcess>(
            "record rtsp://127.0.0.1:" + std::to_string(servers.back()->port()) +
                "/CH01 --out " + (dir_ / c.file).string() + " --seconds " +
                std::to_string(c.seconds ? c.seconds : 60),
            dir_));
    }
    for (std::size_t i = 0; i < tools.size(); ++i) {
        const Case &c = cases[i];
        SCOPED_TRACE(c.file);
        if (c.seconds == 0) {
            ASSERT_TRUE(tools[i]->waitFor("fps key", 20'000, 3));
            tools[i]->signal(SIGKILL);
        }
        const ToolRun r = tools[i]->finish();
        ASSERT_EQ(r.status, c.seconds ? 0 : -1) << r.output;
        const fs::path out = dir_ / c.file;
        const kestrel_test::FileProbe p = kestrel_test::probeFile(out.string());
        EXPECT_EQ(p.complaints, "");
        EXPECT_EQ(p.codec, c.probed);
        EXPECT_EQ(p.sizes, c.sizes);
        if (out.extension() == ".mp4") {
            EXPECT_EQ(p.tag, "avc3") << "parameter sets in band";
        }
        EXPECT_GE(p.pictures, 25);
        if (c.seconds) {
            EXPECT_NE(r.output.find("recorded " + std::to_string(p.pictures) + " pictures to " +
                                    out.string()),
                      std::string::npos)
                << r.output;
        }
        // The pictures' times: 25 a second for as long as they came, and the time between.
        const double away = p.duration - p.pictures / 25.0;
        EXPECT_GE(away, c.away - 0.25);
        if (c.away > 0)
            EXPECT_LE(p.duration, r.seconds);
        else
            EXPECT_LE(away, 0.25);
    }
}

TEST_F(CliEndToEnd, SnapshotWritesOneJpeg) {
    struct Case {
        Kind kind;
        int width, height;
    } cases[] = {{Kind::Mpeg4Http, 640, 480}, {Kind::JpegHttp, 320, 240}};
    for (const Case &c : cases) {
        Device device(c.kind);
        const fs::path out = dir_ / "shot.jpg";
        fs::remove(out);
        const ToolRun r = run("snapshot " + device.address() + kAccount + " --out " + out.string());
        ASSERT_EQ(r.status, 0) << r.output;
        const kestrel_test::Decoded d = kestrel_test::decodeJpeg(readFile(out));
        EXPECT_TRUE(d.ok);
        EXPECT_EQ(d.width, c.width);
        EXPECT_EQ(d.height, c.height);
        EXPECT_LT(r.seconds, 8) << "the snapshot ends the run";
    }
}

TEST_F(CliEndToEnd, CommandsReadAndWriteSettings) {
    Device device(Kind::Mpeg4Http);
    ToolRun r = run("command " + device.address() + kAccount + " --code 4099");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("field[0] = Kestrel Cam\n"), std::string::npos) << r.output;

    r = run("command " + device.address() + kAccount + " --code 4107 --field 12 --field 34");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(device.camera().value("GetAdjust.cgi", "Brightness"), "12");
    EXPECT_EQ(device.camera().value("GetAdjust.cgi", "Contrast"), "34");

    // The video format record: words after the code, all twelve shown.
    r = run("command " + device.address() + kAccount + " --code 3");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(countLines(r.output, "word["), 12u) << r.output;
    EXPECT_NE(r.output.find("word[6] = 1 "), std::string::npos) << "codec MPEG-4\n" << r.output;
}

TEST_F(CliEndToEnd, ControlSubcommandsChangeTheDevice) {
    // A family A camera with a pan/tilt head and a family B recorder of eight channels.
    camsim::CgiServer webA, webB;
    ASSERT_TRUE(webA.start());
    ASSERT_TRUE(webB.start());
    webA.setCredentials("admin", "secret");
    webB.setCredentials("admin", "secret");
    camsim::FamilyACamera camera(webA,
                                 {.model = 20, .capabilities = 1});  // a 4-channel recorder too
    camsim::FamilyBCamera recorder(webB, {.recorderChannels = 8});
    const std::string a = "127.0.0.1:" + std::to_string(webA.port()) + kAccount;
    const std::string b = "127.0.0.1:" + std::to_string(webB.port()) + kAccount;

    struct Case {
        std::string args;
        const char *output;  // part of what the tool prints
    } cases[] = {
        {"ptz " + a + " up", "result: 1"},
        {"ptz " + a + " up", "result: 1"},
        {"ptz " + a + " left", "result: 1"},
        {"ptz " + a + " preset-set 3 front door", "result: 1"},
        {"ptz " + a + " zoom-in", "result: 1"},
        {"ptz " + a + " move-to 320 240 0 0", "does not take that command"},
        {"key " + a + " play", "result: 1"},
        {"io " + a + " --set 2 on", "outputs 1:off 2:on 3:off 4:off"},
        {"set " + a + " name Garage", "name set"},
        {"get " + a + " name", "name = Garage"},
        {"set " + a + " brightness 200", "brightness set"},
        {"ptz " + b + " up", "result: 1"},
        {"ptz " + b + " up-left", "does not take that command"},
        {"key " + b + " down", "result: 1"},
        {"key " + b + " play-from 2009-03-07 14:05:09", "does not take that command"},
        {"io " + b + " --set 4 on", "outputs 1:off 2:off 3:off 4:on"},
        {"set " + b + " brightness 99", "brightness set"},
        {"get " + b + " brightness", "brightness = 99"},
        {"get " + b + " login-check", "this device cannot read login-check"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args);
        const ToolRun r = run(c.args);
        EXPECT_NE(r.output.find(c.output), std::string::npos) << r.output;
        const bool refused = std::string(c.output).find("does not") != std::string::npos ||
                             std::string(c.output).find("cannot") != std::string::npos;
        EXPECT_EQ(r.status, refused ? 1 : 0) << r.output;
    }

    const camsim::HeadState head = camera.head();
    EXPECT_EQ(head.tilt, 2);
    EXPECT_EQ(head.pan, -1);
    EXPECT_EQ(head.zoom, 2);
    ASSERT_EQ(head.presets.count(3), 1u);
    EXPECT_EQ(head.presets.at(3).name, "front door");
    EXPECT_EQ(head.presets.at(3).tilt, 2);
    EXPECT_EQ(camera.recorder().keys, std::vector<std::string>{"dvrkey_play"});
    EXPECT_EQ(camera.value("GetGPIO.cgi", "COM2OUT"), "1");
    EXPECT_EQ(camera.value("GetAdjust.cgi", "Brightness"), "200");

    EXPECT_EQ(recorder.head().tilt, 1);
    EXPECT_EQ(recorder.recorder().keys, (std::vector<std::string>{"UP", "NINE_QUAD", "BT4_16"}));
    EXPECT_EQ(recorder.recorder().split, 4);
}

// ONVIF profiles of hostile devices: the refusal in words, the password in clear only when
// asked, a port forward told with -v, and device texts kept on their line.
TEST_F(CliEndToEnd, ProfilesOfHostileOnvifDevices) {
    struct Case {
        void (*fault)(camsim::OnvifFaults &);
        const char *options;
        int status;
        const char *message;
    } cases[] = {
        {[](auto &f) { f.basicOnly = true; }, "", 1, "IPCAM_CLEAR_PASSWORD_REFUSED - The device asks"},
        {[](auto &f) { f.basicOnly = true; }, " --clear-password -v", 0, "\tptz\n"},
        {[](auto &f) { f.foreignXAddrs = true; }, " -v", 0, "names its services at 192.168.0.64:1;"},
        {[](auto &f) { f.controlTexts = true; }, "", 0, "\tCH01 MPEG-4?forged?0: a line of its own\t"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.options);
        camsim::OnvifConfig config;
        c.fault(config.faults);
        config.internalPort = 1;
        camsim::CgiServer web;
        camsim::StreamingServer rtsp;
        rtsp.addChannel({});
        ASSERT_TRUE(web.start() && rtsp.start());
        camsim::OnvifDevice device(web, rtsp, config);
        const ToolRun r = run("profiles http://127.0.0.1:" + std::to_string(web.port()) +
                              "/onvif/device_service" + kAccount + c.options);
        EXPECT_EQ(r.status, c.status) << r.output;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
    }
}

TEST_F(CliEndToEnd, FailuresAreClearAndQuick) {
    struct Case {
        const char *args;
        int status;
        const char *message;
        double withinSeconds;
    } cases[] = {
        {"watch no-such-host.invalid --seconds 20", 1, "IPCAM_DDNS_IS_ER", 10},
        {"snapshot no-such-host.invalid --out x.jpg", 1, "cannot connect to no-such-host.invalid",
         10},
        {"watch", 2, "ipcam: missing HOST[:PORT] (try 'ipcam watch --help')", 2},
        {"watch h --seconds -1", 2, "bad --seconds '-1'", 2},
        {"frob h", 2, "unknown command 'frob'", 2},
        {"--help", 0, "usage: ipcam COMMAND", 2},
        {"record --help", 0, "usage: ipcam record HOST[:PORT]|URL|onvif://... --out DIR", 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args);
        const ToolRun r = run(c.args);
        EXPECT_EQ(r.status, c.status) << r.output;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
        EXPECT_LT(r.seconds, c.withinSeconds);
    }
}

}  // namespace
