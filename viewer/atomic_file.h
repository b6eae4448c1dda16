// Whole files read at once and replaced at once: a new file is written beside the old one,
// flushed to the disk and renamed over it, so a reader (or a crash) sees either the old file
// or the new one, never a part.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kestrel {

// Every byte of the file at path; false when it cannot be opened or read.
bool readWholeFile(const std::string &path, std::vector<uint8_t> &bytes);

// Replaces the file at path with bytes, created with mode 0600 (the files hold passwords).
// On failure the old file is left as it was, no temporary file stays behind, and why (when
// given) says what failed.
bool replaceFile(const std::string &path, std::span<const uint8_t> bytes,
                 std::string *why = nullptr);

// directory/name, with one slash between.
std::string joinPath(const std::string &directory, const char *name);

}  // namespace kestrel
