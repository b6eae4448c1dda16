// Pan/tilt/zoom commands and recorder keys as the camera sees them: one table per wording,
// each case the request record and the exact requests that reach the simulated camera.
#include "control/ptz_control.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "camsim/cgi_server.h"
#include "control/command_object.h"
#include "control/control_factory.h"
#include "control/recorder_keys.h"
#include "core/session.h"
#include "core/session_api.h"
#include "support/frame_collector.h"
#include "support/scoped_timeouts.h"

using namespace ipcam;

namespace {

PtzRequest ptz(int32_t command, int32_t number = -1, const char *text = "") {
    PtzRequest r;
    std::memset(&r, 0xFF, sizeof r);
    r.code = IPCAM_CMD_PAN_TILT;
    r.command = command;
    r.number = number;
    std::memset(r.text, 0, sizeof r.text);
    std::strncpy(r.text, text, sizeof r.text - 1);
    return r;
}

PtzRequest ptzSettings(int32_t command, int32_t model, int32_t address, int32_t baud, int32_t speed) {
    PtzRequest r = ptz(command);
    r.model = model;
    r.address = address;
    r.baudRate = baud;
    r.speed = speed;
    return r;
}

// Command 17: a point of a width x height picture.
PtzRequest moveTo(int32_t width, int32_t height, int32_t x, int32_t y) {
    return ptzSettings(IPCAM_PTZ_MOVE_TO, width, height, x, y);
}

using Targets = std::vector<std::string>;

class PtzControlTest : public ::testing::Test {
    kestrel_test::ScopedTimeouts timeouts{500};

  protected:
    void SetUp() override {
        ASSERT_TRUE(server.start());
        for (const char *cgi : {"SetPTZ.cgi", "RS232.cgi", "MoveCamera.cgi", "SetDVRKey.cgi",
                                "SetPlayCmd.cgi", "SetTimePlay.cgi"})
            server.setBody(cgi, "OK");
        std::strcpy(session->host, "127.0.0.1");
        session->port = server.port();
    }
    void TearDown() override { delete session->control.exchange(nullptr); }

    void use(int32_t type, uint32_t model, int32_t channel = 0) {
        delete session->control.exchange(makeCameraControl(type, model));
        session->protocolType = type;
        session->modelCode = model;
        session->videoStream = channel;
    }

    Targets run(void *request, int &result) {
        server.clearRequests();
        result = IPCamCommandDirect(session.get(), request, nullptr);
        Targets targets;
        for (const auto &r : server.requests()) targets.push_back(r.target);
        return targets;
    }

