#include "tools/cli/writer.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace ipcam_cli {

VideoCodec codecFromFormat(int videoCodec) {
    switch (videoCodec) {
    case IPCAM_VIDEO_JPEG: return VideoCodec::Jpeg;
    case IPCAM_VIDEO_MPEG4: return VideoCodec::Mpeg4;
    case IPCAM_VIDEO_H264: return VideoCodec::H264;
    case IPCAM_VIDEO_H265: return VideoCodec::H265;
    default: return VideoCodec::Unknown;
    }
}

VideoCodec sniffCodec(const unsigned char *data, std::size_t size) {
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xD8) return VideoCodec::Jpeg;
    if (size >= 4 && data[0] == 0 && data[1] == 0 && data[2] == 1) return VideoCodec::Mpeg4;
    return VideoCodec::Unknown;
}

const char *containerFormat(const std::string &path) {
    std::string extension = std::filesystem::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    if (extension == ".mkv") return "matroska";
    if (extension == ".mp4") return "mp4";
    return nullptr;
}

Recorder::Recorder(std::string directory) : directory_(std::move(directory)) {}

std::string Recorder::streamPath() const {
    switch (streamCodec_) {
    case VideoCodec::H264: return directory_ + "/video.h264";
    case VideoCodec::H265: return directory_ + "/video.h265";
    default: return directory_ + "/video.m4v";
    }
}

std::string Recorder::jpegPath(std::size_t n) const {
    char name[32];
    std::snprintf(name, sizeof name, "/%06zu.jpg", n);
    return directory_ + name;
}

bool Recorder::open() {
    std::error_code e;
    std::filesystem::create_directories(directory_, e);
    if (e || !std::filesystem::is_directory(directory_)) {
        error_ = "cannot create directory " + directory_ + (e ? ": " + e.message() : "");
        return false;
    }
    return true;
}

bool Recorder::add(const Picture &picture) {
    const VideoCodec codec = picture.codec;
    const int kind = picture.kind;
    const unsigned char *data = picture.data;
    const std::size_t size = picture.size;
    if (size == 0 || kind < IPCAM_FRAME_KEY || kind > IPCAM_FRAME_DROPPABLE) {
        ++skipped_;
        return true;
    }
    if (codec == VideoCodec::Jpeg) {
        const std::string path = jpegPath(jpegs_ + 1);
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
        file.close();
        if (!file) {
            error_ = "cannot write " + path;
            return false;
        }
        ++jpegs_;
        ++written_;
        return true;
    }
    if (codec == VideoCodec::Unknown || (!started_ && kind != IPCAM_FRAME_KEY) ||
        (started_ && codec != streamCodec_)) {
        ++skipped_;
        return true;
    }
    if (!started_) {
        streamCodec_ = codec;
        stream_.open(streamPath(), std::ios::binary | std::ios::trunc);
        if (!stream_) {
            error_ = "cannot create " + streamPath();
            return false;
        }
        started_ = true;
    }
    stream_.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
    if (!stream_) {
        error_ = "cannot write " + streamPath();
        return false;
    }
    ++written_;
    return true;
}

bool Recorder::close() {
    if (!stream_.is_open()) return true;
    stream_.close();
    if (!stream_) {
        error_ = "cannot write " + streamPath();
        return false;
    }
    return true;
}

}  // namespace ipcam_cli
