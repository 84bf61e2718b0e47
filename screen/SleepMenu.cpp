#include "screen/SleepMenu.h"

#include <QAction>
#include <chrono>

namespace orvento {

QActionGroup* addSleepChoices(QMenu& menu, SleepTimer& timer, const QString& off,
                              const QString& minutes) {
    auto* choices = new QActionGroup(&menu);
    const auto choice = [&](const QString& text, int length) {
        QAction* action = menu.addAction(text);
        action->setCheckable(true);
        action->setData(length);
        choices->addAction(action);
        QObject::connect(action, &QAction::triggered, &timer, [&timer, length] {
            if (length == 0) {
                timer.cancel();
            } else {
                timer.start(std::chrono::minutes(length));
            }
        });
    };
    choice(off, 0);
    for (const int length : SleepTimer::kMinuteChoices) {
        choice(minutes.arg(length), length);
    }
    const auto follow = [&timer, choices] {
        for (QAction* action : choices->actions()) {
            action->setChecked(action->data().toInt() == timer.minutes());
        }
    };
    QObject::connect(&timer, &SleepTimer::changed, &menu, follow);
    follow();
    return choices;
}

}  // namespace orvento
