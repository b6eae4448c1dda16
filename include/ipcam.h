/*
 * ipcam.h - the Kestrel camera client library.
 *
 * Plain C (C99 and C++). A caller creates one session per camera or recorder, starts its
 * threads with IPCamAction, polls IPCamGetStatus, sends control requests with IPCamCommand
 * and finally tears every session down with IPCamAllDelete. Frames and status messages reach
 * the caller's callback as EncodedFrame blocks which the callback then owns and releases
 * with IPCamFreeFrame.
 */
#ifndef IPCAM_H
#define IPCAM_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define IPCAM_API
#elif defined(__GNUC__)
#define IPCAM_API __attribute__((visibility("default")))
#else
#define IPCAM_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Compile-time checks that work in C99 as well as C++. */
#define IPCAM_STATIC_CHECK(name, cond) typedef char ipcam_check_##name[(cond) ? 1 : -1]

/* Status codes. Every function returns one of these or a value it documents. The positive
 * status 5 (connected, and the selected video channel is flagged by the device) has no name. */
enum IPCamStatus {
    IPCAM_OK = 0,
    IPCAM_IS_NULL = -1,
    IPCAM_PORT_IS_ER = -2,
    IPCAM_TYPE_IS_ER = -3,
    IPCAM_USER_OR_PASSWD_IS_ER = -4,
    IPCAM_PING_IS_ER = -5,
    IPCAM_DDNS_IS_ER = -6,
    IPCAM_SETSOCKET_IS_ER = -7,
    IPCAM_AUDIO_SOCKET_IS_ER = -9,
    IPCAM_VIDEO_GETFRAME_IS_ER = -10,
    IPCAM_IS_UNCONNECTED = -12,
    IPCAM_IS_FULL = -13,
    IPCAM_NUM_LIMITED_ER = -14,
    IPCAM_CANT_DETECT_TYPE_ER = -15,
    IPCAM_GET_INFO_IS_ER = -16,
    IPCAM_CHECK_SUM_IS_ER = -50,
    IPCAM_VIDEO_AUDIO_PORT_ER = -98,
    IPCAM_IS_OVER = -100,
    /* ONVIF devices (IPCamCreateOnvif, IPCamOnvifProfiles) */
    IPCAM_ONVIF_NOT_DEVICE = -30, /* the address answers, but not as an ONVIF device service */
    IPCAM_ONVIF_FAULT = -31,      /* the device answered a request with a SOAP fault */
    IPCAM_ONVIF_NO_PROFILE = -32, /* the device has no media profile of that number */
    IPCAM_ONVIF_NO_STREAM = -33,  /* the device gave no RTSP address for the profile */
    /* The device (or RTSP server) asks for the password in clear text (HTTP Basic) over an
     * unencrypted connection, and the caller did not allow it (IPCAM_OPTION_CLEAR_PASSWORD,
     * IPCamOnvifOptions.clearPassword): nothing was sent. */
    IPCAM_CLEAR_PASSWORD_REFUSED = -35,
    IPCAM_ONVIF_REPLY_TOO_LARGE = -36, /* the device's reply is larger than 1 MiB */
    IPCAM_ONVIF_WANTS_HTTPS = -37      /* the device redirects its service to https:// */
};

/* Protocol types given to IPCamCreate. Types 3, 6, 7, 8 and others have no transport;
 * 10 is set by the library for multicast addresses; 11 is the type of the sessions
 * IPCamCreateUrl makes, 12 of those IPCamCreateOnvif makes. */
enum IPCamProtocolType {
    IPCAM_PROTOCOL_AUTO = 0,
    IPCAM_PROTOCOL_TYPE1 = 1,
    IPCAM_PROTOCOL_TYPE2 = 2,
    IPCAM_PROTOCOL_TYPE4 = 4,
    IPCAM_PROTOCOL_TYPE5 = 5,
    IPCAM_PROTOCOL_STREAMING_SERVER = 9,
    IPCAM_PROTOCOL_MULTICAST = 10,
    IPCAM_PROTOCOL_RTSP_URL = 11,
    IPCAM_PROTOCOL_ONVIF = 12
};

/* Thread kinds of IPCamAction. */
enum IPCamActionKind { IPCAM_ACTION_VIDEO = 0, IPCAM_ACTION_AUDIO = 1 };

/* Kinds of EncodedFrame blocks handed to the callback. */
enum IPCamFrameKind {
    IPCAM_FRAME_KEY = 2,       /* key video frame: decoding may start here */
    IPCAM_FRAME_DEPENDENT = 3, /* video frame that depends on earlier ones */
    IPCAM_FRAME_DROPPABLE = 4, /* video frame no other frame depends on */
    IPCAM_FRAME_AUDIO = 5,     /* one audio frame as the device sent it */
    IPCAM_MSG_EVENT = 6,       /* 1 byte: event code changed */
    IPCAM_MSG_FORMAT = 7,      /* StreamFormatBlock of the stream */
    IPCAM_MSG_INPUT = 9,       /* 1 or 2 bytes: input bits changed */
    IPCAM_MSG_TIME_STEP = 12,  /* no payload: the stream restarted or its time went back */
    IPCAM_MSG_OVERLAY = 13,    /* 16 bytes: overlay state */
    IPCAM_MSG_DAMAGE = 14      /* no payload: a picture was lost (see below) */
};

