#include "controller/AllTransmissions.h"

#include <algorithm>

namespace orvento {

AllTransmissions::AllTransmissions(PlaybackController& window, MonitorController* monitor,
                                   QObject* parent)
    : QAbstractListModel(parent), window_(window), monitor_(monitor) {
    if (monitor_ != nullptr) {
        connect(monitor_, &MonitorController::feedsChanged, this, &AllTransmissions::followFeeds);
    }
    followFeeds();
}

AllTransmissions::~AllTransmissions() = default;

void AllTransmissions::followFeeds() {
    for (const QPointer<StationReplay>& source : sources_) {
        if (source) {
            source->transmissions().disconnect(this);
            source->disconnect(this);
        }
    }
    sources_.clear();
    listen(&window_.replay());
    for (int row = 0; monitor_ != nullptr && row < monitor_->count(); ++row) {
        listen(&monitor_->player(row).replay());
    }
    reset();
    updateMutes();
    emit feedsChanged();
}

void AllTransmissions::listen(StationReplay* replay) {
    sources_.emplace_back(replay);
    const TransmissionListModel* list = &replay->transmissions();
    connect(list, &QAbstractItemModel::rowsInserted, this, &AllTransmissions::reset);
    connect(list, &QAbstractItemModel::rowsRemoved, this, &AllTransmissions::reset);
    connect(list, &QAbstractItemModel::modelReset, this, &AllTransmissions::reset);
    connect(list, &QAbstractItemModel::dataChanged, this, [this] {
        // A row in progress grew or ended: the order stays (its start is
        // kept), only what the rows show changes.
        rebuild();
        if (!entries_.empty()) {
            emit dataChanged(index(0), index(rowCount() - 1));
        }
    });
    connect(replay, &StationReplay::replayingChanged, this, [this] {
        updateMutes();
        emit replayingChanged(replayingRow() >= 0);
    });
}

void AllTransmissions::rebuild() {
    entries_.clear();
    for (const QPointer<StationReplay>& source : sources_) {
        if (!source) {
            continue;
        }
        const TransmissionListModel& list = source->transmissions();
        for (int row = 0; row < list.rowCount(); ++row) {
            entries_.push_back({source.data(), row, list.at(row).startUtc});
        }
    }
    // Each list is newest first already; a stable sort keeps the window's
    // rows first among those that start together.
    std::stable_sort(entries_.begin(), entries_.end(),
                     [](const Entry& a, const Entry& b) { return a.start > b.start; });
}

void AllTransmissions::reset() {
    beginResetModel();
    rebuild();
    endResetModel();
}

AllTransmissions::Origin AllTransmissions::origin(int row) const {
    if (row < 0 || row >= rowCount()) {
        return {};
    }
    const Entry& entry = entries_[static_cast<std::size_t>(row)];
    return {entry.replay.data(), entry.replay ? entry.row : -1};
}

void AllTransmissions::sayAgain() {
    // Notes are stepped over: they play nothing.
    const auto transmissionFrom = [this](int row) {
        while (row >= 0 && row < rowCount() &&
               data(index(row), TransmissionListModel::NoteRole).toBool()) {
            ++row;
        }
        return row >= 0 && row < rowCount() ? row : -1;
    };
    const bool replaying = std::any_of(sources_.begin(), sources_.end(), [](const auto& source) {
        return source && source->replaying();
    });
    if (replaying) {
        const int row = replayingRow();
        if (const int back = transmissionFrom(row + 1); row >= 0 && back >= 0) {
            playRow(back);
        }
        return;
    }
    if (const int newest = transmissionFrom(0); newest >= 0) {
        playRow(newest);
    }
}

void AllTransmissions::playRow(int row) {
    const Origin target = origin(row);
    if (target.replay == nullptr) {
        return;
    }
    for (const QPointer<StationReplay>& source : sources_) {
        if (source && source != target.replay) {
            source->endReplay();
        }
    }
    target.replay->playRow(target.row);
}

void AllTransmissions::endReplay() {
    for (const QPointer<StationReplay>& source : sources_) {
        if (source) {
            source->endReplay();
        }
    }
}

int AllTransmissions::replayingRow() const {
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const Entry& entry = entries_[i];
        if (entry.replay && entry.replay->replaying() &&
            entry.replay->replayingRow() == entry.row) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

TransmissionSaver::Outcome AllTransmissions::saveRows(const QList<int>& rows) {
    // Each station's rows, in the order of the sources (the window's first).
    std::vector<QList<int>> bySource(sources_.size());
    for (const int row : rows) {
        const Origin from = origin(row);
        const auto source = std::find(sources_.begin(), sources_.end(), from.replay);
        if (from.replay != nullptr && source != sources_.end()) {
            bySource[static_cast<std::size_t>(source - sources_.begin())].append(from.row);
        }
    }
    TransmissionSaver::Outcome all;
    for (std::size_t i = 0; i < sources_.size() && all.problem.isEmpty(); ++i) {
        if (!sources_[i] || bySource[i].isEmpty()) {
            continue;
        }
        TransmissionSaver::Outcome one = sources_[i]->saver().writeRows(bySource[i]);
        all.paths.append(one.paths);
        all.problem = one.problem;
    }
    if (all.paths.isEmpty() && all.problem.isEmpty()) {
        all = sources_.front()->saver().writeRows({});  // says there is nothing
    }
    if (all.problem.isEmpty()) {
        emit saved(all.paths);
    } else {
        emit saveFailed(TransmissionSaver::failedText(all));
    }
    return all;
}

void AllTransmissions::updateMutes() {
    StationReplay* playing = nullptr;
    for (const QPointer<StationReplay>& source : sources_) {
        if (source && source->replaying()) {
            playing = source.data();
        }
    }
    if (monitor_ != nullptr) {
        monitor_->setSilenced(playing != nullptr);
    }
    // The window's own replay mutes its live output itself.
    if (playing != &window_.replay()) {
        window_.replay().muteLive(playing != nullptr);
    }
}

int AllTransmissions::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(entries_.size());
}

QVariant AllTransmissions::data(const QModelIndex& index, int role) const {
    const Origin from = origin(index.row());
    if (!index.isValid() || from.replay == nullptr) {
        return {};
    }
    const TransmissionListModel& list = from.replay->transmissions();
    const QVariant value = list.data(list.index(from.row), role);
    if (role == Qt::DisplayRole) {
        return QStringLiteral("%1  %2").arg(value.toString(), list.at(from.row).feed);
    }
    return value;
}

QHash<int, QByteArray> AllTransmissions::roleNames() const {
    return window_.replay().transmissions().roleNames();
}

}  // namespace orvento
