/* A C99 program written against ipcam.h alone: the calling order of a real client. */
#include <ipcam.h>
#include <stdio.h>
#include <string.h>

static void onDevice(void *context, const char *url, const char *name, const char *hardware) {
    (void)context;
    (void)url;
    (void)name;
    (void)hardware;
}

static void onProfile(void *context, const IPCamOnvifProfile *profile) {
    (void)context;
    (void)profile->ptz; /* 0: grey out the PTZ buttons */
}

static void onFound(void *context, const IPCamOnvifFound *device) {
    (void)context;
    (void)(device->flags & IPCAM_FOUND_ELSEWHERE);
}

/* Ends an ONVIF call at once. */
static int stopNow(void *context) {
    (void)context;
    return 1;
}

static int onFrame(void *context, int channel, void *frame, int id) {
    (void)context;
    (void)channel;
    (void)id;
    IPCamFreeFrame(frame);
    return 0;
}

int main(void) {
    IPCamSession *session = NULL;
    int failures = 0;
    if (IPCamInit() != 1) failures++;
    if (IPCamCreate(&session, "127.0.0.1", 80, "admin", "", 1, IPCAM_PROTOCOL_TYPE1) != IPCAM_OK)
        failures++;
    if (session == NULL) return 1;
    if (IPCamSetStreamNum(session, 0, 0) != IPCAM_OK) failures++;
    if (IPCamGetStatus(session) != IPCAM_IS_UNCONNECTED) failures++;
    if (IPCamSetOption(session, IPCAM_OPTION_REPLY_TIMEOUT, 30000) != IPCAM_OK) failures++;
    if (IPCamSetOption(session, IPCAM_OPTION_CLEAR_PASSWORD, 0) != IPCAM_OK) failures++;
    if (IPCamSetOption(session, IPCAM_OPTION_ONVIF_RTSP_PORT, 8554) != IPCAM_OK) failures++;
    if (IPCamGetLastError(session) == IPCAM_CLEAR_PASSWORD_REFUSED) failures++;
    if (IPCamAction(session, onFrame, NULL, 7) != IPCAM_TYPE_IS_ER) failures++;
    if (IPCamCommand(session, NULL, NULL) != IPCAM_IS_UNCONNECTED) failures++;
    /* No stream yet: no talk channel either. */
    if (IPCamTalkOpen(session, 1) != IPCAM_TALK_NOT_AVAILABLE) failures++;
    if (IPCamTalkSend(session, "x", 1) != 0) failures++;
    if (IPCamTalkSend(session, NULL, 1) != IPCAM_IS_NULL) failures++;
    {
        /* The records a C caller fills for the commands it sends once connected. */
        static IPCamVideoFormatRecord format;
        static IPCamSettingsRecord name;
        static IPCamPanTiltRecord panTilt;
        static IPCamRecorderChannelsRecord recorder;
        static PtzRequest ptz;
        static IPCamDateTime when = {2009, 3, 6, 7, 14, 5, 9, 0};
        RecorderKeyRequest key = {IPCAM_CMD_RECORDER_KEY, IPCAM_KEY_PLAY_FROM_TIME, NULL};
        key.time = &when;
        memset(&ptz, 0xFF, sizeof ptz);
        ptz.code = IPCAM_CMD_PAN_TILT;
        ptz.command = IPCAM_PTZ_UP;
        ptz.text[0] = 0;
        format.code = IPCAM_CMD_READ_VIDEO_FORMAT;
        name.code = 4099;
        panTilt.code = IPCAM_CMD_READ_PAN_TILT;
        recorder.code = IPCAM_CMD_RECORDER_CHANNELS;
        if (IPCamCommand(session, &format, NULL) != IPCAM_IS_UNCONNECTED) failures++;
        if (IPCamCommand(session, &name, NULL) != IPCAM_IS_UNCONNECTED) failures++;
        if (IPCamCommand(session, &panTilt, NULL) != IPCAM_IS_UNCONNECTED) failures++;
        if (IPCamCommand(session, &recorder, NULL) != IPCAM_IS_UNCONNECTED) failures++;
        if (IPCamCommand(session, &ptz, NULL) != IPCAM_IS_UNCONNECTED) failures++;
        if (IPCamCommand(session, &key, NULL) != IPCAM_IS_UNCONNECTED) failures++;
    }
    if (IPCamGetItem(session, 1) != 0) failures++;
    if (IPCamDelete(session) != IPCAM_OK) failures++;
    if (IPCamDelete(session) != -1 || IPCamDelete(NULL) != -1) failures++;
    {
        /* ONVIF: arguments checked before anything is sent. */
        IPCamSession *onvif = NULL;
        if (IPCamCreateOnvif(&onvif, "rtsp://h/x", NULL, NULL, 0, 2) != IPCAM_IS_NULL) failures++;
        if (IPCamCreateOnvif(&onvif, "http://h:0/onvif/device_service", NULL, NULL, 0, 2) !=
            IPCAM_PORT_IS_ER)
            failures++;
        if (IPCamCreateOnvif(&onvif, "http://127.0.0.1:1/onvif/device_service", "admin", "x", 0,
                             2) != IPCAM_OK ||
            onvif == NULL)
            failures++;
        if (IPCamDiscover(0, onDevice, NULL) != -1 || IPCamDiscover(3, NULL, NULL) != -1)
            failures++;
        if (IPCamOnvifProfiles(NULL, NULL, NULL, onProfile, NULL) != -1) failures++;
        if (sizeof(IPCamOnvifProfile) != 4 + 64 + 64 + 16 + 8 + 1024 + 4 + 64) failures++;
        {
            IPCamOnvifOptions options;
            memset(&options, 0, sizeof options);
            options.requestTimeoutMs = 50; /* below 100 */
            if (IPCamOnvifProfilesWith("http://127.0.0.1:1/onvif/device_service", "admin", "x",
                                       &options, onProfile, NULL) != IPCAM_TYPE_IS_ER)
                failures++;
            options.requestTimeoutMs = 0;
            options.stop = stopNow;
            if (IPCamOnvifProfilesWith("http://127.0.0.1:1/onvif/device_service", "admin", "x",
                                       &options, onProfile, NULL) != IPCAM_IS_OVER)
                failures++;
            if (IPCamDiscoverWith(1, &options, onFound, NULL) != IPCAM_IS_OVER) failures++;
            if (IPCamDiscoverWith(1, NULL, NULL, NULL) != -1) failures++;
        }
    }
    if (IPCamAllDelete() != IPCAM_OK) failures++;
    if (IPCamExit() != IPCAM_OK) failures++;
    if (sizeof(StreamFormatBlock) != 44 || sizeof(EncodedFrame) != 16) failures++;
    printf("c api: %d failures\n", failures);
    return failures == 0 ? 0 : 1;
}
