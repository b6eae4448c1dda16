// The client configuration file, IPCamconfig.txt.
//
// A small optional text file beside the program tunes the socket time-outs and the
// reachability probe. It has no line structure: each setting is found by searching the text
// for its key; numbers run up to the next "<E>", yes/no values are the one character after
// the key; texts, like numbers, run up to the next "<E>". It is read once by IPCamInit and the
// values stay fixed afterwards.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/address_cache.h"

namespace ipcam {

inline constexpr std::size_t kServiceHostSize = 256;  // a full DNS name (253) and its NUL

struct Settings {
    bool pingEnable = false;      // "Ping_Enable=": probe each host before connecting
    uint32_t pingTimeout = 6000;  // "Ping_Timeout=": ms an echo may take (0 when the probe is off)
    uint32_t getTimeout = 7000;   // "Get_Timeout=": ms, receive time-out of every socket
    uint32_t setTimeout = 7000;   // "Set_Timeout=": ms, send time-out of every socket
    uint32_t connectLimit = 6;    // "ConnectLimit=": kept, consulted by nothing
    bool usePCTime = true;        // "UsePCTime=": stamp frames with our own clock
    // "DDNS_Host1=" to "DDNS_Host3=": the dynamic-DNS redirector hosts, in the order they are
    // tried. Blanks around a name are dropped; an empty or over-long name leaves the service
    // out.
    char ddnsHost[kDynamicDnsServices][kServiceHostSize] = {};
};

inline constexpr const char *kConfigFileName = "IPCamconfig.txt";
inline constexpr std::size_t kConfigMaxBytes = 1023;
inline constexpr std::size_t kConfigMaxNumberLength = 19;

// Reads the settings from the file's text; what is missing keeps its default.
Settings parseConfig(std::string_view text);

// The file's location: IPCAM_CONFIG_DIR when set, else the program's own directory.
std::string configFilePath();

// Reads at most kConfigMaxBytes of the file at path; a missing file gives the defaults.
Settings readConfigFile(const std::string &path);

// The settings in force for the whole library.
const Settings &settings();
void setSettings(const Settings &s);

}  // namespace ipcam
