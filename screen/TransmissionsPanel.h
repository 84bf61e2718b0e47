// TransmissionsPanel: the "Transmissions" tab of the screen: a light that is
// lit while someone transmits now and a small level meter beside it, the
// "Say again" button, and the list of transmissions heard, newest first (a
// view on the controller's TransmissionListModel, each row with a bar for
// its level). Enter or a double-click on a row plays that one again. "Save"
// offers the selected transmissions or the last 1, 5, 15 or 30 minutes;
// "Record" records everything from now on while it is down: it then shows
// red, and a line under it names the file and how long and large it has
// grown.
//
// When the monitor has feeds, the list is theirs and the station's together
// (AllTransmissions, each row with its station's name) and R, Enter and
// Escape say again, play and end across them; otherwise it is the station's.
//
// The window's keys, which the screen adds to itself so that they work
// wherever the focus is (a text field keeps its own letters, so Alt+R says
// again there): R says again (sayAgainAction), Escape ends a replay
// (endReplayAction, enabled only while one plays).
//
// Main thread only.
#pragma once

#include <QAction>
#include <QDateTime>
#include <QElapsedTimer>
#include <QLabel>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include "controller/AllTransmissions.h"
#include "controller/StationReplay.h"

namespace orvento {

class TransmissionsPanel : public QWidget {
    Q_OBJECT

  public:
    // How often the light and the meter follow the detector.
    static constexpr int kMeterIntervalMs = 100;
    // The meter's range, in dBFS.
    static constexpr int kMeterFloorDbfs = -60;

    // `all`, when given, outlives the panel.
    TransmissionsPanel(StationReplay& replay, AllTransmissions* all, QWidget* parent = nullptr);

    QAction* sayAgainAction() const { return sayAgain_; }
    QAction* endReplayAction() const { return endReplay_; }
    QListView* list() const { return list_; }
    QPushButton* sayAgainButton() const { return button_; }
    QPushButton* saveButton() const { return save_; }
    QPushButton* recordButton() const { return record_; }
    // "<time recorded> · <size> · <file>" while recording; hidden otherwise.
    QLabel* recordingLabel() const { return recording_; }
    QLabel* keyedLight() const { return light_; }
    QProgressBar* levelMeter() const { return meter_; }

  signals:
    // A replay began (with the UTC time of the transmission it plays, or an
    // invalid time when that is not known) or ended.
    void replayShown(bool replaying, const QDateTime& startUtc);

  protected:
    // The light, the meter and the recording line follow the detector only
    // while they can be seen: the panel is a tab, mostly behind another.
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void followDetector();
    void showRecording();
    void showReplaying(bool replaying);
    void saveSelected();
    bool acrossFeeds() const { return all_ != nullptr && all_->coversFeeds(); }
    void showList();
    void sayAgainNow();

    StationReplay& replay_;
    AllTransmissions* const all_;
    QAction* sayAgain_;
    QAction* endReplay_;
    QListView* list_;
    QPushButton* button_;
    QPushButton* save_;
    QPushButton* record_;
    QLabel* recording_;
    QElapsedTimer recordingFor_;  // since the file was begun
    QLabel* light_;
    QProgressBar* meter_;
    QTimer meterTimer_;
    bool lit_ = false;
};

}  // namespace orvento
