// Other programs in tests (ffprobe, ffmpeg): whether they are installed, and what they say.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace kestrel_test {

inline bool onPath(const std::string &tool) {
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// The command's standard output and error together; a hung command is ended by timeout(1),
// killed when it takes no notice.
inline std::string commandOutput(const std::string &command, int seconds = 10) {
    std::string out;
    if (FILE *p = popen(
            ("timeout -k 3 " + std::to_string(seconds) + " " + command + " 2>&1").c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;)
            out.append(buffer, n);
        pclose(p);
    }
    return out;
}

}  // namespace kestrel_test
