#include "transport/nal_units.h"

#include "control/base64.h"

namespace ipcam {

void appendNalUnit(std::vector<uint8_t> &out, std::span<const uint8_t> nal) {
    out.insert(out.end(), std::begin(kAnnexBStart), std::end(kAnnexBStart));
    out.insert(out.end(), nal.begin(), nal.end());
}

std::vector<std::string_view> splitAnnexB(std::string_view stream) {
    constexpr std::string_view kStart("\0\0\1", 3);
    std::vector<std::string_view> units;
    for (std::size_t at = stream.find(kStart); at != std::string_view::npos;) {
        const std::size_t begin = at + kStart.size();
        at = stream.find(kStart, begin);
        std::size_t end = at == std::string_view::npos ? stream.size() : at;
        // A unit never ends in a zero byte: those belong to the next start code.
        while (end > begin && stream[end - 1] == '\0') --end;
        if (end > begin) units.push_back(stream.substr(begin, end - begin));
    }
    return units;
}

std::vector<std::vector<uint8_t>> parameterSetList(std::string_view text) {
    std::vector<std::vector<uint8_t>> sets;
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        std::string_view value = text.substr(0, comma);
        text.remove_prefix(comma == std::string_view::npos ? text.size() : comma + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
            value.remove_prefix(1);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
            value.remove_suffix(1);
        if (auto bytes = DecodeBase64(value); bytes && !bytes->empty())
            sets.push_back(std::move(*bytes));
    }
    return sets;
}

std::vector<uint8_t> unescapeRbsp(std::span<const uint8_t> nal, std::size_t offset) {
    std::vector<uint8_t> rbsp;
    if (offset >= nal.size()) return rbsp;
    rbsp.reserve(nal.size() - offset);
    int zeros = 0;
    for (std::size_t i = offset; i < nal.size(); ++i) {
        const uint8_t b = nal[i];
        if (zeros >= 2 && b == 3) {
            zeros = 0;
            continue;
        }
        zeros = b == 0 ? zeros + 1 : 0;
        rbsp.push_back(b);
    }
    return rbsp;
}

}  // namespace ipcam
