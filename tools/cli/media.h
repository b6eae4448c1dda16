// Decoding, snapshots and container files need libavcodec, libavformat and libjpeg, whose
// loading costs more CPU than a minute of receiving. The tool keeps them in a module of its
// own (ipcam-media.so) that it loads the first time a command needs one of them, so that
// watching and recording into a directory start without them.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "tools/cli/writer.h"

namespace ipcam_cli {

// Decodes a stream's pictures; the module's is libavcodec's.
class Decoder {
  public:
    virtual ~Decoder() = default;

    virtual bool ready() const = 0;  // false when the codec has no decoder (see error())
    virtual VideoCodec codec() const = 0;
    // Sends one frame and takes every picture the decoder gives back. The number of pictures
    // (0 while the decoder is still filling), or -1 with error() set.
    virtual int decode(const unsigned char *data, std::size_t size) = 0;
    // On after the library said a picture was lost (IPCAM_MSG_DAMAGE), up to the next key
    // frame: damage is concealed and a damaged picture counts as a picture. Off, damage is an
    // error.
    virtual void expectDamage(bool on) = 0;
    virtual const std::string &error() const = 0;
    // The last picture's size; 0 before the first.
    virtual int width() const = 0;
    virtual int height() const = 0;
    // The last picture as a JPEG file of the quality (0-100); empty before the first picture
    // or when it cannot be converted.
    virtual std::string jpeg(int quality) const = 0;
};

// What the module gives. Its version changes whenever this table or the classes above do, so a
// module left from another build is refused instead of called wrongly.
struct MediaModule {
    int version;
    std::unique_ptr<Decoder> (*makeDecoder)(VideoCodec codec);
    std::unique_ptr<PictureWriter> (*makeContainerWriter)(const std::string &path);
};
inline constexpr int kMediaModuleVersion = 2;
inline constexpr const char *kMediaModuleName = "ipcam-media.so";
inline constexpr const char *kMediaModuleEntry = "ipcam_media_module";

// Loads the module from the tool's own directory, or from where it is installed beside it,
// the first time; the same table afterwards. Null with the reason in error when it cannot be
// loaded.
const MediaModule *loadMediaModule(std::string &error);
// Loads the module file at path; for the above, and for the tests.
const MediaModule *loadMediaModuleFrom(const std::string &path, std::string &error);

// The writer for a record command's --out: a container file for a path ending in .mkv or
// .mp4 (through the module), else a directory. Null with the reason in error when the module
// cannot be loaded.
std::unique_ptr<PictureWriter> makePictureWriter(const std::string &path, std::string &error);

}  // namespace ipcam_cli
