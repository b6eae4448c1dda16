// The tool's help texts: one per command, and the whole tool's.
#include <string>

#include "tools/cli/args.h"
#include "tools/cli/control_args.h"

namespace ipcam_cli {

std::string usage(Command command) {
    const std::string common =
        "  URL              rtsp://[user[:password]@]host[:port]/path[?query]: any RTSP\n"
        "                   camera by its stream address (watch, record, snapshot)\n"
        "  --user U         account name (default admin; a URL's own account otherwise)\n"
        "  --password P     account password (default empty)\n"
        "  --type T         protocol type: 0 auto (default), 1, 2, 4, 5, 9 streaming server\n"
        "  --stream N       stream number, 0 the first (default 0)\n"
        "  --udp            RTP over UDP for RTSP devices (default: on the RTSP connection)\n"
        "  --clear-password answer a device that asks for the password in clear text (HTTP\n"
        "                   Basic) over an unencrypted connection; refused otherwise\n"
        "  onvif://HOST[:PORT][/PROFILE], or --onvif DEVICE_URL [--profile N]: an ONVIF\n"
        "                   camera by its device service (watch, record, snapshot, ptz)\n";
    switch (command) {
        case Command::Watch:
            return "usage: ipcam watch HOST[:PORT]|URL|onvif://HOST[:PORT][/PROFILE] [options]\n"
                   "Connects and prints, once a second, frames per second by kind, bytes per "
                   "second,\n"
                   "the stream format, events and inputs; a summary at the end. Exit status 1 "
                   "when\n"
                   "no picture arrived. Until it connects it tries again for the whole time, then\n"
                   "says what the device did (refused the connection, gave no answer, ...).\n" +
                   common +
                   "  --audio          start the audio stream too\n"
                   "  --seconds S      how long to watch (default 10; Ctrl-C ends earlier)\n"
                   "  --decode         decode every video frame and report decode errors (after\n"
                   "                   a loss, shown as \"losses N\", damage up to the next key\n"
                   "                   frame is concealed)\n";
        case Command::Record:
            return "usage: ipcam record HOST[:PORT]|URL|onvif://... --out DIR|FILE.mkv|FILE.mp4 [options]\n"
                   "Writes the pictures received, from the first key frame. Into DIR: MPEG-4,\n"
                   "H.264 and H.265 to DIR/video.m4v, video.h264 or video.h265, Motion-JPEG to\n"
                   "DIR/000001.jpg, DIR/000002.jpg, ... Into FILE.mkv or FILE.mp4: the video as\n"
                   "it came, each picture at its time from the file's creation time; while the\n"
                   "stream is away (an outage, a reconnection) the file's time runs on, so an\n"
                   "outage is a gap in it. A .mkv can be played while it grows. A .mp4 is written\n"
                   "in fragments, one from each key frame, so that a recording cut short (a crash,\n"
                   "a kill, a power cut) keeps all but its last fragment; its H.264 and H.265 are\n"
                   "stored as avc3 and hev1, parameter sets in band, so a change of the picture\n"
                   "size mid-stream stays in the one file, each key frame saying its own size.\n" +
                   common +
                   "  --out DIR|FILE   where to write (a directory is created when missing)\n"
                   "  --audio          start the audio stream too (counted, not written)\n"
                   "  --seconds S      how long to record (default 10; Ctrl-C ends earlier)\n";
        case Command::Snapshot:
            return "usage: ipcam snapshot HOST[:PORT]|URL|onvif://... --out FILE.jpg [options]\n"
                   "Writes the first picture that decodes as a JPEG file.\n" +
                   common +
                   "  --out FILE       the JPEG file to write\n"
                   "  --seconds S      how long to wait for a picture (default 10)\n";
        case Command::Send:
            return "usage: ipcam command HOST[:PORT] --code N [--field TEXT ...] [--word N ...]\n"
                   "Waits for the connection, sends one request and prints what came back.\n"
                   "With --field: a settings record, fields in order (code 11: the pan/tilt\n"
                   "record). With --word: 32-bit words after the code. Without either, codes 3, 4\n"
                   "(video format), 13 (recorder channels), 17 and 18 (alarm outputs) send words,\n"
                   "every other code an empty settings record.\n" +
                   common +
                   "  --code N         command code\n"
                   "  --field TEXT     next text field (up to 32, 127 characters each)\n"
                   "  --word N         next 32-bit word (decimal or 0x hexadecimal)\n"
                   "  --seconds S      how long to wait for the connection (default 10)\n";
        case Command::Ptz:
            return "usage: ipcam ptz HOST[:PORT]|onvif://HOST[:PORT][/PROFILE] ACTION [ARGS] [options]\n"
                   "Waits for the connection and sends one pan/tilt/zoom command. Actions:\n" +
                   ptzActionHelp() + "Options:\n" + common +
                   "  --seconds S      how long to wait for the connection (default 10)\n";
        case Command::Key:
            return "usage: ipcam key HOST[:PORT] KEY [options]\n"
                   "Presses one key of a recorder's front panel. Keys:\n" +
                   recorderKeyHelp() + "Options:\n" + common +
                   "  --seconds S      how long to wait for the connection (default 10)\n";
        case Command::Io:
            return "usage: ipcam io HOST[:PORT] [--set N on|off] [options]\n"
                   "Prints the alarm outputs' mode, interval and states; with --set, first "
                   "switches\n"
                   "output N (1-4) on or off.\n" +
                   common +
                   "  --set N          the output to switch, followed by on or off\n"
                   "  --seconds S      how long to wait for the connection (default 10)\n";
        case Command::Get:
        case Command::Set:
            return "usage: ipcam get HOST[:PORT] SETTING [options]\n"
                   "       ipcam set HOST[:PORT] SETTING VALUE [options]\n"
                   "Reads or writes one of the camera's settings by name. Settings:\n" +
                   settingHelp() + "Options:\n" + common +
                   "  --seconds S      how long to wait for the connection (default 10)\n";
        case Command::Discover:
            return "usage: ipcam discover [--seconds N]\n"
                   "Asks the ONVIF cameras of every network this machine is on to answer, and\n"
                   "prints one line per camera: DEVICE_URL<TAB>NAME<TAB>HARDWARE, and a fourth\n"
                   "field for an answer not to trust blindly (\"answered from A, points to B\",\n"
                   "or another answer claiming the same camera). Tabs, line ends and\n"
                   "backslashes in the fields are written \\t, \\n and \\\\.\n"
                   "  --seconds N      how long to collect answers, 1-60 (default 3)\n";
        case Command::Profiles:
            return "usage: ipcam profiles DEVICE_URL|onvif://HOST[:PORT] --user U --password P [-v]\n"
                   "Prints the media profiles of an ONVIF camera: index, name, codec, size and\n"
                   "stream address. The index is what onvif://HOST/INDEX and --profile take.\n"
                   "  -v, --verbose    a sixth field, ptz or -, and a note when the camera named\n"
                   "                   its services at another address than DEVICE_URL's\n"
                   "  --clear-password answer HTTP Basic over plain HTTP (the password in clear)\n";
        case Command::None:
            break;
    }
    return "usage: ipcam COMMAND HOST[:PORT] [options]\n"
           "Commands:\n"
           "  watch      show the stream's frame rates, format, events and inputs\n"
           "  record     write the received video to files\n"
           "  snapshot   write one picture as a JPEG file\n"
           "  command    send one control request and print the answer\n"
           "  ptz        steer a pan/tilt/zoom head\n"
           "  key        press a recorder key\n"
           "  io         show or switch the alarm outputs\n"
           "  get, set   read or write a setting by name\n"
           "  discover   find the ONVIF cameras on the network\n"
           "  profiles   list an ONVIF camera's media profiles\n"
           "'ipcam COMMAND --help' describes a command's options. Exit status: 0 done, 1 the\n"
           "device failed, 2 bad arguments.\n";
}

}  // namespace ipcam_cli
