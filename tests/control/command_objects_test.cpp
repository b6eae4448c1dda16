// The command objects against simulated devices: every code of each dialect through
// IPCamCommandDirect, the dispatcher's rules, and commands run in the background.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "camsim/cgi_server.h"
#include "camsim/device_model.h"
#include "control/control_factory.h"
#include "control/family_a_control.h"
#include "control/family_b_control.h"
#include "control/ptz_control.h"
#include "control/server_control.h"
#include "control/settings_tables.h"
#include "core/session.h"
#include "core/session_api.h"
#include "support/control_fixture.h"
#include "support/frame_collector.h"
#include "support/loopback.h"
#include "support/scoped_timeouts.h"

using namespace ipcam;

namespace {

// Big enough for every request record; zeroed, with the code in front.
struct Request {
    alignas(8) unsigned char bytes[sizeof(IPCamPanTiltRecord) + 64] = {};
    explicit Request(int32_t code) { std::memcpy(bytes, &code, sizeof code); }
    void *get() { return bytes; }
    IPCamSettingsRecord &settings() { return *reinterpret_cast<IPCamSettingsRecord *>(bytes); }
};

class CommandObjectsTest : public kestrel_test::ControlFixture {
  protected:
    // Runs one command; the targets of the requests it caused. Requests that are not
    // answered may reach the server after the command has returned: expect says how many.
    std::vector<std::string> run(void *request, int &result, std::size_t expect = 0) {
        server.clearRequests();
        result = IPCamCommandDirect(session.get(), request, nullptr);
        return targets(expect);
    }
};

// The numbered commands below the settings: result and the whole of every request each sends.
// Writes run once empty and once with field n (word n) holding the number n.
TEST_F(CommandObjectsTest, NumberedCommandsOfEachDialect) {
    struct Case {
        int32_t code;
        int expected;  // kAny: any result of 0 or more
        std::vector<std::string> targets;
        bool filled = false;
    };
    constexpr int kAny = 1000;
    auto request = [](const Case &c) {
        Request r(c.code);
        for (int32_t i = 1; c.filled && i <= IPCAM_SETTINGS_FIELDS; ++i) {
            if (c.code == 4) std::memcpy(r.bytes + 4 * i, &i, sizeof i);
            else std::snprintf(r.settings().field[i - 1], IPCAM_SETTINGS_FIELD_SIZE, "%d", i);
        }
        return r;
    };
    const Case familyA[] = {
        {1, 0, {}},
        {2, 0, {}},
        {3, 0, {"/GetMultimedia.cgi?CH=0"}},
        {5, 0, {"/GetMultimedia.cgi?CH=0"}},
        {6, 0, {"/SetMultimedia.cgi?CH=0"}},  // no pairs: the prefix's "&" goes too
        {6, 0, {"/SetMultimedia.cgi?CH=0&Compression_Type=8&Audio=7&Resolution=6&Jpeg_Quality=5&"
                "Bitrate=4&VBR=3&Mode=2&Fps=1"}, true},
        {7, 0, {"/GetAdjust.cgi"}},
        {8, kAny, {"/SetAdjust.cgi?"}},
        {8, kAny, {"/SetAdjust.cgi?Hue=4&Saturation=3&Contrast=2&Brightness=1"}, true},
        {9, 0, {"/GetMotionDetect.cgi"}},  // firmware not known: before 1.06
        {10, kAny, {"/SetMotionDetect.cgi?CH=0"}},
        {10, kAny, {"/SetMotionDetect.cgi?CH=0&level_sen3=19&level_sen2=18&level_sen1=17&md3_lrc=16&"
                    "md3_lrr=15&md3_ulc=14&md3_ulr=13&md3_ena=12&md2_lrc=11&md2_lrr=10&md2_ulc=9&"
                    "md2_ulr=8&md2_ena=7&md1_lrc=6&md1_lrr=5&md1_ulc=4&md1_ulr=3&md1_ena=2&md_enable=1"},
         true},
        {11, 0, {"/GetPTZ.cgi?CH=0"}},
        {13, 1, {"/GetDVRCHANNEL.cgi"}},
        {15, 0, {"/GetCCD.cgi"}},
        {16, kAny, {"/SetCCD.cgi?"}},
        {16, kAny, {"/SetCCD.cgi?FLC=4&AGC=3&BLC=2&AES=1"}, true},
        {257, -1, {}},
        {258, -1, {}},
        {19, kUnknownCommand, {}},
        {4137, kUnknownCommand, {}},
    };
    {
        camsim::FamilyACamera camera(server, {.model = 20});
        use(makeCameraControl(1, 20), 1, 20);
        for (const Case &c : familyA) {
            Request r = request(c);
            int result = 0;
            auto targets = run(r.get(), result, c.targets.size());
            if (c.expected == kAny)
                EXPECT_GE(result, 0) << c.code;
            else
                EXPECT_EQ(result, c.expected) << c.code;
            EXPECT_EQ(targets, c.targets) << c.code << (c.filled ? " filled" : "");
        }
    }
    const Case familyB[] = {
        {1, 0, {}},
        {3, 0, {"/GetStatus.cgi"}},
        {4, 0, {}},  // nothing given: nothing to change
        {4, kAny, {"/ChangeResolution.cgi?ResType=160x120", "/ChangeCompressRatio.cgi?Ratio=1"}, true},
        {5, 0, {}},
        {6, 0, {}},
        {7, 0, {"/GetStatus.cgi"}},
        {8, 0, {}},
        {8, kAny, {"/ChangeBrightness.cgi?Brightness=1", "/ChangeContrast.cgi?Contrast=2",
                  "/ChangeSaturation.cgi?Saturation=3", "/ChangeHue.cgi?Hue=4"}, true},
        {9, 0, {"/GetMotionDetect.cgi", "/GetStatus.cgi"}},
        {10, kAny, {"/SetMotionDetect.cgi?Enable=&Sensitivity="}},
        {10, kAny, {"/SetMotionDetect.cgi?Enable=1&Sensitivity=2", "/SetMonitorRect.cgi?Rect=,3,4,5,6"}, true},
        {11, 0, {"/GetPTZ.cgi"}},
        {13, 8, {"/GetDVRtype.cgi"}},
        {15, 0, {"/GetCCD.cgi"}},
        {16, kAny, {"/SetCCD.cgi?"}},
        {16, kAny, {"/SetCCD.cgi?MIRROR=4&AGC=3&BLC=2&AES=1"}, true},
        {257, -1, {}},
        {258, -1, {}},
        {8244, kUnknownCommand, {}},
    };
    camsim::CgiServer b;
    ASSERT_TRUE(b.start());
    camsim::FamilyBCamera recorder(b, {.recorderChannels = 8});
    session->port = b.port();
    use(makeCameraControl(2, 0), 2, 0);
    for (const Case &c : familyB) {
        Request r = request(c);
        b.clearRequests();
        const int result = IPCamCommandDirect(session.get(), r.get(), nullptr);
        if (!c.targets.empty()) b.waitForRequests(c.targets.size(), 1000);
        if (c.expected == kAny)
            EXPECT_GE(result, 0) << c.code;
        else
            EXPECT_EQ(result, c.expected) << c.code;
        std::vector<std::string> targets;
        for (const auto &request : b.requests()) targets.push_back(request.target);
        EXPECT_EQ(targets, c.targets) << c.code << (c.filled ? " filled" : "");
    }
}

TEST_F(CommandObjectsTest, FactoryChoosesTheObjectByTypeAndModel) {
    struct Case {
        int32_t type;
        uint32_t model;
        const char *kind;
    } cases[] = {
        {1, 20, "A"},
        {4, 20, "A"},
        {5, 0xFF000007u, "device"},
        {1, 0xFF000000u, "device"},
        {2, 0, "B"},
        {9, 0, "server"},
        {0, 0, nullptr},
        {3, 0, nullptr},
        {10, 0, nullptr},
        {-1, 0, nullptr},
    };
    for (const Case &c : cases) {
        std::unique_ptr<CameraControl> control(makeCameraControl(c.type, c.model));
        const std::string want = c.kind ? c.kind : "none";
        std::string got = "none";
        if (dynamic_cast<DeviceControl *>(control.get()))
            got = "device";
        else if (dynamic_cast<FamilyAControl *>(control.get()))
            got = "A";
        else if (dynamic_cast<FamilyBControl *>(control.get()))
            got = "B";
        else if (dynamic_cast<ServerControl *>(control.get()))
            got = "server";
        EXPECT_EQ(got, want) << c.type;
    }
}

TEST_F(CommandObjectsTest, TwoWayAudioAndPanTiltByObject) {
    struct Case {
        uint32_t model;
        int32_t twoWay;
    } cases[] = {{0, 1}, {10, 1}, {56, 1}, {57, 0}, {82, 1}, {88, 1}, {123, 1}, {124, 0}, {161, 0}};
    for (const Case &c : cases) {
        FamilyAControl control(c.model);
        EXPECT_EQ(control.GetValue(), c.twoWay) << c.model;
        EXPECT_TRUE(control.CanQueryItems());
    }
    FamilyBControl b;
    EXPECT_EQ(b.GetValue(), 0);
    EXPECT_TRUE(b.CanQueryItems());
}

// Handlers that record what the dispatcher handed them, for the codes whose rules act before
// any handler (pan/tilt and recorder keys).
struct Seen {
    static inline int calls = 0;
    static inline int32_t channel = -1, recorderChannels = -1;
    static inline uint32_t model = 0;
    static int handler(CommandObject &, CommandCall &call, void *) {
        ++calls;
        channel = call.channel;
        model = call.modelNumber;
        recorderChannels = call.recorderChannels;
        return 7;
    }
};
const CommandMap kRuleMap = {{12, Seen::handler}, {14, Seen::handler}};

struct RuleFamilyA : FamilyAControl {
    explicit RuleFamilyA(uint32_t model) : FamilyAControl(kRuleMap, model) {}
};
struct RuleFamilyB : FamilyBControl {
    RuleFamilyB() : FamilyBControl(kRuleMap) {}
};

TEST_F(CommandObjectsTest, DispatcherRulesForPanTiltAndRecorderKeys) {
    struct Case {
        const char *name;
        bool familyB;
        uint32_t model;
        int32_t code, word;        // request code and its second word
        int32_t sessionRecorders;  // the session's recorder channel count
        int expected;              // result
        int32_t item1;             // session item 1 afterwards (starts at 55)
        int32_t handedRecorders;   // what the handler saw, when it ran
    } cases[] = {
        {"A stores the pan/tilt word", false, 20, 12, 4, 0, 7, 4, 0},
        {"A keeps item 1 for a negative word", false, 20, 12, -1, 0, 7, 55, 0},
        {"A keeps item 1 for models of S6", false, 61, 12, 4, 0, 7, 55, 0},
        {"B always stores", true, 61, 12, -1, 0, 7, -1, 0},
        {"A key without recorder channels", false, 20, 14, 0, 0, kNoRecorderChannels, 55, -1},
        {"A key on a playback recorder", false, 99, 14, 0, 0, 7, 55, 0},
        {"A key with channels known", false, 20, 14, 0, 8, 7, 55, 8},
        {"B key without channels", true, 0, 14, 0, 0, kNoRecorderChannels, 55, -1},
        {"B key with channels", true, 0, 14, 0, 16, 7, 55, 16},
    };
    for (const Case &c : cases) {
        CameraControl *control =
            c.familyB ? static_cast<CameraControl *>(new RuleFamilyB) : new RuleFamilyA(c.model);
        use(control, c.familyB ? 2 : 1, c.model);
        session->itemValue1 = 55;
        session->recorderChannels = c.sessionRecorders;
        session->videoStream = 3;
        Seen::calls = 0;
        Seen::recorderChannels = -1;
        int32_t request[8] = {c.code, c.word};
        EXPECT_EQ(IPCamCommandDirect(session.get(), request, nullptr), c.expected) << c.name;
        EXPECT_EQ(session->itemValue1, c.item1) << c.name;
        EXPECT_EQ(Seen::calls, c.expected == 7 ? 1 : 0) << c.name;
        EXPECT_EQ(Seen::recorderChannels, c.handedRecorders) << c.name;
        if (Seen::calls) {
            EXPECT_EQ(Seen::channel, 3) << c.name;
            EXPECT_EQ(Seen::model, c.model) << c.name;
        }
    }
}

TEST_F(CommandObjectsTest, FamilyBSetsAlarmCountsOnlyWhenBothAreUnknown) {
    camsim::FamilyBCamera camera(server, {});
    use(makeCameraControl(2, 0), 2, 0);
    Request request(1);
    int result = 0;
    run(request.get(), result);
    EXPECT_EQ(session->inputCount, 2);
    EXPECT_EQ(session->outputCount, 2);
    session->inputCount = 0;
    session->outputCount = 1;
    run(request.get(), result);
    EXPECT_EQ(session->inputCount, 0);
    EXPECT_EQ(session->outputCount, 1);

    // Family A leaves them to detection.
    use(makeCameraControl(1, 20), 1, 20);
    session->outputCount = 0;
    run(request.get(), result);
    EXPECT_EQ(session->inputCount, 0);
}

TEST_F(CommandObjectsTest, RequestsWithoutRecordAreRefused) {
    use(makeCameraControl(1, 20), 1, 20);
    EXPECT_EQ(IPCamCommandDirect(session.get(), nullptr, nullptr), IPCAM_IS_NULL);
    EXPECT_EQ(session->control.load()->Command(nullptr, nullptr, nullptr), IPCAM_IS_NULL);
}

TEST_F(CommandObjectsTest, BackgroundCommandsRunOnTheirOwnThreads) {
    camsim::FamilyACamera camera(server, {.model = 20});
    use(makeCameraControl(1, 20), 1, 20);
    auto *control = static_cast<CommandObject *>(session->control.load());
    int flag = 1;

    IPCamSettingsRecord name{};
    name.code = 4100;
    std::strcpy(name.field[0], "Porch");
    EXPECT_EQ(IPCamCommandDirect(session.get(), &name, &flag), 0);
    for (int i = 0; i < 200 && camera.value("GetName.cgi", "Name") != "Porch"; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(camera.value("GetName.cgi", "Name"), "Porch");

    // A finished worker is dropped at the next command.
    for (int i = 0; i < 200 && control->workerCount() != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(control->workerCount(), 0u);

    // Codes the object does not know are answered at once, without a worker.
    Request unknown(99);
    EXPECT_EQ(IPCamCommandDirect(session.get(), unknown.get(), &flag), kUnknownCommand);
    EXPECT_EQ(control->workerCount(), 0u);
}

TEST_F(CommandObjectsTest, BackgroundCommandsEndOnResultsNoRetryCanChange) {
    struct Case {
        const char *name;
        const char *account;   // the session's; the camera asks for admin:secret
        int32_t ptzCommand;    // 0: read the camera's name instead
        std::size_t requests;  // what the camera receives in all
    } cases[] = {
        {"no such CGI (404)", "admin", 0, 1},
        {"account refused (401)", "intruder", 0, 1},
        {"a command the wording lacks (-4)", "admin", 2, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        camsim::CgiServer camera;
        ASSERT_TRUE(camera.start());
        camera.setCredentials("admin", "secret");
        camera.setBody("SetPTZ.cgi", "OK");  // GetName.cgi stays unrouted: 404
        session->port = camera.port();
        std::strcpy(session->user, c.account);
        std::strcpy(session->password, "secret");
        use(makeCameraControl(1, 20), 1, 20);
        auto *control = static_cast<CommandObject *>(session->control.load());

        IPCamSettingsRecord name{};
        name.code = 4099;
        PtzRequest ptz{};
        ptz.code = IPCAM_CMD_PAN_TILT;
        ptz.command = c.ptzCommand;
        int flag = 1;
        void *request = c.ptzCommand ? static_cast<void *>(&ptz) : static_cast<void *>(&name);
        EXPECT_EQ(IPCamCommandDirect(session.get(), request, &flag), 0);
        if (c.requests) {
            EXPECT_TRUE(camera.waitForRequests(c.requests, 3000));
        }
        for (int i = 0; i < 300 && control->workerCount() != 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(control->workerCount(), 0u);
        EXPECT_EQ(camera.requests().size(), c.requests);
        delete session->control.exchange(nullptr);
    }
}

TEST_F(CommandObjectsTest, FailingBackgroundCommandRetriesSpacedUntilTheObjectGoes) {
    // A camera that fails the request (500): the worker tries again, never sooner than 500 ms
    // after its last attempt began.
    using Clock = std::chrono::steady_clock;
    std::mutex lock;
    std::vector<Clock::time_point> arrivals;
    server.setRequestObserver([&](const camsim::RecordedRequest &) {
        std::lock_guard guard(lock);
        arrivals.push_back(Clock::now());
    });
    server.setBody("GetName.cgi", "", 500);
    use(makeCameraControl(1, 20), 1, 20);
    auto *control = static_cast<CommandObject *>(session->control.load());
    IPCamSettingsRecord name{};
    name.code = 4099;
    int flag = 1;
    EXPECT_EQ(IPCamCommandDirect(session.get(), &name, &flag), 0);
    ASSERT_TRUE(server.waitForRequests(3, 5000));
    EXPECT_EQ(control->workerCount(), 1u);
    {
        std::lock_guard guard(lock);
        for (std::size_t i = 1; i < arrivals.size(); ++i)
            EXPECT_GE(arrivals[i] - arrivals[i - 1], std::chrono::milliseconds(450)) << i;
    }

    // Deleting the object ends the worker's pause at once.
    EXPECT_LT(kestrel_test::elapsedMs([&] { delete session->control.exchange(nullptr); }), 3000);
    const std::size_t after = server.requests().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(server.requests().size(), after);
    EXPECT_TRUE(server.waitUntilIdle(2000));
    server.setRequestObserver(nullptr);
}

}  // namespace
