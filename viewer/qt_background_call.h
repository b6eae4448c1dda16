// A blocking call (a camera that may take seconds to answer) run off the user interface
// thread, its result handed back on the user interface thread.
#pragma once

#include <functional>
#include <system_error>
#include <thread>
#include <utility>

#include <QMetaObject>
#include <QObject>
#include <QPointer>

namespace kestrel {

// Runs work on a thread of its own, then done(result) on owner's thread, unless owner has been
// deleted by then. The thread is not waited for: a dialog closed while a device stays silent
// closes at once, and the call touches nothing but its own copies. False when no thread could
// be made (done is not called).
template <class Result>
bool runInBackground(QObject *owner, std::function<Result()> work,
                     std::function<void(Result)> done) {
    // The relay lives on owner's thread until the result has reached it, so the worker always
    // has something alive to post to; whether owner is still there is asked on that thread.
    auto *relay = new QObject;
    relay->moveToThread(owner->thread());
    QPointer<QObject> guard(owner);
    try {
        std::thread([relay, guard = std::move(guard), work = std::move(work),
                     done = std::move(done)]() mutable {
            Result result = work();
            QMetaObject::invokeMethod(
                relay,
                [relay, guard = std::move(guard), done = std::move(done),
                 result = std::move(result)]() mutable {
                    relay->deleteLater();
                    if (guard) done(std::move(result));
                },
                Qt::QueuedConnection);
        }).detach();
    } catch (const std::system_error &) {
        delete relay;
        return false;
    }
    return true;
}

}  // namespace kestrel
