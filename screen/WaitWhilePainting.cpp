#include "screen/WaitWhilePainting.h"

#include <QEventLoop>
#include <QMetaObject>
#include <thread>

namespace orvento {

void waitWhilePainting(const std::function<void()>& work) {
    QEventLoop loop;
    std::thread worker([&] {
        work();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    // Returns at the posted quit, or earlier if the application is told to
    // exit; then the join waits for the work, which has limits of its own.
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
}

}  // namespace orvento