    camsim::CgiServer server;
    kestrel_test::LocalSession session;
};

struct PtzCase {
    const char *name;
    uint32_t model;
    PtzRequest request;
    Targets expected;  // empty: refused with -4, nothing sent
    int32_t channel = 0;
};

TEST_F(PtzControlTest, FamilyAWordings) {
    PtzRequest unterminated = ptz(IPCAM_PTZ_PRESET_SET, 1);
    std::memset(unterminated.text, 'a', sizeof unterminated.text);
    PtzRequest raw = ptz(IPCAM_PTZ_RAW, 3, "\x01\x02\x03");
    PtzRequest rawPadded = ptz(IPCAM_PTZ_RAW, 2, "\x01\x02");
    PtzRequest rawTooLong = ptz(IPCAM_PTZ_RAW, 257, "x");
    PtzRequest rawNone = ptz(IPCAM_PTZ_RAW, 0, "x");
    const PtzCase cases[] = {
        {"up, keys", 20, ptz(IPCAM_PTZ_UP), {"/SetPTZ.cgi?CH=0&Dir=Up"}},
        {"up, built-in head", 95, ptz(IPCAM_PTZ_UP), {"/SetPTZ.cgi?CH=0&CMD=UP"}},
        {"the channel in use",
         20,
         ptz(IPCAM_PTZ_DOWN_RIGHT),
         {"/SetPTZ.cgi?CH=2&Dir=DownRight"},
         2},
        {"last menu key", 20, ptz(IPCAM_PTZ_MENU_RIGHT), {"/SetPTZ.cgi?CH=0&Dir=OSD_Right"}},
        {"preset stored under two words",
         20,
         ptz(IPCAM_PTZ_PRESET_SET, 3, "front door"),
         {"/SetPTZ.cgi?CH=0&Dir=Preset3&PointName=3:front%20door"}},
        {"preset of two words removed",
         20,
         ptz(IPCAM_PTZ_PRESET_REMOVE, 4, "old gate"),
         {"/SetPTZ.cgi?CH=0&RemoveName=old%20gate&Dir=Remove4"}},
        {"preset name with a pair's signs",
         20,
         ptz(IPCAM_PTZ_PRESET_SET, 5, "a&b=c 100%"),
         {"/SetPTZ.cgi?CH=0&Dir=Preset5&PointName=5:a%26b%3Dc%20100%25"}},
        {"name without its end", 20, unterminated, {}},
        {"preset on a built-in head",
         95,
         ptz(IPCAM_PTZ_PRESET_GO, 2),
         {"/SetPTZ.cgi?CH=0&CMD=GOPRESET&POINTER=2"}},
        {"preset stored on a built-in head",
         96,
         ptz(IPCAM_PTZ_PRESET_SET, 7),
         {"/SetPTZ.cgi?CH=0&CMD=SETPRESET&POINTER=7"}},
        {"built-in head has no focus", 95, ptz(IPCAM_PTZ_FOCUS_NEAR), {}},
        {"tour of group 2",
         20,
         ptz(IPCAM_PTZ_TOUR_START, 2),
         {"/SetPTZ.cgi?CH=0&Group=2&Dir=TourStart"}},
        {"all settings",
         20,
         ptzSettings(IPCAM_PTZ_SETTINGS, 0, 1, 9600, 5),
         {"/SetPTZ.cgi?CH=0&PTZBaudrate=9600&PTZID=1&PTZSpeed=5&PTZModel=0"}},
        {"settings without values",
         20,
         ptzSettings(IPCAM_PTZ_SETTINGS, -1, -1, -1, -1),
         {"/SetPTZ.cgi?CH=0"}},
        {"a flag family B lacks",
         20,
         ptzSettings(IPCAM_PTZ_SET_PROTOCOL, 1 << 25, -1, -1, -1),
         {"/SetPTZ.cgi?CH=0&PTZModel=18"}},
        {"unknown flag",
         20,
         ptzSettings(IPCAM_PTZ_SET_PROTOCOL, 3, -1, -1, -1),
         {"/SetPTZ.cgi?CH=0"}},
        {"speed as given",
         20,
         ptzSettings(IPCAM_PTZ_SET_SPEED, -1, -1, -1, 9),
         {"/SetPTZ.cgi?CH=0&PTZSpeed=9"}},
        {"speed through the table",
         61,
         ptzSettings(IPCAM_PTZ_SET_SPEED, -1, -1, -1, 9),
         {"/SetPTZ.cgi?CH=0&PTZSpeed=5"}},
        {"speed 2 through the table",
         135,
         ptzSettings(IPCAM_PTZ_SET_SPEED, -1, -1, -1, 2),
         {"/SetPTZ.cgi?CH=0&PTZSpeed=1"}},
        {"speed beyond the table", 61, ptzSettings(IPCAM_PTZ_SET_SPEED, -1, -1, -1, 10), {}},
        {"settings with a speed beyond the table",
         80,
         ptzSettings(IPCAM_PTZ_SETTINGS, 0, 1, 2400, 12),
         {}},
        {"raw bytes", 20, raw, {"/SetPTZ.cgi?CH=0&Command=AQID"}},
        {"raw bytes ending in padding", 20, rawPadded, {"/SetPTZ.cgi?CH=0&Command=AQI%3D"}},
        {"raw count above 256", 20, rawTooLong, {}},
        {"raw count 0", 20, rawNone, {}},
        {"top left corner",
         61,
         moveTo(320, 240, 0, 0),
         {"/SetPTZ.cgi?CH=0&Up860=17&Left860=21&Dir=GoUpLeft"}},
        {"bottom right corner",
         81,
         moveTo(320, 240, 320, 240),
         {"/SetPTZ.cgi?CH=0&Down860=17&Right860=21&Dir=GoDownRight"}},
        {"top right corner",
         61,
         moveTo(640, 480, 640, 0),
         {"/SetPTZ.cgi?CH=0&Up860=17&Right860=21&Dir=GoUpRight"}},
        {"point beyond the picture", 61, moveTo(320, 240, 321, 0), {}},
        {"picture of no width", 61, moveTo(0, 240, 0, 0), {}},
        {"point not given", 61, moveTo(320, 240, -1, -1), {}},
        {"position move on other models", 20, moveTo(320, 240, 0, 0), {}},
        // Device cameras speak "Dir=" whatever their low byte; speeds and moves of S6 are not
        // theirs.
        {"device up, low byte of a built-in head",
         0xFF00005Fu,
         ptz(IPCAM_PTZ_UP),
         {"/SetPTZ.cgi?CH=0&Dir=Up"}},
        {"device preset, low byte of a built-in head",
         0xFF000060u,
         ptz(IPCAM_PTZ_PRESET_GO, 2),
         {"/SetPTZ.cgi?CH=0&Dir=Point2"}},
        {"device speed, low byte of a stepped head",
         0xFF00003Du,
         ptzSettings(IPCAM_PTZ_SET_SPEED, -1, -1, -1, 9),
         {"/SetPTZ.cgi?CH=0&PTZSpeed=9"}},
        {"device position move", 0xFF000050u, moveTo(320, 240, 0, 0), {}},
        {"command 0", 20, ptz(0), {}},
        {"command 2", 20, ptz(2), {}},
        {"beyond the last command", 20, ptz(46), {}},
    };
    for (const PtzCase &c : cases) {
        SCOPED_TRACE(c.name);
        use(IPCAM_PROTOCOL_TYPE1, c.model, c.channel);
        PtzRequest request = c.request;
        int result = 0;
        const Targets targets = run(&request, result);
        EXPECT_EQ(targets, c.expected);
        if (c.expected.empty())
            EXPECT_EQ(result, kPtzRefused);
        else
            EXPECT_EQ(result, 1);
    }
}

TEST_F(PtzControlTest, FamilyBCamerasAndRecorders) {
    struct Case {
        const char *name;
        int32_t recorderChannels;
        PtzRequest request;
        Targets expected;
        int32_t code = IPCAM_CMD_PAN_TILT;
    } cases[] = {
        {"up", 0, ptz(IPCAM_PTZ_UP), {"/RS232.cgi?Dir=Up"}},
        {"up-left as two moves",
         0,
         ptz(IPCAM_PTZ_UP_LEFT),
         {"/RS232.cgi?Dir=Up", "/RS232.cgi?Dir=Left"}},
        {"down-right",
         0,
         ptz(IPCAM_PTZ_DOWN_RIGHT),
         {"/RS232.cgi?Dir=Down", "/RS232.cgi?Dir=Right"}},
        {"speed", 0, ptzSettings(IPCAM_PTZ_SET_SPEED, -1, -1, -1, 7), {"/RS232.cgi?Speed=7"}},
        {"preset stored",
         0,
         ptz(IPCAM_PTZ_PRESET_SET, 3, "gate two"),
         {"/RS232.cgi?PointName=3:gate%20two&Dir=Preset3"}},
        {"preset removed",
         0,
         ptz(IPCAM_PTZ_PRESET_REMOVE, 3, "side gate"),
         {"/RS232.cgi?RemoveName=side%20gate&Dir=Remove3"}},
        {"moves until stopped are not known", 0, ptz(IPCAM_PTZ_UP_START), {}},
        {"no position move", 0, moveTo(320, 240, 0, 0), {}},
        {"all settings",
         0,
         ptzSettings(IPCAM_PTZ_SETTINGS, 2, 1, 4800, 5),
         {"/SetPTZ.cgi?PTZModel=6&CameraID=1&Baudrate=4800"}},
        {"a flag family B lacks",
         0,
         ptzSettings(IPCAM_PTZ_SETTINGS, 1 << 26, 2, 4800, -1),
         {"/SetPTZ.cgi?CameraID=2&Baudrate=4800"}},
        {"recorder: camera up", 8, ptz(IPCAM_PTZ_UP), {"/MoveCamera.cgi?Dir=UP"}},
        {"recorder: automatic pan", 4, ptz(IPCAM_PTZ_PAN_START), {"/MoveCamera.cgi?Dir=AutoPAN"}},
        {"recorder refuses diagonals", 8, ptz(IPCAM_PTZ_UP_LEFT), {}},
        {"recorder refuses presets", 8, ptz(IPCAM_PTZ_PRESET_GO, 1), {}},
        {"recorder settings still go to SetPTZ",
         8,
         ptzSettings(IPCAM_PTZ_SET_ADDRESS, -1, 3, -1, -1),
         {"/SetPTZ.cgi?CameraID=3"}},
        {"8240 takes settings only", 0, ptz(IPCAM_PTZ_UP), {}, 8240},
        {"8240 settings",
         0,
         ptzSettings(IPCAM_PTZ_SET_ADDRESS, -1, 3, -1, -1),
         {"/SetPTZ.cgi?CameraID=3"},
         8240},
        {"8241 ignores the recorder", 8, ptz(IPCAM_PTZ_UP), {"/RS232.cgi?Dir=Up"}, 8241},
    };
    for (Case &c : cases) {
        SCOPED_TRACE(c.name);
        use(IPCAM_PROTOCOL_TYPE2, 0);
        static_cast<CommandObject *>(session->control.load())
            ->setRecorderChannels(c.recorderChannels);
        c.request.code = c.code;
        int result = 0;
        const Targets targets = run(&c.request, result);
        EXPECT_EQ(targets, c.expected);
        if (c.expected.empty())
            EXPECT_EQ(result, kPtzRefused);
        else
            EXPECT_EQ(result, 1);
    }
}

TEST_F(PtzControlTest, ADiagonalStopsWhenItsFirstMoveFails) {
    use(IPCAM_PROTOCOL_TYPE2, 0);
    server.setBody("RS232.cgi", "", 401);
    PtzRequest request = ptz(IPCAM_PTZ_DOWN_LEFT);
    int result = 0;
    EXPECT_EQ(run(&request, result), Targets{"/RS232.cgi?Dir=Down"});
    EXPECT_EQ(result, -15);
}

TEST_F(PtzControlTest, RecorderKeys) {
    const IPCamDateTime when{2009, 3, 6, 7, 14, 5, 9, 0};
    struct Case {
        const char *name;
        int32_t type;
        uint32_t model;
        int32_t channels;
        int32_t key;
        Targets expected;
        const IPCamDateTime *time = nullptr;
    } cases[] = {
        {"A channel key", 1, 20, 4, 3, {"/SetDVRKey.cgi?DVRControl=dvrkey_3"}},
        {"A key 17 unknown", 1, 20, 4, 17, {}},
        {"A panel key 208", 1, 20, 8, 208, {"/SetDVRKey.cgi?DVRControl=dvrkey_5"}},
        {"A 209 on four channels", 1, 20, 4, 209, {"/SetDVRKey.cgi?DVRControl=dvrkey_5"}},
        {"A 209 on eight channels", 1, 20, 8, 209, {"/SetDVRKey.cgi?DVRControl=dvrkey_right"}},
        {"A camera keys are no panel keys", 1, 20, 4, 224, {}},
        {"A playback", 1, 99, 4, 165, {"/SetPlayCmd.cgi?PLAYSTATE=PLAYBACK"}},
        {"A 64x", 1, 99, 4, 172, {"/SetPlayCmd.cgi?PLAYSTATE=FF64"}},
        {"A play from a time", 1, 99, 4, 173, {"/SetTimePlay.cgi?EVENT=090307140509"}, &when},
        {"A play from no time", 1, 99, 4, 173, {}},
        {"A playback recorders have no channel keys", 1, 99, 4, 1, {}},
        {"B 8: split sends two texts",
         2,
         0,
         8,
         177,
         {"/MoveCamera.cgi?Dir=NINE_QUAD", "/MoveCamera.cgi?Dir=BT4_16"}},
        {"B 16: split sends one", 2, 0, 16, 177, {"/MoveCamera.cgi?Dir=BT4_16"}},
        {"B 8: 209",
         2,
         0,
         8,
         209,
         {"/MoveCamera.cgi?Dir=NINE_NINE", "/MoveCamera.cgi?Dir=BT16_16"}},
        {"B 16: 179", 2, 0, 16, 179, {"/MoveCamera.cgi?Dir=BT16_16"}},
        {"B 8: date key unknown", 2, 0, 8, 173, {}, &when},
        {"B 4: channel 2", 2, 0, 4, 2, {"/MoveCamera.cgi?Dir=QUAD_CH2"}},
        {"B 4: channel 5 unknown", 2, 0, 4, 5, {}},
        {"B 4: 209", 2, 0, 4, 209, {"/MoveCamera.cgi?Dir=QUAD_4"}},
        {"B 4: rewind unknown", 2, 0, 4, 161, {}},
        {"B 4: select unknown", 2, 0, 4, 193, {}},
        {"B 12 channels: every key refused", 2, 0, 12, 1, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        use(c.type, c.model);
        session->recorderChannels = c.channels;
        RecorderKeyRequest request{IPCAM_CMD_RECORDER_KEY, c.key, c.time};
        int result = 0;
        const Targets targets = run(&request, result);
        EXPECT_EQ(targets, c.expected);
        if (c.expected.empty())
            EXPECT_EQ(result, IPCAM_USER_OR_PASSWD_IS_ER);
        else
            EXPECT_EQ(result, 1);
    }
}

TEST_F(PtzControlTest, FamilyBRecordersLearnTheirCountBeforePanTilt) {
    // A recorder's count comes from its type; the pan/tilt buttons then become camera keys.
    server.setBody("GetDVRtype.cgi", "DVRtype = 1\n");
    use(IPCAM_PROTOCOL_TYPE2, 0);
    IPCamRecorderChannelsRecord count{IPCAM_CMD_RECORDER_CHANNELS, 0};
    EXPECT_EQ(IPCamCommandDirect(session.get(), &count, nullptr), 8);
    PtzRequest up = ptz(IPCAM_PTZ_UP);
    int result = 0;
    EXPECT_EQ(run(&up, result), Targets{"/MoveCamera.cgi?Dir=UP"});
    // A type the library does not know leaves no count: keys are refused by the dispatcher.
    server.setBody("GetDVRtype.cgi", "DVRtype = 3\n");
    EXPECT_EQ(IPCamCommandDirect(session.get(), &count, nullptr), 0);
    EXPECT_EQ(count.channels, 0);
    RecorderKeyRequest key{IPCAM_CMD_RECORDER_KEY, 1, nullptr};
    session->recorderChannels = 0;
    EXPECT_EQ(run(&key, result), Targets{});
    EXPECT_EQ(result, kNoRecorderChannels);
}

TEST_F(PtzControlTest, CommandsToAnUnreachableCameraFail) {
    use(IPCAM_PROTOCOL_TYPE1, 20);
    server.stop();
    PtzRequest up = ptz(IPCAM_PTZ_UP);
    EXPECT_EQ(IPCamCommandDirect(session.get(), &up, nullptr), -6);
    session->recorderChannels = 4;
    RecorderKeyRequest key{IPCAM_CMD_RECORDER_KEY, 1, nullptr};
    EXPECT_EQ(IPCamCommandDirect(session.get(), &key, nullptr), -6);
}

}  // namespace
