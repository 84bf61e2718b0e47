#include "controller/StationListModel.h"

namespace orvento {

StationListModel::StationListModel(QObject* parent) : QAbstractListModel(parent) {}

void StationListModel::setStations(QList<Station> stations) {
    beginResetModel();
    stations_ = std::move(stations);
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
        case NameRole:
            return station.name;
        case UrlRole:
            return station.url;
        default:
            return {};
    }
}

QHash<int, QByteArray> StationListModel::roleNames() const {
    return {{Qt::DisplayRole, "display"}, {NameRole, "name"}, {UrlRole, "url"}};
}

}  // namespace orvento
