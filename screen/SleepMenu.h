// The sleep timer's choices in a menu, shared by the window's menu and the
// tray's: "Off", then each of SleepTimer::kMinuteChoices, as checkable
// actions of one group. Choosing one starts or cancels the timer; the checked
// one follows the timer's state whoever changes it (the other menu, an end,
// a stop). Main thread.
#pragma once

#include <QActionGroup>
#include <QMenu>
#include <QString>

#include "controller/SleepTimer.h"

namespace orvento {

// `off` and `minutes` (with %1 for the minutes) are the caller's translated
// texts. Returns the group, owned by `menu`.
QActionGroup* addSleepChoices(QMenu& menu, SleepTimer& timer, const QString& off,
                              const QString& minutes);

}  // namespace orvento
