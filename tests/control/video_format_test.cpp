// Video formats (codes 3 and 4), pan/tilt settings (11), recorder channels (13) and the
// numbered settings commands, read and written through the command objects against the
// simulator's device models.
#include "control/video_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "camsim/cgi_server.h"
#include "camsim/device_model.h"
#include "control/capabilities.h"
#include "control/control_factory.h"
#include "control/family_a_control.h"
#include "core/session.h"
#include "core/session_api.h"
#include "support/control_fixture.h"
#include "support/frame_collector.h"
#include "support/scoped_timeouts.h"

using namespace ipcam;

namespace {

uint32_t bit(const char *resolution) {
    return resolutionBit(resolution);
}

TEST(VideoFormatTest, QualityLevelsFromCameraValues) {
    struct Case {
        int32_t value;
        uint32_t model;
        int32_t level;
    } jpeg[] = {
        {40, 20, 1},  {19, 20, 1},  {18, 20, 2},  {14, 20, 2},  {10, 20, 3}, {7, 20, 4},
        {5, 20, 5},   {4, 20, 4},   {1, 20, 1},   {0, 20, 0},   {-3, 20, 0}, {31, 161, 1},
        {27, 161, 2}, {19, 161, 4}, {16, 161, 5}, {10, 161, 5}, {3, 161, 3},
    };
    for (const Case &c : jpeg) EXPECT_EQ(qualityOfJpegValue(c.value, c.model), c.level) << c.value;
    const int32_t rates[][2] = {{0, 0},   {-5, 0},   {10, 1},   {64, 1},   {511, 1},  {512, 2},
                                {999, 2}, {1000, 3}, {2000, 4}, {2999, 4}, {3000, 5}, {100000, 5}};
    for (const auto &r : rates) EXPECT_EQ(qualityOfBitRate(r[0]), r[1]) << r[0];
}

TEST(VideoFormatTest, DeviceCapabilitiesFromTheTypeReply) {
    struct Case {
        const char *reply;
        int32_t kind;
        bool panTilt, twoWay;
        uint32_t resolutions;
        int32_t codecs;
    } cases[] = {
        {"CameraType=7<br>Device=0<br>Ptz=1<br>2-Way=1<br>Resolution1=640x480,320x240<br>"
         "CodecType1=mpeg4,mjpeg<br>",
         0, true, true, bit("640x480") | bit("320x240"), 3},
        // The lists of the device's own kind only; a pair item matches its longest entry.
        {"Device=1<br>Resolution1=160x120<br>Resolution2= 704x240x2 ,1280x1024<br>"
         "CodecType2=h264<br>CodecType1=mpeg4<br>",
         1, false, false, bit("704x240x2") | bit("1280x1024"), 4},
        {"Device=0<br>Resolution1=999x999,,<br>CodecType1=h.264,mjpge,vp8<br>", 0, false, false, 0,
         0},
        {"Device=0<br>Ptz=0<br>2-Way=0<br>", 0, false, false, 0, 0},
        {"", 0, false, false, 0, 0},
        {"Device=-1<br>Resolution0=640x480<br>", -1, false, false, bit("640x480"), 0},
    };
    for (const Case &c : cases) {
        DeviceCapabilities caps = readDeviceCapabilities(c.reply);
        EXPECT_EQ(caps.kind, c.kind) << c.reply;
        EXPECT_EQ(caps.panTilt, c.panTilt) << c.reply;
        EXPECT_EQ(caps.twoWayAudio, c.twoWay) << c.reply;
        EXPECT_EQ(caps.resolutions, c.resolutions) << c.reply;
        EXPECT_EQ(caps.codecs, c.codecs) << c.reply;
    }
    EXPECT_EQ(readDeviceCapabilities(nullptr).resolutions, 0u);
}

class CameraCommandsTest : public kestrel_test::ControlFixture {
  protected:
    template <typename Record>
    int command(Record &record) {
        server.clearRequests();
        return IPCamCommandDirect(session.get(), &record, nullptr);
    }
    // The last request, once the camera has finished with it (writes are not waited for).
    std::string lastTarget(std::size_t expect = 1) {
        server.waitForRequests(expect, 1000);
        server.waitUntilIdle(1000);
        auto requests = server.requests();
        return requests.empty() ? std::string() : requests.back().target;
    }
    static IPCamVideoFormatRecord format(int32_t code) {
        IPCamVideoFormatRecord r;
        std::memset(&r, 0xFF, sizeof r);
        r.code = code;
        return r;
    }
};

TEST_F(CameraCommandsTest, FamilyAReadsAndWritesTheVideoFormat) {
    camsim::FamilyACamera camera(server, {.model = 68});  // S3: megapixel at 10 frames
    use(1, 68);
    session->videoStream = 1;

    IPCamVideoFormatRecord read = format(3);
    ASSERT_EQ(command(read), 0);
    EXPECT_EQ(read.resolutionMask, static_cast<int32_t>(bit("640x480")));
    EXPECT_EQ(read.frameRate, 30);
    EXPECT_EQ(read.maxFrameRate, 30);
    EXPECT_EQ(read.bitRate, 1000);
    EXPECT_EQ(read.qualityMask, 1 << 2);  // 1000 kbit/s: "Standard"
    EXPECT_EQ(read.codec, kCodecMpeg4);
    EXPECT_EQ(read.standard, kStandardNtsc);
    const int32_t offered = static_cast<int32_t>(familyAOffer(68, 1, 1, 0).ntsc);
    EXPECT_EQ(read.ntscResolutions, offered);
    EXPECT_EQ(read.palResolutions, offered);
    EXPECT_EQ(read.qualities, 0x1F);
    EXPECT_EQ(read.codecs, 3);
    EXPECT_EQ(read.flags, IPCAM_FORMAT_AUDIO);

    struct Case {
        const char *name;
        int32_t quality, resolution, frameRate, codec, standard;
        const char *query;
        int32_t frameRateAfter;
    } cases[] = {
        // The pairs stand in the order of the stream settings write, the codec first.
        {"everything, frame rate above PAL", 0x10 | 0x1, static_cast<int32_t>(bit("320x240")), 40,
         2, 2,
         "CH=1&Compression_Type=mjpeg&Resolution=320x240&Jpeg_Quality=5&Bitrate=3000&Mode=PAL&"
         "Fps=25",
         25},
        {"the viewer's resolution request", -1, static_cast<int32_t>(bit("160x120")), -1, -1, -1,
         "CH=1&Resolution=160x120", -1},
        {"megapixel caps the rate at 10", -1, static_cast<int32_t>(bit("1280x1024")), 15, -1, 1,
         "CH=1&Resolution=1280x1024&Mode=NTSC&Fps=10", 10},
        {"a mask beside the megapixel bit keeps the standard's ceiling", -1,
         static_cast<int32_t>(bit("1280x1024") | bit("640x480")), 15, -1, 1,
         "CH=1&Resolution=1280x1024&Mode=NTSC&Fps=15", 15},
        {"slow rates become 3", 0x2, -1, 2, 1, -1,
         "CH=1&Compression_Type=mpeg4&Jpeg_Quality=14&Bitrate=512&Fps=3", 3},
        {"a zero rate is left out", -1, -1, 0, 4, -1, "CH=1&Compression_Type=h264", 0},
    };
    for (const Case &c : cases) {
        IPCamVideoFormatRecord write = format(4);
        write.qualityMask = c.quality;
        write.resolutionMask = c.resolution;
        write.frameRate = c.frameRate;
        write.codec = c.codec;
        write.standard = c.standard;
        EXPECT_EQ(command(write), 0) << c.name;
        EXPECT_EQ(lastTarget(), std::string("/SetMultimedia.cgi?") + c.query) << c.name;
        EXPECT_EQ(write.frameRate, c.frameRateAfter) << c.name;
    }

    // Nothing given: nothing sent.
    IPCamVideoFormatRecord nothing = format(4);
    EXPECT_EQ(command(nothing), 0);
    EXPECT_TRUE(server.requests().empty());

    // The camera's store now holds the last values of each key.
    server.clearRequests();
    IPCamVideoFormatRecord back = format(3);
    ASSERT_EQ(command(back), 0);
    EXPECT_EQ(back.resolutionMask, static_cast<int32_t>(bit("1280x1024")));
    EXPECT_EQ(back.maxFrameRate, 10);
    EXPECT_EQ(back.frameRate, 3);
    EXPECT_EQ(back.codec, kCodecH264);
    EXPECT_EQ(back.standard, kStandardNtsc);
    EXPECT_EQ(back.qualityMask, 1 << 1);  // 512 kbit/s
    EXPECT_EQ(camera.value("GetMultimedia.cgi", "Resolution", 1), "1280x1024");
    EXPECT_EQ(camera.value("GetMultimedia.cgi", "Resolution", 0), "640x480");
}

TEST_F(CameraCommandsTest, MotionJpegQualityReadsTheCameraValue) {
    camsim::FamilyACamera camera(server, {.model = 161});
    use(1, 161);
    IPCamVideoFormatRecord write = format(4);
    write.qualityMask = 0x8;  // "High": 19 on model 161
    write.codec = 2;
    command(write);
    EXPECT_EQ(lastTarget(),
              "/SetMultimedia.cgi?CH=0&Compression_Type=mjpeg&Jpeg_Quality=19&"
              "Bitrate=2000");
    IPCamVideoFormatRecord read = format(3);
    ASSERT_EQ(command(read), 0);
    EXPECT_EQ(read.codec, kCodecMjpeg);
    EXPECT_EQ(read.qualityMask, 0x8);
    EXPECT_EQ(read.codecs, kCodecMjpeg);  // model 161 offers its current codec
    EXPECT_EQ(read.ntscResolutions, static_cast<int32_t>(bit("640x480") | bit("1280x960")));
}

TEST_F(CameraCommandsTest, DeviceCamerasDescribeThemselves) {
    camsim::FamilyACamera camera(server, {.model = 7,
                                          .device = 1,
                                          .ptz = false,
                                          .twoWay = true,
                                          .resolutions = "1280x720,640x480",
                                          .codecs = "h264,mjpeg"});
    use(1, 0xFF000007u);
    auto *control = static_cast<DeviceControl *>(session->control.load());
    EXPECT_EQ(control->GetValue(), 0);  // nothing known before the capabilities are read

    IPCamVideoFormatRecord read = format(3);
    ASSERT_EQ(command(read), 0);
    const int32_t mask = static_cast<int32_t>(bit("1280x720") | bit("640x480"));
    EXPECT_EQ(read.ntscResolutions, mask);
    EXPECT_EQ(read.palResolutions, mask);
    EXPECT_EQ(read.codecs, kCodecH264 | kCodecMjpeg);
    EXPECT_EQ(read.resolutionMask, static_cast<int32_t>(bit("640x480")));
    EXPECT_EQ(control->GetValue(), 1);
    EXPECT_FALSE(control->CanQueryItems());

    // No pan/tilt: code 11 answers -16 and empties the preset list.
    IPCamPanTiltRecord ptz;
    std::memset(&ptz, 'x', sizeof ptz);
    ptz.code = 11;
    EXPECT_EQ(command(ptz), IPCAM_GET_INFO_IS_ER);
    EXPECT_EQ(ptz.value, 0);
    EXPECT_EQ(ptz.field[4][0], '\0');
    EXPECT_EQ(ptz.field[IPCAM_SETTINGS_FIELDS - 1][0], '\0');
}

TEST_F(CameraCommandsTest, DeviceWithPanTiltReadsItsSettingsEvenBeforeCode3) {
    camsim::FamilyACamera camera(server, {.model = 7, .device = 0, .ptz = true});
    camera.set("GetPTZ.cgi", "PTZModel", "9");
    camera.set("GetPTZ.cgi", "PName02", "Gate");
    use(1, 0xFF000007u);
    IPCamPanTiltRecord ptz{};
    ptz.code = 11;
    EXPECT_EQ(command(ptz), 16);
    EXPECT_EQ(ptz.value, 16);
    EXPECT_STREQ(ptz.field[5], "Gate");
    EXPECT_TRUE(session->control.load()->CanQueryItems());
}

TEST_F(CameraCommandsTest, PanTiltSettingsByModel) {
    struct Case {
        const char *name;
        int32_t type;
        uint32_t model;
        const char *protocol;  // PTZModel in the camera
        int expected;
        const char *target;  // nullptr: no request
    } cases[] = {
        {"family A", 1, 20, "7", 4, "/GetPTZ.cgi?CH=2"},
        {"family A, index the table leaves unused", 1, 20, "3", 0, "/GetPTZ.cgi?CH=2"},
        {"family A, built-in head", 1, 95, "7", 0, nullptr},
        {"family A, model without settings", 1, 64, "7", 0, nullptr},
        {"family B", 2, 0, "6", 2, "/GetPTZ.cgi"},
        {"family B lacks index 12", 2, 0, "12", 0, "/GetPTZ.cgi"},
    };
    for (const Case &c : cases) {
        camsim::CgiServer device;
        ASSERT_TRUE(device.start());
        std::unique_ptr<camsim::StoredDevice> camera;
        if (c.type == 1)
            camera =
                std::make_unique<camsim::FamilyACamera>(device, camsim::FamilyAConfig{.model = 20});
        else
            camera = std::make_unique<camsim::FamilyBCamera>(device, camsim::FamilyBConfig{});
        camera->set("GetPTZ.cgi", "PTZModel", c.protocol, c.type == 1 ? 2 : 0);
        camera->set("GetPTZ.cgi", c.type == 1 ? "PName01" : "PointName0", "Door",
                    c.type == 1 ? 2 : 0);
        session->port = device.port();
        session->videoStream = 2;
        use(c.type, c.model);
        IPCamPanTiltRecord ptz;
        std::memset(&ptz, 'x', sizeof ptz);
        ptz.code = 11;
        EXPECT_EQ(IPCamCommandDirect(session.get(), &ptz, nullptr), c.expected) << c.name;
        EXPECT_EQ(ptz.value, c.expected) << c.name;
        auto requests = device.requests();
        if (c.target) {
            ASSERT_EQ(requests.size(), 1u) << c.name;
            EXPECT_EQ(requests[0].target, c.target) << c.name;
            EXPECT_STREQ(ptz.field[0], c.protocol) << c.name;
            EXPECT_STREQ(ptz.field[4], "Door") << c.name;
        } else {
            EXPECT_TRUE(requests.empty()) << c.name;
            EXPECT_EQ(ptz.field[0][0], '\0') << c.name;
        }
    }
}

TEST_F(CameraCommandsTest, RecorderChannelCounts) {
    struct Case {
        const char *name;
        int32_t type;
        int recorder;           // family A: dvr_channel; family B: recorder channels, 0 a camera
        const char *typeValue;  // family B: overrides the DVRtype the recorder reports
        int expected;
        int32_t channels;
    } cases[] = {
        {"family A recorder", 1, 8, nullptr, 1, 8},
        {"family B, 4 channels", 2, 4, nullptr, 4, 4},
        {"family B, 16 channels", 2, 16, nullptr, 16, 16},
        {"family B, unknown type", 2, 8, "3", 0, 0},
        {"family B camera", 2, 0, nullptr, -16, 0},
    };
    for (const Case &c : cases) {
        camsim::CgiServer device;
        ASSERT_TRUE(device.start());
        std::unique_ptr<camsim::StoredDevice> camera;
        if (c.type == 1)
            camera = std::make_unique<camsim::FamilyACamera>(
                device, camsim::FamilyAConfig{.dvrChannels = c.recorder});
        else
            camera = std::make_unique<camsim::FamilyBCamera>(
                device, camsim::FamilyBConfig{.recorderChannels = c.recorder});
        if (c.typeValue) camera->set("GetDVRtype.cgi", "DVRtype", c.typeValue);
        session->port = device.port();
        use(c.type, 20);
        IPCamRecorderChannelsRecord record{13, -7};
        EXPECT_EQ(IPCamCommandDirect(session.get(), &record, nullptr), c.expected) << c.name;
        EXPECT_EQ(record.channels, c.channels) << c.name;
        EXPECT_EQ(static_cast<CommandObject *>(session->control.load())->recorderChannels(),
                  c.channels)
            << c.name;
    }
}

TEST_F(CameraCommandsTest, FamilyBVideoFormatRoundTrip) {
    camsim::FamilyBCamera camera(server, {});
    use(2, 0);
    IPCamVideoFormatRecord read = format(3);
    ASSERT_EQ(command(read), 0);
    const int32_t offered = static_cast<int32_t>(bit("160x120") | bit("320x240") | bit("640x480"));
    EXPECT_EQ(read.resolutionMask, static_cast<int32_t>(bit("640x480")));
    EXPECT_EQ(read.qualityMask, 1 << 2);
    EXPECT_EQ(read.codec, kCodecMjpeg);
    EXPECT_EQ(read.codecs, kCodecMjpeg);
    EXPECT_EQ(read.standard, kStandardNtsc);
    EXPECT_EQ(read.ntscResolutions, offered);
    EXPECT_EQ(read.palResolutions, offered);

    IPCamVideoFormatRecord write = format(4);
    write.resolutionMask = static_cast<int32_t>(bit("320x240"));
    write.qualityMask = 0x1F;
    EXPECT_GE(command(write), 0);
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].target, "/ChangeResolution.cgi?ResType=320x240");
    EXPECT_EQ(requests[1].target, "/ChangeCompressRatio.cgi?Ratio=5");

    camera.set("GetStatus.cgi", "tv_standard", "PAL");
    IPCamVideoFormatRecord back = format(3);
    ASSERT_EQ(command(back), 0);
    EXPECT_EQ(back.resolutionMask, static_cast<int32_t>(bit("320x240")));
    EXPECT_EQ(back.qualityMask, 1 << 4);
    EXPECT_EQ(back.standard, kStandardPal);
    EXPECT_EQ(back.maxFrameRate, 25);
}

