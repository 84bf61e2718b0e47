#include "controller/StationListModel.h"

#include "controller/StationNames.h"

namespace orvento {

StationListModel::StationListModel(QObject* parent) : QAbstractListModel(parent) {}

void StationListModel::setStations(QList<Station> stations) {
    catalogue_ = std::move(stations);
    setRows();
}

void StationListModel::setStations(QList<Station> stations, QList<DirectoryStation> directory) {
    catalogue_ = std::move(stations);
    directory_ = std::move(directory);
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
    keys_.clear();
    keys_.reserve(static_cast<std::size_t>(catalogue_.size() + directory_.size()));
    for (const Station& station : catalogue_) {
        keys_.push_back(orvento::searchKey(station.name));
    }
    for (const DirectoryStation& station : directory_) {
        stations_.append(station.station());
        // Made as the list was read, off the main thread; a station made
        // otherwise has none yet.
        keys_.push_back(station.searchKey.isEmpty() ? orvento::searchKey(station.name)
                                                    : station.searchKey);
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
    // The few marked stations in one table, so that each of thousands of
    // rows is looked up once, and not at all when none is marked.
    struct Marks {
        bool favourite = false;
        int recentRank = -1;
        bool own = false;
    };
    QHash<Station, Marks> marked;
    for (const Station& station : favourites_) {
        marked[station].favourite = true;
    }
    for (auto it = recent_.cbegin(); it != recent_.cend(); ++it) {
        marked[it.key()].recentRank = it.value();
    }
    for (const Station& station : ownStations_) {
        marked[station].own = true;
    }
    const std::size_t rows = static_cast<std::size_t>(stations_.size());
    favourite_.resize(rows);
    recentRank_.resize(rows);
    own_.resize(rows);
    int first = -1;
    int last = -1;
    for (std::size_t row = 0; row < rows; ++row) {
        const Marks marks = marked.isEmpty()
                                ? Marks{}
                                : marked.value(stations_[static_cast<qsizetype>(row)], Marks{});
        if (marks.favourite != favourite_[row] || marks.recentRank != recentRank_[row] ||
            marks.own != own_[row]) {
            first = first < 0 ? static_cast<int>(row) : first;
            last = static_cast<int>(row);
        }
        favourite_[row] = marks.favourite;
        recentRank_[row] = marks.recentRank;
        own_[row] = marks.own;
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
