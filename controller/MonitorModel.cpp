#include "controller/MonitorModel.h"

#include "controller/MonitorController.h"
#include "controller/StationNames.h"

namespace orvento {

MonitorModel::MonitorModel(const MonitorController& monitor) : monitor_(monitor) {}

int MonitorModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : monitor_.count();
}

QVariant MonitorModel::data(const QModelIndex& index, int role) const {
    const int row = index.row();
    if (!index.isValid() || row >= monitor_.count()) {
        return {};
    }
    const ChannelControls& controls = monitor_.controls(row);
    switch (role) {
        case Qt::DisplayRole: {
            const Station station = monitor_.station(row);
            return stationTitle(station.name, station.url);
        }
        case UrlRole:
            return monitor_.station(row).url;
        case StatusRole:
            return monitor_.player(row).statusText();
        case PlayStateRole:
            return QVariant::fromValue(monitor_.player(row).playState());
        case LevelRole:
            return monitor_.levelDb(row);
        case KeyedRole:
            return monitor_.transmitting(row);
        case GainRole:
            return controls.gainDb;
        case PanRole:
            return controls.pan;
        case MutedRole:
            return controls.muted;
        case SoloedRole:
            return controls.soloed;
        case PriorityRole:
            return controls.priority;
        default:
            return {};
    }
}

QHash<int, QByteArray> MonitorModel::roleNames() const {
    QHash<int, QByteArray> names = QAbstractListModel::roleNames();
    names.insert(UrlRole, "url");
    names.insert(StatusRole, "status");
    names.insert(PlayStateRole, "playState");
    names.insert(LevelRole, "level");
    names.insert(KeyedRole, "keyed");
    names.insert(GainRole, "gain");
    names.insert(PanRole, "pan");
    names.insert(MutedRole, "muted");
    names.insert(SoloedRole, "soloed");
    names.insert(PriorityRole, "priority");
    return names;
}

void MonitorModel::rowChanged(int row, const QList<int>& roles) {
    emit dataChanged(index(row), index(row), roles);
}

}  // namespace orvento
