#include "controller/StationListModel.h"

#include "controller/StationNames.h"

namespace orvento {

StationListModel::StationListModel(QObject* parent) : QAbstractListModel(parent) {}

void StationListModel::setStations(QList<Station> stations) {
    catalogue_ = std::move(stations);
    setRows();
}

void StationListModel::setDirectory(QList<DirectoryStation> stations) {
    directory_ = std::move(stations);
    setRows();
}

QString StationListModel::directoryId(const Station& station) const {
    for (const DirectoryStation& listed : directory_) {
        if (listed.url == station.url && listed.name == station.name) {
            return listed.uuid;
        }
    }
    return {};
}

void StationListModel::setRows() {
    beginResetModel();
    stations_ = catalogue_;
    catalogueRows_ = static_cast<int>(catalogue_.size());
    stations_.reserve(catalogue_.size() + directory_.size());
    for (const DirectoryStation& station : directory_) {
        stations_.append(station.station());
    }
    keys_.clear();
    keys_.reserve(static_cast<std::size_t>(stations_.size()));
    for (const Station& station : stations_) {
        keys_.push_back(orvento::searchKey(station.name));
    }
    markRows(false);
    endResetModel();
}

QStringList StationListModel::names() const {
    QStringList names;
    for (const Station& station : stations_) {
        names.append(station.name);
    }
    return names;
}

QStringList StationListModel::urls() const {
    QStringList urls;
    for (const Station& station : stations_) {
        urls.append(station.url);
    }
    return urls;
}

void StationListModel::setFavourites(const QSet<Station>& favourites) {
    favourites_ = favourites;
    markRows(true);
}

void StationListModel::setRecent(const QList<Station>& recent) {
    recent_.clear();
    for (qsizetype i = recent.size() - 1; i >= 0; --i) {
        recent_.insert(recent[i], static_cast<int>(i));
    }
    markRows(true);
}

void StationListModel::setOwn(const QSet<Station>& own) {
    ownStations_ = own;
    markRows(true);
}

void StationListModel::markRows(bool announce) {
    const std::size_t rows = static_cast<std::size_t>(stations_.size());
    favourite_.resize(rows);
    recentRank_.resize(rows);
    own_.resize(rows);
    int first = -1;
    int last = -1;
    for (std::size_t row = 0; row < rows; ++row) {
        const Station& station = stations_[static_cast<qsizetype>(row)];
        const bool favourite = favourites_.contains(station);
        const int rank = recent_.value(station, -1);
        const bool own = ownStations_.contains(station);
        if (favourite != favourite_[row] || rank != recentRank_[row] || own != own_[row]) {
            first = first < 0 ? static_cast<int>(row) : first;
            last = static_cast<int>(row);
        }
        favourite_[row] = favourite;
        recentRank_[row] = rank;
        own_[row] = own;
    }
    if (announce && first >= 0) {
        emit dataChanged(index(first), index(last), {FavouriteRole, RecentRole, OwnRole});
    }
}

int StationListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(stations_.size());
}

QVariant StationListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return {};
    }
    const Station& station = stations_.at(index.row());
    switch (role) {
        case Qt::DisplayRole:
            return shownName(station.name);
        case NameRole:
            return station.name;
        case UrlRole:
            return station.url;
        case FavouriteRole:
            return isFavourite(index.row());
        case OwnRole:
            return isOwn(index.row());
        case RecentRole:
            return recentRank(index.row());
        case DetailRole:
            return isDirectory(index.row())
                       ? directoryDetails(directory_.at(index.row() - catalogueRows_))
                       : QString();
        default:
            return {};
    }
}

QHash<int, QByteArray> StationListModel::roleNames() const {
    return {{Qt::DisplayRole, "display"}, {NameRole, "name"}, {UrlRole, "url"},
            {FavouriteRole, "favourite"}, {OwnRole, "own"},   {RecentRole, "recent"},
            {DetailRole, "detail"}};
}

}  // namespace orvento
