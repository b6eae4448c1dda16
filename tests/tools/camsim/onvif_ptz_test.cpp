// The simulated ONVIF device's PTZ service on the simulator's head: continuous moves that
// GetSimState.cgi shows, their time-outs and stops, the velocities refused, and presets with
// tokens of the device's choosing.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tools/camsim/onvif_options.h"
#include "tools/camsim/onvif_test_client.h"
#include "tools/camsim/options.h"

using namespace kestrel_test;

namespace {

// GetSimState.cgi's lines as key and value.
std::map<std::string, std::string> onvifSimState(uint16_t port, int channel = 0) {
    const std::string reply =
        kestrel_test::exchange(port, get("/GetSimState.cgi?CH=" + std::to_string(channel)));
    std::map<std::string, std::string> state;
    std::size_t at = reply.find("\r\n\r\n");
    while (at != std::string::npos && at < reply.size()) {
        const std::size_t start = reply.find_first_not_of("\r\n", at);
        if (start == std::string::npos) break;
        const std::size_t end = reply.find("<br>", start);
        if (end == std::string::npos) break;
        const std::string line = reply.substr(start, end - start);
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos) state[line.substr(0, eq)] = line.substr(eq + 1);
        at = end + 4;
    }
    return state;
}

int onvifSimPan(uint16_t port, int channel = 0) {
    return std::stoi(onvifSimState(port, channel).at("pan"));
}

std::string ptzBody(const std::string &inner, const std::string &token = "profile_ch1") {
    return "<o:ProfileToken>" + token + "</o:ProfileToken>" + inner;
}

std::string ptzVelocity(const std::string &panTilt, const std::string &zoom = "") {
    const std::string t = "<t:", ns = " xmlns:t=\"" + std::string(uri::kSchema) + "\"";
    std::string inner;
    if (!panTilt.empty()) inner += t + "PanTilt" + ns + " " + panTilt + "/>";
    if (!zoom.empty()) inner += t + "Zoom" + ns + " " + zoom + "/>";
    return "<o:Velocity>" + inner + "</o:Velocity>";
}

HttpResult ptzCall(const OnvifRig &rig, const char *operation, const std::string &inner,
                   const std::string &token = "profile_ch1") {
    return rig.signedCall(kPtzService, op(uri::kPtz, operation, ptzBody(inner, token)));
}

std::string ptzPresetToken(const HttpResult &r) {
    SoapReply reply(r.body);
    return camsim::elementText(child(reply.body, uri::kPtz, "PresetToken"));
}

}  // namespace

TEST(OnvifPtzTest, ContinuousMoveTurnsTheHeadUntilStopped) {
    OnvifRig rig;
    ASSERT_TRUE(rig.ok);
    const uint16_t port = rig.web.port();
    EXPECT_EQ(ptzCall(rig, "ContinuousMove", ptzVelocity("x=\"0.5\" y=\"-0.25\"")).status, 200);
    EXPECT_TRUE(eventually([&] { return onvifSimPan(port) >= 3; }));
    auto moving = onvifSimState(port);
    EXPECT_EQ(moving.at("move"), "glide");
    EXPECT_LT(std::stoi(moving.at("tilt")), 0);
    SoapReply status(ptzCall(rig, "GetStatus", "").body);
    xmlNode *moves = child(child(status.body, uri::kPtz, "PTZStatus"), uri::kSchema, "MoveStatus");
    EXPECT_EQ(camsim::elementText(child(moves, uri::kSchema, "PanTilt")), "MOVING");

    EXPECT_EQ(ptzCall(rig, "Stop", "<o:PanTilt>true</o:PanTilt><o:Zoom>false</o:Zoom>").status,
              200);
    const int stoppedAt = onvifSimPan(port);
    EXPECT_EQ(onvifSimState(port).at("move"), "none");
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(onvifSimPan(port), stoppedAt);
    // GetStatus reports the same place in the generic space: pan/180.
    SoapReply idle(ptzCall(rig, "GetStatus", "").body);
    xmlNode *position = child(child(idle.body, uri::kPtz, "PTZStatus"), uri::kSchema, "Position");
    const double x =
        std::stod(camsim::attribute(child(position, uri::kSchema, "PanTilt"), "x").value_or("9"));
    EXPECT_NEAR(x * 180, stoppedAt, 0.5);
}

