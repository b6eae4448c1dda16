#include "tools/cli/media.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>
#include <vector>

namespace ipcam_cli {

namespace {

// Where the module may be: beside the tool (the build tree), then where an install puts it,
// relative to the tool's directory.
std::vector<std::filesystem::path> moduleCandidates() {
    std::error_code e;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", e);
    if (e) return {};
    const std::filesystem::path dir = self.parent_path();
    return {dir / kMediaModuleName,
            (dir / IPCAM_MEDIA_FROM_BINDIR / kMediaModuleName).lexically_normal()};
}

}  // namespace

const MediaModule *loadMediaModuleFrom(const std::string &path, std::string &error) {
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char *why = dlerror();
        error = "cannot load " + path + ": " + (why ? why : "unknown reason");
        return nullptr;
    }
    // The module stays loaded for the life of the process: its decoders and writers may.
    using Entry = const MediaModule *(*)();
    auto entry = reinterpret_cast<Entry>(dlsym(handle, kMediaModuleEntry));
    const MediaModule *module = entry ? entry() : nullptr;
    if (!module) {
        error = path + " is not ipcam's media module";
        return nullptr;
    }
    if (module->version != kMediaModuleVersion) {
        error = path + " belongs to another version of ipcam (module " +
                std::to_string(module->version) + ", tool " +
                std::to_string(kMediaModuleVersion) + ")";
        return nullptr;
    }
    return module;
}

const MediaModule *loadMediaModule(std::string &error) {
    static const MediaModule *loaded = nullptr;
    static std::string failure;
    if (loaded || !failure.empty()) {
        error = failure;
        return loaded;
    }
    std::error_code e;
    for (const std::filesystem::path &candidate : moduleCandidates()) {
        if (!std::filesystem::exists(candidate, e)) continue;
        loaded = loadMediaModuleFrom(candidate.string(), failure);
        error = failure;
        return loaded;
    }
    failure = error = std::string("cannot find ") + kMediaModuleName +
                      " beside the ipcam tool or in its library directory (it "
                      "decodes, takes snapshots and writes .mkv and .mp4 files)";
    return nullptr;
}

std::unique_ptr<PictureWriter> makePictureWriter(const std::string &path, std::string &error) {
    if (!containerFormat(path)) return std::make_unique<Recorder>(path);
    const MediaModule *module = loadMediaModule(error);
    return module ? module->makeContainerWriter(path) : nullptr;
}

}  // namespace ipcam_cli
