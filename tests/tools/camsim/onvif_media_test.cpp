// The simulated ONVIF device's media services: a profile per channel, H.265 ones only in Media2,
// stream URIs that play with the same account, and the stream setups a device refuses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/camsim/onvif_test_client.h"
#include "tools/camsim/rtsp_test_client.h"

using namespace kestrel_test;

namespace {

using MediaCodec = camsim::ChannelConfig::Codec;

std::vector<camsim::ChannelConfig> mediaTestChannels() {
    return {{.codec = MediaCodec::Mpeg4, .width = 320, .height = 240, .fps = 10},
            {.codec = MediaCodec::H265, .width = 640, .height = 360, .fps = 15},
            {.codec = MediaCodec::Jpeg, .width = 176, .height = 144, .fps = 5},
            {.codec = MediaCodec::H264, .width = 1280, .height = 720, .fps = 25}};
}

struct ListedProfile {
    std::string token, encoding;
    int width = 0, height = 0;
    bool operator==(const ListedProfile &) const = default;
};

std::ostream &operator<<(std::ostream &out, const ListedProfile &p) {
    return out << p.token << " " << p.encoding << " " << p.width << "x" << p.height;
}

// The tokens, encodings and sizes of a GetProfiles answer; encoder is the element that holds
// the video encoder configuration within a profile.
std::vector<ListedProfile> listedProfiles(const HttpResult &r, const char *ns, bool media2) {
    SoapReply reply(r.body);
    std::vector<ListedProfile> out;
    for (xmlNode *profile : children(reply.body, ns, "Profiles")) {
        xmlNode *encoder =
            media2 ? child(child(profile, uri::kMedia2, "Configurations"), uri::kMedia2,
                           "VideoEncoder")
                   : child(profile, uri::kSchema, "VideoEncoderConfiguration");
        xmlNode *size = child(encoder, uri::kSchema, "Resolution");
        ListedProfile p{camsim::attribute(profile, "token").value_or(""),
                        camsim::elementText(child(encoder, uri::kSchema, "Encoding"))};
        p.width = std::atoi(camsim::elementText(child(size, uri::kSchema, "Width")).c_str());
        p.height = std::atoi(camsim::elementText(child(size, uri::kSchema, "Height")).c_str());
        out.push_back(p);
    }
    return out;
}

std::string media1Setup(const std::string &stream, const std::string &protocol) {
    return "<o:StreamSetup><t:Stream xmlns:t=\"" + std::string(uri::kSchema) + "\">" + stream +
           "</t:Stream><t:Transport xmlns:t=\"" + std::string(uri::kSchema) + "\"><t:Protocol>" +
           protocol + "</t:Protocol></t:Transport></o:StreamSetup>";
}

std::string media1Uri(const OnvifRig &rig, const std::string &token) {
    const HttpResult r = rig.signedCall(
        kMediaService, op(uri::kMedia, "GetStreamUri",
                          media1Setup("RTP-Unicast", "RTSP") + "<o:ProfileToken>" + token +
                              "</o:ProfileToken>"));
    SoapReply reply(r.body);
    return camsim::elementText(
        child(child(reply.body, uri::kMedia, "MediaUri"), uri::kSchema, "Uri"));
}

std::string media2Uri(const OnvifRig &rig, const std::string &token) {
    const HttpResult r = rig.signedCall(
        kMedia2Service, op(uri::kMedia2, "GetStreamUri",
                           "<o:Protocol>RTSP</o:Protocol><o:ProfileToken>" + token +
                               "</o:ProfileToken>"));
    SoapReply reply(r.body);
    return camsim::elementText(child(reply.body, uri::kMedia2, "Uri"));
}

}  // namespace