TEST(OnvifPtzTest, TimeoutEndsTheMoveWhereTheVelocityTookIt) {
    OnvifRig rig;
    ASSERT_TRUE(rig.ok);
    const uint16_t port = rig.web.port();
    // Full speed crosses the 360 degrees of pan in four seconds: 0.3 s is 27 degrees, 0.5 s of
    // zoom at full speed is 2.25 of its 9 steps.
    EXPECT_EQ(
        ptzCall(rig, "ContinuousMove",
                ptzVelocity("x=\"+1\" y=\"0\"", "x=\"1E0\"") + "<o:Timeout>PT0.3S</o:Timeout>")
            .status,
        200);
    EXPECT_TRUE(eventually([&] { return onvifSimState(port).at("move") == "none"; }));
    const auto state = onvifSimState(port);
    EXPECT_EQ(state.at("pan"), "27");
    EXPECT_EQ(state.at("zoom"), "2");  // 1 + 0.3 * 4.5, rounded
    // Without a Timeout the device's default (PT10S) applies: still moving a moment later.
    EXPECT_EQ(ptzCall(rig, "ContinuousMove", ptzVelocity("x=\"-0.1\" y=\"0\"")).status, 200);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(onvifSimState(port).at("move"), "glide");
    EXPECT_EQ(ptzCall(rig, "Stop", "").status, 200);
}

TEST(OnvifPtzTest, BadMovesAreRefusedAndMoveNothing) {
    const std::vector<std::string> badVelocity = {soapCode("Sender"), onvifCode("InvalidArgVal"),
                                                  onvifCode("InvalidVelocity")};
    const std::vector<std::string> badArg = {soapCode("Sender"), onvifCode("InvalidArgVal")};
    const std::vector<std::string> badTimeout = {soapCode("Sender"), onvifCode("InvalidArgVal"),
                                                 onvifCode("TimeoutNotSupported")};
    struct Case {
        std::string inner;
        std::vector<std::string> codes;
    } cases[] = {
        {ptzVelocity("x=\"1.01\" y=\"0\""), badVelocity},
        {ptzVelocity("x=\"0\" y=\"-1.5\""), badVelocity},
        {ptzVelocity("", "x=\"2\""), badVelocity},
        {ptzVelocity("x=\"NaN\" y=\"0\""), badVelocity},
        {ptzVelocity("x=\"0.5\""), badVelocity},
        {ptzVelocity("x=\"half\" y=\"0\""), badVelocity},
        {"", badVelocity},
        {ptzVelocity("x=\"0.5\" y=\"0\"") + "<o:Timeout>1S</o:Timeout>", badArg},
        {ptzVelocity("x=\"0.5\" y=\"0\"") + "<o:Timeout>-PT1S</o:Timeout>", badArg},
        {ptzVelocity("x=\"0.5\" y=\"0\"") + "<o:Timeout>P1M</o:Timeout>", badArg},
        {ptzVelocity("x=\"0.5\" y=\"0\"") + "<o:Timeout>PT0S</o:Timeout>", badTimeout},
        {ptzVelocity("x=\"0.5\" y=\"0\"") + "<o:Timeout>PT2H</o:Timeout>", badTimeout},
        {ptzVelocity("x=\"0.5\" y=\"0\" space=\"http://www.onvif.org/ver10/tptz/PanTiltSpaces/"
                     "TranslationGenericSpace\""),
         {soapCode("Sender"), onvifCode("InvalidArgVal"), onvifCode("SpaceNotSupported")}},
    };
    OnvifRig rig;
    ASSERT_TRUE(rig.ok);
    for (const Case &c : cases) {
        const HttpResult r = ptzCall(rig, "ContinuousMove", c.inner);
        EXPECT_EQ(r.status, 400) << c.inner;
        EXPECT_EQ(faultCodes(r.body), c.codes) << c.inner << "\n" << r.body;
    }
    EXPECT_EQ(
        faultCodes(
            ptzCall(rig, "ContinuousMove", ptzVelocity("x=\"1\" y=\"0\""), "profile_ch9").body),
        (std::vector<std::string>{soapCode("Sender"), onvifCode("InvalidArgVal"),
                                  onvifCode("NoProfile")}));
    const auto state = onvifSimState(rig.web.port());
    EXPECT_EQ(state.at("pan"), "0");
    EXPECT_EQ(state.at("move"), "none");
}

