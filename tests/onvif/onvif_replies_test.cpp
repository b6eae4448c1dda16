#include "onvif/onvif_replies.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace ipcam;

namespace {

// Bodies as devices send them: the same messages under the prefixes of different toolkits,
// with fields in the schema's namespace or the service's.
std::string envelopeOf(const std::string &env, const std::string &body) {
    return "<" + env + ":Envelope xmlns:" + env +
           "=\"http://www.w3.org/2003/05/soap-envelope\" "
           "xmlns:tt=\"http://www.onvif.org/ver10/schema\" "
           "xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\" "
           "xmlns:trt=\"http://www.onvif.org/ver10/media/wsdl\" "
           "xmlns:tr2=\"http://www.onvif.org/ver20/media/wsdl\" "
           "xmlns:ns9=\"http://www.onvif.org/ver20/ptz/wsdl\"><" +
           env + ":Body>" + body + "</" + env + ":Body></" + env + ":Envelope>";
}

SoapReply replyOf(const std::string &env, const std::string &body) {
    auto reply = readSoapReply(envelopeOf(env, body));
    EXPECT_TRUE(reply) << body;
    return reply ? std::move(*reply) : SoapReply{};
}

TEST(OnvifRepliesTest, DeviceClock) {
    const std::string utc =
        "<tt:UTCDateTime><tt:Time><tt:Hour>9</tt:Hour><tt:Minute>2</tt:Minute><tt:Second>3</tt:Second></tt:Time>"
        "<tt:Date><tt:Year>2026</tt:Year><tt:Month>12</tt:Month><tt:Day>8</tt:Day></tt:Date></tt:UTCDateTime>";
    const struct {
        std::string body;
        int64_t seconds;  // -1: none
    } cases[] = {
        {"<tds:GetSystemDateAndTimeResponse><tds:SystemDateAndTime><tt:DateTimeType>NTP</tt:DateTimeType>" +
             utc + "</tds:SystemDateAndTime></tds:GetSystemDateAndTimeResponse>",
         1796720523},
        // Fields in the service's namespace, under another prefix.
        {"<d:GetSystemDateAndTimeResponse xmlns:d=\"http://www.onvif.org/ver10/device/wsdl\"><d:SystemDateAndTime>"
         "<d:UTCDateTime><d:Time><d:Hour>9</d:Hour><d:Minute>2</d:Minute><d:Second>3</d:Second></d:Time>"
         "<d:Date><d:Year>2026</d:Year><d:Month>12</d:Month><d:Day>8</d:Day></d:Date></d:UTCDateTime>"
         "</d:SystemDateAndTime></d:GetSystemDateAndTimeResponse>",
         1796720523},
        // Only local time: nothing to go by.
        {"<tds:GetSystemDateAndTimeResponse><tds:SystemDateAndTime><tt:LocalDateTime/></tds:SystemDateAndTime></tds:GetSystemDateAndTimeResponse>",
         -1},
        {"<tds:GetSystemDateAndTimeResponse><tds:SystemDateAndTime>" +
             std::string(utc).replace(utc.find(">9<"), 3, ">25<") +
             "</tds:SystemDateAndTime></tds:GetSystemDateAndTimeResponse>",
         -1},
        // The right shape in the wrong service.
        {"<trt:GetSystemDateAndTimeResponse><tds:SystemDateAndTime>" + utc +
             "</tds:SystemDateAndTime></trt:GetSystemDateAndTimeResponse>",
         -1},
    };
    for (const auto &c : cases) {
        const auto time = readDeviceTime(replyOf("SOAP-ENV", c.body));
        EXPECT_EQ(time.value_or(-1), c.seconds) << c.body;
    }
}

TEST(OnvifRepliesTest, ServicesAndCapabilities) {
    const auto services = readServices(replyOf(
        "env",
        "<tds:GetServicesResponse>"
        "<tds:Service><tds:Namespace>http://www.onvif.org/ver10/device/wsdl</tds:Namespace><tds:XAddr>http://10.0.0.2/onvif/device_service</tds:XAddr></tds:Service>"
        "<tds:Service><tds:Namespace>http://www.onvif.org/ver10/media/wsdl</tds:Namespace><tds:XAddr>http://10.0.0.2/onvif/Media</tds:XAddr></tds:Service>"
        "<tds:Service><tds:Namespace> http://www.onvif.org/ver20/media/wsdl </tds:Namespace><tds:XAddr>http://10.0.0.2/onvif/Media2</tds:XAddr></tds:Service>"
        "<tds:Service><tds:Namespace>http://www.onvif.org/ver20/ptz/wsdl</tds:Namespace><tds:XAddr>http://10.0.0.2:8080/onvif/PTZ</tds:XAddr></tds:Service>"
        "</tds:GetServicesResponse>"));
    ASSERT_TRUE(services);
    EXPECT_EQ(services->media, "http://10.0.0.2/onvif/Media");
    EXPECT_EQ(services->media2, "http://10.0.0.2/onvif/Media2");
    EXPECT_EQ(services->ptz, "http://10.0.0.2:8080/onvif/PTZ");

    const auto capabilities = readCapabilities(replyOf(
        "s",
        "<tds:GetCapabilitiesResponse><tds:Capabilities><tt:Media><tt:XAddr>http://h/media</tt:XAddr></tt:Media>"
        "<tt:PTZ><tt:XAddr>http://h/ptz</tt:XAddr></tt:PTZ></tds:Capabilities></tds:GetCapabilitiesResponse>"));
    ASSERT_TRUE(capabilities);
    EXPECT_EQ(capabilities->media, "http://h/media");
    EXPECT_TRUE(capabilities->media2.empty());
    EXPECT_EQ(capabilities->ptz, "http://h/ptz");

    EXPECT_FALSE(readServices(replyOf("s", "<tds:GetCapabilitiesResponse/>")));
}

TEST(OnvifRepliesTest, ProfilesOfBothMediaServices) {
    const std::string media1 =
        "<trt:GetProfilesResponse>"
        "<trt:Profiles token=\"Profile_1\" fixed=\"true\"><tt:Name>mainStream</tt:Name>"
        "<tt:VideoSourceConfiguration token=\"v\"><tt:Name>x</tt:Name></tt:VideoSourceConfiguration>"
        "<tt:VideoEncoderConfiguration token=\"e\"><tt:Name>enc</tt:Name><tt:Encoding>H264</tt:Encoding>"
        "<tt:Resolution><tt:Width>1920</tt:Width><tt:Height>1080</tt:Height></tt:Resolution></tt:VideoEncoderConfiguration>"
        "<tt:PTZConfiguration token=\"p\"/></trt:Profiles>"
        "<trt:Profiles><tt:Name>no token</tt:Name></trt:Profiles>"
        "<trt:Profiles token=\"Profile_2\"><tt:Name>sub</tt:Name><tt:VideoEncoderConfiguration><tt:Encoding>JPEG</tt:Encoding>"
        "<tt:Resolution><tt:Width>-5</tt:Width><tt:Height>240</tt:Height></tt:Resolution></tt:VideoEncoderConfiguration></trt:Profiles>"
        "<trt:Profiles token=\"audio\"><tt:Name>audio only</tt:Name></trt:Profiles>"
        "</trt:GetProfilesResponse>";
    const auto one = readProfiles(replyOf("SOAP-ENV", media1), MediaVersion::Media);
    ASSERT_TRUE(one);
    ASSERT_EQ(one->size(), 3u);
    EXPECT_EQ((*one)[0].token, "Profile_1");
    EXPECT_EQ((*one)[0].name, "mainStream");
    EXPECT_EQ((*one)[0].codec, "H264");
    EXPECT_EQ((*one)[0].width, 1920);
    EXPECT_EQ((*one)[0].height, 1080);
    EXPECT_TRUE((*one)[0].ptz);
    EXPECT_EQ((*one)[1].codec, "JPEG");
    EXPECT_EQ((*one)[1].width, 0);  // a negative width is no size at all
    EXPECT_FALSE((*one)[1].ptz);
    EXPECT_TRUE((*one)[2].codec.empty());
    // Media's answer is not read as Media2's.
    EXPECT_FALSE(readProfiles(replyOf("SOAP-ENV", media1), MediaVersion::Media2));

    const auto two = readProfiles(
        replyOf("e",
                "<tr2:GetProfilesResponse><tr2:Profiles token=\"p265\" fixed=\"false\"><tr2:Name>hevc</tr2:Name>"
                "<tr2:Configurations><tr2:VideoEncoder token=\"e\" GovLength=\"30\"><tt:Name>e</tt:Name>"
                "<tt:Encoding>H265</tt:Encoding><tt:Resolution><tt:Width>3840</tt:Width><tt:Height>2160</tt:Height></tt:Resolution>"
                "</tr2:VideoEncoder><tr2:PTZ token=\"ptz\"/></tr2:Configurations></tr2:Profiles>"
                "<tr2:Profiles token=\"mp4\"><tr2:Name>old</tr2:Name><tr2:Configurations><tr2:VideoEncoder>"
                "<tt:Encoding>MPV4-ES</tt:Encoding></tr2:VideoEncoder></tr2:Configurations></tr2:Profiles>"
                "</tr2:GetProfilesResponse>"),
        MediaVersion::Media2);
    ASSERT_TRUE(two);
    ASSERT_EQ(two->size(), 2u);
    EXPECT_EQ((*two)[0].codec, "H265");
    EXPECT_EQ((*two)[0].width, 3840);
    EXPECT_TRUE((*two)[0].ptz);
    EXPECT_EQ((*two)[1].codec, "MPEG4");
}

TEST(OnvifRepliesTest, StreamUrisAndPresets) {
    EXPECT_EQ(readStreamUri(replyOf("s", "<trt:GetStreamUriResponse><trt:MediaUri><tt:Uri> rtsp://10.0.0.2:554/ch1 </tt:Uri>"
                                         "<tt:InvalidAfterConnect>false</tt:InvalidAfterConnect></trt:MediaUri></trt:GetStreamUriResponse>"),
                            MediaVersion::Media)
                  .value_or(""),
              "rtsp://10.0.0.2:554/ch1");
    EXPECT_EQ(readStreamUri(replyOf("s", "<tr2:GetStreamUriResponse><tr2:Uri>rtsp://h/x</tr2:Uri></tr2:GetStreamUriResponse>"),
                            MediaVersion::Media2)
                  .value_or(""),
              "rtsp://h/x");
    EXPECT_FALSE(readStreamUri(replyOf("s", "<trt:GetStreamUriResponse><trt:MediaUri/></trt:GetStreamUriResponse>"),
                               MediaVersion::Media));

    const auto presets = readPresets(replyOf(
        "s", "<ns9:GetPresetsResponse><ns9:Preset token=\"Preset_4\"><tt:Name>door</tt:Name></ns9:Preset>"
             "<ns9:Preset><tt:Name>tokenless</tt:Name></ns9:Preset><ns9:Preset token=\"9\"/></ns9:GetPresetsResponse>"));
    ASSERT_TRUE(presets);
    ASSERT_EQ(presets->size(), 2u);
    EXPECT_EQ((*presets)[0].token, "Preset_4");
    EXPECT_EQ((*presets)[0].name, "door");
    EXPECT_EQ((*presets)[1].token, "9");
    EXPECT_EQ(readSetPresetToken(replyOf("s", "<ns9:SetPresetResponse><ns9:PresetToken>Preset_5</ns9:PresetToken></ns9:SetPresetResponse>"))
                  .value_or(""),
              "Preset_5");
}

}  // namespace
