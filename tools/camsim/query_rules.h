// What the simulated cameras accept in the queries of their Set and control CGIs, so that a
// client's wrong request is refused rather than quietly taken.
//
// A client lays out the pairs of a settings table last key first and leaves out the keys it
// has no value for. A rule therefore lists a CGI's keys in the order they stand on the wire:
// a query keeps to it when its keys come in that order, each at most once, with "CH=" first
// where the CGI takes a channel and nowhere else. Keys and values arrive with their "%XX"
// escapes; a raw blank never reaches a rule, since it breaks the request line.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "tools/camsim/cgi_site.h"

namespace camsim {

struct Query {
    int channel = 0;
    bool channelGiven = false;  // a "CH=" pair was sent, wherever it stood
    Values pairs;               // in order, without CH; escapes decoded
};

// "A=1&B=2": pairs in order; an item without '=' is a key with an empty value.
Query parseQuery(std::string_view text);

struct QueryRule {
    bool channel;                            // "CH=n" comes first
    std::span<const std::string_view> keys;  // in wire order
};

// The rules of a family A camera, by its model code and whether it describes itself as a
// device camera: its pan/tilt wording and its alarm keys depend on them. nullptr for a CGI
// without a rule.
const QueryRule *familyARule(std::string_view cgi, int model, bool device);
const QueryRule *familyBRule(std::string_view cgi);

// "" when query keeps to rule; else what is wrong, naming the pair at fault.
std::string breach(const QueryRule &rule, std::string_view query);

}  // namespace camsim
