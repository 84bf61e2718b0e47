// StationMemory: what the application remembers of the stations from one run
// to the next, kept in the Settings: the favourites (stars, in the order
// given), the last kRecentLimit stations played (latest first, each once),
// the last station played, and whether to play it at start.
//
// A station is played when a press of the controller starts a player for it
// (attemptStarted): it goes to the front of the recent stations and becomes
// the last station; a typed address counts too (with no name), as long as
// it is an http or https URL. The station
// list's marks (StationListModel::setFavourites, setRecent) follow every
// change.
//
// Main thread only.
#pragma once

#include <QList>
#include <QObject>
#include <QSet>

#include "controller/PlaybackController.h"
#include "controller/Settings.h"
#include "controller/StationListModel.h"

namespace orvento {

class StationMemory : public QObject {
    Q_OBJECT

  public:
    static constexpr qsizetype kRecentLimit = 10;

    // All three outlive this object.
    StationMemory(Settings& settings, PlaybackController& controller, StationListModel& stations,
                  QObject* parent = nullptr);

    bool isFavourite(const Station& station) const { return favourites_.contains(station); }
    void setFavourite(const Station& station, bool favourite);
    void toggleFavourite(const Station& station);
    // The stations played last, latest first.
    const QList<Station>& recent() const { return recent_; }

    // At start: selects the last station played, if there is one, and plays
    // it when the user asked for that (Settings::playLastStationAtStart).
    // Answers whether it selected a station.
    bool restoreLastStation();

  private:
    void stationStarted();
    void showMarks();

    Settings& settings_;
    PlaybackController& controller_;
    StationListModel& stations_;
    QList<Station> favouriteList_;  // in the order starred
    QSet<Station> favourites_;
    QList<Station> recent_;
};

}  // namespace orvento