TEST(OnvifPtzTest, PresetsRoundTripWithTokensOfTheDevicesChoosing) {
    OnvifRig rig;
    ASSERT_TRUE(rig.ok);
    const uint16_t port = rig.web.port();
    // To pan 45: half speed for a second, long enough to ask for a preset on the way.
    ASSERT_EQ(ptzCall(rig, "ContinuousMove",
                      ptzVelocity("x=\"0.5\" y=\"0\"") + "<o:Timeout>PT1S</o:Timeout>")
                  .status,
              200);
    // A preset cannot be stored while the head moves.
    EXPECT_EQ(faultCodes(ptzCall(rig, "SetPreset", "<o:PresetName>Gate</o:PresetName>").body),
              (std::vector<std::string>{soapCode("Receiver"), onvifCode("Action"),
                                        onvifCode("MovingPTZ")}));
    ASSERT_TRUE(eventually([&] { return onvifSimState(port).at("move") == "none"; }));

    const std::string gate =
        ptzPresetToken(ptzCall(rig, "SetPreset", "<o:PresetName>Gate one</o:PresetName>"));
    EXPECT_FALSE(gate.empty());
    EXPECT_TRUE(gate.find_first_not_of("0123456789") != std::string::npos) << gate;
    EXPECT_EQ(ptzCall(rig, "GotoHomePosition", "").status, 200);
    EXPECT_EQ(onvifSimPan(port), 0);
    const std::string door = ptzPresetToken(ptzCall(rig, "SetPreset", ""));
    EXPECT_NE(door, gate);
    // Names are the device's own: another preset may not take one in use.
    EXPECT_EQ(faultCodes(ptzCall(rig, "SetPreset", "<o:PresetName>Gate one</o:PresetName>").body),
              (std::vector<std::string>{soapCode("Sender"), onvifCode("InvalidArgVal"),
                                        onvifCode("PresetExist")}));

    SoapReply listed(ptzCall(rig, "GetPresets", "").body);
    std::map<std::string, std::pair<std::string, std::string>> presets;  // token: name, x
    for (xmlNode *p : children(listed.body, uri::kPtz, "Preset")) {
        xmlNode *panTilt = child(child(p, uri::kSchema, "PTZPosition"), uri::kSchema, "PanTilt");
        presets[camsim::attribute(p, "token").value_or("")] = {
            camsim::elementText(child(p, uri::kSchema, "Name")),
            camsim::attribute(panTilt, "x").value_or("")};
    }
    ASSERT_EQ(presets.size(), 2u) << listed.body;
    EXPECT_EQ(presets[gate], (std::pair<std::string, std::string>{"Gate one", "0.25"}));
    EXPECT_EQ(presets[door].second, "0");

    EXPECT_EQ(ptzCall(rig, "GotoPreset", "<o:PresetToken>" + gate + "</o:PresetToken>").status,
              200);
    EXPECT_EQ(onvifSimPan(port), 45);
    // The state page lists the preset as the head stores it.
    const std::string number = gate.substr(gate.find_first_of("0123456789"));
    EXPECT_EQ(onvifSimState(port).at("preset" + number), "45,0,1,Gate one");
    // Storing with a token overwrites that preset, keeping its name.
    EXPECT_EQ(ptzCall(rig, "GotoHomePosition", "").status, 200);
    EXPECT_EQ(
        ptzPresetToken(ptzCall(rig, "SetPreset", "<o:PresetToken>" + gate + "</o:PresetToken>")),
        gate);
    EXPECT_EQ(onvifSimState(port).at("preset" + number), "0,0,1,Gate one");

    const std::vector<std::string> noToken = {soapCode("Sender"), onvifCode("InvalidArgVal"),
                                              onvifCode("NoToken")};
    EXPECT_EQ(ptzCall(rig, "RemovePreset", "<o:PresetToken>" + door + "</o:PresetToken>").status,
              200);
    for (const char *operation : {"RemovePreset", "GotoPreset", "SetPreset"}) {
        for (const std::string &token : {door, number, std::string("Preset_99")}) {
            const HttpResult r =
                ptzCall(rig, operation, "<o:PresetToken>" + token + "</o:PresetToken>");
            EXPECT_EQ(faultCodes(r.body), noToken) << operation << " " << token;
        }
    }
}

