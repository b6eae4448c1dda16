#include "core/name_lookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "platform/sockets.h"
#include "platform/stop_scope.h"
#include "platform/thread.h"

namespace ipcam {

namespace {

bool systemResolver(const std::string &name, std::string &dotted) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *answer = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &answer) != 0) return false;
    char text[INET_ADDRSTRLEN] = {};
    bool found = false;
    for (const addrinfo *a = answer; a && !found; a = a->ai_next) {
        if (a->ai_family != AF_INET || !a->ai_addr) continue;
        const auto *address = reinterpret_cast<const sockaddr_in *>(a->ai_addr);
        found = inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr;
    }
    freeaddrinfo(answer);
    if (found) dotted = text;
    return found;
}

struct Resolvers {
    std::mutex lock;
    NameResolver current;  // lock; empty: the system's
};

Resolvers &resolvers() {
    static Resolvers *instance = new Resolvers;  // lookups may outlive static destruction
    return *instance;
}

NameResolver currentResolver() {
    Resolvers &r = resolvers();
    std::lock_guard hold(r.lock);
    return r.current ? r.current : NameResolver(systemResolver);
}

// One lookup, shared by the thread that does it and the caller that waits for it.
struct Lookup {
    std::mutex lock;
    std::condition_variable answered;
    bool done = false;   // lock
    bool found = false;  // lock
    std::string dotted;  // lock
};

}  // namespace

void setNameResolver(NameResolver resolver) {
    Resolvers &r = resolvers();
    std::lock_guard hold(r.lock);
    r.current = std::move(resolver);
}

LookupResult lookupName(const std::string &name, std::string &dotted) {
    if (stopRequested()) return LookupResult::Stopped;
    NameResolver resolve = currentResolver();
    auto lookup = std::make_shared<Lookup>();
    Thread thread;
    const bool started = thread.create([lookup, resolve, name]() -> uint32_t {
        std::string answer;
        const bool found = resolve(name, answer);
        std::lock_guard hold(lookup->lock);
        lookup->done = true;
        lookup->found = found;
        lookup->dotted = std::move(answer);
        lookup->answered.notify_all();
        return 0;
    });
    if (!started) {  // no thread to spare: look it up here, unstoppably
        return resolve(name, dotted) ? LookupResult::Found : LookupResult::NotFound;
    }
    thread.resume();
    thread.abandon();  // it ends by itself, whether or not anyone still waits for it

    std::unique_lock hold(lookup->lock);
    while (!lookup->done) {
        if (stopRequested()) return LookupResult::Stopped;
        lookup->answered.wait_for(hold, std::chrono::milliseconds(kWaitSliceMs));
    }
    if (!lookup->found) return LookupResult::NotFound;
    dotted = lookup->dotted;
    return LookupResult::Found;
}

}  // namespace ipcam
