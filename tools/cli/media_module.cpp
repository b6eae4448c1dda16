// The entry point of ipcam-media.so: libavcodec's decoders and libavformat's container writer
// for the ipcam tool, which loads this module when a command first needs them.
#include <memory>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

#include "tools/cli/container_writer.h"
#include "tools/cli/decode.h"
#include "tools/cli/media.h"

namespace {

std::unique_ptr<ipcam_cli::Decoder> makeDecoder(ipcam_cli::VideoCodec codec) {
    return std::make_unique<ipcam_cli::VideoDecoder>(codec);
}

std::unique_ptr<ipcam_cli::PictureWriter> makeContainerWriter(const std::string &path) {
    return std::make_unique<ipcam_cli::ContainerWriter>(path);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const ipcam_cli::MediaModule *
ipcam_media_module() {
    static const ipcam_cli::MediaModule module = [] {
        av_log_set_level(AV_LOG_QUIET);  // decode errors are reported on their own lines
        return ipcam_cli::MediaModule{ipcam_cli::kMediaModuleVersion, makeDecoder,
                                      makeContainerWriter};
    }();
    return &module;
}
