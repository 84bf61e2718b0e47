#include "app/TrayIcon.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMainWindow>
#include <QPainter>

#include "app/OrventoAppDelegate.h"
#include "controller/StatusTexts.h"
#include "screen/SleepMenu.h"

namespace orvento {
namespace {

constexpr int kIconSize = 64;

QString translate(const char* text) {
    return QCoreApplication::translate("TrayIcon", text);
}

// The light in the icon's corner: none while idle.
QColor lightOf(TrayIcon::Look look) {
    switch (look) {
        case TrayIcon::Look::idle:
            return {};
        case TrayIcon::Look::playing:
            return {0x2e, 0xa0, 0x43};
        case TrayIcon::Look::reconnecting:
            return {0xe0, 0xa0, 0x20};
        case TrayIcon::Look::onAir:
            return {0xd0, 0x30, 0x30};
    }
    return {};
}

QString nameOf(const Station& station) {
    return station.name.isEmpty() ? withoutPassword(station.url) : station.name;
}

}  // namespace

TrayIcon::TrayIcon(OrventoAppDelegate& delegate, LogSink log, QObject* parent)
    : QObject(parent), delegate_(delegate), log_(std::move(log)), menu_(std::make_unique<QMenu>()) {
    PlaybackController& station = delegate_.controller();
    OrventoViewController& screen = *delegate_.viewController();
    play_ = menu_->addAction(QString());
    connect(play_, &QAction::triggered, &station, [&station] {
        if (station.canPlay()) {
            station.press();
        }
    });
    favourites_ = menu_->addMenu(translate(QT_TRANSLATE_NOOP("TrayIcon", "&Favourites")));
    recent_ = menu_->addMenu(translate(QT_TRANSLATE_NOOP("TrayIcon", "&Recent")));
    // Filled as they open, from what is remembered then.
    connect(favourites_, &QMenu::aboutToShow, this,
            [this, &screen] { fillStations(favourites_, screen.settings().favourites()); });
    connect(recent_, &QMenu::aboutToShow, this,
            [this, &screen] { fillStations(recent_, screen.settings().recentStations()); });
    fillStations(favourites_, screen.settings().favourites());
    fillStations(recent_, screen.settings().recentStations());
    sleep_ = menu_->addMenu(translate(QT_TRANSLATE_NOOP("TrayIcon", "&Sleep timer")));
    fillSleepMenu();
    menu_->addSeparator();
    open_ = menu_->addAction(translate(QT_TRANSLATE_NOOP("TrayIcon", "&Open Orvento")));
    connect(open_, &QAction::triggered, this, &TrayIcon::showWindow);
    quit_ = menu_->addAction(translate(QT_TRANSLATE_NOOP("TrayIcon", "&Quit")));
    connect(quit_, &QAction::triggered, this, &TrayIcon::quit);

    connect(&station, &PlaybackController::playStateChanged, this, &TrayIcon::update);
    connect(&station, &PlaybackController::reconnectingChanged, this, &TrayIcon::update);
    connect(&station, &PlaybackController::selectedStationChanged, this, &TrayIcon::update);
    connect(&delegate_.sleepTimer(), &SleepTimer::changed, this, &TrayIcon::update);
    keyed_.setInterval(kKeyedInterval);
    connect(&keyed_, &QTimer::timeout, this, &TrayIcon::update);
    delegate_.window()->installEventFilter(this);

    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        writeLogLine(log_,
                     "no tray: the desktop shows no tray icons; closing the window ends "
                     "Orvento");
        update();
        return;
    }
    icon_ = std::make_unique<QSystemTrayIcon>();
    icon_->setContextMenu(menu_.get());
    connect(icon_.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason != QSystemTrayIcon::Trigger) {
                    return;
                }
                QMainWindow* window = delegate_.window();
                if (window->isVisible() && !window->isMinimized()) {
                    window->hide();
                } else {
                    showWindow();
                }
            });
    update();
    icon_->show();
}

