#include "tools/camsim/device_model.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tools/camsim/camsim_client.h"
#include "tools/camsim/options.h"

using namespace camsim;
using namespace kestrel_test;

namespace {

// A step: the request's target, and a text its whole reply must contain ("" to skip).
struct Step {
    std::string target;
    std::string contains;
    std::string absent = {};
};

class DeviceModelTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(server.start()); }
    std::string ask(const std::string &target) {
        return kestrel_test::exchange(server.port(), get(target));
    }
    void run(const std::vector<Step> &steps) {
        for (const Step &step : steps) {
            std::string reply = ask(step.target);
            EXPECT_NE(reply.find(step.contains), std::string::npos) << step.target << "\n" << reply;
            if (!step.absent.empty()) {
                EXPECT_EQ(reply.find(step.absent), std::string::npos) << step.target << "\n"
                                                                      << reply;
            }
        }
    }
    CgiServer server;
};

TEST_F(DeviceModelTest, FamilyASetsShowInGets) {
    FamilyACamera camera(server, {.model = 60, .videoCode = 2, .audioCode = 1});
    run({
        {"/GetCameraType.cgi", "CameraType=1179708<br>\r\n", "Device="},  // 60 | 2<<16 | 1<<20
        {"/GetVer.cgi", "Version=1.06<br>"},
        {"/GetAdjust.cgi", "Brightness=128<br>\r\nContrast=128<br>"},
        {"/SetAdjust.cgi?Hue=7&Brightness=200", "HTTP/1.1 200 OK"},
        {"/GetAdjust.cgi",
         "Brightness=200<br>\r\nContrast=128<br>\r\nSaturation=128<br>\r\nHue=7<br>"},
        {"/SetName.cgi?Name=Gate", "OK"},
        {"/GetName.cgi", "Name=Gate<br>"},
        {"/SetMultimedia.cgi?CH=1&Mode=PAL&Fps=5", "OK"},
        {"/GetMultimedia.cgi?CH=1", "Fps=5<br>", ""},
        {"/GetMultimedia.cgi?CH=1", "<b>Mode=PAL<br>"},
        {"/GetMultimedia.cgi?CH=0", "Fps=30<br>", "PAL"},
        {"/SetMotionDetect.cgi?CH=2&md_enable=1", "OK"},
        {"/GetMotionDetect.cgi?CH=2", "md_enable=1<br>"},
        {"/GetMotionDetect.cgi", "md_enable=0<br>"},
        {"/SetPTZ.cgi?CH=1&Dir=Preset1&PointName=1:Door", "OK"},
        {"/GetPTZ.cgi?CH=1", "PName01=Door<br>"},
        {"/SetGPIO.cgi?Out2STA=1&Output_Mode=1&Output_Interval=10", "OK"},
        {"/GetGPIO.cgi",
         "Output2=1<br>\r\nOutput3=0<br>\r\nOutput4=0<br>\r\nOutput_Interval=10<br>"},
        {"/GetGPIO.cgi", "Output_Mode=1<br>"},
        {"/SetUser.cgi?Authority=1&Pass=x&User=eve&Check=0", "OK"},
        {"/GetUser.cgi", "Check=0<br>\r\nhttp_admin=admin<br>\r\nhttp_user1=eve<br>"},
        {"/DelUser.cgi?User=eve", "OK"},
        {"/GetUser.cgi", "http_user1=<br>"},
        {"/SetNetwork.cgi?Http_Port=8080", "OK"},
        {"/GetNetwork.cgi", "Http_Port=8080<br>"},
        {"/GetDVRCHANNEL.cgi", "dvr_channel=4<br>"},
        {"/GetMyself.cgi", "404 Not Found"},
    });
    EXPECT_EQ(camera.value("GetMultimedia.cgi", "Fps", 1), "5");
    EXPECT_EQ(camera.value("GetUser.cgi", "Check"), "0");
}

TEST_F(DeviceModelTest, FamilyAModelsBelow57UseTheComKeys) {
    FamilyACamera camera(server, {.model = 20});
    run({
        {"/SetGPIO.cgi?COM3STA=1&COMModule=2&CInterval=9", "OK"},
        {"/GetGPIO.cgi",
         "COM3OUT=1<br>\r\nCOM4OUT=0<br>\r\nCOM_Interval=9<br>\r\nCOM_Module=2<br>"},
    });
}