TEST(OnvifPtzTest, FamilyACameraHeadsFollowTheirProfiles) {
    std::string error;
    auto options = camsim::parseOptions(
        {"--device", "family-a", "--onvif", "--channel", "mpeg4:320x240@10", "--channel",
         "jpeg:320x240@5", "--rtsp-user", "viewer", "--rtsp-password", "pass word"},
        error);
    ASSERT_TRUE(options) << error;
    camsim::CgiServer web;
    camsim::StreamingServer rtsp;
    auto camera = camsim::applyDevice(*options, rtsp, web);
    auto device = camsim::makeOnvifDevice(*options, rtsp, web, camera);
    ASSERT_TRUE(camera && device);
    ASSERT_TRUE(web.start() && rtsp.start());
    Token token;
    token.user = "viewer";
    token.password = "pass word";
    token.created = utcText(std::chrono::system_clock::now());
    const HttpResult r = postSoap(
        web.port(), kPtzService,
        envelope(op(uri::kPtz, "ContinuousMove",
                    ptzBody(ptzVelocity("x=\"0\" y=\"1\"") + "<o:Timeout>PT0.2S</o:Timeout>",
                            "profile_ch2")),
                 token.header()));
    EXPECT_EQ(r.status, 200) << r.body;
    EXPECT_TRUE(eventually([&] { return camera->head(1).tilt == 9; }));
    EXPECT_EQ(camera->head(0).tilt, 0);
    EXPECT_EQ(onvifSimState(web.port(), 1).at("tilt"), "9");

    // Storing a preset over CGI lets a glide go on; a step ends it where it got to.
    token.nonce = randomBytes(16);
    ASSERT_EQ(postSoap(web.port(), kPtzService,
                       envelope(op(uri::kPtz, "ContinuousMove",
                                   ptzBody(ptzVelocity("x=\"0.5\" y=\"0\""))),
                                token.header()))
                  .status,
              200);
    auto cgi = [&](const std::string &target) {
        const std::string reply = kestrel_test::exchange(web.port(), get(target));
        return reply.substr(reply.find("\r\n\r\n") + 4);
    };
    EXPECT_EQ(cgi("/SetPTZ.cgi?CH=0&Dir=Preset3&PointName=3:Door"), "OK");
    EXPECT_EQ(camera->head(0).drift, camsim::Drift::Glide);
    EXPECT_TRUE(eventually([&] { return camera->head(0).pan >= 2; }));
    EXPECT_EQ(cgi("/SetPTZ.cgi?CH=0&Dir=Up"), "OK");
    const camsim::HeadState stepped = camera->head(0);
    EXPECT_EQ(stepped.drift, camsim::Drift::None);
    EXPECT_EQ(stepped.tilt, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(camera->head(0).pan, stepped.pan);
}
