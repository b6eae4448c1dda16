// Detection and settings against the simulator's device models, with their settings stores.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "camsim/cgi_server.h"
#include "camsim/device_model.h"
#include "control/detection.h"
#include "control/settings_tables.h"
#include "support/control_fixture.h"
#include "support/frame_collector.h"
#include "support/scoped_timeouts.h"

using namespace ipcam;

namespace {

class DeviceRoundTripTest : public kestrel_test::ControlFixture {
  protected:
    int setting(int32_t code, IPCamSettingsRecord &record, bool familyA) {
        CgiClient client;
        client.SetAddress("127.0.0.1", server.port());
        SettingContext context{client, 0, 20};
        const SettingRow *row = familyA ? familyASetting(code) : familyBSetting(code);
        return familyA ? runFamilyASetting(*row, context, record)
                       : runFamilyBSetting(*row, context, record);
    }
};

TEST_F(DeviceRoundTripTest, DetectsEveryKindOfFamilyACamera) {
    struct Case {
        const char *name;
        camsim::FamilyAConfig config;
        uint32_t model;
        int inputs, outputs;
    } cases[] = {
        {"four-channel camera", {.model = 58, .videoCode = 2}, 58u | 2u << 16, 4, 4},
        {"older camera", {.model = 58, .older = true}, 0, 2, 2},
        {"device camera", {.model = 7, .device = 0, .inputs = 3, .outputs = 1}, 0xFF000007u, 3, 1},
    };
    for (const Case &c : cases) {
        camsim::CgiServer device;
        ASSERT_TRUE(device.start());
        camsim::FamilyACamera camera(device, c.config);
        session->port = device.port();
        session->modelCode = 0;
        session->protocolType = 0;
        EXPECT_EQ(DetectFamilyA(session.get()), 0) << c.name;
        EXPECT_EQ(session->modelCode.load(), c.model) << c.name;
        EXPECT_EQ(session->inputCount.load(), c.inputs) << c.name;
        EXPECT_EQ(session->outputCount.load(), c.outputs) << c.name;
        EXPECT_EQ(session->protocolType.load(), 1) << c.name;
        device.stop();
    }
}

TEST_F(DeviceRoundTripTest, FamilyASettingsGoThroughTheStore) {
    camsim::FamilyACamera camera(server, {});
    IPCamSettingsRecord record{};
    record.code = 4107;
    std::strcpy(record.field[3], "42");  // Hue only
    EXPECT_EQ(setting(4107, record, true), 1);
    EXPECT_EQ(camera.value("GetAdjust.cgi", "Hue"), "42");
    record = IPCamSettingsRecord{};
    EXPECT_EQ(setting(4106, record, true), 0);
    EXPECT_STREQ(record.field[3], "42");
    EXPECT_STRNE(record.field[0], "");  // the other values keep their defaults

    record = IPCamSettingsRecord{};
    std::strcpy(record.field[0], "Backyard");
    EXPECT_EQ(setting(4100, record, true), 1);
    record = IPCamSettingsRecord{};
    EXPECT_EQ(setting(4099, record, true), 1);
    EXPECT_STREQ(record.field[0], "Backyard");
}

TEST_F(DeviceRoundTripTest, FamilyBSettingsAndDetection) {
    camsim::FamilyBCamera camera(server, {});
    session->protocolType = 0;
    EXPECT_EQ(DetectFamilyB(session.get()), 0);
    EXPECT_EQ(session->protocolType.load(), 2);

    IPCamSettingsRecord record{};
    std::strcpy(record.field[0], "Garage");
    EXPECT_EQ(setting(8213, record, false), 1);
    record = IPCamSettingsRecord{};
    EXPECT_EQ(setting(8212, record, false), 0);
    EXPECT_STREQ(record.field[0], "Garage");

    // The status block and the flag sit where the camera's reply layout puts them.
    camera.set("GetStatus.cgi", "status_flag", "1");
    record = IPCamSettingsRecord{};
    EXPECT_EQ(setting(8194, record, false), 1);
    EXPECT_EQ(std::strlen(record.field[0]), 82u);
    EXPECT_EQ(std::string(record.field[0]), camera.value("GetStatus.cgi", "status_block"));
    EXPECT_EQ(setting(8217, record, false), 1);
    EXPECT_STREQ(record.field[0], "1");
    EXPECT_EQ(setting(8193, record, false), 0);  // the standard is reported
}

}  // namespace
