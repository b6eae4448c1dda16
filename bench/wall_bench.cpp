// The wall under load: N tiles of one RTSP stream, each with its own session and decoding,
// drawn into one memory display laid out as the wall window lays its tiles out.
//
//   wall_bench URL [--tiles 4,9,16] [--seconds S]
//
// For each count: the pictures drawn per second and tile (slowest and mean), the pictures a
// tile decoded but never drew or left out while behind, the CPU this process spent per picture
// drawn, and the delay from a frame's arrival at the callback to its picture drawn (median and
// 95th percentile).
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/measure.h"
#include "ipcam.h"
#include "viewer/memory_display.h"
#include "viewer/site_list.h"
#include "viewer/wall_tile.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Result {
    double slowestFps = 0, meanFps = 0, cpuPerPicture = 0, medianMs = 0, p95Ms = 0;
    uint64_t unseen = 0;  // decoded, never drawn, or left out
};

Result run(const kestrel::SiteRecord &site, int tiles, double seconds) {
    const int columns = static_cast<int>(std::lround(std::sqrt(tiles)));
    kestrel::MemoryDisplay wall(1920, 1080);
    std::vector<std::unique_ptr<kestrel::WallTile>> wallTiles;
    for (int i = 0; i < tiles; ++i) {
        wallTiles.push_back(std::make_unique<kestrel::WallTile>(site, -1));
        wallTiles.back()->start();
    }
    // Time to connect and settle, then the measured stretch.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    std::vector<uint64_t> lastSerial(static_cast<std::size_t>(tiles), 0), drawn(lastSerial),
        unseen(lastSerial), skippedBefore(lastSerial);
    for (int i = 0; i < tiles; ++i) {
        kestrel::WallTile::Picture p;
        if (wallTiles[i]->newerPicture(0, p)) lastSerial[i] = p.serial;
        skippedBefore[i] = wallTiles[i]->skipped();
    }
    std::vector<double> delays;
    kestrel::WallTile::Picture picture;
    const double cpuBefore = bench::cpuSeconds();
    const auto start = Clock::now();
    while (std::chrono::duration<double>(Clock::now() - start).count() < seconds) {
        for (int i = 0; i < tiles; ++i) {
            if (!wallTiles[i]->newerPicture(lastSerial[i], picture)) continue;
            const int w = 1920 / columns, h = 1080 / columns;
            const kestrel::Rect tile{(i % columns) * w, (i / columns) * h, (i % columns + 1) * w,
                                     (i / columns + 1) * h};
            kestrel::drawTilePicture(wall, tile, picture);
            const uint64_t now = kestrel::WallTile::arrivalClock();
            delays.push_back(now > picture.arrival ? double(now - picture.arrival) / 10000.0 : 0);
            unseen[i] += picture.serial - lastSerial[i] - 1;
            lastSerial[i] = picture.serial;
            ++drawn[i];
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = bench::cpuSeconds() - cpuBefore;
    Result r;
    r.slowestFps = 1e9;
    uint64_t total = 0;
    for (int i = 0; i < tiles; ++i) {
        const double fps = static_cast<double>(drawn[i]) / elapsed;
        r.slowestFps = std::min(r.slowestFps, fps);
        r.meanFps += fps / tiles;
        r.unseen += unseen[i] + wallTiles[i]->skipped() - skippedBefore[i];
        total += drawn[i];
    }
    for (auto &t : wallTiles) t->stop();
    r.cpuPerPicture = total ? cpu / static_cast<double>(total) * 1000.0 : 0;
    r.medianMs = bench::percentile(delays, 0.5);
    r.p95Ms = bench::percentile(delays, 0.95);
    return r;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: wall_bench URL [--tiles 4,9,16] [--seconds S]\n");
        return 2;
    }
    const std::string url = argv[1];
    std::string counts = "4,9,16";
    double seconds = 20;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string o = argv[i];
        if (o == "--tiles") counts = argv[i + 1];
        else if (o == "--seconds") seconds = std::atof(argv[i + 1]);
        else {
            std::fprintf(stderr, "wall_bench: unknown option %s\n", o.c_str());
            return 2;
        }
    }
    kestrel::SiteRecord site = kestrel::defaultSiteRecord();
    kestrel::setSiteHost(site, std::u16string(url.begin(), url.end()));
    kestrel::setSiteAccount(site, u"");
    kestrel::setSitePassword(site, u"");
    site.protocolType = kestrel::kProtocolRtspUrl;
    IPCamInit();
    std::printf("%5s %12s %10s %8s %16s %12s %10s\n", "tiles", "slowest fps", "mean fps",
                "unseen", "CPU ms/picture", "delay median", "95th pct");
    std::stringstream list(counts);
    for (std::string item; std::getline(list, item, ',');) {
        const int tiles = std::atoi(item.c_str());
        if (tiles < 1 || tiles > 16) continue;
        const Result r = run(site, tiles, seconds);
        std::printf("%5d %12.1f %10.1f %8llu %16.2f %9.1f ms %7.1f ms\n", tiles, r.slowestFps,
                    r.meanFps, static_cast<unsigned long long>(r.unseen), r.cpuPerPicture,
                    r.medianMs, r.p95Ms);
        std::fflush(stdout);
    }
    IPCamAllDelete();
    IPCamExit();
    return 0;
}
