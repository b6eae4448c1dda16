#include "core/decimal.h"

#include <limits>

namespace ipcam {

int32_t decimalValue(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    int64_t value = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        value = value * 10 + (s[i] - '0');
        if (value > kMax) {
            value = kMax + (negative ? 1 : 0);
            break;
        }
    }
    return static_cast<int32_t>(negative ? -value : value);
}

}  // namespace ipcam
