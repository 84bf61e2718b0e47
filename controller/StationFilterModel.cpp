#include "controller/StationFilterModel.h"

#include <algorithm>

namespace orvento {

StationFilterModel::StationFilterModel(QObject* parent) : QAbstractProxyModel(parent) {}

template <typename Before, typename After>
void StationFilterModel::filterAgainAround(Before before, After after) {
    connections_.append(connect(stations_, before, this, [this] { beginResetModel(); }));
    connections_.append(connect(stations_, after, this, [this] {
        filter();
        endResetModel();
    }));
}

void StationFilterModel::setSourceModel(QAbstractItemModel* source) {
    auto* stations = qobject_cast<StationListModel*>(source);
    beginResetModel();
    for (const QMetaObject::Connection& connection : connections_) {
        disconnect(connection);
    }
    connections_.clear();
    QAbstractProxyModel::setSourceModel(stations);
    stations_ = stations;
    if (stations_ != nullptr) {
        // Every change but the marks' filters again.
        filterAgainAround(&QAbstractItemModel::modelAboutToBeReset,
                          &QAbstractItemModel::modelReset);
        filterAgainAround(&QAbstractItemModel::layoutAboutToBeChanged,
                          &QAbstractItemModel::layoutChanged);
        filterAgainAround(&QAbstractItemModel::rowsAboutToBeInserted,
                          &QAbstractItemModel::rowsInserted);
        filterAgainAround(&QAbstractItemModel::rowsAboutToBeRemoved,
                          &QAbstractItemModel::rowsRemoved);
        filterAgainAround(&QAbstractItemModel::rowsAboutToBeMoved, &QAbstractItemModel::rowsMoved);
        connections_.append(connect(stations_, &QAbstractItemModel::dataChanged, this,
                                    &StationFilterModel::passOnMarks));
    }
    filter();
    endResetModel();
}

void StationFilterModel::setQuery(const QString& typed) {
    StationQuery query(typed);
    const bool narrower = !marksChanged_ && query.narrows(query_);
    beginResetModel();
    query_ = std::move(query);
    filter(narrower);
    endResetModel();
}

void StationFilterModel::setScope(Scope scope) {
    beginResetModel();
    scope_ = scope;
    filter();
    endResetModel();
}

void StationFilterModel::filter(bool amongShown) {
    const int count = stations_ != nullptr ? stations_->rowCount() : 0;
    std::vector<int> among;
    if (amongShown) {
        among = std::move(rows_);
        for (const int row : among) {
            shownAt_[static_cast<std::size_t>(row)] = -1;
        }
    } else {
        shownAt_.assign(static_cast<std::size_t>(count), -1);
        marksChanged_ = false;
    }
    rows_.clear();
    const auto take = [this](int row) {
        const bool inScope = scope_ == Scope::all ||
                             (scope_ == Scope::directory && stations_->isDirectory(row)) ||
                             (scope_ == Scope::favourites && stations_->isFavourite(row)) ||
                             (scope_ == Scope::recent && stations_->recentRank(row) >= 0) ||
                             (scope_ == Scope::mine && stations_->isOwn(row));
        if (inScope && query_.matches(stations_->searchKey(row))) {
            rows_.push_back(row);
        }
    };
    if (amongShown) {
        std::for_each(among.begin(), among.end(), take);
    } else {
        for (int row = 0; row < count; ++row) {
            take(row);
        }
    }
    if (scope_ == Scope::recent && !amongShown) {
        std::stable_sort(rows_.begin(), rows_.end(), [this](int a, int b) {
            return stations_->recentRank(a) < stations_->recentRank(b);
        });
    }
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        shownAt_[static_cast<std::size_t>(rows_[i])] = static_cast<int>(i);
    }
}

void StationFilterModel::passOnMarks(const QModelIndex& first, const QModelIndex& last,
                                     const QList<int>& roles) {
    marksChanged_ = true;
    int top = -1;
    int bottom = -1;
    for (int row = first.row(); row <= last.row(); ++row) {
        if (const int shown = shownAt_[static_cast<std::size_t>(row)]; shown >= 0) {
            top = top < 0 ? shown : std::min(top, shown);
            bottom = std::max(bottom, shown);
        }
    }
    if (top >= 0) {
        emit dataChanged(index(top, 0), index(bottom, 0), roles);
    }
}

int StationFilterModel::sourceRow(int row) const {
    return row >= 0 && row < rowCount() ? rows_[static_cast<std::size_t>(row)] : -1;
}

QModelIndex StationFilterModel::mapToSource(const QModelIndex& proxy) const {
    const int row = proxy.isValid() && proxy.model() == this ? sourceRow(proxy.row()) : -1;
    return row >= 0 ? stations_->index(row) : QModelIndex();
}

QModelIndex StationFilterModel::mapFromSource(const QModelIndex& source) const {
    if (!source.isValid() || source.model() != stations_ ||
        static_cast<std::size_t>(source.row()) >= shownAt_.size()) {
        return {};
    }
    const int shown = shownAt_[static_cast<std::size_t>(source.row())];
    return shown >= 0 ? index(shown, 0) : QModelIndex();
}

QModelIndex StationFilterModel::index(int row, int column, const QModelIndex& parent) const {
    return hasIndex(row, column, parent) ? createIndex(row, column) : QModelIndex();
}

QModelIndex StationFilterModel::parent(const QModelIndex& /*child*/) const {
    return {};
}

int StationFilterModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int StationFilterModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 1;
}

bool StationFilterModel::hasChildren(const QModelIndex& parent) const {
    return !parent.isValid() && !rows_.empty();
}

}  // namespace orvento