TrayIcon::~TrayIcon() {
    if (QMainWindow* window = delegate_.window(); window != nullptr) {
        window->removeEventFilter(this);
    }
}

void TrayIcon::fillStations(QMenu* menu, const QList<Station>& stations) {
    menu->clear();
    for (const Station& each : stations) {
        // A name may hold an "&": it is no mnemonic here.
        QAction* action = menu->addAction(nameOf(each).replace(QLatin1Char('&'), "&&"));
        connect(action, &QAction::triggered, this,
                [this, each] { delegate_.viewController()->playStation(each); });
    }
    menu->setEnabled(!stations.isEmpty());
}

void TrayIcon::fillSleepMenu() {
    addSleepChoices(*sleep_, delegate_.sleepTimer(),
                    translate(QT_TRANSLATE_NOOP("TrayIcon", "Off")),
                    translate(QT_TRANSLATE_NOOP("TrayIcon", "%1 minutes")));
}

QString TrayIcon::toolTip() const {
    const PlaybackController& station = delegate_.controller();
    QStringList lines{QStringLiteral("Orvento")};
    if (station.playState() != PlaybackController::PlayState::Idle) {
        lines.append(nameOf(station.stationOn()));
        lines.append(station.statusText());
    }
    if (const QString countdown = delegate_.sleepTimer().countdownText(); !countdown.isEmpty()) {
        lines.append(countdown);
    }
    return lines.join(QLatin1Char('\n'));
}

void TrayIcon::update() {
    const PlaybackController& station = delegate_.controller();
    const bool idle = station.playState() == PlaybackController::PlayState::Idle;
    play_->setText(idle ? translate(QT_TRANSLATE_NOOP("TrayIcon", "&Play"))
                        : translate(QT_TRANSLATE_NOOP("TrayIcon", "S&top")));
    play_->setEnabled(station.canPlay());
    Look look = Look::idle;
    if (station.reconnecting()) {
        look = Look::reconnecting;
    } else if (station.playState() == PlaybackController::PlayState::Playing) {
        look = delegate_.controller().replay().keyed() ? Look::onAir : Look::playing;
    }
    // The keyed light is read while something plays, and shown only in an icon.
    if (idle || icon_ == nullptr) {
        keyed_.stop();
    } else if (!keyed_.isActive()) {
        keyed_.start();
    }
    if (icon_ == nullptr) {
        look_ = look;
        return;
    }
    if (look != look_ || icon_->icon().isNull()) {
        look_ = look;
        icon_->setIcon(iconFor(look));
    }
    if (const QString tip = toolTip(); icon_->toolTip() != tip) {
        icon_->setToolTip(tip);
    }
}

QIcon TrayIcon::iconFor(Look look) const {
    const QIcon base = delegate_.window()->windowIcon();
    QPixmap pixmap(kIconSize, kIconSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.drawPixmap(
        0, 0,
        base.pixmap(kIconSize, kIconSize, look == Look::idle ? QIcon::Disabled : QIcon::Normal));
    if (const QColor light = lightOf(look); light.isValid()) {
        const int size = kIconSize * 2 / 5;
        painter.setPen(QPen(Qt::white, 3));
        painter.setBrush(light);
        painter.drawEllipse(kIconSize - size - 2, kIconSize - size - 2, size, size);
    }
    painter.end();
    return QIcon(pixmap);
}

void TrayIcon::showWindow() {
    QMainWindow* window = delegate_.window();
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
}

void TrayIcon::quit() {
    quitting_ = true;
    delegate_.window()->close();
}

bool TrayIcon::eventFilter(QObject* watched, QEvent* event) {
    if (watched != delegate_.window() || event->type() != QEvent::Close) {
        return QObject::eventFilter(watched, event);
    }
    if (!quitting_ && shown() && delegate_.viewController()->settings().keepPlayingWhenClosed()) {
        event->ignore();
        delegate_.window()->hide();
        writeLogLine(log_, "window closed: playing on in the tray");
        return true;
    }
    emit ending();
    return false;
}

}  // namespace orvento