// Write-then-read of the numbered settings commands: what one writes the other reads back in
// the same fields.
TEST_F(CameraCommandsTest, NumberedSettingsRoundTrips) {
    struct Case {
        const char *name;
        int32_t type, write, read;
        std::vector<std::string> fields;
    } cases[] = {
        {"A adjustment", 1, 8, 7, {"10", "20", "30", "40"}},
        {"A exposure", 1, 16, 15, {"1", "0", "1", "1"}},
        {"B adjustment", 2, 8, 7, {"11", "", "33", "44"}},
        {"B exposure", 2, 16, 15, {"1", "1", "0", "1"}},
        {"B motion", 2, 10, 9, {"1", "7", "10", "20", "300", "200"}},
    };
    for (const Case &c : cases) {
        camsim::CgiServer device;
        ASSERT_TRUE(device.start());
        std::unique_ptr<camsim::StoredDevice> camera;
        if (c.type == 1)
            camera = std::make_unique<camsim::FamilyACamera>(device, camsim::FamilyAConfig{});
        else
            camera = std::make_unique<camsim::FamilyBCamera>(device, camsim::FamilyBConfig{});
        session->port = device.port();
        use(c.type, 20);
        IPCamSettingsRecord write{};
        write.code = c.write;
        for (std::size_t i = 0; i < c.fields.size(); ++i)
            std::strcpy(write.field[i], c.fields[i].c_str());
        EXPECT_GE(IPCamCommandDirect(session.get(), &write, nullptr), 0) << c.name;
        IPCamSettingsRecord read{};
        read.code = c.read;
        EXPECT_GE(IPCamCommandDirect(session.get(), &read, nullptr), 0) << c.name;
        for (std::size_t i = 0; i < c.fields.size(); ++i) {
            if (c.fields[i].empty()) continue;  // not written: the camera's own value
            EXPECT_EQ(std::string(read.field[i]), c.fields[i]) << c.name << " field " << i;
        }
    }
}

TEST_F(CameraCommandsTest, MotionDetectionFollowsTheFirmwareVersion) {
    camsim::FamilyACamera camera(server, {.model = 20});
    use(1, 20);
    session->videoStream = 1;
    struct Case {
        double firmware;
        uint32_t model;
        const char *target;
    } cases[] = {{1.05, 20, "/GetMotionDetect.cgi"},
                 {1.06, 20, "/GetMotionDetect.cgi?CH=1"},
                 {1.05, 57, "/GetMotionDetect.cgi?CH=1"}};
    for (const Case &c : cases) {
        session->deviceNumber = c.firmware;
        session->modelCode = c.model;
        IPCamSettingsRecord read{};
        read.code = 9;
        EXPECT_EQ(command(read), 0);
        EXPECT_EQ(lastTarget(), c.target) << c.firmware << "/" << c.model;
    }
}

}  // namespace
