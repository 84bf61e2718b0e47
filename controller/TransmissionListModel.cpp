#include "controller/TransmissionListModel.h"

#include <cmath>

namespace orvento {

namespace {
// Two reports of one transmission agree on its start to well within this.
constexpr double kSameStartSeconds = 0.05;
}  // namespace

TransmissionListModel::TransmissionListModel(QObject* parent) : QAbstractListModel(parent) {}

QString TransmissionListModel::utcTimeText(const QDateTime& time) {
    return time.toUTC().toString(QStringLiteral("HH:mm:ss")) + QLatin1Char('Z');
}

int TransmissionListModel::rowStartingAt(double startSeconds) const {
    for (int row = 0; row < rows_.size(); ++row) {
        if (rows_[row].note.isEmpty() &&
            std::abs(rows_[row].startSeconds - startSeconds) < kSameStartSeconds) {
            return row;
        }
    }
    return -1;
}

int TransmissionListModel::transmissionRowFrom(int row) const {
    for (; row >= 0 && row < rows_.size(); ++row) {
        if (rows_[row].note.isEmpty()) {
            return row;
        }
    }
    return -1;
}

void TransmissionListModel::noted(const HeardTransmission& note) {
    prepend(note);
}

void TransmissionListModel::started(const HeardTransmission& transmission) {
    if (rowStartingAt(transmission.startSeconds) >= 0) {
        return;
    }
    prepend(transmission);
}

void TransmissionListModel::prepend(const HeardTransmission& row) {
    if (rows_.size() >= kRowLimit) {
        beginRemoveRows({}, static_cast<int>(rows_.size()) - 1, static_cast<int>(rows_.size()) - 1);
        rows_.removeLast();
        endRemoveRows();
    }
    beginInsertRows({}, 0, 0);
    rows_.prepend(row);
    endInsertRows();
}

void TransmissionListModel::ended(const HeardTransmission& transmission) {
    const int row = rowStartingAt(transmission.startSeconds);
    if (row < 0) {
        started(transmission);
        return;
    }
    HeardTransmission& kept = rows_[row];
    kept.durationSeconds = transmission.durationSeconds;
    kept.peakDbfs = transmission.peakDbfs;
    kept.inProgress = false;
    emit dataChanged(index(row), index(row));
}

void TransmissionListModel::dropBefore(const QDateTime& oldest) {
    int keep = static_cast<int>(rows_.size());
    while (keep > 0 && rows_[keep - 1].startUtc < oldest) {
        --keep;
    }
    if (keep < rows_.size()) {
        beginRemoveRows({}, keep, static_cast<int>(rows_.size()) - 1);
        rows_.resize(keep);
        endRemoveRows();
    }
}

int TransmissionListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant TransmissionListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_.size()) {
        return {};
    }
    const HeardTransmission& t = rows_[index.row()];
    switch (role) {
        case Qt::DisplayRole:
            if (!t.note.isEmpty()) {
                return t.note;
            }
            return utcTimeText(t.startUtc) + QStringLiteral("  ") +
                   (t.inProgress
                        ? tr("on air")
                        : QString::number(t.durationSeconds, 'f', 1) + QStringLiteral(" s"));
        case StartUtcRole:
            return t.startUtc;
        case DurationRole:
            return t.durationSeconds;
        case PeakRole:
            return t.peakDbfs;
        case InProgressRole:
            return t.inProgress;
        case FeedRole:
            return t.feed;
        case StartSecondsRole:
            return t.startSeconds;
        case NoteRole:
            return !t.note.isEmpty();
        default:
            return {};
    }
}

QHash<int, QByteArray> TransmissionListModel::roleNames() const {
    QHash<int, QByteArray> names = QAbstractListModel::roleNames();
    names.insert(StartUtcRole, "startUtc");
    names.insert(DurationRole, "duration");
    names.insert(PeakRole, "peak");
    names.insert(InProgressRole, "inProgress");
    names.insert(FeedRole, "feed");
    names.insert(StartSecondsRole, "startSeconds");
    names.insert(NoteRole, "note");
    return names;
}

}  // namespace orvento
