#include "viewer/data_directory.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>

namespace kestrel {

namespace {

std::mutex chosenLock;
std::string chosenDirectory;  // chosenLock

bool isSet(const char *value) { return value && *value; }

std::string executableDirectory() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return {};
    const std::string exe(path, static_cast<std::size_t>(n));
    const std::size_t slash = exe.rfind('/');
    if (slash == std::string::npos) return {};
    return slash == 0 ? "/" : exe.substr(0, slash);
}

}  // namespace

std::string resolveDataDirectory(const DataDirectoryInputs &in) {
    if (!in.chosen.empty()) return in.chosen;
    if (isSet(in.kestrelHome)) return in.kestrelHome;
    if (!in.programDirectory.empty() && in.programDirectoryWritable) return in.programDirectory;
    if (isSet(in.xdgConfigHome)) return std::string(in.xdgConfigHome) + "/kestrel";
    std::string home = isSet(in.home) ? in.home : "";
    if (home.empty()) {
        if (const passwd *pw = getpwuid(getuid()); pw && isSet(pw->pw_dir)) home = pw->pw_dir;
    }
    if (home.empty()) home = ".";
    return home + "/.config/kestrel";
}

bool makeDirectories(const std::string &directory) {
    if (directory.empty()) return false;
    for (std::size_t at = 1; at <= directory.size(); ++at) {
        if (at != directory.size() && directory[at] != '/') continue;
        const std::string prefix = directory.substr(0, at);
        if (mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    return stat(directory.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void setDataDirectory(const std::string &directory) {
    std::lock_guard hold(chosenLock);
    chosenDirectory = directory;
}

std::string dataDirectory() {
    DataDirectoryInputs in;
    {
        std::lock_guard hold(chosenLock);
        in.chosen = chosenDirectory;
    }
    in.kestrelHome = std::getenv("KESTREL_HOME");
    if (in.chosen.empty() && !isSet(in.kestrelHome)) {
        in.programDirectory = executableDirectory();
        in.programDirectoryWritable =
            !in.programDirectory.empty() && access(in.programDirectory.c_str(), W_OK) == 0;
    }
    in.xdgConfigHome = std::getenv("XDG_CONFIG_HOME");
    in.home = std::getenv("HOME");
    const std::string dir = resolveDataDirectory(in);
    if (in.chosen.empty() && !isSet(in.kestrelHome) && !in.programDirectoryWritable)
        makeDirectories(dir);
    return dir;
}

}  // namespace kestrel
