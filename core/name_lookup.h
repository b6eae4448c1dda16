// Name lookups that a stop request cuts short.
//
// The system resolver cannot be interrupted and may take many seconds. A lookup therefore runs
// on a thread of its own while the caller waits for it in 100 ms slices, looking at its stop
// flag (StopScope) between them. A caller told to stop leaves at once; its lookup finishes by
// itself later, holding nothing but its own copy of the name and of the answer.
#pragma once

#include <functional>
#include <string>

namespace ipcam {

// Finds the dotted IPv4 address of a name; false when there is none. May block for long.
using NameResolver = std::function<bool(const std::string &name, std::string &dotted)>;

// Replaces the resolver every later lookup uses (tests); an empty one restores the system's.
void setNameResolver(NameResolver resolver);

enum class LookupResult { Found, NotFound, Stopped };

// Looks name up. Stopped, with dotted untouched, when the calling thread is told to stop
// before the answer comes.
LookupResult lookupName(const std::string &name, std::string &dotted);

}  // namespace ipcam
