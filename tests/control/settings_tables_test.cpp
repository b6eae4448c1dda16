#include "control/settings_tables.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "camsim/cgi_server.h"
#include "support/scoped_timeouts.h"

using namespace ipcam;

namespace {

struct Row {
    int32_t code;
    std::vector<std::string> fields;  // what the caller puts in
    std::string target;               // the request line's target
    int expected;                     // result
};

class SettingsTablesTest : public ::testing::Test {
    kestrel_test::ScopedTimeouts timeouts{500};

  protected:
    void SetUp() override { ASSERT_TRUE(server.start()); }
    void TearDown() override { server.stop(); }

    // Runs one row with a fresh client; the request it sent, and its result.
    std::string run(int32_t code, const std::vector<std::string> &fields, bool familyA, int &result,
                    IPCamSettingsRecord &record, double firmware = 1.0, uint32_t model = 20) {
        record = IPCamSettingsRecord{};
        record.code = code;
        for (size_t i = 0; i < fields.size(); ++i) std::strcpy(record.field[i], fields[i].c_str());
        CgiClient client;
        client.SetAddress("127.0.0.1", server.port());
        client.SetFirmwareVersion(firmware);
        SettingContext context{client, 2, model};
        const SettingRow *row = familyA ? familyASetting(code) : familyBSetting(code);
        EXPECT_NE(row, nullptr) << code;
        if (!row) return {};
        server.clearRequests();
        result = familyA ? runFamilyASetting(*row, context, record)
                         : runFamilyBSetting(*row, context, record);
        server.waitForRequests(1, 1000);
        auto requests = server.requests();
        return requests.empty() ? std::string() : requests.back().target;
    }

