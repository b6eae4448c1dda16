// The command line of the ipcam tool: subcommand, device address and options.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ipcam_cli {

enum class Command { None, Watch, Record, Snapshot, Send, Ptz, Key, Io, Get, Set, Discover, Profiles };

struct Options {
    Command command = Command::None;
    bool help = false;  // --help: print the usage of the command (or the tool) and stop

    std::string host;
    unsigned port = 80;
    std::string url;  // an rtsp:// address given instead of HOST[:PORT]
    std::string onvif;  // an ONVIF device service URL (onvif://HOST[:PORT][/PROFILE], --onvif)
    int profile = 0;    // the ONVIF media profile, 0 the first
    bool secondsGiven = false;
    std::string user = "admin";
    std::string password;
    bool userGiven = false, passwordGiven = false;  // a URL's own account yields to these
    int type = 0;    // protocol type of IPCamCreate, 0 detects
    int stream = 0;  // stream number, 0 the first
    bool audio = false;
    bool udp = false;  // RTP over UDP for RTSP devices
    bool clearPassword = false;  // --clear-password: Basic over an unencrypted connection
    bool verbose = false;        // -v, --verbose (profiles)
    double seconds = 10;
    bool decode = false;
    std::string out;  // record: a directory; snapshot: a file

    // command
    bool haveCode = false;
    int32_t code = 0;
    std::vector<std::string> fields;
    std::vector<int32_t> words;

    // ptz ACTION [ARGS], key KEY, get SETTING, set SETTING VALUE: the words after the address
    std::vector<std::string> operands;
    // io --set N on|off
    int output = 0;  // 1-4; 0: only show the outputs
    bool outputOn = false;
};

struct ParseResult {
    Options options;
    std::string error;  // one line; empty when the command line is good
    bool ok() const { return error.empty(); }
};

// args excludes the program name.
ParseResult parseArgs(const std::vector<std::string> &args);

// The device as messages name it: HOST:PORT, or the URL without its account.
std::string addressText(const Options &options);

// The usage text of command, or of the whole tool for Command::None.
std::string usage(Command command);

// "watch" for Command::Watch.
const char *commandName(Command command);

}  // namespace ipcam_cli
