// TrayIcon: Orvento in the desktop's tray (Qt's system tray: a
// StatusNotifierItem where a StatusNotifierWatcher runs, XEmbed elsewhere).
//
// The icon shows at a glance whether the window's station is idle, playing,
// reconnecting or on the air (someone transmits: the keyed light); its
// tooltip names the station and counts the sleep timer down. Its menu plays
// or stops the station, plays a favourite or a recent station directly, sets
// the sleep timer, opens the window and quits. A click opens or hides the
// window.
//
// Closing the window: with the setting "Keep playing when the window is
// closed" on and a tray to come back from, closing hides the window and
// playback goes on; otherwise closing ends the application as always
// (ending(), which the application's loop follows: a dialog closed while the
// window is hidden ends nothing). quit() ends it in either case (the menu's
// Quit, Ctrl+Q, MPRIS Quit). Where there
// is no tray, that is said in one log line and nothing else changes.
//
// Main thread only. The delegate outlives the icon.
#pragma once

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>
#include <chrono>
#include <memory>

#include "controller/DiagnosticLog.h"
#include "controller/StationCatalogue.h"

namespace orvento {

class OrventoAppDelegate;

class TrayIcon : public QObject {
    Q_OBJECT

  public:
    enum class Look { idle, playing, reconnecting, onAir };
    Q_ENUM(Look)
    static constexpr std::chrono::milliseconds kKeyedInterval{250};

    explicit TrayIcon(OrventoAppDelegate& delegate, LogSink log = {}, QObject* parent = nullptr);
    ~TrayIcon() override;

    // A tray has taken the icon.
    bool shown() const { return icon_ != nullptr && icon_->isVisible(); }
    Look look() const { return look_; }
    QString toolTip() const;

    QMenu* menu() const { return menu_.get(); }
    QAction* playAction() const { return play_; }
    QMenu* favouritesMenu() const { return favourites_; }
    QMenu* recentMenu() const { return recent_; }
    QMenu* sleepMenu() const { return sleep_; }
    QAction* openAction() const { return open_; }
    QAction* quitAction() const { return quit_; }

    // Shows the window, raised and active.
    void showWindow();
    // Ends the application: the window closes for good.
    void quit();

  signals:
    // The window is closing for good: the application ends.
    void ending();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void fillStations(QMenu* menu, const QList<Station>& stations);
    void fillSleepMenu();
    void update();
    QIcon iconFor(Look look) const;

    OrventoAppDelegate& delegate_;
    const LogSink log_;
    std::unique_ptr<QMenu> menu_;
    QAction* play_ = nullptr;
    QMenu* favourites_ = nullptr;
    QMenu* recent_ = nullptr;
    QMenu* sleep_ = nullptr;
    QAction* open_ = nullptr;
    QAction* quit_ = nullptr;
    std::unique_ptr<QSystemTrayIcon> icon_;  // where there is a tray
    Look look_ = Look::idle;
    bool quitting_ = false;
    QTimer keyed_;
};

}  // namespace orvento
