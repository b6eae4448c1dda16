#include "viewer/snapshot_writer.h"

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

#include "viewer/data_directory.h"
#include "viewer/text_convert.h"

namespace kestrel {

namespace {

// libjpeg's own error_exit ends the process; this one jumps back to the writer.
struct JumpingErrorManager {
    jpeg_error_mgr manager;  // first: libjpeg sees only this part
    std::jmp_buf back;
};

void jumpOnError(j_common_ptr cinfo) {
    auto *err = reinterpret_cast<JumpingErrorManager *>(cinfo->err);
    (*cinfo->err->output_message)(cinfo);
    std::longjmp(err->back, 1);
}

// Only trivially destructible locals live here: a longjmp may leave it from inside libjpeg.
bool compress(std::FILE *file, const uint8_t *bgr, int width, int height) {
    jpeg_compress_struct cinfo;
    JumpingErrorManager err;
    cinfo.err = jpeg_std_error(&err.manager);
    err.manager.error_exit = jumpOnError;
    if (setjmp(err.back)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 100, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPLE *>(bgr + cinfo.next_scanline * rowBytes);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

}  // namespace

std::string snapshotFileName(const std::tm &t) {
    char name[64];
    std::snprintf(name, sizeof name, "%02d%02d_%02d%02d%02d.jpg", t.tm_mon + 1, t.tm_mday,
                  t.tm_hour, t.tm_min, t.tm_sec);
    return name;
}

bool writeSnapshotFile(const std::string &path, const uint8_t *bgr, int width, int height,
                       std::string *problem) {
    std::string why;
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (!file) {
        why = std::strerror(errno);
        std::fputs("can't open file \n", stderr);
    } else {
        if (!bgr || width <= 0 || height <= 0 || !compress(file, bgr, width, height))
            why = "the picture could not be compressed";
        if (std::fclose(file) != 0 && why.empty()) why = std::strerror(errno);
    }
    if (problem) *problem = why;
    return why.empty();
}

SnapshotResult writeSnapshot(const uint8_t *bgr, int width, int height) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    SnapshotResult result;
    result.path = dataDirectory() + "/" + snapshotFileName(local);
    result.saved = writeSnapshotFile(result.path, bgr, width, height, &result.problem);
    return result;
}

std::u16string snapshotReport(const SnapshotResult &result) {
    const std::u16string path = fromUtf8(result.path);
    if (result.saved) return u"Snapshot saved:\n" + path;
    return u"Snapshot not saved: " + fromUtf8(result.problem) + u"\n" + path;
}

}  // namespace kestrel