TEST(OnvifMediaTest, Media1LeavesH265OutAndMedia2ListsEveryChannel) {
    OnvifRig rig({}, mediaTestChannels());
    ASSERT_TRUE(rig.ok);
    const std::vector<ListedProfile> media1 = {{"profile_ch1", "MPEG4", 320, 240},
                                               {"profile_ch3", "JPEG", 176, 144},
                                               {"profile_ch4", "H264", 1280, 720}};
    const std::vector<ListedProfile> media2 = {{"profile_ch1", "MPV4-ES", 320, 240},
                                               {"profile_ch2", "H265", 640, 360},
                                               {"profile_ch3", "JPEG", 176, 144},
                                               {"profile_ch4", "H264", 1280, 720}};
    EXPECT_EQ(listedProfiles(rig.signedCall(kMediaService, op(uri::kMedia, "GetProfiles")),
                             uri::kMedia, false),
              media1);
    EXPECT_EQ(listedProfiles(rig.signedCall(kMedia2Service,
                                            op(uri::kMedia2, "GetProfiles",
                                               "<o:Type>All</o:Type>")),
                             uri::kMedia2, true),
              media2);
    // Every profile carries a PTZ configuration.
    SoapReply all(rig.signedCall(kMediaService, op(uri::kMedia, "GetProfiles")).body);
    for (xmlNode *profile : children(all.body, uri::kMedia, "Profiles"))
        EXPECT_NE(child(profile, uri::kSchema, "PTZConfiguration"), nullptr);
}

TEST(OnvifMediaTest, Media2GivesOnlyTheConfigurationsAsked) {
    OnvifRig rig({}, mediaTestChannels());
    ASSERT_TRUE(rig.ok);
    auto configurations = [&](const std::string &inner) {
        SoapReply reply(
            rig.signedCall(kMedia2Service, op(uri::kMedia2, "GetProfiles", inner)).body);
        std::vector<std::string> names;
        for (xmlNode *profile : children(reply.body, uri::kMedia2, "Profiles")) {
            names.push_back(camsim::attribute(profile, "token").value_or("") + ":");
            xmlNode *set = child(profile, uri::kMedia2, "Configurations");
            for (xmlNode *c = camsim::firstElement(set); c; c = camsim::nextElement(c))
                names.back() += " " + std::string(camsim::localName(c));
        }
        return names;
    };
    EXPECT_EQ(configurations("<o:Token>profile_ch2</o:Token><o:Type>VideoEncoder</o:Type>"),
              std::vector<std::string>{"profile_ch2: VideoEncoder"});
    EXPECT_EQ(configurations("<o:Token>profile_ch3</o:Token><o:Type>PTZ</o:Type>"
                             "<o:Type>VideoSource</o:Type>"),
              std::vector<std::string>{"profile_ch3: VideoSource PTZ"});
    EXPECT_EQ(configurations("<o:Token>profile_ch1</o:Token>"),
              std::vector<std::string>{"profile_ch1:"});
    EXPECT_EQ(faultCodes(rig.signedCall(kMedia2Service,
                                        op(uri::kMedia2, "GetProfiles", "<o:Token>ch1</o:Token>"))
                             .body),
              (std::vector<std::string>{soapCode("Sender"), onvifCode("InvalidArgVal"),
                                        onvifCode("NoProfile")}));
}

TEST(OnvifMediaTest, StreamUriPlaysWithTheSameAccount) {
    std::vector<camsim::ChannelConfig> channels = mediaTestChannels();
    channels[0].paths = {"/Streaming/Channels/101"};
    channels[2].paths = {"/cam/realmonitor?channel=1&subtype=0"};
    camsim::RtspAuthConfig auth{.scheme = camsim::RtspAuthConfig::Scheme::DigestMd5};
    OnvifRig rig({}, channels, auth);
    ASSERT_TRUE(rig.ok);
    const std::string base = "rtsp://127.0.0.1:" + std::to_string(rig.rtsp.port());
    struct Case {
        std::string token, uri;
        bool media1;
    } cases[] = {{"profile_ch1", base + "/Streaming/Channels/101", true},
                 {"profile_ch3", base + "/cam/realmonitor?channel=1&subtype=0", true},
                 {"profile_ch2", base + "/CH02", false}};
    for (const Case &c : cases) {
        if (c.media1) {
            EXPECT_EQ(media1Uri(rig, c.token), c.uri);
        }
        EXPECT_EQ(media2Uri(rig, c.token), c.uri);
    }
    // DESCRIBE the first URI with the device's account: refused without it, 200 with it.
    const std::string streamUri = media1Uri(rig, "profile_ch1");
    RtspClient rtsp(rig.rtsp.port());
    const RtspReply challenge =
        rtsp.request("DESCRIBE " + streamUri + " RTSP/1.0\r\nCSeq: 1\r\n\r\n");
    ASSERT_EQ(challenge.status, 401);
    DigestAnswer answer;
    answer.method = "DESCRIBE";
    answer.uri = streamUri;
    const RtspReply described =
        rtsp.request("DESCRIBE " + streamUri + " RTSP/1.0\r\nCSeq: 2\r\n" +
                     answer.header(challenge.header("WWW-Authenticate")) + "\r\n");
    EXPECT_EQ(described.status, 200) << described.head;
    EXPECT_NE(described.body.find("m=video"), std::string::npos);
}

