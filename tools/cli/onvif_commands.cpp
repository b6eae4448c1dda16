#include "tools/cli/onvif_commands.h"

#include <chrono>
#include <cstdio>
#include <string>

#include "ipcam.h"
#include "tools/cli/status.h"

namespace ipcam_cli {

namespace {

constexpr int kExitFailed = 1;

void printDevice(void *, const char *url, const char *name, const char *hardware) {
    std::printf("%s\t%s\t%s\n", url, name, hardware);
    std::fflush(stdout);
}

void printProfile(void *, const IPCamOnvifProfile *p) {
    const std::string size = p->width > 0 ? std::to_string(p->width) + "x" + std::to_string(p->height)
                                          : std::string("-");
    std::printf("%d\t%s\t%s\t%s\t%s\n", p->index, p->name, p->codec[0] ? p->codec : "-",
                size.c_str(), p->streamUri[0] ? p->streamUri : "-");
}

}  // namespace

int runDiscover(const Options &o) {
    const auto start = std::chrono::steady_clock::now();
    const int found = IPCamDiscover(static_cast<int>(o.seconds), &printDevice, nullptr);
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (found < 0) {
        std::fprintf(stderr, "ipcam: discovery could not start: %s\n", statusName(found).c_str());
        return kExitFailed;
    }
    std::fprintf(stderr, "ipcam: %d camera%s answered in %.1f s\n", found, found == 1 ? "" : "s",
                 took);
    return found > 0 ? 0 : kExitFailed;
}

int runProfiles(const Options &o) {
    const int count = IPCamOnvifProfiles(o.onvif.c_str(), o.userGiven ? o.user.c_str() : nullptr,
                                         o.passwordGiven ? o.password.c_str() : nullptr,
                                         &printProfile, nullptr);
    std::fflush(stdout);
    if (count < 0) {
        std::fprintf(stderr, "ipcam: cannot read the profiles of %s: %s - %s\n", o.onvif.c_str(),
                     statusName(count).c_str(), statusHint(count));
        return kExitFailed;
    }
    if (count == 0) std::fprintf(stderr, "ipcam: %s has no media profile\n", o.onvif.c_str());
    return count > 0 ? 0 : kExitFailed;
}

}  // namespace ipcam_cli
