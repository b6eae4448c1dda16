#include "viewer/site_record.h"

#include <cstring>

namespace kestrel {

SiteRecord defaultSiteRecord() {
    SiteRecord site;
    std::memset(&site, 0, sizeof site);
    std::strcpy(site.account, "admin");
    std::strcpy(site.password, "tqlmr");
    site.port = 80;
    return site;
}

}  // namespace kestrel