/* IPCAM_MSG_DAMAGE: packets were lost and the pictures they carried were dropped; the frames
 * of kinds 3 and 4 that follow, up to the next key frame, refer to what is missing and may
 * decode with damage. Sent once per loss, just before the first such frame; not sent when a
 * key frame is the next frame (nothing depends on the loss then), for Motion-JPEG (every
 * picture stands alone) nor under IPCAM_OPTION_STRICT_FRAMES (nothing damaged is delivered).
 * A caller may decode on (a decoder conceals the damage, which shows better than a frozen
 * picture), drop the frames of kinds 3 and 4 up to the next key frame instead, or count the
 * losses. Callers that pass over kinds they do not know keep working as before. */

/* Head of every block handed to the callback; the payload follows the 16-byte head.
 * All numbers little-endian. */
typedef struct EncodedFrame {
    uint32_t totalSize; /* payload size + 16 */
    int32_t kind;       /* IPCamFrameKind */
    uint64_t time;      /* 100 ns units since 1 January 1601 */
} EncodedFrame;

#define IPCAM_FRAME_HEAD_SIZE 16
#define IPCAM_FRAME_PAYLOAD(frame) ((unsigned char *)(frame) + IPCAM_FRAME_HEAD_SIZE)
#define IPCAM_FRAME_PAYLOAD_SIZE(frame) \
    (((const EncodedFrame *)(frame))->totalSize - IPCAM_FRAME_HEAD_SIZE)

IPCAM_STATIC_CHECK(frame_size, sizeof(EncodedFrame) == 16);
IPCAM_STATIC_CHECK(frame_total, offsetof(EncodedFrame, totalSize) == 0);
IPCAM_STATIC_CHECK(frame_kind, offsetof(EncodedFrame, kind) == 4);
IPCAM_STATIC_CHECK(frame_time, offsetof(EncodedFrame, time) == 8);

/* The videoCodec of a StreamFormatBlock. H.264 and H.265 frames come in Annex B form
 * (00 00 00 01 before every NAL unit), one access unit each; a key frame carries the current
 * parameter sets in front. */
enum IPCamVideoCodec {
    IPCAM_VIDEO_JPEG = 0,
    IPCAM_VIDEO_MPEG4 = 4,
    IPCAM_VIDEO_H264 = 8,
    IPCAM_VIDEO_H265 = 9
};

/* Description of a stream, sent as an IPCAM_MSG_FORMAT payload. Exactly 44 bytes. */
#pragma pack(push, 4)
typedef struct StreamFormatBlock {
    int32_t modelCode;  /* low byte of the device's model code */
    int32_t videoCodec; /* IPCamVideoCodec; other values as the device names them */
    int32_t width;      /* pixels, signed as the device signalled it */
    int32_t height;
    double frameRate;
    int32_t audioCodec; /* -1 none */
    int32_t channels;   /* 0 mono, 1 otherwise */
    int32_t sampleRate; /* Hz */
    int32_t bitsPerSample;
    int32_t audioFrameSize; /* bytes */
} StreamFormatBlock;
#pragma pack(pop)

IPCAM_STATIC_CHECK(format_size, sizeof(StreamFormatBlock) == 44);
IPCAM_STATIC_CHECK(format_model, offsetof(StreamFormatBlock, modelCode) == 0);
IPCAM_STATIC_CHECK(format_video, offsetof(StreamFormatBlock, videoCodec) == 4);
IPCAM_STATIC_CHECK(format_width, offsetof(StreamFormatBlock, width) == 8);
IPCAM_STATIC_CHECK(format_height, offsetof(StreamFormatBlock, height) == 12);
IPCAM_STATIC_CHECK(format_rate, offsetof(StreamFormatBlock, frameRate) == 16);
IPCAM_STATIC_CHECK(format_audio, offsetof(StreamFormatBlock, audioCodec) == 24);
IPCAM_STATIC_CHECK(format_channels, offsetof(StreamFormatBlock, channels) == 28);
IPCAM_STATIC_CHECK(format_sample_rate, offsetof(StreamFormatBlock, sampleRate) == 32);
IPCAM_STATIC_CHECK(format_bits, offsetof(StreamFormatBlock, bitsPerSample) == 36);
IPCAM_STATIC_CHECK(format_frame_size, offsetof(StreamFormatBlock, audioFrameSize) == 40);

/* The record of the settings commands (family A 4097-4136, family B 8193-8243): the command
 * code, then one text field per key of the command, in the order the command lists its keys.
 * Reads fill the fields with the texts the camera sent (numbers in decimal text; a value longer
 * than a field is cut to fit and the read still succeeds); writes send the fields that are not
 * empty, with blanks, control characters, '%', '#', '&' and '=' written as "%XX". Unused
 * fields stay empty. Notable layouts:
 *   4109 stream settings: Fps, Mode, VBR, Bitrate, Jpeg_Quality, Resolution, Audio, then the
 *             codec (Compression_Type) in field 7.
 *   4116/4117 motion detection: md_enable, then md1_ena, md1_ulr, md1_ulc, md1_lrr, md1_lrc and
 *             the same for areas 2 and 3, level_sen1..3; from firmware 1.06 (and model codes 57,
 *             59) 4116 also reads Motion1_Status..Motion3_Status and Interval into fields 19-22.
 *   4124 user list: Check, http_admin, http_user1..http_user20 (22 fields).
 *   4130 pan/tilt settings: PTZModel, PTZSpeed, PTZID, PTZBaudrate, then preset names
 *             PName01..PName16 (fields 4-19).
 *   8194 status block: field 0 holds the 82 characters of the camera's status block.
 *   8209 motion rectangle: the four coordinates in fields 0-3.
 *   8214 user list: field 0 "1" asks for privileges; the reply's lines follow in fields 1-31.
 *   8217 flag: field 0 becomes "1" or "0".
 *   8237/8238 exposure: the read lists AGC, AES, BLC, MIRROR, the write AES, BLC, AGC, MIRROR;
 *             codes 15 and 16 use the write's order for both.
 *   8239 pan/tilt settings: PTZModel, Speed, CameraID, Baudrate, PointName0..PointName9.
 *   8242 recorder type: field 0 "0", "1" or "2" for 4, 8 or 16 channels (code 13 counts). */
