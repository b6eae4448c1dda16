// Every settings row of both families, run through the session against its simulated camera:
// the whole request each sends, and what the camera made of it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "camsim/cgi_server.h"
#include "camsim/device_model.h"
#include "control/control_factory.h"
#include "control/settings_tables.h"
#include "core/session.h"
#include "core/session_api.h"
#include "support/control_fixture.h"
#include "support/frame_collector.h"
#include "support/scoped_timeouts.h"

using namespace ipcam;

namespace {

class SettingsRequestsTest : public kestrel_test::ControlFixture {
  protected:
    // Runs one settings command with every field filled (the first with a blank in it); the
    // targets of the requests it caused, once expect of them have arrived.
    std::vector<std::string> run(int32_t code, int &result, std::size_t expect) {
        IPCamSettingsRecord record{};
        record.code = code;
        std::strcpy(record.field[0], "a b");
        for (int i = 1; i < IPCAM_SETTINGS_FIELDS; ++i)
            std::snprintf(record.field[i], sizeof record.field[i], "%d", i + 1);
        server.clearRequests();
        result = IPCamCommandDirect(session.get(), &record, nullptr);
        return targets(expect);
    }
};

struct EveryRow {
    int32_t code;
    const char *target;  // nullptr: answered without a request
};

// Writes that are sent without awaiting a reply, so their result says nothing of the camera.
bool unanswered(const std::string &target) {
    for (const char *cgi :
         {"/Reboot.cgi?", "/SetFactoryDefault.cgi?", "/SetNetwork.cgi?", "/SetMultimedia.cgi?"})
        if (target.starts_with(cgi)) return true;
    return false;
}

TEST_F(SettingsRequestsTest, EveryFamilyASettingSendsItsWholeRequest) {
    const EveryRow rows[] = {
        {4097, "/GetTime.cgi"},
        {4098, "/SetTime.cgi?UseNtp=4&TimeZone=3&NtpIP=2&Localtime=a%20b"},
        {4099, "/GetName.cgi"},
        {4100, "/SetName.cgi?Name=a%20b"},
        {4101, "/GetVer.cgi"},
        {4102, "/SetLanguage.cgi?Language=a%20b"},
        {4103, "/GetLanguage.cgi"},
        {4104, "/Reboot.cgi?RebootNow"},
        {4105, "/SetFactoryDefault.cgi?DefaultNow"},
        {4106, "/GetAdjust.cgi"},
        {4107, "/SetAdjust.cgi?Hue=4&Saturation=3&Contrast=2&Brightness=a%20b"},
        {4108, "/GetMultimedia.cgi?CH=1"},
        {4109,
         "/SetMultimedia.cgi?CH=1&Compression_Type=8&Audio=7&Resolution=6&Jpeg_Quality=5&"
         "Bitrate=4&VBR=3&Mode=2&Fps=a%20b"},
        {4110, "/GetNetwork.cgi"},
        {4111,
         "/SetNetwork.cgi?Audio_Port=8&Video_Port=7&Http_Port=6&Dns=5&Gateway=4&Netmask=3&"
         "Ipaddr=2&Proto=a%20b"},
        {4112, "/GetPPPOE.cgi"},
        {4113, "/SetPPPOE.cgi?Subj=5&SendMail=4&Adsl_En=3&Pwd=2&User=a%20b"},
        {4114, "/GetDDNS.cgi"},
        {4115, "/SetDDNS.cgi?updata_time=3&User=2&Ddns_En=a%20b"},
        {4116, "/GetMotionDetect.cgi"},  // firmware not known: before 1.06
        {4117,
         "/SetMotionDetect.cgi?CH=1&level_sen3=19&level_sen2=18&level_sen1=17&md3_lrc=16&"
         "md3_lrr=15&md3_ulc=14&md3_ulr=13&md3_ena=12&md2_lrc=11&md2_lrr=10&md2_ulc=9&"
         "md2_ulr=8&md2_ena=7&md1_lrc=6&md1_lrr=5&md1_ulc=4&md1_ulr=3&md1_ena=2&"
         "md_enable=a%20b"},
        {4118, "/GetMail.cgi"},
        {4119, "/SetMail.cgi?Subj=5&Bcc=4&Dest=3&Sender=2&Smtp=a%20b"},
        {4120, "/GetFTP.cgi"},
        {4121, "/SetFTP.cgi?FTP_Path=5&FTP_Port=4&FTP_Pwd=3&FTP_User=2&FTP_Server=a%20b"},
        {4122, "/GetCCD.cgi"},
        {4123, "/SetCCD.cgi?FLC=4&AGC=3&BLC=2&AES=a%20b"},
        {4124, "/GetUser.cgi"},
        {4125, "/SetUser.cgi?Authority=4&Pass=3&User=2&Check=a%20b"},
        {4126, "/DelUser.cgi?User=a%20b"},
        {4129, "/GetStatus.cgi"},
        {4130, "/GetPTZ.cgi?CH=1"},
        {4132, "/GetPDA.cgi"},
        {4133, "/GetDVRCHANNEL.cgi"},
        {4134, "/SetDVRKey.cgi?DVRControl=a%20b"},
        {4135, "/GetCameraType.cgi"},
        {4136, "/GetStreamType.cgi"},
    };
    camsim::FamilyACamera camera(server, {.model = 20, .videoCode = 1, .firmware = "1.05"});
    use(1, 20);
    session->videoStream = 1;
    std::size_t ran = 0;
    for (const EveryRow &row : rows) {
        SCOPED_TRACE(row.code);
        ASSERT_NE(familyASetting(row.code), nullptr);
        int result = 0;
        const auto targets = run(row.code, result, 1);
        ASSERT_EQ(targets.size(), 1u);
        EXPECT_EQ(targets[0], row.target);
        const std::string target = row.target;
        if (target.find('?') == std::string::npos || target.starts_with("/Get"))
            EXPECT_GE(result, 0);
        else
            EXPECT_EQ(result, unanswered(target) ? 0 : 1);  // 1: the camera took it
        ++ran;
    }
    EXPECT_EQ(ran, 37u);
    // The writes that are not waited for reached the camera's store, blank and all.
    EXPECT_TRUE(server.waitUntilIdle(2000));
    EXPECT_EQ(camera.value("GetMultimedia.cgi", "Fps", 1), "a b");
    EXPECT_EQ(camera.value("GetMultimedia.cgi", "Compression_Type", 1), "8");
    EXPECT_EQ(camera.value("GetNetwork.cgi", "Proto"), "a b");
    EXPECT_EQ(camera.value("GetNetwork.cgi", "Audio_Port"), "8");
}

TEST_F(SettingsRequestsTest, EveryFamilyBSettingSendsItsWholeRequest) {
    const EveryRow rows[] = {
        {8193, "/GetStatus.cgi"},
        {8194, "/GetStatus.cgi"},
        {8195, "/GetCapability.cgi"},
        {8196, "/GetVer1.cgi"},
        {8197, "/GetMyself.cgi"},
        {8198, nullptr},
        {8199, "/Reboot.cgi?RebootNow=1"},
        {8200, "/SetFactoryDefault.cgi?"},
        {8201, "/ChangeResolution.cgi?ResType=a%20b"},
        {8202, "/ChangeCompressRatio.cgi?Ratio=a%20b"},
        {8203, "/ChangeBrightness.cgi?Brightness=a%20b"},
        {8204, "/ChangeContrast.cgi?Contrast=a%20b"},
        {8205, "/ChangeSaturation.cgi?Saturation=a%20b"},
        {8206, "/ChangeHue.cgi?Hue=a%20b"},
        {8207, "/ChangeSharpness.cgi?Sharpness=a%20b"},
        {8208, "/ChangeAECFrequency.cgi?Frequency=a%20b"},
        {8209, "/SetMonitorRect.cgi?Rect=,a%20b,2,3,4"},
        {8210, "/GetMotionDetect.cgi"},
        {8211, "/SetMotionDetect.cgi?Enable=a%20b&Sensitivity=2"},
        {8212, "/GetName.cgi"},
        {8213, "/SetName.cgi?CameraName=a%20b"},
        {8214, "/GetUser.cgi?ShowPrivilege=false"},  // field 0 is not "1"
        {8215, "/SetUser.cgi?User=a%20b&Pass=2"},
        {8216, "/DelUser.cgi?User=a%20b"},
        {8217, "/GetStatus.cgi"},
        {8218, "/SetUserCheck.cgi?Check=a%20b"},
        {8219, "/GetMail.cgi"},
        {8220,
         "/SetMail.cgi?Interval=9&PassWord=8&User=7&Subject=6&Receiver=5&Enable=4&"
         "CheckFlag=3&MailServer=2&Sender=a%20b"},
        {8221, "/GetIP.cgi"},
        {8222, "/SetIP.cgi?Netmask=4&IPWay=3&IP=2&Interface=a%20b"},
        {8223, "/GetHttp.cgi"},
        {8224, "/SetHttp.cgi?Port1=2&Port0=a%20b"},
        {8225, "/GetTime.cgi"},
        {8226, "/SetTime.cgi?TimeZone=4&Sec1970=3&NtpServer=2&UseNtp=a%20b"},
        {8227, "/GetFtp.cgi"},
        {8228, "/SetFtp.cgi?User=5&UploadPath=4&Pass=3&FtpServer=2&Enable=a%20b"},
        {8229, "/GetDDNS.cgi"},
        {8230, "/SetDDNS.cgi?Info=4&Interval=3&User=2&Enable=a%20b"},
        {8231,
         "/PPPoE.cgi?CheckFlag=12&MailPassWord=11&Subject=10&Receiver=9&Sender=8&"
         "MailServer=7&MailUser=6&User=5&ConnectOnBoot=4&Action=3&Pass=2&Mail=a%20b"},
        {8232, "/SetAdmin.cgi?Admin=a%20b&aPass=2"},
        {8233, "/GetLanguage.cgi"},
        {8234, "/SetLanguage.cgi?Language=a%20b"},
        {8237, "/GetCCD.cgi"},
        {8238, "/SetCCD.cgi?MIRROR=4&AGC=3&BLC=2&AES=a%20b"},
        {8239, "/GetPTZ.cgi"},
        {8242, "/GetDVRtype.cgi"},
        {8243, "/MoveCamera.cgi?Dir=a%20b"},
    };
    camsim::FamilyBCamera recorder(server, {.recorderChannels = 8});
    use(2, 0);
    std::size_t ran = 0;
    for (const EveryRow &row : rows) {
        SCOPED_TRACE(row.code);
        ASSERT_NE(familyBSetting(row.code), nullptr);
        int result = 0;
        const auto targets = run(row.code, result, row.target ? 1 : 0);
        ++ran;
        if (!row.target) {
            EXPECT_TRUE(targets.empty());
            EXPECT_EQ(result, 0);
            continue;
        }
        ASSERT_EQ(targets.size(), 1u);
        EXPECT_EQ(targets[0], row.target);
        const std::string target = row.target;
        if (target.starts_with("/Get"))
            EXPECT_GE(result, 0);
        else
            EXPECT_EQ(result, unanswered(target) ? 0 : 1);
    }
    EXPECT_EQ(ran, 47u);
    EXPECT_EQ(recorder.value("GetName.cgi", "CameraName"), "a b");
    EXPECT_EQ(recorder.value("GetStatus.cgi", "Rect"), ",a b,2,3,4");
}

}  // namespace
