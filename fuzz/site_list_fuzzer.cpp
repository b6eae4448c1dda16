// Feeds arbitrary bytes to the site list file parser, then reads every record the way the
// viewer does (list box names, the editor's fields, the texts handed to the library). Each text
// field is also read from its own exactly-sized heap copy, so a reader that runs past a field
// without a terminator trips AddressSanitizer; and whatever a reader returns must lie inside
// its field.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "viewer/site_list.h"
#include "viewer/text_convert.h"

namespace {

template <class Char, std::size_t N>
auto isolatedText(const Char (&field)[N], std::size_t max) {
    const std::unique_ptr<Char[]> copy(new Char[max]);
    std::copy_n(field, max, copy.get());
    return kestrel::fieldText(copy.get(), max);
}

template <class Text, class Char, std::size_t N>
void checkInside(const Text &text, const Char (&field)[N], std::size_t max) {
    if (text.size() > max || !std::equal(text.begin(), text.end(), field)) std::abort();
    if (text.size() < max && field[text.size()] != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace kestrel;
    const std::span<const uint8_t> bytes(data, size);
    const std::vector<SiteRecord> records = parseSiteRecords(bytes);
    if (records.size() != size / kSiteBlockSize) std::abort();
    const std::vector<uint8_t> image = serializeSiteRecords(records);
    if (image.size() != records.size() * kSiteBlockSize ||
        !std::equal(image.begin(), image.end(), data))
        std::abort();

    SiteList list;
    list.assign(records);
    if (list.names().size() != records.size()) std::abort();
    for (const SiteRecord &site : records) {
        const std::u16string name = siteName(site), host = siteHost(site);
        const std::string account = siteAccount(site), password = sitePassword(site);
        checkInside(name, site.name, kSiteTextUnits);
        checkInside(host, site.host, kSiteTextUnits);
        checkInside(account, site.account, kSiteSecretBytes);
        checkInside(password, site.password, kSiteSecretBytes);
        if (isolatedText(site.name, kSiteTextUnits) != name ||
            isolatedText(site.host, kSiteTextUnits) != host ||
            isolatedText(site.account, kSiteSecretBytes) != account ||
            isolatedText(site.password, kSiteSecretBytes) != password)
            std::abort();

        // The editor's round trip: what it shows, written back, reads the same.
        (void)toUtf8(name.data(), name.size(), 512);
        SiteRecord edited = site;
        setSiteName(edited, name);
        setSiteHost(edited, host);
        if (siteName(edited) != name || siteHost(edited) != host) std::abort();
        setSiteAccount(edited, fromUtf8(account));
        setSitePassword(edited, fromUtf8(password));
        if (siteAccount(edited).size() >= kSiteSecretBytes || edited.account[99] != 0) std::abort();
        (void)parsePort(name);
    }
    return 0;
}