TEST_F(DeviceModelTest, FamilyAVariantsDifferInDetection) {
    struct Case {
        FamilyAConfig config;
        std::vector<Step> steps;
    } cases[] = {
        {{.older = true},
         {{"/GetCameraType.cgi", "HTTP/1.1 404 Not Found"},
          {"/GetNetwork.cgi", "HTTP/1.1 200 OK"}}},
        {{.model = 5,
          .device = 1,
          .ptz = false,
          .twoWay = true,
          .videoNum = 4,
          .audioNum = 0,
          .inputs = 3,
          .outputs = 1,
          .resolutions = "1280x720,640x480",
          .codecs = "h264"},
         {{"/GetCameraType.cgi",
           "CameraType=5<br>\r\nDevice=1<br>\r\nPtz=0<br>\r\n2-Way=1<br>\r\nVideoNum=4<br>\r\n"
           "AudioNum=0<br>\r\nIO_InputNum=3<br>\r\nIO_OutputNum=1<br>\r\n"
           "Resolution2=1280x720,640x480<br>\r\nCodecType2=h264<br>\r\n"}}},
    };
    for (Case &c : cases) {
        CgiServer fresh;
        ASSERT_TRUE(fresh.start());
        FamilyACamera camera(fresh, c.config);
        for (const Step &step : c.steps)
            EXPECT_NE(kestrel_test::exchange(fresh.port(), get(step.target)).find(step.contains),
                      std::string::npos)
                << step.target;
    }
}

TEST_F(DeviceModelTest, FamilyBSetsShowInGets) {
    FamilyBCamera camera(server, {.recorderChannels = 8});
    run({
        {"/GetMyself.cgi", "CameraName = Kestrel Cam\n"},
        {"/GetDVRtype.cgi", "DVRtype = 1\n"},
        {"/ChangeBrightness.cgi?Brightness=90", "HTTP/1.1 200 OK"},
        {"/ChangeResolution.cgi?ResType=320x240", "OK"},
        {"/ChangeCompressRatio.cgi?Ratio=5", "OK"},
        {"/GetStatus.cgi", "Resolution = 320x240\nQuality = 5\nBrightness = 90\n"},
        {"/SetMonitorRect.cgi?Rect=,10,20,30,40", "OK"},
        {"/SetMotionDetect.cgi?Enable=1&Sensitivity=3", "OK"},
        {"/GetMotionDetect.cgi", "Enable = 1\nSensitivity = 3\n"},
        {"/GetStatus.cgi", "Rect = ,10,20,30,40\n"},
        {"/SetName.cgi?CameraName=Yard", "OK"},
        {"/GetIP.cgi", "CameraName = Yard\nIP = 127.0.0.1\n"},
        {"/SetFtp.cgi?User=ftp&Enable=1", "OK"},
        {"/GetFtp.cgi", "User = ftp\n"},
        {"/GetDDNS.cgi", "Enable = 0\n"},  // sections keep equal keys apart
        {"/SetIO.cgi?GPIO4Out=1&GPIO1Out=1", "OK"},
        {"/GetIO.cgi", "GPIOOUT1 = 1\nGPIOOUT2 = 0\nGPIOOUT3 = 0\nGPIOOUT4 = 1\n"},
        {"/SetUser.cgi?User=bob&Pass=x", "OK"},
        {"/GetUser.cgi?ShowPrivilege=true", "User1 = admin\nPrivilege1 = admin\nUser2 = bob\n"},
        {"/DelUser.cgi?User=bob", "OK"},
        {"/GetUser.cgi?ShowPrivilege=false", "User1 = admin\n", "bob"},
        {"/SetAdmin.cgi?Admin=root&aPass=y", "OK"},
        {"/GetLanguage.cgi", "admin = root\n"},
        {"/GetCameraType.cgi", "404 Not Found"},
    });
    EXPECT_EQ(camera.value("GetStatus.cgi", "Brightness"), "90");
}

