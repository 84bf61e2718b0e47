// DesktopNotices: what happens while the listener looks elsewhere, told on
// the desktop. The window's NoticeRules (over its station, its monitor and
// its settings; the window is active while it has the focus, hidden while it
// is not visible or minimised) and a DesktopNotifier that says each notice.
//
// The application holds one for its run; tests build one on the same
// delegate and move the rules' clock.
//
// Main thread only.
#pragma once

#include <QDBusConnection>

#include "app/DesktopNotifier.h"
#include "controller/NoticeRules.h"

namespace orvento {

class OrventoAppDelegate;

class DesktopNotices {
  public:
    // `log`: the notifier's lines (a desktop that takes no notices).
    explicit DesktopNotices(OrventoAppDelegate& delegate, LogSink log = {},
                            QDBusConnection bus = QDBusConnection::sessionBus());
    DesktopNotices(const DesktopNotices&) = delete;
    DesktopNotices& operator=(const DesktopNotices&) = delete;

    NoticeRules& rules() { return rules_; }
    DesktopNotifier& notifier() { return notifier_; }

  private:
    NoticeRules rules_;
    DesktopNotifier notifier_;
};

}  // namespace orvento