#define IPCAM_SETTINGS_FIELDS 32
#define IPCAM_SETTINGS_FIELD_SIZE 128
typedef struct IPCamSettingsRecord {
    int32_t code;
    char field[IPCAM_SETTINGS_FIELDS][IPCAM_SETTINGS_FIELD_SIZE];
} IPCamSettingsRecord;

IPCAM_STATIC_CHECK(settings_code, offsetof(IPCamSettingsRecord, code) == 0);
IPCAM_STATIC_CHECK(settings_fields, offsetof(IPCamSettingsRecord, field) == 4);

/* Command codes of IPCamCommand below the settings commands. */
enum IPCamCommandCode {
    IPCAM_CMD_READ_VIDEO_FORMAT = 3,   /* IPCamVideoFormatRecord */
    IPCAM_CMD_WRITE_VIDEO_FORMAT = 4,  /* IPCamVideoFormatRecord */
    IPCAM_CMD_READ_STREAM = 5,         /* settings record laid out as 4108 (family A only) */
    IPCAM_CMD_WRITE_STREAM = 6,        /* settings record laid out as 4109 (family A only) */
    IPCAM_CMD_READ_ADJUST = 7,         /* settings record: Brightness, Contrast, Saturation, Hue */
    IPCAM_CMD_WRITE_ADJUST = 8,        /* the same record */
    IPCAM_CMD_READ_MOTION = 9,         /* family A: as 4116; family B: Enable, Sensitivity and
                                          the rectangle's four coordinates in fields 2-5 */
    IPCAM_CMD_WRITE_MOTION = 10,       /* family A: as 4117; family B: as code 9 */
    IPCAM_CMD_READ_PAN_TILT = 11,      /* IPCamPanTiltRecord */
    IPCAM_CMD_PAN_TILT = 12,          /* PtzRequest */
    IPCAM_CMD_RECORDER_CHANNELS = 13,  /* IPCamRecorderChannelsRecord */
    IPCAM_CMD_RECORDER_KEY = 14,      /* RecorderKeyRequest */
    IPCAM_CMD_READ_EXPOSURE = 15,      /* settings record: AES, BLC, AGC, then FLC (family A) or
                                          MIRROR (family B) */
    IPCAM_CMD_WRITE_EXPOSURE = 16,     /* the same record */
    IPCAM_CMD_READ_ALARM_IO = 17,      /* AlarmIoRequest */
    IPCAM_CMD_WRITE_ALARM_IO = 18      /* AlarmIoRequest */
};

/* Codes 3 and 4: the video format of the channel in use. Code 3 fills every word; code 4 writes
 * words 1-7, where -1 leaves a value as the camera has it (a record whose words 1-7 are all -1
 * except the resolution changes only the resolution).
 *   qualityMask     current quality level as a mask, bit 0 "Low" .. bit 4 "Best"; code 4 uses
 *                   its highest set bit.
 *   bitRate         kbit/s (MPEG-4 and H.264 streams); code 4 derives it from the quality.
 *   resolutionMask  current resolution, one bit of the table of 30 resolutions ("160x112" is
 *                   bit 0, "2560x2048" bit 29); code 4 uses the highest set bit.
 *   frameRate       frames per second; code 4: below 1 leaves it out, 1 and 2 become 3, above
 *                   the standard's ceiling (30 NTSC, 25 PAL, 10 at 1280x1024 on some models)
 *                   the ceiling, and the corrected value is written back into the record.
 *   maxFrameRate    the ceiling of the current standard and resolution (code 3 only).
 *   codec           1 MPEG-4, 2 Motion-JPEG, 4 H.264.
 *   standard        1 NTSC, 2 PAL.
 *   ntscResolutions, palResolutions  masks of the resolutions offered under each standard.
 *   qualities       mask of the quality levels offered (all five).
 *   codecs          mask of the codecs offered.
 *   flags           IPCAM_FORMAT_* bits of the camera's current settings.
 * Family B cameras report their "GetStatus.cgi" values: Motion-JPEG only, "160x120",
 * "320x240" and "640x480" under both standards, the quality as the camera's level number. */
#define IPCAM_FORMAT_VARIABLE_BIT_RATE 0x1
#define IPCAM_FORMAT_AUDIO 0x2
typedef struct IPCamVideoFormatRecord {
    int32_t code;
    int32_t qualityMask;
    int32_t bitRate;
    int32_t resolutionMask;
    int32_t frameRate;
    int32_t maxFrameRate;
    int32_t codec;
    int32_t standard;
    int32_t ntscResolutions;
    int32_t palResolutions;
    int32_t qualities;
    int32_t codecs;
    int32_t flags;
} IPCamVideoFormatRecord;

