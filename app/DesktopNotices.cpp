#include "app/DesktopNotices.h"

#include <QMainWindow>

#include "app/OrventoAppDelegate.h"

namespace orvento {

DesktopNotices::DesktopNotices(OrventoAppDelegate& delegate, LogSink log, QDBusConnection bus)
    : rules_(delegate.controller(), delegate.monitor(), delegate.viewController()->settings()),
      notifier_(std::move(log), std::move(bus)) {
    QMainWindow* window = delegate.window();
    rules_.setWindowState([window] { return window->isActiveWindow(); },
                          [window] { return !window->isVisible() || window->isMinimized(); });
    QObject::connect(&rules_, &NoticeRules::notice, &notifier_,
                     [this](const NoticeRules::Notice& notice) {
                         notifier_.notify(notice.summary, notice.body);
                     });
}

}  // namespace orvento
