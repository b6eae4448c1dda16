// What ffprobe reads from a recorded .mkv or .mp4 file, decoding every picture of it.
#pragma once

#include <sstream>
#include <string>

#include "support/command_output.h"

namespace kestrel_test {

struct FileProbe {
    std::string codec;  // ffprobe's codec name: h264, hevc, mpeg4, mjpeg
    std::string tag;    // the sample entry: avc3, hev1, ... (Matroska: [0][0][0][0])
    std::string sizes;  // the decoded pictures' sizes as they change: "320x240 160x120"
    std::string created;  // the creation time
    int width = 0, height = 0;
    long pictures = -1;   // decoded
    double duration = -1;  // seconds
    std::string complaints;  // anything else ffprobe said: errors while reading or decoding
};

inline FileProbe probeFile(const std::string &path) {
    const std::string out = commandOutput(
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
        "stream=codec_name,codec_tag_string,width,height,nb_read_frames:format=duration:"
        "format_tags=creation_time -of default=nw=1 '" + path + "'", 30);
    FileProbe p;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        const std::size_t equals = line.find('=');
        const std::string key = line.substr(0, equals), value = line.substr(equals + 1);
        if (equals == std::string::npos) p.complaints += line + "\n";
        else if (key == "codec_name") p.codec = value;
        else if (key == "codec_tag_string") p.tag = value;
        else if (key == "TAG:creation_time") p.created = value;
        else if (key == "width") p.width = std::atoi(value.c_str());
        else if (key == "height") p.height = std::atoi(value.c_str());
        else if (key == "nb_read_frames") p.pictures = std::atol(value.c_str());
        else if (key == "duration") p.duration = std::atof(value.c_str());
        else p.complaints += line + "\n";
    }
    std::istringstream frames(commandOutput("ffprobe -v error -select_streams v:0 -show_entries "
                                            "frame=width,height -of default=nw=1:nk=1 '" + path +
                                            "'", 30));
    for (std::string width, height, last; std::getline(frames, width) && std::getline(frames, height);) {
        if (width + "x" + height != last) p.sizes += (last.empty() ? "" : " ") + width + "x" + height;
        last = width + "x" + height;
    }
    return p;
}

}  // namespace kestrel_test
