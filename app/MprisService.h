// MprisService: the player as the desktop's media controls and the keyboard's
// media keys see it, through MPRIS 2 on the D-Bus session bus: bus name
// "org.mpris.MediaPlayer2.orvento", object "/org/mpris/MediaPlayer2", the
// interfaces "org.mpris.MediaPlayer2" and "org.mpris.MediaPlayer2.Player".
//
// The controls press the controller's play/stop, as a click on the button does:
//   Play       presses while Idle with an address selected; otherwise
//              (loading, playing, stopping) does nothing
//   Pause      a live stream cannot pause: as Stop
//   Stop       presses unless Idle
//   PlayPause  presses; while Idle only with an address selected
//   Previous   says again: plays the last transmission again, and steps
//              further back while a replay plays (CanGoPrevious is true)
//   Next, Seek, SetPosition, OpenUri: nothing (CanGoNext and CanSeek are
//              false; no URI schemes offered)
//
// The monitor (setMonitor), when it plays, is what the controls act on as
// well: Play does nothing, Stop, Pause and PlayPause stop it (and the
// station, if one is on), and PlaybackStatus is "Playing".
//
// PlaybackStatus follows the button: "Stopped" while Idle (the button offers
// play), "Playing" while Loading, Playing or Stopping (the button offers
// stop, and a press stops). A station that is still connecting is "Playing"
// already, so that a desktop shows the stop control the button shows; a stop
// the player has not yet carried out stays "Playing" until it has.
//
// Metadata names one station: "mpris:trackid" (an object path of its own per
// name and URL), "xesam:title" (the station's name; the URL when it has none)
// and "xesam:url" (the URL percent-escaped as the press escapes it, without
// its password). While a station is on that is the controller's station on;
// while Idle it is the selected station, which Play would start, and with no
// address selected only the trackid ".../TrackList/NoTrack". Texts go as
// they are, plain, with control characters left out. Position: microseconds
// of audio heard from the station that is on; 0 while Idle.
//
// CanControl and CanPause are always true; CanPlay while an address is
// selected or a station is on. PropertiesChanged is sent for PlaybackStatus,
// Metadata and CanPlay whenever one of them changes.
//
// The root interface: Identity "Orvento", DesktopEntry naming the desktop
// file (kApplicationId); Raise and Quit are passed on as raiseRequested and
// quitRequested (the application brings its window to the front, or closes
// it as Ctrl+Q does).
//
// Where another Orvento holds the bus name (a start that ran beside it,
// SessionInstance), the service takes
// "org.mpris.MediaPlayer2.orvento.instance<process id>", as MPRIS asks. Without
// a session bus, or without any name, it writes one log line and the
// application runs on without media keys.
//
// Main thread only. The controller outlives the service.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <optional>

#include "controller/DiagnosticLog.h"
#include "controller/MonitorController.h"
#include "controller/PlaybackController.h"

namespace orvento {

class MprisService : public QObject {
    Q_OBJECT

  public:
    static constexpr const char* kServiceName = "org.mpris.MediaPlayer2.orvento";
    static constexpr const char* kObjectPath = "/org/mpris/MediaPlayer2";
    static constexpr const char* kRootInterface = "org.mpris.MediaPlayer2";
    static constexpr const char* kPlayerInterface = "org.mpris.MediaPlayer2.Player";
    static constexpr const char* kNoTrack = "/org/mpris/MediaPlayer2/TrackList/NoTrack";

    // `log`: where the one line about a missing bus goes; empty: standard
    // error (writeLogLine).
    explicit MprisService(PlaybackController& controller, LogSink log = {});
    // Gives up the bus name and the object.
    ~MprisService() override;
    MprisService(const MprisService&) = delete;
    MprisService& operator=(const MprisService&) = delete;

    // The window's monitor, which outlives the service; null: none.
    void setMonitor(MonitorController* monitor);

    // Offers the service on `bus`. False, after one log line, when the bus is
    // not connected or no name could be had.
    bool registerOn(const QDBusConnection& bus);
    // The bus name held; empty before registerOn or when it failed.
    const QString& serviceName() const { return serviceName_; }

    // What the D-Bus interfaces read and call.
    QString playbackStatus() const;
    QVariantMap metadata() const;
    bool canPlay() const;
    qlonglong position() const;
    void play();
    void pause();
    void stop();
    void playPause();
    void previous();

  signals:
    void raiseRequested();
    void quitRequested();

  private:
    // The station Metadata names: its name and its escaped URL.
    Station station() const;
    bool idle() const;
    bool monitorPlays() const;
    // Sends PropertiesChanged for what differs from the last announcement.
    void announceChanges();
    void log(const QString& text) const;

    PlaybackController& controller_;
    MonitorController* monitor_ = nullptr;
    const LogSink log_;
    std::optional<QDBusConnection> bus_;  // set while registered
    QString serviceName_;

    QString announcedStatus_;  // what PropertiesChanged last said
    Station announcedStation_;
    bool announcedCanPlay_ = false;
};

}  // namespace orvento