// Write CGIs take only their table's keys, in the order a client lays them out, with "CH=" first
// where the CGI has a channel; anything else is refused with 400 and changes nothing.
TEST_F(DeviceModelTest, WritesKeepToTheirTables) {
    FamilyACamera a(server, {.model = 60});
    CgiServer otherA, otherB;
    ASSERT_TRUE(otherA.start());
    ASSERT_TRUE(otherB.start());
    FamilyACamera older(otherA, {.model = 20});
    FamilyBCamera b(otherB, {});
    struct Case {
        uint16_t port;
        std::string target;
        bool taken;
    } cases[] = {
        {server.port(), "/SetAdjust.cgi?Hue=1&Brightness=2", true},
        {server.port(), "/SetAdjust.cgi?Brightness=2&Hue=1", false},  // out of order
        {server.port(), "/SetAdjust.cgi?Hue=1&Hue=2", false},         // repeated
        {server.port(), "/SetAdjust.cgi?Sharpness=1", false},         // not in the table
        {server.port(), "/SetAdjust.cgi?CH=0&Hue=1", false},          // takes no channel
        {server.port(), "/SetName.cgi?", true},                       // nothing to change
        {server.port(), "/SetMultimedia.cgi?CH=1&Compression_Type=h264&Fps=5", true},
        {server.port(), "/SetMultimedia.cgi?Fps=5", false},  // the channel missing
        {server.port(), "/SetMultimedia.cgi?Fps=5&CH=1", false},
        {server.port(), "/SetMotionDetect.cgi?CH=0&md1_ena=1&md_enable=1", true},
        {server.port(), "/SetMotionDetect.cgi?CH=0&md_enable=1&md1_ena=1", false},
        {server.port(), "/SetGPIO.cgi?Out1STA=1&Output_Mode=0", true},
        {server.port(), "/SetGPIO.cgi?COM1STA=1&COMModule=0", false},  // older models' keys
        {otherA.port(), "/SetGPIO.cgi?COM1STA=1&COMModule=0", true},
        {otherA.port(), "/SetGPIO.cgi?Out1STA=1&Output_Mode=0", false},
        {server.port(), "/Reboot.cgi?RebootNow", true},
        {server.port(), "/Reboot.cgi?RebootNow=1&Now=1", false},
        {otherB.port(), "/SetName.cgi?CameraName=Yard", true},
        {otherB.port(), "/SetName.cgi?CH=0&CameraName=Yard", false},  // no channels here
        {otherB.port(), "/SetName.cgi?Name=Yard", false},             // family A's key
        {otherB.port(), "/SetMotionDetect.cgi?Sensitivity=3&Enable=1", false},
        {otherB.port(), "/SetFactoryDefault.cgi?DefaultNow", false},
        {otherB.port(), "/GetStatus.cgi?CH=1", false},
        {otherB.port(), "/SetIO.cgi?GPIO4Out=1&GPIO1Out=0", true},
        {otherB.port(), "/SetIO.cgi?GPIO1Out=0&GPIO4Out=1", false},
    };
    for (const Case &c : cases) {
        const std::string reply = kestrel_test::exchange(c.port, get(c.target));
        EXPECT_EQ(reply.starts_with("HTTP/1.1 200 OK"), c.taken) << c.target << "\n" << reply;
        if (!c.taken) {
            EXPECT_TRUE(reply.starts_with("HTTP/1.1 400")) << c.target;
        }
    }
    // Refused writes left the stores as the taken ones made them.
    EXPECT_EQ(a.value("GetAdjust.cgi", "Hue"), "1");
    EXPECT_EQ(a.value("GetAdjust.cgi", "Brightness"), "2");
    EXPECT_EQ(a.value("GetMultimedia.cgi", "Fps", 1), "5");
    EXPECT_EQ(a.value("GetMultimedia.cgi", "Compression_Type", 1), "h264");
    EXPECT_EQ(a.value("GetMultimedia.cgi", "Fps", 0), "30");
    EXPECT_EQ(b.value("GetMotionDetect.cgi", "Sensitivity"), "5");
    EXPECT_EQ(b.value("GetIO.cgi", "GPIOOUT4"), "1");
}

// Values arrive escaped and are kept as the client meant them.
TEST_F(DeviceModelTest, EscapedValuesAreStoredDecoded) {
    FamilyACamera camera(server, {});
    run({
        {"/SetName.cgi?Name=Front%20door%26co%3D1%2550%23", "200 OK"},
        {"/GetName.cgi", "Name=Front door&co=1%50#<br>"},
        {"/SetName.cgi?Name=Front door", "400"},  // a raw blank breaks the request line
        {"/GetName.cgi", "Name=Front door&co=1%50#<br>"},
    });
}

