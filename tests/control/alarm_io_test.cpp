// Alarm outputs read and switched through the command objects against the simulator.
#include "control/alarm_io.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "camsim/cgi_server.h"
#include "camsim/device_model.h"
#include "control/control_factory.h"
#include "core/session.h"
#include "core/session_api.h"
#include "support/frame_collector.h"
#include "support/scoped_timeouts.h"

using namespace ipcam;

namespace {

class AlarmIoTest : public ::testing::Test {
    kestrel_test::ScopedTimeouts timeouts{500};

  protected:
    void SetUp() override { std::strcpy(session->host, "127.0.0.1"); }
    void TearDown() override { delete session->control.exchange(nullptr); }

    // A camera of the family on its own server; the session points at it.
    std::unique_ptr<camsim::StoredDevice> camera(camsim::CgiServer &server, int32_t type,
                                                 uint32_t model) {
        EXPECT_TRUE(server.start());
        session->port = server.port();
        delete session->control.exchange(makeCameraControl(type, model));
        session->protocolType = type;
        session->modelCode = model;
        if (type == 1)
            return std::make_unique<camsim::FamilyACamera>(
                server, camsim::FamilyAConfig{.model = static_cast<int>(model)});
        return std::make_unique<camsim::FamilyBCamera>(server, camsim::FamilyBConfig{});
    }

    kestrel_test::LocalSession session;
};

TEST_F(AlarmIoTest, WritesWordTheOutputsByFamilyModelAndMode) {
    struct Case {
        const char *name;
        int32_t type;
        uint32_t model;
        int32_t code, mode, interval;
        uint8_t outputs[4];
        const char *target;
    } cases[] = {
        {"newer model, steady", 1, 60, 18, 0, 10, {1, 1, 0, 0},
         "/SetGPIO.cgi?Out4STA=0&Out3STA=0&Out2STA=1&Out1STA=1&Output_Mode=0&Output_Interval=10"},
        {"newer model, pulses", 1, 60, 4128, 1, 3, {0, 0, 1, 0},
         "/SetGPIO.cgi?Out4Slide=0&Out3Slide=1&Out2Slide=0&Out1Slide=0&Output_Mode=1&"
         "Output_Interval=3"},
        {"newer model has no serial outputs", 1, 60, 18, 2, 10, {1, 1, 1, 1},
         "/SetGPIO.cgi?Output_Mode=2&Output_Interval=10"},
        {"older model, steady, no interval", 1, 20, 18, 0, 0, {0, 1, 0, 1},
         "/SetGPIO.cgi?COM4STA=1&COM3STA=0&COM2STA=1&COM1STA=0&COMModule=0"},
        {"older model, serial", 1, 20, 18, 2, 7, {1, 0, 0, 0},
         "/SetGPIO.cgi?COM4PT=0&COM3PT=0&COM2PT=0&COM1PT=1&COMModule=2&CInterval=7"},
        {"unknown mode sends mode and interval", 1, 20, 18, 5, 7, {1, 1, 1, 1},
         "/SetGPIO.cgi?COMModule=5&CInterval=7"},
        {"family B", 2, 0, 18, 0, 10, {1, 1, 0, 0},
         "/SetIO.cgi?GPIO4Out=0&GPIO3Out=0&GPIO2Out=1&GPIO1Out=1"},
        {"family B settings code", 2, 0, 8236, 3, 10, {0, 0, 0, 9},
         "/SetIO.cgi?GPIO4Out=1&GPIO3Out=0&GPIO2Out=0&GPIO1Out=0"},
    };
    for (const Case &c : cases) {
        camsim::CgiServer server;
        auto device = camera(server, c.type, c.model);
        AlarmIoRequest request{c.code, c.mode, c.interval, {}};
        std::memcpy(request.outputs, c.outputs, 4);
        EXPECT_GE(IPCamCommandDirect(session.get(), &request, nullptr), 0) << c.name;
        auto requests = server.requests();
        ASSERT_EQ(requests.size(), 1u) << c.name;
        EXPECT_EQ(requests[0].target, c.target) << c.name;
    }
}

TEST_F(AlarmIoTest, ToggleAnOutputAsTheViewerDoes) {
    struct Case {
        int32_t type;
        uint32_t model;
        int32_t modeRead;
    } cases[] = {{1, 60, 0}, {1, 20, 0}, {2, 0, 0}, {1, 99, -1}};
    for (const Case &c : cases) {
        camsim::CgiServer server;
        auto device = camera(server, c.type, c.model);
        for (int round = 0; round < 2; ++round) {
            AlarmIoRequest request{17, 9, 9, {7, 7, 7, 7}};
            ASSERT_EQ(IPCamCommandDirect(session.get(), &request, nullptr), 0) << c.model;
            EXPECT_EQ(request.mode, c.modeRead) << c.model;
            EXPECT_EQ(request.interval, c.type == 1 ? 5 : 0) << c.model;
            // Output 2 flips each round; the others stay off.
            EXPECT_EQ(request.outputs[1], round == 1 ? 1 : 0) << c.model << " round " << round;
            EXPECT_EQ(request.outputs[0] + request.outputs[2] + request.outputs[3], 0);
            request.code = 18;
            request.mode = request.mode < 0 ? 0 : request.mode;
            request.outputs[1] = !request.outputs[1];
            EXPECT_GE(IPCamCommandDirect(session.get(), &request, nullptr), 0);
        }
    }
}

TEST_F(AlarmIoTest, FailedReadsReportEverythingOff) {
    for (int32_t type : {1, 2}) {
        camsim::CgiServer server;
        ASSERT_TRUE(server.start());
        server.setBody(type == 1 ? "GetGPIO.cgi" : "GetIO.cgi", "", 404);
        session->port = server.port();
        delete session->control.exchange(makeCameraControl(type, 60));
        session->modelCode = 60;
        AlarmIoRequest request{type == 1 ? 4127 : 8235, 3, 3, {1, 1, 1, 1}};
        EXPECT_EQ(IPCamCommandDirect(session.get(), &request, nullptr), -16) << type;
        EXPECT_EQ(request.mode, 0);
        EXPECT_EQ(request.interval, type == 1 ? 5 : 0);
        for (uint8_t out : request.outputs) EXPECT_EQ(out, 0);
    }
    // Family B stops at the first key it misses, except the last.
    camsim::CgiServer server;
    ASSERT_TRUE(server.start());
    session->port = server.port();
    delete session->control.exchange(makeCameraControl(2, 0));
    AlarmIoRequest request{17, 3, 3, {}};
    server.setBody("GetIO.cgi", "Interval = 5\nGPIOOUT4 = 1\nGPIOOUT3 = 0\nGPIOOUT2 = 1\n"
                                "GPIOOUT1 = 1\nGPIOIN1 = 0\n");
    EXPECT_EQ(IPCamCommandDirect(session.get(), &request, nullptr), 0);
    EXPECT_EQ(request.outputs[0] + request.outputs[1] * 2 + request.outputs[3] * 8, 11);
    server.setBody("GetIO.cgi", "Interval = 5\nGPIOOUT4 = 1\n");
    EXPECT_EQ(IPCamCommandDirect(session.get(), &request, nullptr), -18);
}

}  // namespace