IPCAM_STATIC_CHECK(format_record_quality, offsetof(IPCamVideoFormatRecord, qualityMask) == 4);
IPCAM_STATIC_CHECK(format_record_resolution, offsetof(IPCamVideoFormatRecord, resolutionMask) == 12);
IPCAM_STATIC_CHECK(format_record_standard, offsetof(IPCamVideoFormatRecord, standard) == 28);
IPCAM_STATIC_CHECK(format_record_ntsc, offsetof(IPCamVideoFormatRecord, ntscResolutions) == 32);
IPCAM_STATIC_CHECK(format_record_pal, offsetof(IPCamVideoFormatRecord, palResolutions) == 36);

/* Code 11: the pan/tilt settings and preset names of the channel in use. The result, also
 * stored in value, is the pan/tilt protocol flag the camera is set to (the flag a pan/tilt
 * request names in its model word; 0 when none), or a negative status. The fields are those of
 * 4130 on family A (protocol, speed, address, baud rate, preset names 1-16 in fields 4-19) and
 * of 8239 on family B (presets 0-9 in fields 4-13). A device camera without pan/tilt answers
 * -16 with the fields emptied; models that keep no pan/tilt settings answer 0, fields empty. */
#define IPCAM_PRESET_NAMES 16
typedef struct IPCamPanTiltRecord {
    int32_t code;
    int32_t value;
    char field[IPCAM_SETTINGS_FIELDS][IPCAM_SETTINGS_FIELD_SIZE];
} IPCamPanTiltRecord;

IPCAM_STATIC_CHECK(pan_tilt_value, offsetof(IPCamPanTiltRecord, value) == 4);

/* Codes 17 and 18 (also 4127/4128 on family A, 8235/8236 on family B): the alarm outputs.
 * Code 17 reads them, code 18 writes them; a viewer toggles an output by reading, inverting
 * one state and writing the record back.
 *   mode      0 steady states, 1 timed pulses, 2 serial-port outputs; -1 reported by the
 *             recorders 90, 91 and 99. Family B knows no modes: it reports 0, writes none.
 *   interval  output interval as the camera counts it; 0 or less is not written.
 *   outputs   outputs 1 to 4, non-zero = on.
 * A read that fails leaves mode 0, interval 5 (family B: 0) and every output off. */
typedef struct AlarmIoRequest {
    int32_t code;
    int32_t mode;
    int32_t interval;
    uint8_t outputs[4];
} AlarmIoRequest;

IPCAM_STATIC_CHECK(alarm_mode, offsetof(AlarmIoRequest, mode) == 4);
IPCAM_STATIC_CHECK(alarm_interval, offsetof(AlarmIoRequest, interval) == 8);
IPCAM_STATIC_CHECK(alarm_outputs, offsetof(AlarmIoRequest, outputs) == 12);
IPCAM_STATIC_CHECK(alarm_size, sizeof(AlarmIoRequest) == 16);

/* Code 13: the recorder's channel count (0 when unknown) in channels. Family A answers the
 * request's result (1 when the camera answered); family B answers the count (4, 8 or 16), 0
 * for a type it does not know, or a negative status. */
typedef struct IPCamRecorderChannelsRecord {
    int32_t code;
    int32_t channels;
} IPCamRecorderChannelsRecord;

/* Code 12 (also 4131 on family A, 8240 and 8241 on family B): one pan/tilt/zoom command.
 * Every integer is -1 when not given; a viewer sets code 12, every other word -1, the text
 * empty, and then the command.
 *   model     the pan/tilt protocol flag (settings commands 1 and 30); for the position move
 *             (command 17) the picture's width
 *   address   the head's address on its serial bus (1, 31); picture height for command 17
 *   baudRate  the serial speed (1, 32); horizontal point for command 17
 *   speed     pan/tilt speed 0 to 9 (1, 33); vertical point for command 17. Models 61, 76, 80,
 *             81 and 135 refuse (-4) a speed outside 0 to 9.
 *   command   an IPCamPtzCommand
 *   text      NUL-terminated: a preset name (35, 36) or raw serial bytes (45). In the request
 *             a name's blanks, control characters, '%', '#', '&' and '=' are written as "%XX".
 *   number    preset number (34-36), tour group (28), count of raw bytes (45, 1 to 256)
 * The result is the camera's answer to the (last) request (1 accepted) or a negative status;
 * -4 for a command the camera's wording does not have, with nothing sent. */
