// Times and durations as the ONVIF device reads and writes them (xs:dateTime, xs:duration).
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace camsim {

using SystemTime = std::chrono::system_clock::time_point;

struct CivilTime {
    int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};

// The calendar fields of t in UTC shifted by offsetSeconds.
CivilTime civilTime(SystemTime t, long long offsetSeconds = 0);

// "2026-12-08T09:00:00Z".
std::string formatDateTime(SystemTime t);

// "YYYY-MM-DDThh:mm:ss[.fff...]" with "Z" or a "+hh:mm"/"-hh:mm" offset; nothing without a zone
// (the instant would be a guess), with a field out of range or anything else out of shape.
std::optional<SystemTime> parseDateTime(std::string_view text);

// "PT1S", "PT0.5S", "P1DT2H3M4.25S": days, hours, minutes and seconds with a fraction. Nothing
// for negative durations, years or months (no fixed length), an empty "P"/"PT" or more than a
// day in all.
std::optional<std::chrono::milliseconds> parseDuration(std::string_view text);

}  // namespace camsim
