#include "viewer/site_list.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "viewer/atomic_file.h"
#include "viewer/file_lock.h"
#include "viewer/text_convert.h"

namespace kestrel {

namespace {

constexpr int kLockTimeoutMs = 5000;

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
    return refresh(directory);
}

bool SiteList::refresh(const std::string &directory) {
    std::vector<uint8_t> bytes;
    if (!readWholeFile(joinPath(directory, kSiteListUserFile), bytes) &&
        !readWholeFile(joinPath(directory, kSiteListFile), bytes))
        return false;
    sites_ = parseSiteRecords(bytes);
    return true;
}

bool SiteList::save(const std::string &directory, std::string *why) const {
    return replaceFile(joinPath(directory, kSiteListUserFile), serializeSiteRecords(sites_), why);
}

bool SiteList::change(const std::string &directory, const std::function<void(SiteList &)> &apply,
                      std::string *why) {
    const FileLock lock(joinPath(directory, kSiteListLockFile), kLockTimeoutMs);
    if (!lock.held()) {
        apply(*this);  // kept here at least: nothing the user did is lost
        if (why) *why = lock.error();
        return false;
    }
    refresh(directory);
    apply(*this);
    return save(directory, why);
}

int SiteList::find(const SiteRecord &site, int hint) const {
    auto same = [&site](const SiteRecord &other) {
        return std::memcmp(&site, &other, sizeof site) == 0;
    };
    if (const SiteRecord *at = this->at(hint); at && same(*at))
        return static_cast<int>(position(hint));
    for (std::size_t i = 0; i < sites_.size(); ++i)
        if (same(sites_[i])) return static_cast<int>(i);
    return -1;
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
