#include "viewer/site_list.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "viewer/text_convert.h"

namespace kestrel {

namespace {

// The files are little-endian; on a big-endian host the record's numbers are turned around on
// the way in and out (the same swap both ways).
void swapToHost(SiteRecord &site) {
    if constexpr (std::endian::native == std::endian::big) {
        auto swap16 = [](char16_t &u) { u = static_cast<char16_t>((u >> 8) | (u << 8)); };
        auto swap32 = [](uint32_t &v) {
            v = (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
        };
        std::for_each(std::begin(site.name), std::end(site.name), swap16);
        std::for_each(std::begin(site.host), std::end(site.host), swap16);
        swap32(site.port);
        swap32(site.videoSize);
    } else {
        (void)site;
    }
}

std::string joinPath(const std::string &directory, const char *name) {
    if (directory.empty()) return name;
    if (directory.back() == '/') return directory + name;
    return directory + '/' + name;
}

// Every byte of the file open on fd, until end of file or an error.
std::vector<uint8_t> readAll(int fd) {
    std::vector<uint8_t> bytes;
    uint8_t chunk[kSiteBlockSize * 16];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
}

bool writeAll(int fd, const std::vector<uint8_t> &bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// A name or host cut to what the field holds with its zero, never between the halves of a
// surrogate pair.
std::size_t unitsThatFit(std::u16string_view text) {
    if (text.size() <= kSiteTextUnits) return text.size();
    const char16_t last = text[kSiteTextUnits - 1], next = text[kSiteTextUnits];
    const bool splitsPair = last >= 0xD800 && last <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF;
    return splitsPair ? kSiteTextUnits - 1 : kSiteTextUnits;
}

void setUnits(char16_t (&field)[100], std::u16string_view text) {
    std::fill(std::begin(field), std::end(field), u'\0');
    std::copy_n(text.begin(), unitsThatFit(text), field);
}

void setBytes(char (&field)[100], std::u16string_view text) {
    const std::string utf8 = toUtf8(text.data(), text.size(), sizeof field);  // < 100 bytes
    std::fill(std::begin(field), std::end(field), '\0');
    std::copy(utf8.begin(), utf8.end(), field);
}

}  // namespace

std::vector<SiteRecord> parseSiteRecords(std::span<const uint8_t> bytes) {
    std::vector<SiteRecord> sites(bytes.size() / kSiteBlockSize);
    for (std::size_t i = 0; i < sites.size(); ++i) {
        std::memcpy(&sites[i], bytes.data() + i * kSiteBlockSize, kSiteBlockSize);
        swapToHost(sites[i]);
    }
    return sites;
}

std::vector<uint8_t> serializeSiteRecords(std::span<const SiteRecord> records) {
    std::vector<uint8_t> bytes(records.size() * kSiteBlockSize);
    for (std::size_t i = 0; i < records.size(); ++i) {
        SiteRecord site = records[i];
        swapToHost(site);
        std::memcpy(bytes.data() + i * kSiteBlockSize, &site, kSiteBlockSize);
    }
    return bytes;
}

std::u16string fieldText(const char16_t *field, std::size_t maxUnits) {
    std::size_t n = 0;
    while (n < maxUnits && field[n]) ++n;
    return std::u16string(field, n);
}

std::string fieldText(const char *field, std::size_t maxBytes) {
    std::size_t n = 0;
    while (n < maxBytes && field[n]) ++n;
    return std::string(field, n);
}

std::u16string siteName(const SiteRecord &site) {
    return fieldText(site.name, kSiteTextUnits);
}
std::u16string siteHost(const SiteRecord &site) {
    return fieldText(site.host, kSiteTextUnits);
}
std::string siteAccount(const SiteRecord &site) {
    return fieldText(site.account, kSiteSecretBytes);
}
std::string sitePassword(const SiteRecord &site) {
    return fieldText(site.password, kSiteSecretBytes);
}

void setSiteName(SiteRecord &site, std::u16string_view text) {
    setUnits(site.name, text);
}
void setSiteHost(SiteRecord &site, std::u16string_view text) {
    setUnits(site.host, text);
}
void setSiteAccount(SiteRecord &site, std::u16string_view text) {
    setBytes(site.account, text);
}
void setSitePassword(SiteRecord &site, std::u16string_view text) {
    setBytes(site.password, text);
}

uint32_t parsePort(std::u16string_view text) {
    uint64_t value = 0;
    for (const char16_t c : text) {
        if (c < u'0' || c > u'9') break;
        value = std::min<uint64_t>(value * 10 + (c - u'0'), UINT32_MAX);
    }
    return static_cast<uint32_t>(value);
}

bool SiteList::load(const std::string &directory) {
    sites_.clear();
    int fd = ::open(joinPath(directory, kSiteListUserFile).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) fd = ::open(joinPath(directory, kSiteListFile).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const std::vector<uint8_t> bytes = readAll(fd);
    ::close(fd);
    sites_ = parseSiteRecords(bytes);
    return true;
}

bool SiteList::save(const std::string &directory) const {
    const std::string target = joinPath(directory, kSiteListUserFile);
    std::string temporary = target + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);  // created 0600
    if (fd < 0) return false;
    bool ok = writeAll(fd, serializeSiteRecords(sites_)) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && std::rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temporary.c_str());
        return false;
    }
    // The rename itself reaches the disk with the directory.
    const std::string dir = directory.empty() ? "." : directory;
    if (const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

std::size_t SiteList::position(int index) const {
    if (index < 0) return 0;  // no selection: the first site (none when the list is empty)
    return std::min(static_cast<std::size_t>(index), sites_.size());
}

SiteRecord *SiteList::at(int index) {
    const std::size_t at = position(index);
    return at < sites_.size() ? &sites_[at] : nullptr;
}

const SiteRecord *SiteList::at(int index) const {
    const std::size_t at = position(index);
    return at < sites_.size() ? &sites_[at] : nullptr;
}

bool SiteList::replace(int index, const SiteRecord &site) {
    SiteRecord *target = at(index);
    if (!target) return false;
    *target = site;
    return true;
}

bool SiteList::removeAt(int index) {
    const std::size_t at = position(index);
    if (at >= sites_.size()) return false;
    sites_.erase(sites_.begin() + static_cast<std::ptrdiff_t>(at));
    return true;
}

bool SiteList::copyToEnd(int index) {
    const SiteRecord *site = at(index);
    if (!site) return false;
    const SiteRecord copy = *site;  // push_back may move the original
    sites_.push_back(copy);
    return true;
}

std::vector<std::u16string> SiteList::names() const {
    std::vector<std::u16string> names;
    names.reserve(sites_.size());
    for (const SiteRecord &site : sites_) names.push_back(siteName(site));
    return names;
}

SiteList &siteList() {
    static SiteList list;
    return list;
}

}  // namespace kestrel