    camsim::CgiServer server;
};

TEST_F(SettingsTablesTest, FamilyAWritesSendTheirQueries) {
    const Row rows[] = {
        {4098,
         {"2026-12-06T10:00", "", "+1", "0"},
         "/SetTime.cgi?UseNtp=0&TimeZone=+1&Localtime=2026-12-06T10:00",
         0},
        {4100, {"Gate"}, "/SetName.cgi?Name=Gate", 0},
        {4100, {"Front door"}, "/SetName.cgi?Name=Front%20door", 0},
        {4100, {""}, "/SetName.cgi?", 0},
        {4104, {}, "/Reboot.cgi?RebootNow", 0},
        {4107, {"", "", "", "7"}, "/SetAdjust.cgi?Hue=7", 0},
        {4109,
         {"15", "1", "", "512", "", "640x480", ""},
         "/SetMultimedia.cgi?CH=2&Resolution=640x480&Bitrate=512&Mode=1&Fps=15",
         0},
        {4111, {"dhcp", "", "", "", "", "8080"}, "/SetNetwork.cgi?Http_Port=8080&Proto=dhcp", 0},
        {4113,
         {"u", "p", "1", "0", "s"},
         "/SetPPPOE.cgi?Subj=s&SendMail=0&Adsl_En=1&Pwd=p&User=u",
         0},
        {4117,
         {"1", "1", "0", "0", "10", "10"},
         "/SetMotionDetect.cgi?CH=2&md1_lrc=10&md1_lrr=10&md1_ulc=0&md1_ulr=0&md1_ena=1&md_enable="
         "1",
         0},
        {4119,
         {"smtp", "a@b", "c@d", "", "hi"},
         "/SetMail.cgi?Subj=hi&Dest=c@d&Sender=a@b&Smtp=smtp",
         0},
        {4121,
         {"ftp", "u", "p", "21", "/up"},
         "/SetFTP.cgi?FTP_Path=/up&FTP_Port=21&FTP_Pwd=p&FTP_User=u&FTP_Server=ftp",
         0},
        {4125, {"1", "bob", "pw", "2"}, "/SetUser.cgi?Authority=2&Pass=pw&User=bob&Check=1", 0},
        {4125, {"", "Ann Lee", "p&w=1%", ""}, "/SetUser.cgi?Pass=p%26w%3D1%25&User=Ann%20Lee", 0},
        {4134, {"key #2"}, "/SetDVRKey.cgi?DVRControl=key%20%232", 0},
    };
    for (const Row &r : rows) {
        int result = 99;
        IPCamSettingsRecord record;
        const std::string path = r.target.substr(1, r.target.find('?') - 1);
        server.setBody(path, "OK");
        EXPECT_EQ(run(r.code, r.fields, true, result, record), r.target) << r.code;
        EXPECT_EQ(result, path == "Reboot.cgi" || path == "SetFactoryDefault.cgi" ||
                                  path == "SetMultimedia.cgi" || path == "SetNetwork.cgi"
                              ? 0
                              : 1)
            << r.code;
    }
}

TEST_F(SettingsTablesTest, FamilyAReadsFillTheirFields) {
    struct Read {
        int32_t code;
        std::string cgiPath, target, reply;
        int expected;
        std::vector<std::string> fields;
        double firmware = 1.0;
    } reads[] = {
        {4097,
         "GetTime.cgi",
         "/GetTime.cgi",
         "Localtime=12:00<br>NtpIP=1.2.3.4<br>TimeZone=8<br>",
         0,
         {"12:00", "1.2.3.4", "8", ""}},
        {4099, "GetName.cgi", "/GetName.cgi", "Name=Front<br>", 1, {"Front"}},
        {4101, "GetVer.cgi", "/GetVer.cgi", "Model=1<br>", -18, {""}},
        {4108,
         "GetMultimedia.cgi",
         "/GetMultimedia.cgi?CH=2",
         "VBR=1<br>Bitrate=512<br><td>>Mode=2<br>",
         0,
         {"1", "512", "", "", "", "", "2"}},
        {4116,
         "GetMotionDetect.cgi",
         "/GetMotionDetect.cgi",
         "md_enable=1<br>level_sen3=5<br>Interval=9<br>",
         0,
         {"1", "", "", "", "", "", "",  "",    "",    "",    "",   "",
          "",  "", "", "", "", "", "5", "old", "old", "old", "old"},
         1.05},
        {4116,
         "GetMotionDetect.cgi",
         "/GetMotionDetect.cgi?CH=2",
         "md_enable=1<br>level_sen3=5<br>Interval=9<br>",
         0,
         {"1", "", "", "", "", "", "",  "", "", "", "", "",
          "",  "", "", "", "", "", "5", "", "", "", "9"},
         1.06},
        {4130,
         "GetPTZ.cgi",
         "/GetPTZ.cgi?CH=2",
         "PTZModel=3<br>PName02=Door<br>PName16=Last<br>",
         0,
         {"3", "", "", "", "", "Door", "", "", "", "", "", "", "", "", "", "", "", "", "", "Last"}},
        {4132, "GetPDA.cgi", "/GetPDA.cgi", "pda_en=1<br>", 1, {"1"}},
    };
    for (const Read &r : reads) {
        server.setBody(r.cgiPath, r.reply);
        int result = 99;
        IPCamSettingsRecord record;
        std::vector<std::string> junk(IPCAM_SETTINGS_FIELDS, "old");
        EXPECT_EQ(run(r.code, junk, true, result, record, r.firmware), r.target) << r.code;
        EXPECT_EQ(result, r.expected) << r.code;
        for (size_t i = 0; i < r.fields.size(); ++i)
            EXPECT_EQ(std::string(record.field[i]), r.fields[i]) << r.code << " field " << i;
    }
    // A failed request leaves the record as it was.
    int result = 0;
    IPCamSettingsRecord record;
    run(4106, {"keep"}, true, result, record);
    EXPECT_EQ(result, -16);
    EXPECT_STREQ(record.field[0], "keep");
}

TEST_F(SettingsTablesTest, FamilyBWritesSendTheirQueries) {
    const Row rows[] = {
        {8199, {}, "/Reboot.cgi?RebootNow=1", 0},
        {8201, {"2"}, "/ChangeResolution.cgi?ResType=2", 1},
        {8209, {"10", "20", "30", "40"}, "/SetMonitorRect.cgi?Rect=,10,20,30,40", 1},
        {8209, {"10", "", "30", ""}, "/SetMonitorRect.cgi?Rect=,10,30", 1},
        {8211, {"1", "3"}, "/SetMotionDetect.cgi?Enable=1&Sensitivity=3", 1},
        {8215, {"bob", "pw"}, "/SetUser.cgi?User=bob&Pass=pw", 1},
        {8220, {"a@b", "smtp", "", "1"}, "/SetMail.cgi?Enable=1&MailServer=smtp&Sender=a@b", 1},
        {8224, {"80", "81"}, "/SetHttp.cgi?Port1=81&Port0=80", 1},
        {8213, {"Back yard\t2"}, "/SetName.cgi?CameraName=Back%20yard%092", 1},
        {8215, {"a b", "x&y"}, "/SetUser.cgi?User=a%20b&Pass=x%26y", 1},
        {8209, {"1 0", "", "#3", ""}, "/SetMonitorRect.cgi?Rect=,1%200,%233", 1},
        {8220, {"a@b", "", "", "", "Ann Lee"}, "/SetMail.cgi?Receiver=Ann%20Lee&Sender=a@b", 1},
    };
    for (const Row &r : rows) {
        int result = 99;
        IPCamSettingsRecord record;
        const std::string path = r.target.substr(1, r.target.find('?') - 1);
        server.setBody(path, "OK");
        EXPECT_EQ(run(r.code, r.fields, false, result, record), r.target) << r.code;
        EXPECT_EQ(result, r.expected) << r.code;
    }
}

TEST_F(SettingsTablesTest, FamilyBReadsAndTheirSpecialCases) {
    server.setValues("GetMotionDetect.cgi", camsim::ReplyStyle::FamilyB,
                     {{"Enable", "1"}, {"Sensitivity", "4"}});
    server.setValues("GetHttp.cgi", camsim::ReplyStyle::FamilyB, {{"Port1", "81"}});
    server.setValues("GetVer1.cgi", camsim::ReplyStyle::FamilyB, {{"Version", "3.1.7"}});
    int result = 99;
    IPCamSettingsRecord record;
    run(8210, {}, false, result, record);
    EXPECT_EQ(result, 0);
    EXPECT_STREQ(record.field[0], "1");
    EXPECT_STREQ(record.field[1], "4");
    run(8223, {}, false, result, record);  // the first key's absence is not reported
    EXPECT_EQ(result, 0);
    EXPECT_STREQ(record.field[1], "81");
    server.setValues("GetHttp.cgi", camsim::ReplyStyle::FamilyB, {{"Port0", "80"}});
    run(8223, {}, false, result, record);  // a later key's absence is
    EXPECT_EQ(result, -18);
    run(8196, {}, false, result, record);
    EXPECT_EQ(result, 0);
    EXPECT_STREQ(record.field[0], "3.1.7");  // without the blank after "Version ="

    // The status replies: the block 37 characters after "Expires", the flag at index 294.
    std::string block(82, 'b');
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>('0' + i % 10);
    server.setHandler("GetStatus.cgi", [block](const camsim::RecordedRequest &) {
        return camsim::Reply{
            200, "Expires: 01 Jan 1970 00:00:00 GMT\r\n\r\n" + block + "\ntv_standard = 1\n"};
    });
    run(8194, {}, false, result, record);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(std::string(record.field[0]), block);
    run(8193, {}, false, result, record);
    EXPECT_EQ(result, 0);  // the standard is there
    run(8198, {}, false, result, record);
    EXPECT_EQ(result, 0);
}

}  // namespace