enum IPCamPtzCommand {
    IPCAM_PTZ_SETTINGS = 1,  /* protocol, address, baud rate and speed together */
    IPCAM_PTZ_STOP = 3,
    IPCAM_PTZ_UP = 4,
    IPCAM_PTZ_DOWN = 5,
    IPCAM_PTZ_LEFT = 6,
    IPCAM_PTZ_RIGHT = 7,
    IPCAM_PTZ_UP_START = 8, /* 8-11: moves that last until IPCAM_PTZ_STOP */
    IPCAM_PTZ_DOWN_START = 9,
    IPCAM_PTZ_LEFT_START = 10,
    IPCAM_PTZ_RIGHT_START = 11,
    IPCAM_PTZ_UP_LEFT = 12,
    IPCAM_PTZ_UP_RIGHT = 13,
    IPCAM_PTZ_DOWN_LEFT = 14,
    IPCAM_PTZ_DOWN_RIGHT = 15,
    IPCAM_PTZ_HOME = 16,
    IPCAM_PTZ_MOVE_TO = 17, /* centre on a point of the picture */
    IPCAM_PTZ_ZOOM_IN = 18,
    IPCAM_PTZ_ZOOM_OUT = 19,
    IPCAM_PTZ_FOCUS_NEAR = 20,
    IPCAM_PTZ_FOCUS_FAR = 21,
    IPCAM_PTZ_IRIS_LARGE = 22,
    IPCAM_PTZ_IRIS_SMALL = 23,
    IPCAM_PTZ_PAN_START = 24,
    IPCAM_PTZ_PAN_STOP = 25,
    IPCAM_PTZ_PATROL_START = 26,
    IPCAM_PTZ_PATROL_STOP = 27,
    IPCAM_PTZ_TOUR_START = 28,
    IPCAM_PTZ_TOUR_STOP = 29,
    IPCAM_PTZ_SET_PROTOCOL = 30,
    IPCAM_PTZ_SET_ADDRESS = 31,
    IPCAM_PTZ_SET_BAUD_RATE = 32,
    IPCAM_PTZ_SET_SPEED = 33,
    IPCAM_PTZ_PRESET_GO = 34,
    IPCAM_PTZ_PRESET_SET = 35,
    IPCAM_PTZ_PRESET_REMOVE = 36,
    IPCAM_PTZ_MENU = 37, /* 37-44: the head's on-screen menu: menu, exit, select, confirm, */
    IPCAM_PTZ_MENU_EXIT = 38, /* up, down, left, right */
    IPCAM_PTZ_MENU_SELECT = 39,
    IPCAM_PTZ_MENU_CONFIRM = 40,
    IPCAM_PTZ_MENU_UP = 41,
    IPCAM_PTZ_MENU_DOWN = 42,
    IPCAM_PTZ_MENU_LEFT = 43,
    IPCAM_PTZ_MENU_RIGHT = 44,
    IPCAM_PTZ_RAW = 45 /* raw serial bytes */
};

#define IPCAM_PTZ_TEXT_SIZE 256
typedef struct PtzRequest {
    int32_t code;
    int32_t model;
    int32_t address;
    int32_t baudRate;
    int32_t speed;
    int32_t command;
    char text[IPCAM_PTZ_TEXT_SIZE];
    int32_t number;
} PtzRequest;

IPCAM_STATIC_CHECK(ptz_model, offsetof(PtzRequest, model) == 4);
IPCAM_STATIC_CHECK(ptz_command, offsetof(PtzRequest, command) == 20);
IPCAM_STATIC_CHECK(ptz_text, offsetof(PtzRequest, text) == 24);
IPCAM_STATIC_CHECK(ptz_number, offsetof(PtzRequest, number) == 280);
IPCAM_STATIC_CHECK(ptz_size, sizeof(PtzRequest) == 284);

/* A date and time as recorders take it, every member 16 bits. */
typedef struct IPCamDateTime {
    uint16_t year;
    uint16_t month;
    uint16_t dayOfWeek;
    uint16_t day;
    uint16_t hour;
    uint16_t minute;
    uint16_t second;
    uint16_t milliseconds;
} IPCamDateTime;

/* Code 14: one key of a recorder's front panel. Keys: 1-16 channels; 160 fast rewind, 161
 * rewind, 162 pause-rewind, 163 stop, 164 pause-forward, 165 play, 166 fast forward; 167-172
 * play at 2x to 64x; 173 play from time (which must then point to the moment); 176-179 up,
 * down, left, right (or the 9-, 4-, 13- and 16-way splits); 192 auto, 193 select, 194 enter;
 * 208 and 209 panel keys; 224-231 the camera's up, down, left, right, zoom in, zoom out,
 * automatic pan and pan stop. The result is the recorder's answer to the (last) request, -4
 * for a key its wording does not have (nothing sent), -98 when the recorder's channel count is
 * unknown and cannot be learnt. */
enum IPCamRecorderKey {
    IPCAM_KEY_FAST_REWIND = 160,
    IPCAM_KEY_REWIND = 161,
    IPCAM_KEY_PAUSE_REWIND = 162,
    IPCAM_KEY_STOP = 163,
    IPCAM_KEY_PAUSE_FORWARD = 164,
    IPCAM_KEY_PLAY = 165,
    IPCAM_KEY_FAST_FORWARD = 166,
    IPCAM_KEY_PLAY_2X = 167, /* up to IPCAM_KEY_PLAY_2X + 5: 64x */
    IPCAM_KEY_PLAY_FROM_TIME = 173,
    IPCAM_KEY_UP = 176,
    IPCAM_KEY_DOWN = 177,
    IPCAM_KEY_LEFT = 178,
    IPCAM_KEY_RIGHT = 179,
    IPCAM_KEY_AUTO = 192,
    IPCAM_KEY_SELECT = 193,
    IPCAM_KEY_ENTER = 194,
    IPCAM_KEY_PANEL_1 = 208,
    IPCAM_KEY_PANEL_2 = 209,
    IPCAM_KEY_CAMERA_UP = 224,
    IPCAM_KEY_CAMERA_DOWN = 225,
    IPCAM_KEY_CAMERA_LEFT = 226,
    IPCAM_KEY_CAMERA_RIGHT = 227,
    IPCAM_KEY_ZOOM_IN = 228,
    IPCAM_KEY_ZOOM_OUT = 229,
    IPCAM_KEY_AUTO_PAN = 230,
    IPCAM_KEY_PAN_STOP = 231
};

typedef struct RecorderKeyRequest {
    int32_t code;
    int32_t key;
    const IPCamDateTime *time; /* key 173 only */
} RecorderKeyRequest;

