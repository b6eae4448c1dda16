#include "tools/cli/onvif_commands.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "ipcam.h"
#include "tools/cli/status.h"

namespace ipcam_cli {

namespace {

constexpr int kExitFailed = 1;

void printDevice(void *, const IPCamOnvifFound *d) {
    std::string line = tabField(d->deviceUrl) + "\t" + tabField(d->name) + "\t" + tabField(d->hardware);
    if (d->flags & IPCAM_FOUND_ELSEWHERE) {
        const std::string url = d->deviceUrl;
        const std::size_t host = url.find("://") + 3;
        line += "\tanswered from " + tabField(d->answeredFrom) + ", points to " +
                tabField(url.substr(host, url.find_first_of(":/", host) - host));
    } else if (d->flags & IPCAM_FOUND_CONTESTED) {
        line += "\tanother answer claims the same camera";
    }
    std::printf("%s\n", line.c_str());
}

void printProfile(void *context, const IPCamOnvifProfile *p) {
    const bool verbose = *static_cast<const bool *>(context);
    const std::string size = p->width > 0 ? std::to_string(p->width) + "x" + std::to_string(p->height)
                                          : std::string("-");
    const std::string name(p->name, strnlen(p->name, sizeof p->name));
    const std::string codec(p->codec, strnlen(p->codec, sizeof p->codec));
    std::printf("%d\t%s\t%s\t%s\t%s%s\n", p->index, tabField(name).c_str(),
                codec.empty() ? "-" : tabField(codec).c_str(), size.c_str(),
                p->streamUri[0] ? tabField(p->streamUri).c_str() : "-",
                verbose ? (p->ptz ? "\tptz" : "\t-") : "");
    if (verbose && p->index == 0 && p->servicesNamed[0])
        std::fprintf(stderr,
                     "ipcam: the camera names its services at %s; they were asked at the device "
                     "URL's host and port instead\n",
                     tabField(p->servicesNamed).c_str());
}

}  // namespace

std::string tabField(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                    char hex[8];
                    std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
                    out += hex;
                } else {
                    out += c;
                }
        }
    }
    return out;
}

int runDiscover(const Options &o) {
    const auto start = std::chrono::steady_clock::now();
    const int found = IPCamDiscoverWith(static_cast<int>(o.seconds), nullptr, &printDevice, nullptr);
    std::fflush(stdout);
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
    IPCamOnvifOptions options{};
    options.clearPassword = o.clearPassword ? 1 : 0;
    bool verbose = o.verbose;
    const int count = IPCamOnvifProfilesWith(o.onvif.c_str(), o.userGiven ? o.user.c_str() : nullptr,
                                             o.passwordGiven ? o.password.c_str() : nullptr,
                                             &options, &printProfile, &verbose);
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
