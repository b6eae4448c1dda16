// The routes the simulated device models are built from: Get CGIs that report keys from the
// settings store, Set CGIs that store their pairs, and the control CGIs that drive a pan/tilt
// head or a recorder panel. Write routes check their query against a rule (query_rules.h)
// first and answer 400 to a query that breaks it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tools/camsim/cgi_server.h"
#include "tools/camsim/ptz_head.h"
#include "tools/camsim/recorder_panel.h"
#include "tools/camsim/settings_store.h"

namespace camsim {

struct QueryRule;
using StorePtr = std::shared_ptr<SettingsStore>;

// A key a Get CGI reports. A key written ">Key" is reported after a tag ("<b>Key=...") for
// clients that search for ">Key"; it is stored as "Key". from names the section the value
// lives in when another CGI owns it.
struct KeySpec {
    std::string key;
    std::string value;
    std::string from = {};
};
using KeyList = std::vector<KeySpec>;

// prefix followed by each number from first to last: "PName01", ... or "User1", ...
std::vector<std::string> numbered(const std::string &prefix, int first, int last,
                                  bool twoDigits = false);
void append(KeyList &keys, const std::vector<std::string> &names, const std::string &value);
// The values of keys on channel as the Get reports them.
Values collect(const SettingsStore &store, const std::string &section, const KeyList &keys,
               int channel);

// Routes a Get CGI that reports keys from its own section, and records their defaults.
void routeGet(CgiServer &server, const StorePtr &store, ReplyStyle style, const std::string &cgi,
              KeyList keys);
// Routes a write CGI whose query must keep to rule: any other is answered 400 and changes
// nothing. Without a rule every query is taken.
void routeChecked(CgiServer &server, const std::string &cgi, const QueryRule *rule,
                  Handler handler);

using Rename = std::function<std::string(const std::string &)>;
// Keys with a number inside, "Out3STA" -> "Output3": prefix, a digit, suffix.
Rename renameNumbered(std::vector<std::pair<std::string, std::string>> fromTo);
// Routes a Set CGI that stores every pair of its query in section, keys renamed where the Get
// reports them under another name.
void routeSet(CgiServer &server, const StorePtr &store, const std::string &cgi,
              const QueryRule *rule, const std::string &section, Rename rename = {});

// Routes a head CGI: the head takes the query's pairs and hands back the settings among them,
// which are stored in GetPTZ.cgi on the query's channel once the head took the request.
using HeadCall = std::function<std::string(int channel, const Values &pairs, Values &settings)>;
void routeHead(CgiServer &server, const StorePtr &store, const std::string &cgi,
               const QueryRule *rule, HeadCall call);
// Routes a control CGI whose query is one key: act takes its value and says what it did not
// understand ("" when it took it).
void routeControl(CgiServer &server, const std::string &cgi, const QueryRule *rule,
                  const std::string &key, std::function<std::string(const std::string &)> act);
// GetSimState.cgi: the head of the query's channel, then the recorder panel when there is one.
void routeSimState(CgiServer &server, ReplyStyle style, std::shared_ptr<PtzHead> head,
                   std::shared_ptr<RecorderPanel> panel);
// SetFactoryDefault.cgi forgets every set value and brings the head and the panel back to
// their first state; Reboot.cgi changes nothing here.
void routeResets(CgiServer &server, const StorePtr &store, std::shared_ptr<PtzHead> head,
                 std::shared_ptr<RecorderPanel> panel, const QueryRule *defaultRule,
                 const QueryRule *rebootRule);

}  // namespace camsim
