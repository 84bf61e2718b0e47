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
      recent_(settings.recentStations().mid(0, kRecentLimit)),
      own_(settings.ownStations()) {
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
    emit rememberedChanged();
}

std::optional<Station> StationMemory::ownStation(const Station& station) {
    Station own{station.name.trimmed(), station.url.trimmed()};
    const QString scheme = QUrl(own.url).scheme().toLower();
    const bool web = scheme == QLatin1String("http") || scheme == QLatin1String("https");
    if (!web) {
        return std::nullopt;
    }
    if (own.name.isEmpty()) {
        own.name = own.url;
    }
    return own;
}

bool StationMemory::addOwnStation(const Station& station) {
    const std::optional<Station> own = ownStation(station);
    if (!own || own_.contains(*own)) {
        return false;
    }
    own_.append(*own);
    settings_.setOwnStations(own_);
    showMarks();
    emit rememberedChanged();
    return true;
}

bool StationMemory::changeOwnStation(const Station& station, const Station& changed) {
    const std::optional<Station> own = ownStation(changed);
    const qsizetype at = own_.indexOf(station);
    if (!own || at < 0 || (*own != station && own_.contains(*own))) {
        return false;
    }
    own_[at] = *own;
    settings_.setOwnStations(own_);
    if (const qsizetype starred = favouriteList_.indexOf(station); starred >= 0) {
        favouriteList_[starred] = *own;
        favourites_.remove(station);
        favourites_.insert(*own);
        settings_.setFavourites(favouriteList_);
    }
    if (const qsizetype played = recent_.indexOf(station); played >= 0) {
        recent_[played] = *own;
        settings_.setRecentStations(recent_);
    }
    showMarks();
    emit rememberedChanged();
    return true;
}

void StationMemory::removeOwnStation(const Station& station) {
    if (own_.removeAll(station) == 0) {
        return;
    }
    settings_.setOwnStations(own_);
    setFavourite(station, false);
    showMarks();
    emit rememberedChanged();
}

QList<Station> StationMemory::stationsBeyond(const QList<Station>& listed) const {
    // The few remembered looked up among the many listed, not the other way
    // round: a directory lists 20,000.
    QSet<Station> remembered(own_.begin(), own_.end());
    remembered.unite(QSet<Station>(favouriteList_.begin(), favouriteList_.end()));
    remembered.unite(QSet<Station>(recent_.begin(), recent_.end()));
    QSet<Station> taken;
    if (!remembered.isEmpty()) {
        for (const Station& station : listed) {
            if (remembered.contains(station)) {
                taken.insert(station);
            }
        }
    }
    QList<Station> beyond;
    for (const QList<Station>* kept : {&own_, &favouriteList_, &recent_}) {
        for (const Station& station : *kept) {
            // A recent address typed has no name to list it by.
            if (!station.name.isEmpty() && !taken.contains(station)) {
                taken.insert(station);
                beyond.append(station);
            }
        }
    }
    return beyond;
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
    emit rememberedChanged();
}

void StationMemory::showMarks() {
    stations_.setFavourites(favourites_);
    stations_.setRecent(recent_);
    stations_.setOwn(QSet<Station>(own_.begin(), own_.end()));
}

}  // namespace orvento
