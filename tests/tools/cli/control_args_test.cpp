// The words of the control subcommands as request records.
#include "tools/cli/control_args.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

using namespace ipcam_cli;

namespace {

std::vector<std::string> words(const std::string &line) {
    std::istringstream in(line);
    std::vector<std::string> w;
    for (std::string s; in >> s;) w.push_back(s);
    return w;
}

TEST(CliControlArgs, PanTiltActionsFillTheRequest) {
    struct Case {
        const char *line;
        int32_t command, number, model, address, baud, speed;
        std::string text;
    } cases[] = {
        {"up", IPCAM_PTZ_UP, -1, -1, -1, -1, -1, ""},
        {"down-right", IPCAM_PTZ_DOWN_RIGHT, -1, -1, -1, -1, -1, ""},
        {"iris-open", IPCAM_PTZ_IRIS_LARGE, -1, -1, -1, -1, -1, ""},
        {"menu-right", IPCAM_PTZ_MENU_RIGHT, -1, -1, -1, -1, -1, ""},
        {"tour-start", IPCAM_PTZ_TOUR_START, -1, -1, -1, -1, -1, ""},
        {"tour-start 2", IPCAM_PTZ_TOUR_START, 2, -1, -1, -1, -1, ""},
        {"preset-go 0", IPCAM_PTZ_PRESET_GO, 0, -1, -1, -1, -1, ""},
        {"preset-set 3 front door", IPCAM_PTZ_PRESET_SET, 3, -1, -1, -1, -1, "front door"},
        {"preset-remove 4", IPCAM_PTZ_PRESET_REMOVE, 4, -1, -1, -1, -1, ""},
        {"move-to 320 240 10 20", IPCAM_PTZ_MOVE_TO, -1, 320, 240, 10, 20, ""},
        {"speed 7", IPCAM_PTZ_SET_SPEED, -1, -1, -1, -1, 7, ""},
        {"protocol 0x4000000", IPCAM_PTZ_SET_PROTOCOL, -1, 1 << 26, -1, -1, -1, ""},
        {"address 12", IPCAM_PTZ_SET_ADDRESS, -1, -1, 12, -1, -1, ""},
        {"baud 9600", IPCAM_PTZ_SET_BAUD_RATE, -1, -1, -1, 9600, -1, ""},
        {"raw FF 01 00:08", IPCAM_PTZ_RAW, 4, -1, -1, -1, -1, std::string("\xFF\x01\x00\x08", 4)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        PtzRequest r;
        ASSERT_EQ(parsePtzAction(words(c.line), r), "");
        EXPECT_EQ(r.code, IPCAM_CMD_PAN_TILT);
        EXPECT_EQ(r.command, c.command);
        EXPECT_EQ(r.number, c.number);
        EXPECT_EQ(r.model, c.model);
        EXPECT_EQ(r.address, c.address);
        EXPECT_EQ(r.baudRate, c.baud);
        EXPECT_EQ(r.speed, c.speed);
        const std::size_t length = c.command == IPCAM_PTZ_RAW ? static_cast<std::size_t>(r.number)
                                                              : std::strlen(r.text);
        EXPECT_EQ(std::string(r.text, length), c.text);
    }
    // The longest name that fits the text field, and one byte more.
    PtzRequest r;
    std::vector<std::string> name = {"preset-set", "1", std::string(IPCAM_PTZ_TEXT_SIZE - 1, 'n')};
    EXPECT_EQ(parsePtzAction(name, r), "");
    name[2] += 'n';
    EXPECT_NE(parsePtzAction(name, r), "");
    std::vector<std::string> raw = {"raw", std::string(2 * (IPCAM_PTZ_TEXT_SIZE + 1), 'A')};
    EXPECT_NE(parsePtzAction(raw, r), "");
}

TEST(CliControlArgs, RecorderKeysByNameNumberAndTime) {
    struct Case {
        const char *line;
        int32_t key;
    } cases[] = {
        {"ch1", 1}, {"ch16", 16}, {"play", IPCAM_KEY_PLAY}, {"play-64x", 172},
        {"panel-2", 209}, {"pan-stop", 231}, {"177", 177}, {"0x20", 32},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        int32_t key = 0;
        IPCamDateTime time{};
        bool haveTime = true;
        ASSERT_EQ(parseRecorderKey(words(c.line), key, time, haveTime), "");
        EXPECT_EQ(key, c.key);
        EXPECT_FALSE(haveTime);
    }
    int32_t key = 0;
    IPCamDateTime t{};
    bool haveTime = false;
    ASSERT_EQ(parseRecorderKey(words("play-from 2009-03-07 14:05:09"), key, t, haveTime), "");
    EXPECT_EQ(key, IPCAM_KEY_PLAY_FROM_TIME);
    EXPECT_TRUE(haveTime);
    EXPECT_EQ(std::vector<int>({t.year, t.month, t.day, t.hour, t.minute, t.second}),
              std::vector<int>({2009, 3, 7, 14, 5, 9}));
    EXPECT_NE(parseRecorderKey(words("play-from 2009-03-07 24:00:00"), key, t, haveTime), "");
    EXPECT_NE(parseRecorderKey(words("play-from 2009-03-07 10:00:00x"), key, t, haveTime), "");
}

TEST(CliControlArgs, EverySettingNamesWhereItLives) {
    for (const char *name : {"name", "version", "brightness", "hue", "time", "login-check"}) {
        SCOPED_TRACE(name);
        const SettingName *s = findSetting(name);
        ASSERT_NE(s, nullptr);
        EXPECT_TRUE(s->familyA.readCode != 0 || s->familyB.readCode != 0);
        // Family A codes are 4097-4136, family B's 8193-8243 or the numbered read 7.
        EXPECT_TRUE(s->familyA.readCode == 0 || s->familyA.readCode >= 4097);
        EXPECT_TRUE(s->familyB.writeCode == 0 || s->familyB.writeCode >= 8193);
        EXPECT_LT(s->familyA.readField, IPCAM_SETTINGS_FIELDS);
    }
    EXPECT_EQ(findSetting("Name"), nullptr);
    EXPECT_NE(settingHelp().find("brightness"), std::string::npos);
}

}  // namespace
