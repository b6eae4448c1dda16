// ipcam: watch, record, snapshot and control a camera from the command line, through the
// library's public interface only.
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ipcam.h"
#include "tools/cli/args.h"
#include "tools/cli/control_args.h"
#include "tools/cli/live_session.h"
#include "tools/cli/media.h"
#include "tools/cli/onvif_commands.h"
#include "tools/cli/stats.h"
#include "tools/cli/status.h"
#include "tools/cli/writer.h"

namespace {

using namespace ipcam_cli;
using Clock = std::chrono::steady_clock;

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr auto kPoll = std::chrono::milliseconds(50);
constexpr int kSnapshotQuality = 90;
constexpr int kDecodeErrorLines = 20;  // later decode errors are only counted
constexpr int kUnknownCode = -99;      // what a device's dialect answers to a code it lacks
constexpr int kNoRecorderChannels = -98;

volatile std::sig_atomic_t stopRequested = 0;
void onSignal(int) {
    stopRequested = 1;
}

void installSignals() {
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

const char *kindName(int kind) {
    switch (kind) {
        case IPCAM_FRAME_KEY:
            return "key";
        case IPCAM_FRAME_DEPENDENT:
            return "dependent";
        case IPCAM_FRAME_DROPPABLE:
            return "droppable";
        default:
            return "video";
    }
}

bool isVideo(int kind) {
    return kind >= IPCAM_FRAME_KEY && kind <= IPCAM_FRAME_DROPPABLE;
}

// What every streaming command shares: the stream's codec from its format block (or the
// pictures themselves until one came) and a decoder that follows it.
class StreamState {
  public:
    // True when b was a format block; format() then holds it.
    bool noteFormat(const Block &b) {
        if (b.kind != IPCAM_MSG_FORMAT || b.payload.size() < sizeof(StreamFormatBlock))
            return false;
        std::memcpy(&format_, b.payload.data(), sizeof format_);
        formatCodec_ = codecFromFormat(format_.videoCodec);
        return true;
    }
    const StreamFormatBlock &format() const { return format_; }
    VideoCodec codecOf(const Block &b) const {
        if (formatCodec_ != VideoCodec::Unknown) return formatCodec_;
        return sniffCodec(reinterpret_cast<const unsigned char *>(b.payload.data()),
                          b.payload.size());
    }
    // The module's decoder for codec, made afresh when the codec changed; null when there is
    // none.
    Decoder *decoderFor(const MediaModule &media, VideoCodec codec) {
        if (codec == VideoCodec::Unknown) return nullptr;
        if (!decoder_ || decoder_->codec() != codec) {
            decoder_ = media.makeDecoder(codec);
            sawKey_ = false;
        }
        return decoder_->ready() ? decoder_.get() : nullptr;
    }
    // Decoding a stream of pictures that depend on others starts at a key frame; false for
    // the frames before it.
    bool decodable(VideoCodec codec, int kind) {
        if (codec == VideoCodec::Jpeg) return true;
        sawKey_ = sawKey_ || kind == IPCAM_FRAME_KEY;
        return sawKey_;
    }
    // Whether the pictures may show damage: after a loss the library announced, up to the next
    // key frame.
    bool damageExpected(int kind) {
        if (kind == IPCAM_MSG_DAMAGE) afterLoss_ = true;
        if (kind == IPCAM_FRAME_KEY) afterLoss_ = false;
        return afterLoss_;
    }

  private:
    StreamFormatBlock format_{};
    VideoCodec formatCodec_ = VideoCodec::Unknown;
    std::unique_ptr<Decoder> decoder_;
    bool sawKey_ = false;
    bool afterLoss_ = false;
};

const unsigned char *bytes(const std::string &s) {
    return reinterpret_cast<const unsigned char *>(s.data());
}

// watch, record and snapshot: run the stream until the time is up, Ctrl-C, or (snapshot) the
// picture is written.
int runStream(const Options &o) {
    // The media module is loaded before the stream starts, so that its absence is said at once
    // and its loading does not hold up the first pictures.
    const bool decodes = (o.command == Command::Watch && o.decode) || o.command == Command::Snapshot;
    const MediaModule *media = nullptr;
    std::unique_ptr<PictureWriter> recorder;
    std::string moduleError;
    if (decodes) media = loadMediaModule(moduleError);
    if (o.command == Command::Record) recorder = makePictureWriter(o.out, moduleError);
    if ((decodes && !media) || (o.command == Command::Record && !recorder)) {
        std::fprintf(stderr, "ipcam: %s\n", moduleError.c_str());
        return kExitFailed;
    }
    if (recorder && !recorder->open()) {
        std::fprintf(stderr, "ipcam: %s\n", recorder->error().c_str());
        return kExitFailed;
    }
    BlockQueue queue(true);
    Session session;
    if (std::string e = session.start(o, queue); !e.empty()) {
        std::fprintf(stderr, "ipcam: %s\n", e.c_str());
        return kExitFailed;
    }
    ConnectionWatch connection(session.get(), o);
    FrameStats stats;
    StreamState stream;
    bool snapshotDone = false;
    std::string failure;
    int decodeErrorLines = 0;

    auto handle = [&](const Block &b) {
        stats.add(b.kind, bytes(b.payload), b.payload.size());
        const bool damageExpected = stream.damageExpected(b.kind);
        if (stream.noteFormat(b) && recorder) recorder->noteFormat(stream.format());
        if (b.kind == IPCAM_MSG_TIME_STEP && recorder) recorder->noteTimeStep();
        if (!isVideo(b.kind) || b.payload.empty()) return;
        const VideoCodec codec = stream.codecOf(b);
        if (recorder) {
            if (!recorder->add(
                    {codec, b.kind, bytes(b.payload), b.payload.size(), b.time, b.arrival}))
                failure = recorder->error();
            return;
        }
        if (!media || snapshotDone) return;
        Decoder *decoder = stream.decoderFor(*media, codec);
        if (!decoder || !stream.decodable(codec, b.kind)) return;
        decoder->expectDamage(damageExpected);
        const int pictures = decoder->decode(bytes(b.payload), b.payload.size());
        if (pictures < 0) {
            stats.addDecodeError();
            if (o.command == Command::Watch && decodeErrorLines++ < kDecodeErrorLines)
                std::printf("decode error: %s frame of %zu bytes: %s\n", kindName(b.kind),
                            b.payload.size(), decoder->error().c_str());
            return;
        }
        for (int i = 0; i < pictures; ++i) stats.addDecoded();
        if (o.command != Command::Snapshot || pictures == 0) return;
        // A JPEG picture is kept as it came; an MPEG-4 picture is compressed anew.
        const std::string jpeg =
            codec == VideoCodec::Jpeg ? b.payload : decoder->jpeg(kSnapshotQuality);
        if (jpeg.empty()) {
            failure = "cannot compress the picture";
            return;
        }
        std::ofstream file(o.out, std::ios::binary | std::ios::trunc);
        file.write(jpeg.data(), static_cast<std::streamsize>(jpeg.size()));
        file.close();
        if (!file) {
            failure = "cannot write " + o.out;
            return;
        }
        std::printf("snapshot: %s, %dx%d, %zu bytes\n", o.out.c_str(), decoder->width(),
                    decoder->height(), jpeg.size());
        snapshotDone = true;
    };

    const auto start = Clock::now();
    auto intervalStart = start;
    bool gaveUp = false;
    while (!stopRequested && secondsSince(start) < o.seconds && !snapshotDone && failure.empty()) {
        if (!connection.poll()) {
            gaveUp = true;
            break;
        }
        std::this_thread::sleep_for(kPoll);
        for (const Block &b : queue.take()) handle(b);
        if (secondsSince(intervalStart) >= 1.0) {
            const double seconds = secondsSince(intervalStart);
            intervalStart = Clock::now();
            if (connection.everConnected() && o.command != Command::Snapshot) {
                std::printf("%s\n", stats.tick(seconds).c_str());
                std::fflush(stdout);
            }
        }
    }
    const double elapsed = secondsSince(start);
    if (recorder && !recorder->close() && failure.empty()) failure = recorder->error();
    if (gaveUp) return kExitFailed;
    if (!failure.empty()) {
        std::fprintf(stderr, "ipcam: %s\n", failure.c_str());
        return kExitFailed;
    }
    // Frames may have come (and a snapshot been taken) between two looks at the state.
    if (!connection.everConnected() && stats.videoFrames() == 0) {
        connection.reportNeverConnected(elapsed, stopRequested != 0);
        return kExitFailed;
    }
    if (o.command != Command::Snapshot) std::printf("%s\n", stats.summary(elapsed).c_str());
    if (recorder && recorder->written() > 0)
        std::printf("recorded %zu pictures to %s\n", recorder->written(), o.out.c_str());
    std::fflush(stdout);
    const bool noPicture = stats.videoFrames() == 0 ||
                           (o.command == Command::Watch && o.decode && stats.decoded() == 0) ||
                           (recorder && recorder->written() == 0) ||
                           (o.command == Command::Snapshot && !snapshotDone);
    if (noPicture) {
        std::fprintf(stderr, "ipcam: no picture %s\n",
                     o.command == Command::Snapshot ? "could be decoded" : "arrived");
        return kExitFailed;
    }
    return 0;
}

// Command codes whose records are words after the code, and how many words they hold.
std::size_t wordCount(int32_t code) {
    switch (code) {
        case IPCAM_CMD_READ_VIDEO_FORMAT:
        case IPCAM_CMD_WRITE_VIDEO_FORMAT:
            return (sizeof(IPCamVideoFormatRecord) - sizeof(int32_t)) / sizeof(int32_t);
        case IPCAM_CMD_RECORDER_CHANNELS:
            return (sizeof(IPCamRecorderChannelsRecord) - sizeof(int32_t)) / sizeof(int32_t);
        case IPCAM_CMD_READ_ALARM_IO:
        case IPCAM_CMD_WRITE_ALARM_IO:
            return (sizeof(AlarmIoRequest) - sizeof(int32_t)) / sizeof(int32_t);
        default:
            return 0;
    }
}

std::string resultText(int result) {
    std::string text = "result: " + std::to_string(result);
    if (result < 0) text += " (" + statusName(result) + ")";
    return text;
}

template <std::size_t N>
void printFields(const char (&fields)[N][IPCAM_SETTINGS_FIELD_SIZE]) {
    for (std::size_t i = 0; i < N; ++i) {
        const std::size_t length = strnlen(fields[i], IPCAM_SETTINGS_FIELD_SIZE);
        if (length) std::printf("field[%zu] = %.*s\n", i, static_cast<int>(length), fields[i]);
    }
}

template <std::size_t N>
void fillFields(char (&fields)[N][IPCAM_SETTINGS_FIELD_SIZE],
                const std::vector<std::string> &texts) {
    for (std::size_t i = 0; i < texts.size() && i < N; ++i)
        std::memcpy(
            fields[i], texts[i].data(),
            std::min(texts[i].size(), static_cast<std::size_t>(IPCAM_SETTINGS_FIELD_SIZE - 1)));
}

// Starts the session and waits until it is connected; false (reported) when it was not.
bool connectSession(const Options &o, Session &session, BlockQueue &queue) {
    if (std::string e = session.start(o, queue); !e.empty()) {
        std::fprintf(stderr, "ipcam: %s\n", e.c_str());
        return false;
    }
    ConnectionWatch connection(session.get(), o);
    const auto start = Clock::now();
    while (!connection.connected()) {
        if (!connection.poll()) return false;
        if (connection.connected()) break;
        if (stopRequested || secondsSince(start) >= o.seconds) {
            connection.reportNeverConnected(secondsSince(start), stopRequested != 0);
            return false;
        }
        std::this_thread::sleep_for(kPoll);
    }
    return true;
}

int sendRecord(const Options &o, IPCamSession *session) {
    int result = 0;
    const bool useWords = !o.words.empty() || (o.fields.empty() && wordCount(o.code) > 0);
    if (useWords) {
        // Room for the largest record, whatever the code makes the library write.
        std::vector<int32_t> record(sizeof(IPCamPanTiltRecord) / sizeof(int32_t), 0);
        record[0] = o.code;
        std::copy(o.words.begin(), o.words.end(), record.begin() + 1);
        result = IPCamCommand(session, record.data(), nullptr);
        std::printf("%s\n", resultText(result).c_str());
        const std::size_t shown = std::max(o.words.size(), wordCount(o.code));
        for (std::size_t i = 1; i <= shown; ++i)
            std::printf("word[%zu] = %d (0x%08X)\n", i, record[i],
                        static_cast<uint32_t>(record[i]));
    } else if (o.code == IPCAM_CMD_READ_PAN_TILT) {
        auto record = std::make_unique<IPCamPanTiltRecord>();
        std::memset(record.get(), 0, sizeof *record);
        record->code = o.code;
        fillFields(record->field, o.fields);
        result = IPCamCommand(session, record.get(), nullptr);
        std::printf("%s\nvalue = %d\n", resultText(result).c_str(), record->value);
        printFields(record->field);
    } else {
        auto record = std::make_unique<IPCamSettingsRecord>();
        std::memset(record.get(), 0, sizeof *record);
        record->code = o.code;
        fillFields(record->field, o.fields);
        result = IPCamCommand(session, record.get(), nullptr);
        std::printf("%s\n", resultText(result).c_str());
        printFields(record->field);
    }
    return result;
}

// Control requests answer -4 for a command the device's wording lacks and -98 for a recorder
// key when the recorder's size is unknown; the status names of those codes would mislead.
std::string controlResultText(int result) {
    if (result == IPCAM_USER_OR_PASSWD_IS_ER)
        return "result: -4 (this device does not take that command; nothing was sent)";
    if (result == kNoRecorderChannels)
        return "result: -98 (not a recorder, or its channel count could not be read)";
    return resultText(result);
}

int sendPtz(const Options &o, IPCamSession *session) {
    PtzRequest request;
    parsePtzAction(o.operands, request);  // checked with the arguments
    const int result = IPCamCommand(session, &request, nullptr);
    std::printf("%s\n", controlResultText(result).c_str());
    return result;
}

int sendKey(const Options &o, IPCamSession *session) {
    RecorderKeyRequest request{IPCAM_CMD_RECORDER_KEY, 0, nullptr};
    IPCamDateTime time{};
    bool haveTime = false;
    parseRecorderKey(o.operands, request.key, time, haveTime);
    if (haveTime) request.time = &time;
    const int result = IPCamCommand(session, &request, nullptr);
    std::printf("%s\n", controlResultText(result).c_str());
    return result;
}

void printOutputs(const AlarmIoRequest &io) {
    std::printf("mode %d, interval %d, outputs", io.mode, io.interval);
    for (int i = 0; i < 4; ++i) std::printf(" %d:%s", i + 1, io.outputs[i] ? "on" : "off");
    std::printf("\n");
}

// Reads the outputs; with --set, switches one by writing back what was read, then reads again
// to show what the camera now reports.
int alarmOutputs(const Options &o, IPCamSession *session) {
    AlarmIoRequest io{};
    io.code = IPCAM_CMD_READ_ALARM_IO;
    int result = IPCamCommand(session, &io, nullptr);
    if (result < 0) {
        std::printf("%s\n", resultText(result).c_str());
        return result;
    }
    if (o.output == 0) {
        printOutputs(io);
        return result;
    }
    io.code = IPCAM_CMD_WRITE_ALARM_IO;
    io.outputs[o.output - 1] = o.outputOn ? 1 : 0;
    result = IPCamCommand(session, &io, nullptr);
    if (result < 0) {
        std::printf("%s\n", resultText(result).c_str());
        return result;
    }
    io = AlarmIoRequest{};
    io.code = IPCAM_CMD_READ_ALARM_IO;
    result = IPCamCommand(session, &io, nullptr);
    if (result >= 0)
        printOutputs(io);
    else
        std::printf("%s\n", resultText(result).c_str());
    return result;
}

// Family A objects answer -99 to family B's codes and the other way round: the family whose
// code is understood is the device's.
int namedSetting(const Options &o, IPCamSession *session) {
    const SettingName &setting = *findSetting(o.operands[0]);
    const bool write = o.command == Command::Set;
    int result = kUnknownCode;
    for (const SettingAccess &access : {setting.familyA, setting.familyB}) {
        const int32_t code = write ? access.writeCode : access.readCode;
        if (code == 0) continue;
        auto record = std::make_unique<IPCamSettingsRecord>();
        std::memset(record.get(), 0, sizeof *record);
        record->code = code;
        if (write) {
            const std::string &value = o.operands[1];
            std::memcpy(record->field[access.writeField], value.data(), value.size());
        }
        result = IPCamCommand(session, record.get(), nullptr);
        if (result == kUnknownCode) continue;
        if (result < 0) break;
        if (write)
            std::printf("%s set\n", std::string(setting.name).c_str());
        else
            std::printf("%s = %.*s\n", std::string(setting.name).c_str(),
                        static_cast<int>(
                            strnlen(record->field[access.readField], IPCAM_SETTINGS_FIELD_SIZE)),
                        record->field[access.readField]);
        return result;
    }
    if (result == kUnknownCode)
        std::fprintf(stderr, "ipcam: this device cannot %s %s\n", write ? "set" : "read",
                     std::string(setting.name).c_str());
    else
        std::printf("%s\n", resultText(result).c_str());
    return result < 0 ? result : -1;
}

int runControl(const Options &o) {
    BlockQueue queue(false);
    Session session;
    if (!connectSession(o, session, queue)) return kExitFailed;
    int result = 0;
    switch (o.command) {
        case Command::Ptz:
            result = sendPtz(o, session.get());
            break;
        case Command::Key:
            result = sendKey(o, session.get());
            break;
        case Command::Io:
            result = alarmOutputs(o, session.get());
            break;
        case Command::Get:
        case Command::Set:
            result = namedSetting(o, session.get());
            break;
        default:
            result = sendRecord(o, session.get());
            break;
    }
    std::fflush(stdout);
    return result < 0 ? kExitFailed : 0;
}

}  // namespace

int main(int argc, char **argv) {
    const ParseResult parsed = parseArgs(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.ok()) {
        std::fprintf(stderr, "ipcam: %s (try 'ipcam %s--help')\n", parsed.error.c_str(),
                     parsed.options.command == Command::None
                         ? ""
                         : (std::string(commandName(parsed.options.command)) + " ").c_str());
        return kExitUsage;
    }
    const Options &o = parsed.options;
    if (o.help) {
        std::fputs(usage(o.command).c_str(), stdout);
        return 0;
    }
    if (o.command == Command::Discover) return runDiscover(o);
    if (o.command == Command::Profiles) return runProfiles(o);
    installSignals();
    const bool streams = o.command == Command::Watch || o.command == Command::Record ||
                         o.command == Command::Snapshot;
    return streams ? runStream(o) : runControl(o);
}