IPCAM_STATIC_CHECK(recorder_key, offsetof(RecorderKeyRequest, key) == 4);

typedef struct IPCamSession IPCamSession; /* opaque to callers */

/* Receives (context, id & 0xFF, EncodedFrame block, id). The callback owns the block and
 * frees it with IPCamFreeFrame. Its result is ignored. */
typedef int (*IPCamFrameCallback)(void *context, int channel, void *frame, int id);

/* Starts the library: reads IPCamconfig.txt. Returns 1. */
IPCAM_API int IPCamInit(void);
/* Releases the library. Returns 0. */
IPCAM_API int IPCamExit(void);

/* The longest text account:password (account, a colon, password) a session or a control
 * request can carry in its Basic authorisation. */
#define IPCAM_CREDENTIALS_MAX 39

/* Creates a session keyed by id. Returns 0 (also when id already exists: then *out is left
 * alone), -2 for a port above 65535, and -1 for a null out pointer, a host, account or
 * password longer than 127 characters, or an account and password whose text
 * account:password is longer than IPCAM_CREDENTIALS_MAX: such an account could not be sent
 * whole, so it is refused here rather than cut or left out of the requests. NULL account and
 * password count as empty. */
IPCAM_API int IPCamCreate(IPCamSession **out, const char *host, unsigned int port, const char *user,
                          const char *password, int id, int protocolType);
/* Creates a session that plays any RTSP server by its URL,
 * rtsp://[user[:password]@]host[:port]/path[?query] (port 554 when absent), with Basic or
 * Digest authentication as the server asks. The account and password in the URL are
 * percent-decoded; user and password, when not NULL, take their place. Returns 0 (also when id
 * already exists: then *out is left alone), -1 for a null out pointer or url, a text that is
 * no such URL or does not fit (URLs up to 1023 bytes, account and password up to 127 bytes
 * each; no blanks or control characters), -2 for a port of 0 or above 65535. The session has
 * protocol type IPCAM_PROTOCOL_RTSP_URL and no CGI dialect: IPCamCommand answers -99. */
IPCAM_API int IPCamCreateUrl(IPCamSession **out, const char *url, const char *user,
                             const char *password, int id);
/* Creates a session for an ONVIF (Profile S) device by its device service URL,
 * http://host[:port]/path (port 80 when absent), such as discovery reports it. Before each
 * connection the video thread reads the device's clock, signs its requests with a WS-Security
 * UsernameToken in the device's time (and answers HTTP Digest when the device asks for it;
 * HTTP Basic only as IPCAM_OPTION_CLEAR_PASSWORD allows), finds the media service (Media2 when
 * the device offers it, else Media), takes the profile-th media profile (0 the first) and asks
 * its RTSP address, which it then plays like IPCamCreateUrl with the same account; the
 * address's host is replaced by the device URL's (its port kept, or the one of
 * IPCAM_OPTION_ONVIF_RTSP_PORT). When the device names its services at another host than the
 * device URL's (a camera behind a port forward or a router), they are asked at the device
 * URL's host and port. Each request may take 10 s at most in all. Returns 0 (also when id
 * already exists: then *out is left alone), -1 for a null out pointer or url, a URL that is
 * not http://, does not fit (1023 bytes; account and password 127 each) or a negative
 * profile, -2 for a port of 0 or above 65535. IPCamCommand takes pan/tilt/zoom requests (code
 * 12): the moves (only the axes the profile's PTZ configuration has), stop, home and presets
 * (go, set, remove); anything else, and any of them on a profile without PTZ, answers -99. A
 * request the device refuses as unauthorised is sent once more after its clock is read again
 * when the clock has moved (a time server set it). */
IPCAM_API int IPCamCreateOnvif(IPCamSession **out, const char *deviceUrl, const char *user,
                               const char *password, int profile, int id);

/* What the newer ONVIF calls (IPCamOnvifProfilesWith, IPCamDiscoverWith) take beyond the older
 * ones. A zeroed record (or NULL) asks for the defaults, which are the older calls'. */
typedef struct IPCamOnvifOptions {
    /* 1: answer a device that offers only HTTP Basic over plain HTTP (the password then
     * crosses the network in clear text). 0: refuse with IPCAM_CLEAR_PASSWORD_REFUSED. */
    int32_t clearPassword;
    /* The longest one request may take in all, from connecting to its reply's last byte, in
     * ms: 0 for 10000, else 100 to 600000 (out of range: -3). */
    int32_t requestTimeoutMs;
    /* IPCamOnvifProfilesWith: the port of the stream addresses in place of the device's (a
     * camera behind a port forward), 1 to 65535; 0 keeps the device's. */
    int32_t rtspPort;
    /* Not NULL: asked on the calling thread with the call's context at least every 100 ms
     * (while a host name is being resolved, once it is); non-zero ends the call at once with
     * IPCAM_IS_OVER. */
    int (*stop)(void *context);
} IPCamOnvifOptions;

/* Finds ONVIF video devices: sends a WS-Discovery Probe for NetworkVideoTransmitter to
 * 239.255.255.250 port 3702 on every IPv4 interface that can send multicast, three times half a
 * second apart, and collects the answers for seconds (1 to 60). Then found is called on the
 * calling thread once per device and address (answers are told apart by the device's endpoint
 * and its URL), with its device service URL and the name and hardware of its scopes (empty
 * when it has none; control characters in them replaced by '?'). A URL naming 0.0.0.0, or a
 * loopback or link-local address the answer did not come from, is given with the answer's
 * source address instead. Addresses with an account part (http://a@b/) are refused, and a
 * device whose URL names another host than the one that answered is left out here
 * (IPCamDiscoverWith lists it, marked). At most 256 devices are listed. Returns the number of
 * devices listed, or -1 for a null found or seconds out of range. The environment variable
 * IPCAM_DISCOVERY_PORT names another port, for simulated devices on this machine: the Probe
 * then goes out on the loopback interface only. */
