// The words of the control subcommands: pan/tilt actions, recorder keys and readable setting
// names, turned into the library's request records.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ipcam.h"

namespace ipcam_cli {

// A PtzRequest with every word -1 and an empty text, as a viewer starts one.
PtzRequest blankPtzRequest();

// "up", "preset-set 3 front door", "move-to 320 240 0 0", ...; an error text when the words
// do not make a request.
std::string parsePtzAction(const std::vector<std::string> &words, PtzRequest &request);
// The actions with their arguments, one per line, for the usage text.
std::string ptzActionHelp();

// "play", "ch3", "177", "play-from 2009-03-07 14:05:09", ...; time receives the moment of
// "play-from". An error text when the words name no key.
std::string parseRecorderKey(const std::vector<std::string> &words, int32_t &key,
                             IPCamDateTime &time, bool &haveTime);
std::string recorderKeyHelp();

// A readable setting and where each family keeps it: the settings command that reads it and
// the field of the reply, the command that writes it and the field of the request. Code 0:
// the family does not have it, or cannot write it.
struct SettingAccess {
    int32_t readCode = 0;
    int readField = 0;
    int32_t writeCode = 0;
    int writeField = 0;
};
struct SettingName {
    std::string_view name;
    std::string_view description;
    SettingAccess familyA, familyB;
};
const SettingName *findSetting(std::string_view name);
std::string settingHelp();

}  // namespace ipcam_cli
