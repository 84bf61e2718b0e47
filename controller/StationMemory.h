// StationMemory: what the application remembers of the stations from one run
// to the next, kept in the Settings: the favourites (stars, in the order
// given), the user's own stations, the last kRecentLimit stations played
// (latest first, each once), the last station played, and whether to play it
// at start. Each is kept by its own name and address, so it is there after a
// restart whatever became of the list it came from (the catalogue, a
// playlist, an address typed): stationsBeyond gives what the list shown
// lacks of them.
//
// Own stations are added with a name and an http or https address (no name:
// the address names it), and changed (renamed) or removed; a change carries
// the station's star and place among the recent ones with it, a removal
// takes its star too.
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
    const QList<Station>& ownStations() const { return own_; }
    // False, and nothing changes, for an address that is not http or https
    // or a station that is already there.
    bool addOwnStation(const Station& station);
    // `station`, one of the own stations, becomes `changed`; false as above,
    // or when it is none of them.
    bool changeOwnStation(const Station& station, const Station& changed);
    void removeOwnStation(const Station& station);
    // The own, favourite and recent stations with a name (in that order, each
    // once) that `listed` does not hold.
    QList<Station> stationsBeyond(const QList<Station>& listed) const;

    // At start: selects the last station played, if there is one, and plays
    // it when the user asked for that (Settings::playLastStationAtStart).
    // Answers whether it selected a station.
    bool restoreLastStation();

  signals:
    // What stationsBeyond gives may have changed.
    void rememberedChanged();

  private:
    // Trimmed, named; none when its address is no http or https URL.
    static std::optional<Station> ownStation(const Station& station);
    void stationStarted();
    void showMarks();

    Settings& settings_;
    PlaybackController& controller_;
    StationListModel& stations_;
    QList<Station> favouriteList_;  // in the order starred
    QSet<Station> favourites_;
    QList<Station> recent_;
    QList<Station> own_;
};

}  // namespace orvento
