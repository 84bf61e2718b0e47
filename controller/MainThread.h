// Handing work to the main thread: the thread every widget lives on.
#pragma once

#include <QMetaObject>
#include <QObject>
#include <utility>

namespace orvento {

// Runs `call` later on the thread of `context` (for a widget: the main
// thread), never at once and without waiting, also when the caller is on that
// thread. Calls posted to the same context run one at a time, in the order in
// which they were posted, from whichever threads. A call still pending when
// `context` is destroyed is dropped.
template <typename Call>
void postToMainThread(QObject* context, Call&& call) {
    QMetaObject::invokeMethod(context, std::forward<Call>(call), Qt::QueuedConnection);
}

}  // namespace orvento
