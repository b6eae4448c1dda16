// The site list: every camera the user has set up, in file order, and its two files in the data
// directory. "SITE_LIST_USER.DAT" is the user's own list, read at start-up and written back
// whole after every change; "SITE_LIST.DAT" is a list shipped with the program, read only when
// the user has none. Both are a plain sequence of 612-byte SiteRecord blocks (the record's own
// layout, little-endian), without header, count or checksum; a trailing short block is ignored.
//
// Windows (and programs) that share the files keep each other's changes: every change is made
// under an exclusive lock on "SITE_LIST_USER.DAT.lock" beside them, on the list as the files
// hold it at that moment (SiteList::change).
//
// Records are kept byte for byte as loaded, terminators or not: nothing here or elsewhere reads
// a field of a record directly as a zero-terminated string. The field readers below stop at
// the field's end, so a record from a file whose texts fill their fields stays harmless.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "viewer/site_record.h"

namespace kestrel {

inline constexpr const char *kSiteListUserFile = "SITE_LIST_USER.DAT";
inline constexpr const char *kSiteListFile = "SITE_LIST.DAT";
inline constexpr const char *kSiteListLockFile = "SITE_LIST_USER.DAT.lock";
inline constexpr std::size_t kSiteBlockSize = sizeof(SiteRecord);

// The longest texts the fields hold: a name or host of 99 code units and its zero, an account
// or password of 99 bytes and its zero. A field read from a file may lack the zero; then
// the readers take 99 units of a name or host, and all 100 bytes of an account or password.
inline constexpr std::size_t kSiteTextUnits = 99;
inline constexpr std::size_t kSiteSecretBytes = 100;

// Every whole 612-byte block of bytes, in order.
std::vector<SiteRecord> parseSiteRecords(std::span<const uint8_t> bytes);
// The file image of records: one block each.
std::vector<uint8_t> serializeSiteRecords(std::span<const SiteRecord> records);

// A fixed-size field's text: up to its first zero, at most max units; never reads field[max].
std::u16string fieldText(const char16_t *field, std::size_t maxUnits);
std::string fieldText(const char *field, std::size_t maxBytes);

std::u16string siteName(const SiteRecord &site);  // at most 99 units
std::u16string siteHost(const SiteRecord &site);
std::string siteAccount(const SiteRecord &site);  // the 8-bit text, at most 100 bytes
std::string sitePassword(const SiteRecord &site);

// Writing texts: the field is zeroed, then gets the text, cut so that its zero fits. Names and
// hosts are cut to 99 code units (one fewer when a surrogate pair would be split); accounts and
// passwords are taken as UTF-8 of the given text, cut at a character boundary to 99 bytes.
void setSiteName(SiteRecord &site, std::u16string_view text);
void setSiteHost(SiteRecord &site, std::u16string_view text);
void setSiteAccount(SiteRecord &site, std::u16string_view text);
void setSitePassword(SiteRecord &site, std::u16string_view text);

// The port typed into the editor: its leading decimal digits, 0 when there are none,
// 4294967295 when the number is larger.
uint32_t parsePort(std::u16string_view text);

// The list. Operations address a site by a list-box selection index: index i is the i-th site
// from the first, no selection (any negative index) is the first site, an index past the end
// is no site at all. Used from the user interface thread only.
class SiteList {
  public:
    // Replaces the contents with the user file's records, or the shipped file's when the user
    // file does not open; empties the list when neither opens. Returns whether one opened.
    bool load(const std::string &directory);
    // Like load, but when neither file opens the list stays as it is (it may hold changes a
    // failed save kept).
    bool refresh(const std::string &directory);
    // Writes the whole list to the user file through a temporary file (mode 0600: it holds
    // passwords) renamed over it, so a failure leaves the old file as it was. False on failure,
    // with why in words when asked.
    bool save(const std::string &directory, std::string *why = nullptr) const;
    // One change shared with every other user of the files: under the lock, the list is
    // refreshed from the files, apply changes it and the whole list is saved. When the lock
    // cannot be had within a few seconds or the save fails, the change is kept in this list
    // only, why says what failed and the result is false.
    bool change(const std::string &directory, const std::function<void(SiteList &)> &apply,
                std::string *why = nullptr);
    // The index of the site equal to site byte for byte: hint's when it is there (as an index
    // of the selection rule), else the first one; -1 when no site is.
    int find(const SiteRecord &site, int hint) const;

    std::size_t size() const { return sites_.size(); }
    bool empty() const { return sites_.empty(); }
    const std::vector<SiteRecord> &records() const { return sites_; }
    void assign(std::vector<SiteRecord> sites) { sites_ = std::move(sites); }

    SiteRecord *at(int index);  // null when index names no site
    const SiteRecord *at(int index) const;

    void append(const SiteRecord &site) { sites_.push_back(site); }
    bool replace(int index, const SiteRecord &site);  // false when index names no site
    bool removeAt(int index);
    bool copyToEnd(int index);  // appends a duplicate of the site

    // The names for a list box, in list order.
    std::vector<std::u16string> names() const;

  private:
    // The position index names, or size() for none.
    std::size_t position(int index) const;

    std::vector<SiteRecord> sites_;
};

// The viewer's one list, loaded by the application at start-up.
SiteList &siteList();

}  // namespace kestrel
