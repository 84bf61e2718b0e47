// AllTransmissions: the transmissions of the window's station and of every
// feed of the monitor in one list, newest first across all, each row's
// FeedRole naming the station it was heard on (its DisplayRole adds that
// name to the row's line). The rows follow the feeds as they are added and
// removed, and every list's changes.
//
// Say again across the stations: sayAgain() plays the newest transmission of
// any station; pressed again while a replay plays, it steps one row further
// back in this list, whichever station that row is of. playRow() plays the
// row's transmission through its own station's replay (ending any other
// replay); endReplay() ends whichever plays.
//
// Saving across the stations: saveRows() writes each station's rows into
// files of its own (TransmissionSaver) and says every file written at once.
//
// While any station's replay plays (however it was started), every monitor
// feed and the window's live station are unheard; the listener's own mutes
// are heard again when it ends.
//
// Main thread only. The window's controller and the monitor outlive this.
#pragma once

#include <QAbstractListModel>
#include <QPointer>
#include <vector>

#include "controller/MonitorController.h"
#include "controller/PlaybackController.h"

namespace orvento {

class AllTransmissions : public QAbstractListModel {
    Q_OBJECT

  public:
    // `monitor` may be null (then only the window's rows are listed).
    AllTransmissions(PlaybackController& window, MonitorController* monitor,
                     QObject* parent = nullptr);
    ~AllTransmissions() override;

    // Whether any monitor feed is listed beside the window's station.
    bool coversFeeds() const { return monitor_ != nullptr && monitor_->count() > 0; }

    // Row `row`: the replay it belongs to and its row in that one's list
    // (null and -1 outside the rows).
    struct Origin {
        StationReplay* replay = nullptr;
        int row = -1;
    };
    Origin origin(int row) const;

    void sayAgain();
    void playRow(int row);
    void endReplay();
    // The row being replayed, or -1.
    int replayingRow() const;
    // Reports with saved() or saveFailed(); returns what was written.
    TransmissionSaver::Outcome saveRows(const QList<int>& rows);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

  signals:
    void replayingChanged(bool replaying);
    // coversFeeds() may have changed.
    void feedsChanged();
    // What saveRows() wrote, every file; why it stopped (TransmissionSaver's texts).
    void saved(const QStringList& paths);
    void saveFailed(const QString& message);

  private:
    struct Entry {
        QPointer<StationReplay> replay;  // null once its feed has gone
        int row;
        QDateTime start;
    };

    void followFeeds();
    void listen(StationReplay* replay);
    void rebuild();
    void reset();
    void updateMutes();

    PlaybackController& window_;
    QPointer<MonitorController> monitor_;
    std::vector<QPointer<StationReplay>> sources_;  // the window's first
    std::vector<Entry> entries_;                    // newest first
};

}  // namespace orvento