TEST_F(DeviceModelTest, FactoryDefaultForgetsEverySetting) {
    FamilyACamera a(server, {});
    CgiServer other;
    ASSERT_TRUE(other.start());
    FamilyBCamera b(other, {});
    struct Case {
        uint16_t port;
        std::string set, get, changed, original, reset;
    } cases[] = {
        {server.port(), "/SetName.cgi?Name=X", "/GetName.cgi", "Name=X<br>", "Name=Kestrel Cam<br>",
         "/SetFactoryDefault.cgi?DefaultNow"},
        {server.port(), "/SetPTZ.cgi?CH=3&PTZID=9", "/GetPTZ.cgi?CH=3", "PTZID=9<", "PTZID=1<",
         "/SetFactoryDefault.cgi?DefaultNow"},
        {other.port(), "/ChangeHue.cgi?Hue=1", "/GetStatus.cgi", "Hue = 1\n", "Hue = 128\n",
         "/SetFactoryDefault.cgi?"},
    };
    for (const Case &c : cases) {
        kestrel_test::exchange(c.port, get(c.set));
        EXPECT_NE(kestrel_test::exchange(c.port, get(c.get)).find(c.changed), std::string::npos)
            << c.set;
        EXPECT_NE(kestrel_test::exchange(c.port, get(c.reset)).find("200 OK"), std::string::npos);
        EXPECT_NE(kestrel_test::exchange(c.port, get(c.get)).find(c.original), std::string::npos)
            << c.set;
    }
}

TEST_F(DeviceModelTest, StatusBlockAndFlagSitWhereTheClientLooks) {
    FamilyBCamera camera(server, {});
    struct Case {
        std::string brightness;  // lengthens the body past a Content-Length digit
        std::string block, flag;
        std::string expectedBlock;
    } cases[] = {
        {"128", "", "", kDefaultStatusBlock},
        {"1", "short", "1", "short" + std::string(77, '0')},
        {std::string(900, '9'), std::string(90, 'x'), "1", std::string(82, 'x')},
        {std::string(9000, '9'), "", "0", kDefaultStatusBlock},
    };
    for (const Case &c : cases) {
        camera.set("GetStatus.cgi", "Brightness", c.brightness);
        if (!c.block.empty()) camera.set("GetStatus.cgi", "status_block", c.block);
        if (!c.flag.empty()) camera.set("GetStatus.cgi", "status_flag", c.flag);
        std::string reply = ask("/GetStatus.cgi");
        std::size_t e = reply.find("Expires");
        ASSERT_NE(e, std::string::npos);
        EXPECT_EQ(reply.substr(e, 37), "Expires: 01 Jan 1970 00:00:00 GMT\r\n\r\n");
        EXPECT_EQ(reply.substr(e + 37, kStatusBlockSize), c.expectedBlock);
        ASSERT_GT(reply.size(), kStatusFlagIndex);
        EXPECT_EQ(reply[kStatusFlagIndex], c.flag.empty() ? '0' : c.flag[0]) << c.brightness.size();
        EXPECT_NE(reply.find("tv_standard = NTSC\n"), std::string::npos);
        camera.store().reset();
    }
}

TEST(DeviceOptionsTest, DeviceSpecsParseOrFail) {
    struct Case {
        std::string spec;
        const char *error;  // nullptr: valid
    } cases[] = {
        {"server", nullptr},
        {"family-a:model=20,firmware=1.06,device=1,codecs=mpeg4/mjpeg,older", nullptr},
        {"family-b:recorder=16,notv", nullptr},
        {"family-a:model=256", "device setting 'model=256': malformed value"},
        {"family-a:video=5", "device setting 'video=5': malformed value"},
        {"family-b:recorder=5", "device setting 'recorder=5': malformed value"},
        {"family-b:model=3", "device setting 'model=3': unknown for family-b"},
        {"camera", "expected server, family-a[:...] or family-b[:...], got 'camera'"},
    };
    for (const Case &c : cases) {
        std::string error;
        auto device = parseDeviceSpec(c.spec, error);
        EXPECT_EQ(device.has_value(), c.error == nullptr) << c.spec;
        if (c.error) {
            EXPECT_EQ(error, c.error);
        }
    }
    std::string error;
    auto options = parseOptions({"--device", "family-a:device=0,codecs=mpeg4/h264"}, error);
    ASSERT_TRUE(options) << error;
    CgiServer web;
    StreamingServer streaming;
    applyOptions(*options, streaming, web);
    ASSERT_TRUE(web.start());
    EXPECT_NE(kestrel_test::exchange(web.port(), get("/GetCameraType.cgi"))
                  .find("CodecType1=mpeg4,h264<br>"),
              std::string::npos);
    EXPECT_NE(kestrel_test::exchange(web.port(), get("/GetServerInfo.cgi")).find("Channel=2<br>"),
              std::string::npos);
}

}  // namespace
