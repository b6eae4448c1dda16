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
// is reported on stderr and returns false without ending the program.
bool writeSnapshotFile(const std::string &path, const uint8_t *bgr, int width, int height);

// Writes to dataDirectory()/snapshotFileName(local time now); a second snapshot within the same
// second replaces the first.
void writeSnapshot(const uint8_t *bgr, int width, int height);

}  // namespace kestrel
