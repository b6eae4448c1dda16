#include "core/config.h"

#include <cstdio>
#include <cstdlib>

#include "core/decimal.h"
#include "core/fixed_text.h"
#include "platform/paths.h"

namespace ipcam {

namespace {

Settings g_settings;

// The character right after key, or '\0' when the key is missing or ends the text.
char flagAfter(std::string_view text, std::string_view key) {
    std::size_t at = text.find(key);
    if (at == std::string_view::npos || at + key.size() >= text.size()) return '\0';
    return text[at + key.size()];
}

enum class Number { Missing, Negative, Found };

// Finds key and the "<E>" after it and converts what lies between.
Number numberAfter(std::string_view text, std::string_view key, int64_t &value) {
    std::size_t at = text.find(key);
    if (at == std::string_view::npos) return Number::Missing;
    std::size_t start = at + key.size();
    std::size_t end = text.find("<E>", start);
    if (end == std::string_view::npos) return Number::Missing;
    std::string_view digits = text.substr(start, end - start);
    if (digits.size() > kConfigMaxNumberLength) digits = digits.substr(0, kConfigMaxNumberLength);
    value = decimalValue(digits);
    return value < 0 ? Number::Negative : Number::Found;
}

// The text between key and the "<E>" after it without surrounding blanks; empty when either
// is missing.
std::string_view textAfter(std::string_view text, std::string_view key) {
    std::size_t at = text.find(key);
    if (at == std::string_view::npos) return {};
    std::size_t start = at + key.size();
    std::size_t end = text.find("<E>", start);
    if (end == std::string_view::npos) return {};
    std::string_view value = text.substr(start, end - start);
    constexpr std::string_view kBlanks = " \t\r\n";
    std::size_t first = value.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return value.substr(first, value.find_last_not_of(kBlanks) - first + 1);
}

}  // namespace

Settings parseConfig(std::string_view text) {
    // The file is searched as a C string: an embedded NUL ends it.
    if (std::size_t nul = text.find('\0'); nul != std::string_view::npos)
        text = text.substr(0, nul);

    Settings s;
    char ping = flagAfter(text, "Ping_Enable=");
    s.pingEnable = ping == 'y' || ping == 'Y';

    struct NumericKey {
        std::string_view key;
        uint32_t Settings::*field;
    };
    static constexpr NumericKey kNumericKeys[] = {
        {"Ping_Timeout=", &Settings::pingTimeout},
        {"Get_Timeout=", &Settings::getTimeout},
        {"Set_Timeout=", &Settings::setTimeout},
        {"ConnectLimit=", &Settings::connectLimit},
    };
    for (const NumericKey &k : kNumericKeys) {
        int64_t value = 0;
        Number n = numberAfter(text, k.key, value);
        if (n == Number::Negative) break;  // a negative value ends the numeric keys
        if (n == Number::Missing) continue;
        s.*k.field = static_cast<uint32_t>(value);
        if (k.field == &Settings::pingTimeout && !s.pingEnable) s.pingTimeout = 0;
    }

    char pcTime = flagAfter(text, "UsePCTime=");
    if (pcTime != '\0') s.usePCTime = !(pcTime == 'n' || pcTime == 'N');

    static constexpr std::string_view kServiceKeys[kDynamicDnsServices] = {
        "DDNS_Host1=", "DDNS_Host2=", "DDNS_Host3="};
    for (std::size_t i = 0; i < kDynamicDnsServices; ++i) {
        std::string_view name = textAfter(text, kServiceKeys[i]);
        if (!name.empty()) copyText(s.ddnsHost[i], name);  // too long: left empty
    }
    return s;
}

std::string configFilePath() {
    const char *dir = std::getenv("IPCAM_CONFIG_DIR");
    std::string base = dir && *dir ? std::string(dir) : programDirectory();
    if (!base.empty() && base.back() != '/') base += '/';
    return base + kConfigFileName;
}

Settings readConfigFile(const std::string &path) {
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return Settings{};
    char text[kConfigMaxBytes];
    std::size_t n = std::fread(text, 1, sizeof text, f);
    std::fclose(f);
    return parseConfig(std::string_view(text, n));
}

const Settings &settings() {
    return g_settings;
}

void setSettings(const Settings &s) {
    g_settings = s;
}

}  // namespace ipcam
