#include "controller/StationMemory.h"

#include <QUrl>

namespace orvento {

StationMemory::StationMemory(Settings& settings, PlaybackController& controller,
                             StationListModel& stations, QObject* parent)
    : QObject(parent),
      settings_(settings),
      controller_(controller),
      stations_(stations),
      favouriteList_(settings.favourites()),
      favourites_(favouriteList_.begin(), favouriteList_.end()),
      recent_(settings.recentStations().mid(0, kRecentLimit)) {
    connect(&controller_, &PlaybackController::attemptStarted, this,
            &StationMemory::stationStarted);
    showMarks();
}

void StationMemory::setFavourite(const Station& station, bool favourite) {
    if (favourite == isFavourite(station) || station.url.isEmpty()) {
        return;
    }
    if (favourite) {
        favouriteList_.append(station);
        favourites_.insert(station);
    } else {
        favouriteList_.removeAll(station);
        favourites_.remove(station);
    }
    settings_.setFavourites(favouriteList_);
    showMarks();
}

void StationMemory::toggleFavourite(const Station& station) {
    setFavourite(station, !isFavourite(station));
}

bool StationMemory::restoreLastStation() {
    const std::optional<Station> last = settings_.lastStation();
    if (!last) {
        return false;
    }
    controller_.chooseStation(*last);
    if (settings_.playLastStationAtStart() &&
        controller_.playState() == PlaybackController::PlayState::Idle) {
        controller_.press();
    }
    return true;
}

void StationMemory::stationStarted() {
    // The press plays the station selected; only what can play is kept.
    const Station station = controller_.selectedStation();
    const QString scheme = QUrl(station.url.trimmed()).scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        return;
    }
    recent_.removeAll(station);
    recent_.prepend(station);
    recent_ = recent_.mid(0, kRecentLimit);
    settings_.setRecentStations(recent_);
    settings_.setLastStation(station);
    showMarks();
}

void StationMemory::showMarks() {
    stations_.setFavourites(favourites_);
    stations_.setRecent(recent_);
}

}  // namespace orvento
