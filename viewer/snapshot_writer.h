// Snapshots: the current picture saved as a JPEG file named after the local time, in the data
// directory.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace kestrel {

// "MMDD_hhmmss.jpg" of t (month 01-12).
std::string snapshotFileName(const std::tm &t);

// Writes bgr (width x height, B,G,R bytes, rows width*3 bytes, top row first) as a baseline
// JPEG of quality 100 to path. When the file cannot be opened, prints "can't open file \n" to
// stderr. Returns true when the file was written completely; a failure inside the JPEG library
// is reported on stderr and returns false without ending the program. On failure problem (when
// given) receives why, in words.
bool writeSnapshotFile(const std::string &path, const uint8_t *bgr, int width, int height,
                       std::string *problem = nullptr);

struct SnapshotResult {
    bool saved = false;
    std::string path;
    std::string problem;  // why it was not saved
};

// Writes to dataDirectory()/snapshotFileName(local time now); a second snapshot within the same
// second replaces the first.
SnapshotResult writeSnapshot(const uint8_t *bgr, int width, int height);

// What the viewer tells the user of a snapshot: where it went, or why it did not.
std::u16string snapshotReport(const SnapshotResult &result);
inline constexpr const char16_t *kSnapshotNoPicture = u"Snapshot not saved: no picture yet";

}  // namespace kestrel