TEST(OnvifMediaTest, InternalUriQuirkNamesAnotherHost) {
    camsim::OnvifConfig config;
    config.internalUri = true;
    OnvifRig rig(config);
    ASSERT_TRUE(rig.ok);
    const std::string expected = "rtsp://192.168.0.64:" + std::to_string(rig.rtsp.port()) + "/CH01";
    EXPECT_EQ(media1Uri(rig, "profile_ch1"), expected);
    EXPECT_EQ(media2Uri(rig, "profile_ch1"), expected);
}

TEST(OnvifMediaTest, UnservedSetupsAndUnknownProfilesAreRefused) {
    const std::vector<std::string> badSetup = {soapCode("Sender"), onvifCode("InvalidArgVal"),
                                               onvifCode("InvalidStreamSetup")};
    const std::vector<std::string> badProfile = {soapCode("Sender"), onvifCode("InvalidArgVal"),
                                                 onvifCode("NoProfile")};
    const std::string token = "<o:ProfileToken>profile_ch1</o:ProfileToken>";
    struct Case {
        const char *name, *path, *ns;
        std::string inner;
        std::vector<std::string> codes;
    } cases[] = {
        {"multicast", kMediaService, uri::kMedia, media1Setup("RTP-Multicast", "RTSP") + token,
         badSetup},
        {"UDP", kMediaService, uri::kMedia, media1Setup("RTP-Unicast", "UDP") + token, badSetup},
        {"HTTP", kMediaService, uri::kMedia, media1Setup("RTP-Unicast", "HTTP") + token,
         badSetup},
        {"no setup", kMediaService, uri::kMedia, token, badSetup},
        {"Stream in the media namespace", kMediaService, uri::kMedia,
         "<o:StreamSetup><o:Stream>RTP-Unicast</o:Stream><o:Transport><o:Protocol>RTSP"
         "</o:Protocol></o:Transport></o:StreamSetup>" +
             token,
         badSetup},
        {"index for token", kMediaService, uri::kMedia,
         media1Setup("RTP-Unicast", "RTSP") + "<o:ProfileToken>1</o:ProfileToken>", badProfile},
        {"H.265 through Media", kMediaService, uri::kMedia,
         media1Setup("RTP-Unicast", "RTSP") + "<o:ProfileToken>profile_ch3</o:ProfileToken>",
         badProfile},
        {"Media2 multicast", kMedia2Service, uri::kMedia2,
         "<o:Protocol>RtspMulticast</o:Protocol>" + token, badSetup},
        {"Media2 unknown profile", kMedia2Service, uri::kMedia2,
         "<o:Protocol>RTSP</o:Protocol><o:ProfileToken>Profile_1</o:ProfileToken>", badProfile},
    };
    OnvifRig rig;
    ASSERT_TRUE(rig.ok);
    for (const Case &c : cases) {
        const HttpResult r = rig.signedCall(c.path, op(c.ns, "GetStreamUri", c.inner));
        EXPECT_EQ(r.status, 400) << c.name;
        EXPECT_EQ(faultCodes(r.body), c.codes) << c.name << "\n" << r.body;
    }
}