typedef void (*IPCamDiscoverCallback)(void *context, const char *deviceUrl, const char *name,
                                      const char *hardware);
IPCAM_API int IPCamDiscover(int seconds, IPCamDiscoverCallback found, void *context);

/* IPCamOnvifFound.flags */
#define IPCAM_FOUND_ELSEWHERE 1 /* the URL names another host than answeredFrom: an answer
                                 * may name any host, so such a device is not to be trusted
                                 * blindly ("answered from A, points to B") */
#define IPCAM_FOUND_CONTESTED 2 /* another answer claims the same endpoint with another URL */
/* One device as IPCamDiscoverWith reports it; the texts live for the callback's length. */
typedef struct IPCamOnvifFound {
    const char *deviceUrl; /* as IPCamDiscover gives it */
    const char *name;
    const char *hardware;
    const char *endpoint;     /* the device's identity, "urn:uuid:..."; "" when it gave none */
    const char *answeredFrom; /* the dotted address of the host the answer came from */
    int32_t flags;            /* IPCAM_FOUND_... */
} IPCamOnvifFound;
typedef void (*IPCamDiscoverFoundCallback)(void *context, const IPCamOnvifFound *device);
/* IPCamDiscover that also lists (marked) the devices whose URL names another host than the
 * one that answered, tells where each answer came from, and stops when options->stop says so
 * (then found is not called and the result is IPCAM_IS_OVER). Only options->stop applies;
 * options may be NULL. */
IPCAM_API int IPCamDiscoverWith(int seconds, const IPCamOnvifOptions *options,
                                IPCamDiscoverFoundCallback found, void *context);

/* One media profile of an ONVIF device, as IPCamOnvifProfiles reports it. Texts are the
 * device's with control characters replaced by '?'. */
typedef struct IPCamOnvifProfile {
    int32_t index;       /* the profile argument of IPCamCreateOnvif that plays it */
    char token[64];      /* the device's name for it in requests */
    char name[64];       /* the name it shows */
    char codec[16];      /* "H264", "H265", "JPEG", "MPEG4", or as the device wrote it */
    int32_t width;       /* 0 when the profile has no video encoder */
    int32_t height;
    char streamUri[1024]; /* its RTSP address, the host (and port) replaced as a session would */
    int32_t ptz;         /* 1: the profile has a PTZ configuration; 0: a session on it answers
                          * PTZ requests -99, so their buttons can be greyed out */
    /* When the device named its services at another host or port than the device URL's (a
     * camera behind a port forward) and the device URL's were used instead: the host and
     * port it named ("192.168.1.20:80"); "" otherwise. */
    char servicesNamed[64];
} IPCamOnvifProfile;
/* The fields of earlier releases stay where they were. */
IPCAM_STATIC_CHECK(onvif_profile_uri, offsetof(IPCamOnvifProfile, streamUri) == 156);
IPCAM_STATIC_CHECK(onvif_profile_ptz, offsetof(IPCamOnvifProfile, ptz) == 1180);

/* Reads the media profiles of an ONVIF device and calls profile once for each, in the
 * device's order, on the calling thread. Returns the number of profiles, -1 for a null
 * deviceUrl or profile, or the status a session would show (-4 account refused, -7 no
 * connection, -12 no answer in time, IPCAM_CLEAR_PASSWORD_REFUSED, IPCAM_ONVIF_...). */
IPCAM_API int IPCamOnvifProfiles(const char *deviceUrl, const char *user, const char *password,
                                 void (*profile)(void *context, const IPCamOnvifProfile *p),
                                 void *context);
/* IPCamOnvifProfiles with options (NULL: IPCamOnvifProfiles itself); -3 for options out of
 * range, IPCAM_IS_OVER when options->stop ended it. */
IPCAM_API int IPCamOnvifProfilesWith(const char *deviceUrl, const char *user, const char *password,
                                     const IPCamOnvifOptions *options,
                                     void (*profile)(void *context, const IPCamOnvifProfile *p),
                                     void *context);
/* Chooses the stream numbers used from the next connection attempt on. */
IPCAM_API int IPCamSetStreamNum(IPCamSession *session, int videoStream, int audioStream);
/* Chooses how RTSP sessions carry RTP: rtpOverUdp 0 interleaved on the RTSP connection (the
 * default, unless the environment variable IPCAM_RTP_UDP is 1), non-zero over UDP from local
 * port clientPortBase on (0: any). Takes effect at the next connection attempt. 0, or -1 for a
 * null session. */
IPCAM_API int IPCamSetTransport(IPCamSession *session, int rtpOverUdp, int clientPortBase);
/* Per-session options of IPCamSetOption. Each takes effect at the next connection attempt
 * (the reorder window and strict frames at once). */
