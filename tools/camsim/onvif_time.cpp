#include "tools/camsim/onvif_time.h"

#include <cstdio>

namespace camsim {

namespace {

using namespace std::chrono;

// n decimal digits at text[at]; nothing when any is not a digit or text is too short.
std::optional<int> digitsAt(std::string_view text, std::size_t at, std::size_t n) {
    if (at + n > text.size()) return std::nullopt;
    int value = 0;
    for (std::size_t i = at; i < at + n; ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// Milliseconds of a fraction's digits ("5" is 500); text moves past them.
std::optional<int> fractionMs(std::string_view &text) {
    std::size_t n = 0;
    int ms = 0;
    while (n < text.size() && text[n] >= '0' && text[n] <= '9') {
        if (n < 3) ms = ms * 10 + (text[n] - '0');
        ++n;
    }
    if (n == 0) return std::nullopt;
    for (std::size_t i = n; i < 3; ++i) ms *= 10;
    text.remove_prefix(n);
    return ms;
}

// The zone of a dateTime in seconds east of UTC; nothing when absent or malformed.
std::optional<int> zoneOffset(std::string_view zone) {
    if (zone == "Z") return 0;
    if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') || zone[3] != ':')
        return std::nullopt;
    auto h = digitsAt(zone, 1, 2), m = digitsAt(zone, 4, 2);
    if (!h || !m || *h > 14 || *m > 59) return std::nullopt;
    const int seconds = *h * 3600 + *m * 60;
    return zone[0] == '-' ? -seconds : seconds;
}

}  // namespace

CivilTime civilTime(SystemTime t, long long offsetSeconds) {
    const auto shifted = floor<seconds>(t) + seconds(offsetSeconds);
    const auto day = floor<days>(shifted);
    const year_month_day ymd(day);
    const hh_mm_ss clock(shifted - day);
    return {int(ymd.year()),          int(unsigned(ymd.month())),  int(unsigned(ymd.day())),
            int(clock.hours().count()), int(clock.minutes().count()), int(clock.seconds().count())};
}

std::string formatDateTime(SystemTime t) {
    const CivilTime c = civilTime(t);
    char out[32];
    std::snprintf(out, sizeof out, "%04d-%02d-%02dT%02d:%02d:%02dZ", c.year, c.month, c.day,
                  c.hour, c.minute, c.second);
    return out;
}

std::optional<SystemTime> parseDateTime(std::string_view text) {
    auto y = digitsAt(text, 0, 4), mo = digitsAt(text, 5, 2), d = digitsAt(text, 8, 2),
         h = digitsAt(text, 11, 2), mi = digitsAt(text, 14, 2), s = digitsAt(text, 17, 2);
    if (!y || !mo || !d || !h || !mi || !s || text[4] != '-' || text[7] != '-' ||
        text[10] != 'T' || text[13] != ':' || text[16] != ':')
        return std::nullopt;
    std::string_view rest = text.substr(19);
    int ms = 0;
    if (rest.starts_with('.')) {
        rest.remove_prefix(1);
        auto fraction = fractionMs(rest);
        if (!fraction) return std::nullopt;
        ms = *fraction;
    }
    const auto zone = zoneOffset(rest);
    const year_month_day date{year(*y), month(unsigned(*mo)), day(unsigned(*d))};
    if (!zone || !date.ok() || *h > 23 || *mi > 59 || *s > 59) return std::nullopt;
    const auto local = sys_days(date) + hours(*h) + minutes(*mi) + seconds(*s) + milliseconds(ms);
    return time_point_cast<system_clock::duration>(local - seconds(*zone));
}

std::optional<milliseconds> parseDuration(std::string_view text) {
    if (!text.starts_with('P')) return std::nullopt;
    text.remove_prefix(1);
    bool inTime = false, any = false;
    long long total = 0;  // milliseconds
    // Designators in the order they may come, each at most once.
    std::string_view order = "DHMS";
    while (!text.empty()) {
        if (text.front() == 'T') {
            if (inTime || text.size() == 1) return std::nullopt;
            inTime = true;
            text.remove_prefix(1);
            continue;
        }
        long long whole = 0;
        std::size_t n = 0;
        while (n < text.size() && n < 9 && text[n] >= '0' && text[n] <= '9')
            whole = whole * 10 + (text[n++] - '0');
        if (n == 0) return std::nullopt;
        text.remove_prefix(n);
        int ms = 0;
        if (text.starts_with('.')) {
            text.remove_prefix(1);
            auto fraction = fractionMs(text);
            if (!fraction || !text.starts_with('S')) return std::nullopt;
            ms = *fraction;
        }
        if (text.empty()) return std::nullopt;
        const char designator = text.front();
        text.remove_prefix(1);
        const std::size_t at = order.find(designator);
        // Days before the T, hours, minutes and seconds after it; years and months never.
        if (at == std::string_view::npos || (designator == 'D') == inTime) return std::nullopt;
        order.remove_prefix(at + 1);
        static constexpr long long kUnitMs[] = {86400000, 3600000, 60000, 1000};
        total += whole * kUnitMs[std::string_view("DHMS").find(designator)] + ms;
        any = true;
        if (total > 86400000) return std::nullopt;
    }
    if (!any) return std::nullopt;
    return milliseconds(total);
}

}  // namespace camsim
