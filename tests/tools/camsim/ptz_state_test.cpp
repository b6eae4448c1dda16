// The heads and recorder panels of the simulated cameras, driven over HTTP as a client drives
// them, read back through the accessors, GetPTZ.cgi and GetSimState.cgi.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tools/camsim/camsim_client.h"
#include "tools/camsim/device_model.h"

using namespace camsim;
using namespace kestrel_test;

namespace {

// Family A heads by their wording: "Dir=" (model 20), "CMD=" (a built-in head, model 95),
// "Dir=" with moves towards a point (model 61). Family B cameras and recorders.
enum class Kind { A, Head, Moves, B, Quad, Eight };

// A fresh camera of a kind on its own server.
struct Rig {
    explicit Rig(Kind kind) {
        EXPECT_TRUE(server.start());
        if (kind == Kind::A || kind == Kind::Head || kind == Kind::Moves) {
            const int model = kind == Kind::Head ? 95 : kind == Kind::Moves ? 61 : 20;
            device = std::make_unique<FamilyACamera>(server, FamilyAConfig{.model = model});
        } else {
            const int channels = kind == Kind::Quad ? 4 : kind == Kind::Eight ? 8 : 0;
            device = std::make_unique<FamilyBCamera>(server,
                                                     FamilyBConfig{.recorderChannels = channels});
        }
    }
    // The body of the reply to target.
    std::string ask(const std::string &target) {
        std::string reply = exchange(server.port(), get(target));
        std::size_t end = reply.find("\r\n\r\n");
        return end == std::string::npos ? "" : reply.substr(end + 4);
    }
    CgiServer server;
    std::unique_ptr<StoredDevice> device;
};

TEST(PtzStateTest, MovesStepAndHoldAtTheLimits) {
    struct Case {
        Kind kind;
        std::vector<std::string> targets;
        int pan, tilt, zoom = 1;
        int channel = 0;
    } cases[] = {
        {Kind::A, {"/SetPTZ.cgi?CH=1&Dir=Up"}, 0, 1, 1, 1},
        {Kind::A, {"/SetPTZ.cgi?CH=1&Dir=Down", "/SetPTZ.cgi?CH=1&Dir=Left"}, -1, -1, 1, 1},
        {Kind::A, {"/SetPTZ.cgi?CH=2&Dir=UpRight", "/SetPTZ.cgi?CH=2&Dir=Right"}, 2, 1, 1, 2},
        {Kind::Head, {"/SetPTZ.cgi?CH=0&CMD=LEFT", "/SetPTZ.cgi?CH=0&CMD=DOWN"}, -1, -1},
        {Kind::Moves, {"/SetPTZ.cgi?CH=0&Down860=3&Left860=4&Dir=GoDownLeft"}, -4, -3},
        {Kind::Moves,
         {"/SetPTZ.cgi?CH=0&Up860=100&Left860=200&Dir=GoUpLeft", "/SetPTZ.cgi?CH=0&Dir=Up",
          "/SetPTZ.cgi?CH=0&Dir=Left", "/SetPTZ.cgi?CH=0&Dir=Down"},
         -180,
         89},
        {Kind::Moves,
         {"/SetPTZ.cgi?CH=0&Down860=95&Right860=190&Dir=GoDownRight", "/SetPTZ.cgi?CH=0&Dir=Right",
          "/SetPTZ.cgi?CH=0&Dir=DownRight"},
         180,
         -90},
        {Kind::A,
         {"/SetPTZ.cgi?CH=0&Dir=Up", "/SetPTZ.cgi?CH=0&Dir=ZoomIn", "/SetPTZ.cgi?CH=0&Dir=Home"},
         0,
         0,
         2},
        {Kind::Head,
         {"/SetPTZ.cgi?CH=0&CMD=ZOOMOUT", "/SetPTZ.cgi?CH=0&CMD=ZOOMIN",
          "/SetPTZ.cgi?CH=0&CMD=ZOOMIN", "/SetPTZ.cgi?CH=0&CMD=ZOOMOUT",
          "/SetPTZ.cgi?CH=0&CMD=HOME"},
         0,
         0,
         2},
        {Kind::B, {"/RS232.cgi?Dir=Up", "/RS232.cgi?Dir=Left", "/RS232.cgi?Dir=Left"}, -2, 1},
        {Kind::B, {"/RS232.cgi?Dir=Right", "/RS232.cgi?Dir=Down", "/RS232.cgi?Dir=Home"}, 0, 0},
        {Kind::B, {"/MoveCamera.cgi?Dir=left", "/MoveCamera.cgi?Dir=uP"}, -1, 1},
        {Kind::B, {"/MoveCamera.cgi?Dir=RIGHT", "/MoveCamera.cgi?Dir=ZoomIN"}, 1, 0, 2},
        {Kind::Eight, {"/MoveCamera.cgi?Dir=DOWN", "/MoveCamera.cgi?Dir=ZoomOUT"}, 0, -1},
        {Kind::Quad, {"/MoveCamera.cgi?Dir=LEFT", "/MoveCamera.cgi?Dir=ZoomIN"}, -1, 0, 2},
    };
    for (const Case &c : cases) {
        Rig rig(c.kind);
        for (const std::string &target : c.targets) EXPECT_EQ(rig.ask(target), "OK") << target;
        HeadState head = rig.device->head(c.channel);
        EXPECT_EQ(head.pan, c.pan) << c.targets.back();
        EXPECT_EQ(head.tilt, c.tilt) << c.targets.back();
        EXPECT_EQ(head.zoom, c.zoom) << c.targets.back();
        if (c.channel != 0) {
            EXPECT_EQ(rig.device->head(0).pan, 0);
            EXPECT_EQ(rig.device->head(0).tilt, 0);
        }
    }
    Rig rig(Kind::A);
    for (int i = 0; i < 12; ++i) rig.ask("/SetPTZ.cgi?CH=0&Dir=ZoomIn");
    EXPECT_EQ(rig.device->head().zoom, 10);
}

TEST(PtzStateTest, ModesAndSettingsShowInTheStateReply) {
    struct Case {
        Kind kind;
        std::vector<std::string> targets;
        std::vector<std::string> shown;  // lines of GetSimState.cgi
    } cases[] = {
        {Kind::A, {"/SetPTZ.cgi?CH=0&Group=3&Dir=TourStart"}, {"tour=1<br>", "tour_group=3<br>"}},
        {Kind::A,
         {"/SetPTZ.cgi?CH=0&Group=3&Dir=TourStart", "/SetPTZ.cgi?CH=0&Dir=TourStop"},
         {"tour=0<br>", "tour_group=-1<br>"}},
        {Kind::A, {"/SetPTZ.cgi?CH=0&Dir=TourStart"}, {"tour=1<br>", "tour_group=-1<br>"}},
        {Kind::A,
         {"/SetPTZ.cgi?CH=0&Dir=PatrolStart", "/SetPTZ.cgi?CH=0&Dir=PanStart",
          "/SetPTZ.cgi?CH=0&Dir=LeftStart"},
         {"patrol=1<br>", "autopan=1<br>", "move=left<br>"}},
        {Kind::Head,
         {"/SetPTZ.cgi?CH=0&CMD=AUTOPAN", "/SetPTZ.cgi?CH=0&CMD=PANSTOP"},
         {"autopan=0<br>"}},
        {Kind::A,
         {"/SetPTZ.cgi?CH=0&Dir=UpStart", "/SetPTZ.cgi?CH=0&Dir=Stop",
          "/SetPTZ.cgi?CH=0&Dir=PanStart", "/SetPTZ.cgi?CH=0&Dir=PanStop"},
         {"move=none<br>", "autopan=0<br>"}},
        {Kind::A,
         {"/SetPTZ.cgi?CH=0&Dir=FocusFar", "/SetPTZ.cgi?CH=0&Dir=FocusFar",
          "/SetPTZ.cgi?CH=0&Dir=IRISSmall"},
         {"focus=2<br>", "iris=-1<br>"}},
        {Kind::A,
         {"/SetPTZ.cgi?CH=0&Dir=OSD_Menu", "/SetPTZ.cgi?CH=0&Dir=OSD_Down"},
         {"osd=1<br>", "osd_key=OSD_Down<br>"}},
        {Kind::A,
         {"/SetPTZ.cgi?CH=0&Dir=OSD_Menu", "/SetPTZ.cgi?CH=0&Dir=OSD_Exit"},
         {"osd=0<br>"}},
        {Kind::A, {"/SetPTZ.cgi?CH=0&Command=/wEACAAACQ%3D%3D"}, {"serial=FF010008000009<br>"}},
        {Kind::A, {"/SetPTZ.cgi?CH=0&PTZSpeed=7&PTZModel=3"}, {"speed=7<br>"}},
        {Kind::B,
         {"/RS232.cgi?Speed=4", "/RS232.cgi?Dir=FocusNear", "/RS232.cgi?Dir=IRISLarge"},
         {"speed = 4\n", "focus = -1\n", "iris = 1\n"}},
        {Kind::B, {"/MoveCamera.cgi?Dir=AutoPAN"}, {"autopan = 1\n"}},
        {Kind::Quad,
         {"/MoveCamera.cgi?Dir=AutoPAN", "/MoveCamera.cgi?Dir=PTZSTOP"},
         {"autopan = 0\n", "keys = AutoPAN,PTZSTOP\n"}},
    };
    for (const Case &c : cases) {
        Rig rig(c.kind);
        for (const std::string &target : c.targets) EXPECT_EQ(rig.ask(target), "OK") << target;
        std::string state = rig.ask("/GetSimState.cgi");
        for (const std::string &line : c.shown)
            EXPECT_NE(state.find(line), std::string::npos) << c.targets.back() << "\n" << state;
    }
    Rig a(Kind::A);
    a.ask("/SetPTZ.cgi?CH=2&Dir=Up&PTZBaudrate=2400&PTZID=4&PTZSpeed=7&PTZModel=3");
    EXPECT_NE(a.ask("/GetPTZ.cgi?CH=2")
                  .find("PTZModel=3<br>\r\nPTZSpeed=7<br>\r\nPTZID=4<br>\r\nPTZBaudrate=2400<br>"),
              std::string::npos);
    EXPECT_EQ(a.device->head(2).speed, 7);
    EXPECT_EQ(a.device->head(2).tilt, 1);
    Rig b(Kind::B);
    b.ask("/RS232.cgi?Speed=2");
    EXPECT_NE(b.ask("/GetPTZ.cgi").find("Speed = 2\n"), std::string::npos);
}

TEST(PtzStateTest, PresetsAreStoredRecalledAndRemoved) {
    struct Step {
        std::string target, reply;
        std::string listed = {};  // what GetPTZ.cgi then shows, "" to skip
        int pan = 0;              // where the head then points
    };
    struct Case {
        Kind kind;
        std::string getPtz;
        std::vector<Step> steps;
    } cases[] = {
        {Kind::Moves,
         "/GetPTZ.cgi?CH=1",
         {{"/SetPTZ.cgi?CH=1&Down860=0&Right860=5&Dir=GoDownRight", "OK", "", 5},
          {"/SetPTZ.cgi?CH=1&Dir=Preset3&PointName=3:Front%20door%26gate%2550", "OK",
           "PName03=Front door&gate%50<br>", 5},
          {"/SetPTZ.cgi?CH=1&Dir=Home", "OK", "", 0},
          {"/SetPTZ.cgi?CH=1&Dir=Point3", "OK", "", 5},
          {"/SetPTZ.cgi?CH=1&Dir=Left", "OK", "", 4},
          {"/SetPTZ.cgi?CH=1&RemoveName=Front%20door&Dir=Remove3", "OK", "PName03=<br>", 4},
          {"/SetPTZ.cgi?CH=1&Dir=Home", "OK", "", 0},
          {"/SetPTZ.cgi?CH=1&Dir=Point3", "No preset 3", "", 0},
          {"/SetPTZ.cgi?CH=1&Dir=Preset17", "Unknown Dir=Preset17", "", 0}}},
        {Kind::Head,
         "/GetPTZ.cgi?CH=1",
         {{"/SetPTZ.cgi?CH=1&CMD=RIGHT", "OK", "", 1},
          {"/SetPTZ.cgi?CH=1&CMD=SETPRESET&POINTER=16", "OK", "PName16=<br>", 1},
          {"/SetPTZ.cgi?CH=1&CMD=HOME", "OK", "", 0},
          {"/SetPTZ.cgi?CH=1&CMD=GOPRESET&POINTER=16", "OK", "", 1},
          {"/SetPTZ.cgi?CH=1&CMD=GOPRESET&POINTER=3", "No preset 3", "", 1}}},
        {Kind::B,
         "/GetPTZ.cgi",
         {{"/RS232.cgi?Dir=Left", "OK", "", -1},
          {"/RS232.cgi?PointName=2:Back%20door&Dir=Preset2", "OK", "PointName2 = Back door\n", -1},
          {"/RS232.cgi?PointName=0:Gate%20one&Dir=Preset0", "OK", "PointName0 = Gate one\n", -1},
          {"/RS232.cgi?Dir=Home", "OK", "", 0},
          {"/RS232.cgi?Dir=Point2", "OK", "", -1},
          {"/RS232.cgi?RemoveName=Back%20door&Dir=Remove2", "OK", "PointName2 = \n", -1},
          {"/RS232.cgi?Dir=Point2", "No preset 2", "PointName0 = Gate one\n", -1},
          {"/RS232.cgi?Dir=Preset10", "Unknown Dir=Preset10", "", -1}}},
    };
    for (const Case &c : cases) {
        Rig rig(c.kind);
        for (const Step &s : c.steps) {
            EXPECT_EQ(rig.ask(s.target), s.reply) << s.target;
            if (!s.listed.empty()) {
                EXPECT_NE(rig.ask(c.getPtz).find(s.listed), std::string::npos) << s.target;
            }
            EXPECT_EQ(rig.device->head(c.getPtz.ends_with("CH=1") ? 1 : 0).pan, s.pan) << s.target;
        }
    }
    // A factory reset forgets the presets with their names.
    Rig rig(Kind::A);
    rig.ask("/SetPTZ.cgi?CH=0&Dir=Preset1&PointName=1:Door");
    rig.ask("/SetFactoryDefault.cgi?DefaultNow");
    EXPECT_TRUE(rig.device->head().presets.empty());
    EXPECT_NE(rig.ask("/GetPTZ.cgi").find("PName01=<br>"), std::string::npos);
}

TEST(PtzStateTest, RecorderPlaysAndTakesKeys) {
    struct Step {
        std::string target;
        bool taken;
        PlayMode play;
        int speed = 1, channel = 0, split = 4;
    };
    struct Case {
        Kind kind;
        std::vector<Step> steps;
        std::vector<std::string> keys;
    } cases[] = {
        {Kind::A,
         {{"/SetPlayCmd.cgi?PLAYSTATE=PLAYBACK", true, PlayMode::Playback},
          {"/SetPlayCmd.cgi?PLAYSTATE=FF8", true, PlayMode::FastForward, 8},
          {"/SetPlayCmd.cgi?PLAYSTATE=FF3", false, PlayMode::FastForward, 8},
          {"/SetPlayCmd.cgi?PLAYSTATE=REW", true, PlayMode::Rewind},
          {"/SetPlayCmd.cgi?PLAYSTATE=LIVE", true, PlayMode::Live},
          {"/SetPlayCmd.cgi?PLAYSTATE=live", false, PlayMode::Live},
          {"/SetTimePlay.cgi?EVENT=261301000000", false, PlayMode::Live},
          {"/SetTimePlay.cgi?EVENT=2601310000", false, PlayMode::Live},
          {"/SetTimePlay.cgi?EVENT=260131235959", true, PlayMode::Playback},
          {"/SetDVRKey.cgi?DVRControl=dvrkey_ffwd", true, PlayMode::FastForward, 2},
          {"/SetDVRKey.cgi?DVRControl=dvrkey_ffwd", true, PlayMode::FastForward, 4},
          {"/SetDVRKey.cgi?DVRControl=dvrkey_frew", true, PlayMode::Rewind, 2},
          {"/SetDVRKey.cgi?DVRControl=dvrkey_pausefwd", true, PlayMode::Paused},
          {"/SetDVRKey.cgi?DVRControl=dvrkey_3", true, PlayMode::Paused, 1, 3, 1},
          {"/SetDVRKey.cgi?DVRControl=dvrkey_6", false, PlayMode::Paused, 1, 3, 1},
          {"/SetDVRKey.cgi?DVRControl=12", false, PlayMode::Paused, 1, 3, 1},
          {"/SetDVRKey.cgi?DVRControl=dvrkey_5", true, PlayMode::Paused},
          {"/SetDVRKey.cgi?DVRControl=dvrkey_sel", true, PlayMode::Paused},
          {"/SetDVRKey.cgi?DVRControl=dvrkey_stop", true, PlayMode::Live}},
         {"dvrkey_ffwd", "dvrkey_ffwd", "dvrkey_frew", "dvrkey_pausefwd", "dvrkey_3", "dvrkey_5",
          "dvrkey_sel", "dvrkey_stop"}},
        {Kind::Eight,
         {{"/MoveCamera.cgi?Dir=CH8", true, PlayMode::Live, 1, 8, 1},
          {"/MoveCamera.cgi?Dir=CH9", false, PlayMode::Live, 1, 8, 1},
          {"/MoveCamera.cgi?Dir=NINE_QUAD", true, PlayMode::Live, 1, 8, 1},
          {"/MoveCamera.cgi?Dir=BT4_16", true, PlayMode::Live},
          {"/MoveCamera.cgi?Dir=FFS", true, PlayMode::FastForward, 2},
          {"/MoveCamera.cgi?Dir=FFS", true, PlayMode::FastForward, 4},
          {"/MoveCamera.cgi?Dir=QUAD_PLAY", false, PlayMode::FastForward, 4},
          {"/MoveCamera.cgi?Dir=up", false, PlayMode::FastForward, 4},
          {"/MoveCamera.cgi?Dir=UP", true, PlayMode::FastForward, 4},
          {"/MoveCamera.cgi?Dir=BT13_16", true, PlayMode::FastForward, 4, 0, 13},
          {"/MoveCamera.cgi?Dir=FR", true, PlayMode::Paused, 1, 0, 13},
          {"/MoveCamera.cgi?Dir=STOP", true, PlayMode::Live, 1, 0, 13}},
         {"CH8", "NINE_QUAD", "BT4_16", "FFS", "FFS", "UP", "BT13_16", "FR", "STOP"}},
        {Kind::Quad,
         {{"/MoveCamera.cgi?Dir=QUAD_CH4", true, PlayMode::Live, 1, 4, 1},
          {"/MoveCamera.cgi?Dir=CH2", false, PlayMode::Live, 1, 4, 1},
          {"/MoveCamera.cgi?Dir=QUAD_4", true, PlayMode::Live},
          {"/MoveCamera.cgi?Dir=NINE_QUAD", false, PlayMode::Live},
          {"/MoveCamera.cgi?Dir=QUAD_PLAY", true, PlayMode::Playback},
          {"/MoveCamera.cgi?Dir=QUAD_RS", true, PlayMode::Rewind, 2}},
         {"QUAD_CH4", "QUAD_4", "QUAD_PLAY", "QUAD_RS"}},
        {Kind::B, {{"/MoveCamera.cgi?Dir=PLAY", false, PlayMode::Live}}, {}},
    };
    for (const Case &c : cases) {
        Rig rig(c.kind);
        for (const Step &s : c.steps) {
            const std::string reply = rig.ask(s.target);
            EXPECT_EQ(reply == "OK", s.taken) << s.target << ": " << reply;
            RecorderState r = rig.device->recorder();
            EXPECT_EQ(r.play, s.play) << s.target;
            EXPECT_EQ(r.speed, s.speed) << s.target;
            EXPECT_EQ(r.channel, s.channel) << s.target;
            EXPECT_EQ(r.split, s.split) << s.target;
        }
        EXPECT_EQ(rig.device->recorder().keys, c.keys);
    }
    Rig a(Kind::A);
    a.ask("/SetTimePlay.cgi?EVENT=260131235959");
    EXPECT_NE(a.ask("/GetSimState.cgi")
                  .find("play=playback<br>\r\nplay_speed=1<br>\r\n"
                        "play_from=260131235959<br>"),
              std::string::npos);
    a.ask("/SetDVRKey.cgi?DVRControl=dvrkey_stop");
    EXPECT_EQ(a.device->recorder().playFrom, "");
}

TEST(PtzStateTest, RequestsNotUnderstoodChangeNothing) {
    struct Case {
        Kind kind;
        std::vector<std::string> targets;
    } cases[] = {
        {Kind::A,
         {"/SetPTZ.cgi?CH=0&Dir=Sideways",
          "/SetPTZ.cgi?CH=0&Dir=",
          "/SetPTZ.cgi?Dir=Up",       // no channel
          "/SetPTZ.cgi?Dir=Up&CH=0",  // the channel not first
          "/SetPTZ.cgi?CH=0&CMD=UP",  // a built-in head's wording
          "/SetPTZ.cgi?CH=0&POINTER=2",
          "/SetPTZ.cgi?CH=0&Up860=3&Left860=2&Dir=GoUpLeft",  // moves of other models
          "/SetPTZ.cgi?CH=0&PTZModel=1&PTZID=9",              // out of order
          "/SetPTZ.cgi?CH=0&Dir=Up&Dir=Up",
          "/SetPTZ.cgi?CH=0&PName01=x",
          "/SetPTZ.cgi?CH=0&Dir=Point0",
          "/SetPTZ.cgi?CH=0&Dir=Preset2&PointName=3:x",
          "/SetPTZ.cgi?CH=0&PointName=2:x",
          "/SetPTZ.cgi?CH=0&Dir=Preset2&PointName=x",
          "/SetPTZ.cgi?CH=0&Command=!!&Dir=Up",
          "/SetPTZ.cgi?CH=0&Group=x&Dir=TourStart",
          "/SetPTZ.cgi?CH=0&Group=1&Dir=Up",
          "/SetPTZ.cgi?CH=0&Dir=Up&PTZID=9&PTZSpeed=fast",
          "/SetPTZ.cgi?CH=0&Dir=Point9",
          "/SetDVRKey.cgi?DVRControl=dvrkey_0",
          "/SetDVRKey.cgi?DVRControl=dvrkey_play&X=1",
          "/SetDVRKey.cgi?CH=0&DVRControl=dvrkey_play",
          "/SetDVRKey.cgi",
          "/SetPlayCmd.cgi?PLAYSTATE=FF128",
          "/SetTimePlay.cgi?EVENT=26013124000x"}},
        {Kind::Head,
         {"/SetPTZ.cgi?CH=0&CMD=JUMP", "/SetPTZ.cgi?CH=0&CMD=GOPRESET",
          "/SetPTZ.cgi?CH=0&CMD=UP&POINTER=2", "/SetPTZ.cgi?CH=0&POINTER=2",
          "/SetPTZ.cgi?CH=0&Dir=Up", "/SetPTZ.cgi?CH=0&POINTER=2&CMD=GOPRESET",
          "/SetPTZ.cgi?CH=0&CMD=UP&Dir=Up"}},
        {Kind::Moves,
         {"/SetPTZ.cgi?CH=0&Dir=Up&Up860=3", "/SetPTZ.cgi?CH=0&Up860=3&Left860=2&Dir=GoUpRight",
          "/SetPTZ.cgi?CH=0&Up860=x&Left860=2&Dir=GoUpLeft",
          "/SetPTZ.cgi?CH=0&Up860=3&Dir=GoUpLeft",
          "/SetPTZ.cgi?CH=0&Left860=2&Up860=3&Dir=GoUpLeft"}},
        {Kind::B,
         {"/RS232.cgi?Dir=UpStart", "/RS232.cgi?Dir=OSD_Menu", "/RS232.cgi?Dir=TourStart",
          "/RS232.cgi?Dir=Up&Speed=x", "/RS232.cgi?Foo=1&Dir=Up", "/RS232.cgi?Dir=Preset10",
          "/RS232.cgi?CH=0&Dir=Up", "/RS232.cgi?Speed=2&Dir=Up", "/MoveCamera.cgi?Dir=CH1",
          "/MoveCamera.cgi?Dir=upward", "/MoveCamera.cgi?Dir=Up&Dir=Up",
          "/MoveCamera.cgi?CH=0&Dir=Up", "/SetPTZ.cgi?CH=0&CameraID=3"}},
        {Kind::Eight, {"/MoveCamera.cgi?Dir=left", "/MoveCamera.cgi?Dir=CH0"}},
    };
    for (const Case &c : cases) {
        Rig rig(c.kind);
        // Something to lose: a moved head with a preset, a key, a setting.
        const bool b = c.kind == Kind::B || c.kind == Kind::Eight;
        const bool head = c.kind == Kind::Head;
        rig.ask(b      ? "/RS232.cgi?Dir=Right"
                : head ? "/SetPTZ.cgi?CH=0&CMD=RIGHT"
                       : "/SetPTZ.cgi?CH=0&Dir=Right&PTZID=2");
        rig.ask(b      ? "/RS232.cgi?PointName=2:Two&Dir=Preset2"
                : head ? "/SetPTZ.cgi?CH=0&CMD=SETPRESET&POINTER=2"
                       : "/SetPTZ.cgi?CH=0&Dir=Preset2&PointName=2:Two");
        rig.ask(b ? "/MoveCamera.cgi?Dir=CH2" : "/SetDVRKey.cgi?DVRControl=dvrkey_2");
        const std::string state = rig.ask("/GetSimState.cgi");
        const std::string ptz = rig.ask("/GetPTZ.cgi");
        ASSERT_NE(state.find(b ? "preset2 = 1,0,1" : "preset2=1,0,1"), std::string::npos) << state;
        for (const std::string &target : c.targets) {
            const std::string reply = rig.ask(target);
            EXPECT_NE(reply, "OK") << target;
            EXPECT_FALSE(reply.empty()) << target;
            EXPECT_EQ(rig.ask("/GetSimState.cgi"), state) << target;
            EXPECT_EQ(rig.ask("/GetPTZ.cgi"), ptz) << target;
        }
    }
}

TEST(PtzStateTest, ConcurrentMovesAreAllCounted) {
    Rig rig(Kind::A);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&rig, t] {
            for (int i = 0; i < 20; ++i)
                rig.ask(t % 2 ? "/SetPTZ.cgi?CH=3&Dir=Right" : "/SetPTZ.cgi?CH=3&Dir=Up");
        });
    for (std::thread &t : threads) t.join();
    EXPECT_EQ(rig.device->head(3).pan, 40);
    EXPECT_EQ(rig.device->head(3).tilt, 40);
}

}  // namespace