enum IPCamOption {
    /* 1: after a lost packet deliver no video until the next key frame, as older releases
     * did. 0 (the default): only the damaged frame is dropped and the frames after it are
     * delivered behind an IPCAM_MSG_DAMAGE message. */
    IPCAM_OPTION_STRICT_FRAMES = 1,
    /* 1: answer a camera that offers only Basic authentication over an unencrypted connection
     * (the password then crosses the network in clear text). 0 (the default): refuse, and the
     * session's status is IPCAM_CLEAR_PASSWORD_REFUSED. A camera that offers Digest beside
     * Basic is never answered with Basic, even when Digest cannot be answered. */
    IPCAM_OPTION_CLEAR_PASSWORD = 2,
    /* Milliseconds a camera has to answer each request of the RTSP handshake (DESCRIBE,
     * SETUP, PLAY); 1000 to 600000, 20000 by default. */
    IPCAM_OPTION_REPLY_TIMEOUT = 3,
    /* Milliseconds an RTP packet over UDP may be held back waiting for one that was sent
     * before it; 0 to 500, 50 by default, 0 takes packets as they come. */
    IPCAM_OPTION_REORDER_WINDOW = 4,
    /* ONVIF sessions: the port to play the device's stream address at in place of its own
     * (a camera behind a port forward); 1 to 65535, 0 (the default) keeps the address's. */
    IPCAM_OPTION_ONVIF_RTSP_PORT = 5
};
/* Sets a per-session option. 0, -1 for a null session, -3 for an option it does not know or a
 * value out of its range. */
IPCAM_API int IPCamSetOption(IPCamSession *session, int option, int value);
/* Starts the video (kind 0) or audio (kind 1) thread. A second call is a no-op. */
IPCAM_API int IPCamAction(IPCamSession *session, IPCamFrameCallback callback, void *context,
                          int kind);
/* 0 or 5 while connected; a negative status while not. */
IPCAM_API int IPCamGetStatus(IPCamSession *session);
/* The session's last status code as its threads stored it. */
IPCAM_API int IPCamGetLastError(IPCamSession *session);
/* 1 pan/tilt value, 2 recorder channels, 3 two-way audio, 4 inputs, 5 outputs,
 * 6 and 11 model groups, 12 how the device met the last request that asked what it is, or
 * for RTSP sessions the last connection and request of the handshake (IPCamReach); 0 for
 * anything else. */
IPCAM_API int IPCamGetItem(IPCamSession *session, int item);
#define IPCAM_ITEM_REACH 12
enum IPCamReach {
    IPCAM_REACH_ANSWERED = 0, /* it answered, or was not asked yet */
    IPCAM_REACH_REFUSED = 1,  /* no connection could be made: nothing listens on the port */
    IPCAM_REACH_SILENT = 2,   /* it took the connection but sent no answer in time */
    IPCAM_REACH_UNREACHABLE = 3, /* the connection got no answer at all, or no route: the
                                  * device is off, or a firewall drops what is sent to it */
    IPCAM_REACH_SLOW = 4      /* it took the connection and is slow to answer: the request
                               * is still waiting, past the usual receive time-out (RTSP) */
};
/* Sends a control request; the record starts with a 32-bit command code (IPCamCommandCode,
 * or a settings command with an IPCamSettingsRecord). Codes 1 and 2 answer 0, 257 and 258
 * answer -1, a code the device's dialect does not know -99, a recorder key while the
 * recorder's channel count is unknown -98; streaming servers answer -99 to everything.
 * flag NULL: the command runs on the calling thread and its result is returned. Otherwise it
 * runs on a thread of its own and 0 is returned at once; while it fails it is repeated, at most
 * once every 500 ms, except after a result no repetition can change (-4, -7, -15 credentials
 * refused, -16 no such CGI), which ends it. The record must then stay valid until the session
 * is deleted. -12 while disconnected. */
IPCAM_API int IPCamCommand(IPCamSession *session, void *request, void *flag);
/* The talk channel: the caller's audio sent to the device of a connected family A session.
 * IPCamTalkOpen with on 0 closes it; otherwise opens it. IPCamTalkSend sends one block of
 * audio (nothing while it is closed). Both return 0, -1 for a null session or bad arguments,
 * or a talk status: */
enum IPCamTalkStatus {
    IPCAM_TALK_NOT_AVAILABLE = -40001, /* the device has no free talk channel, or no talk */
    IPCAM_TALK_CONNECT_FAILED = -40002,
    IPCAM_TALK_LOGIN_FAILED = -40003,  /* request or login not taken */
    IPCAM_TALK_HEADER_NOT_SENT = -40004,
    IPCAM_TALK_DATA_NOT_SENT = -40005
};
IPCAM_API int IPCamTalkOpen(IPCamSession *session, int on);
IPCAM_API int IPCamTalkSend(IPCamSession *session, const void *data, int length);
/* Deletes one session as IPCamAllDelete deletes each: its stream is ended (TEARDOWN), its
 * threads stopped, its connections closed and the session freed; no other session is touched.
 * 0, or -1 for a null session or one that is not (or no longer) a session of the library. The
 * callback is not called once this has returned. */
IPCAM_API int IPCamDelete(IPCamSession *session);
/* Deletes every session, in parallel, and returns 0 when all are gone. */
IPCAM_API int IPCamAllDelete(void);
/* Releases an EncodedFrame the callback was handed. */
IPCAM_API void IPCamFreeFrame(void *frame);
/* Routes the library's messages for a person (such as "Can't initiate the ping functions.")
 * to handler; NULL restores the default, which writes them to standard error. */
IPCAM_API void IPCamSetMessageHandler(void (*handler)(const char *text, const char *caption));

#ifdef __cplusplus
}
#endif

#endif /* IPCAM_H */
