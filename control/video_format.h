// The video format commands (codes 3 and 4): what a camera streams now, what it offers, and
// how a new format is worded for each dialect.
#pragma once

#include <cstdint>

#include "control/command_object.h"
#include "ipcam.h"

namespace ipcam {

// What a device camera announces in its "GetCameraType.cgi" reply.
struct DeviceCapabilities {
    int32_t kind = 0;          // "Device="
    bool panTilt = false;      // "Ptz=" non-zero
    bool twoWayAudio = false;  // "2-Way=" non-zero
    uint32_t resolutions = 0;  // "Resolution<kind+1>=" as a mask over the resolution table
    int32_t codecs = 0;        // "CodecType<kind+1>=" as a mask of codec bits
};
DeviceCapabilities readDeviceCapabilities(const char *reply);

// Quality level (1-5, 0 unknown) of a camera's JPEG quality value or level number, and of
// a bit rate in kbit/s.
int32_t qualityOfJpegValue(int32_t value, uint32_t modelCode);
int32_t qualityOfBitRate(int32_t kbits);

// The resolutions a family A camera offers under each standard, and its codecs.
struct FormatOffer {
    uint32_t ntsc = 0, pal = 0;
    int32_t codecs = 0;
};
FormatOffer familyAOffer(uint32_t modelCode, int32_t channel, int32_t codec, double firmware);

// Highest frame rate of a standard (1 NTSC, 2 PAL, anything else counts as NTSC).
int32_t frameRateCeiling(int32_t standard, uint32_t resolutionMask, uint32_t modelCode);

// Family A and device cameras: "GetMultimedia.cgi?CH=%d" / "SetMultimedia.cgi".
int readFamilyAFormat(CommandCall &call, IPCamVideoFormatRecord &record);
int writeFamilyAFormat(CommandCall &call, IPCamVideoFormatRecord &record);
// Family B cameras: "GetStatus.cgi" / "ChangeResolution.cgi" and "ChangeCompressRatio.cgi".
int readFamilyBFormat(CommandCall &call, IPCamVideoFormatRecord &record);
int writeFamilyBFormat(CommandCall &call, IPCamVideoFormatRecord &record);

}  // namespace ipcam
