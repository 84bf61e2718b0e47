// TransmissionListModel: the transmissions heard on a station, newest first,
// as a list model for the transmissions panel (and, with the feed role, a
// monitor of several stations).
//
// Roles: Qt::DisplayRole gives one short line, the UTC time of the first
// syllable and the length ("14:22:07Z  3.4 s"; "14:22:07Z  on air" while it
// lasts); StartUtcRole that time (QDateTime, UTC); DurationRole seconds;
// PeakRole the loudest sample in dBFS; InProgressRole whether it is still
// under way; FeedRole the station it was heard on; StartSecondsRole where it
// starts on the station history's audio clock; NoteRole whether the row is a
// note instead (audio missed in a drop, "14 s missed at 14:22:07Z"), which
// nothing plays or saves.
//
// Main thread.
#pragma once

#include <QAbstractListModel>
#include <QDateTime>
#include <QList>
#include <QString>

namespace orvento {

struct HeardTransmission {
    QDateTime startUtc;
    double startSeconds = 0;  // the history's audio clock
    double durationSeconds = 0;
    double peakDbfs = -120;
    bool inProgress = false;
    QString feed;
    QString note;  // a note, not a transmission: its line
};

class TransmissionListModel : public QAbstractListModel {
    Q_OBJECT

  public:
    enum Role {
        StartUtcRole = Qt::UserRole + 1,
        DurationRole,
        PeakRole,
        InProgressRole,
        FeedRole,
        StartSecondsRole,
        NoteRole,
    };

    // The most rows kept; the oldest go first.
    static constexpr int kRowLimit = 2000;

    explicit TransmissionListModel(QObject* parent = nullptr);

    // A transmission under way (Started) or heard whole (Ended). An Ended
    // transmission that starts where the newest row in progress starts
    // completes that row; otherwise it is a new row at the top.
    void started(const HeardTransmission& transmission);
    void ended(const HeardTransmission& transmission);
    // A note (its `note` set) as the newest row.
    void noted(const HeardTransmission& note);
    // The first row from `row` on that is a transmission, or -1.
    int transmissionRowFrom(int row) const;
    // Drops the rows that started before `oldest` (what the history no longer
    // holds).
    void dropBefore(const QDateTime& oldest);

    // Row `row`, or an empty one outside the rows.
    HeardTransmission at(int row) const { return rows_.value(row); }
    // The row that starts at `startSeconds` on the audio clock, or -1.
    int rowStartingAt(double startSeconds) const;

    // "14:22:07Z"
    static QString utcTimeText(const QDateTime& time);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

  private:
    void prepend(const HeardTransmission& row);

    QList<HeardTransmission> rows_;  // newest first
};

}  // namespace orvento
