#include "tools/camsim/device_routes.h"

#include <cctype>
#include <cstdio>
#include <utility>

#include "tools/camsim/query_rules.h"

namespace camsim {

namespace {

std::string storedKey(const KeySpec &spec) {
    return spec.key.starts_with('>') ? spec.key.substr(1) : spec.key;
}

// Stores every pair in section on channel, keys renamed where the Get reports them under
// another name.
void storeAll(SettingsStore &store, const std::string &section, Values pairs, int channel,
              const Rename &rename = {}) {
    for (auto &[key, value] : pairs)
        store.set(section, rename ? rename(key) : key, std::move(value), channel);
}

// The answer of a control CGI to what the head or panel said: "" when it took the request.
Reply controlReply(const std::string &problem) {
    return Reply{200, problem.empty() ? "OK" : problem};
}

}  // namespace

std::vector<std::string> numbered(const std::string &prefix, int first, int last, bool twoDigits) {
    std::vector<std::string> keys;
    for (int i = first; i <= last; ++i) {
        char n[8];
        std::snprintf(n, sizeof n, twoDigits ? "%02d" : "%d", i);
        keys.push_back(prefix + n);
    }
    return keys;
}

void append(KeyList &keys, const std::vector<std::string> &names, const std::string &value) {
    for (const std::string &name : names) keys.push_back({name, value});
}

Values collect(const SettingsStore &store, const std::string &section, const KeyList &keys,
               int channel) {
    Values values;
    for (const KeySpec &spec : keys) {
        std::string shown = spec.key.starts_with('>') ? "<b>" + spec.key.substr(1) : spec.key;
        values.emplace_back(
            shown, store.get(spec.from.empty() ? section : spec.from, storedKey(spec), channel));
    }
    return values;
}

// Routes a Get CGI that reports keys from its own section, and records their defaults.
void routeGet(CgiServer &server, const StorePtr &store, ReplyStyle style, const std::string &cgi,
              KeyList keys) {
    for (const KeySpec &spec : keys)
        if (spec.from.empty()) store->setDefault(cgi, storedKey(spec), spec.value);
    server.setHandler(cgi, [store, style, cgi, keys = std::move(keys)](const RecordedRequest &r) {
        const Query query = parseQuery(r.query);
        if (style == ReplyStyle::FamilyB && query.channelGiven)
            return Reply{400, "400 Bad Request: CH= is not taken here"};
        return Reply{200, formatValues(style, collect(*store, cgi, keys, query.channel))};
    });
}

// Routes a write CGI whose query must keep to rule: any other is answered 400 and changes
// nothing. Without a rule every query is taken.
void routeChecked(CgiServer &server, const std::string &cgi, const QueryRule *rule,
                  Handler handler) {
    server.setHandler(cgi, [rule, handler = std::move(handler)](const RecordedRequest &r) {
        if (rule) {
            if (std::string problem = breach(*rule, r.query); !problem.empty())
                return Reply{400, "400 Bad Request: " + problem};
        }
        return handler(r);
    });
}

// Routes a Set CGI that stores every pair of its query in section.
void routeSet(CgiServer &server, const StorePtr &store, const std::string &cgi,
              const QueryRule *rule, const std::string &section, Rename rename) {
    routeChecked(server, cgi, rule,
                 [store, section, rename = std::move(rename)](const RecordedRequest &r) {
                     Query query = parseQuery(r.query);
                     storeAll(*store, section, std::move(query.pairs), query.channel, rename);
                     return Reply{200, "OK"};
                 });
}

// Routes a head CGI: the head takes the query's pairs and hands back the settings among them,
// which are stored in GetPTZ.cgi on the query's channel once the head took the request.
void routeHead(CgiServer &server, const StorePtr &store, const std::string &cgi,
               const QueryRule *rule, HeadCall call) {
    routeChecked(server, cgi, rule, [store, call = std::move(call)](const RecordedRequest &r) {
        Query query = parseQuery(r.query);
        Values settings;
        std::string problem = call(query.channel, query.pairs, settings);
        if (problem.empty()) storeAll(*store, "GetPTZ.cgi", std::move(settings), query.channel);
        return controlReply(problem);
    });
}

// Routes a control CGI whose query is one key: act takes its value.
void routeControl(CgiServer &server, const std::string &cgi, const QueryRule *rule,
                  const std::string &key, std::function<std::string(const std::string &)> act) {
    routeChecked(server, cgi, rule, [key, act = std::move(act)](const RecordedRequest &r) {
        Values pairs = parseQuery(r.query).pairs;
        if (pairs.size() != 1 || pairs[0].first != key)
            return controlReply("Unknown request: " + key + "= expected alone");
        return controlReply(act(pairs[0].second));
    });
}

// GetSimState.cgi: the head of the query's channel, then the recorder panel when there is one.
void routeSimState(CgiServer &server, ReplyStyle style, std::shared_ptr<PtzHead> head,
                   std::shared_ptr<RecorderPanel> panel) {
    server.setHandler("GetSimState.cgi", [style, head, panel](const RecordedRequest &r) {
        Values values = describeHead(head->state(parseQuery(r.query).channel));
        if (panel) {
            Values recorder = describeRecorder(panel->state());
            values.insert(values.end(), recorder.begin(), recorder.end());
        }
        return Reply{200, formatValues(style, values)};
    });
}

// Keys with a number inside, "Out3STA" -> "Output3": prefix, a digit, suffix.
Rename renameNumbered(std::vector<std::pair<std::string, std::string>> fromTo) {
    return [fromTo = std::move(fromTo)](const std::string &key) {
        for (const auto &[from, to] : fromTo) {
            std::size_t hole = from.find('#');
            std::string pre = from.substr(0, hole), post = from.substr(hole + 1);
            if (hole == std::string::npos) {
                if (key == from) return to;
                continue;
            }
            if (key.size() == pre.size() + 1 + post.size() && key.starts_with(pre) &&
                key.ends_with(post) && std::isdigit(static_cast<unsigned char>(key[pre.size()]))) {
                std::string out = to;
                out[out.find('#')] = key[pre.size()];
                return out;
            }
        }
        return key;
    };
}

// SetFactoryDefault.cgi forgets every set value and brings the head and the panel back to
// their first state; Reboot.cgi changes nothing here.
void routeResets(CgiServer &server, const StorePtr &store, std::shared_ptr<PtzHead> head,
                 std::shared_ptr<RecorderPanel> panel, const QueryRule *defaultRule,
                 const QueryRule *rebootRule) {
    routeChecked(server, "SetFactoryDefault.cgi", defaultRule,
                 [store, head, panel](const RecordedRequest &) {
                     store->reset();
                     head->reset();
                     panel->reset();
                     return Reply{200, "OK"};
                 });
    routeChecked(server, "Reboot.cgi", rebootRule, [](const RecordedRequest &) {
        return Reply{200, "OK"};
    });
}

}  // namespace camsim
