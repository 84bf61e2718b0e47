// MonitorPanel: the "Monitor" tab of the screen, the MonitorController's
// feeds, a row each, and the monitor's play/stop.
//
// At the top: the play/stop of the whole monitor and the button that adds
// the station selected in the window (also Ctrl+M anywhere in the window,
// addStationAction). A row (MonitorRow) shows the feed's name, its keyed
// light and level, and its status line when it is not simply playing (a
// failure's cause); it has the feed's volume and pan sliders, mute, solo and
// priority toggles, and buttons to move it up or down and remove it. Every
// control takes the keyboard focus (Tab), the sliders move with the arrow
// keys, the toggles with Space.
//
// The panel shows what the monitor's model says and hands the monitor what
// the user does. Main thread only; the monitor and the window's controller
// outlive the panel.
#pragma once

#include <QAction>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QString>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWidget>
#include <vector>

#include "controller/MonitorController.h"
#include "controller/MonitorModel.h"
#include "controller/PlaybackController.h"

namespace orvento {

// One feed's row of the panel.
class MonitorRow : public QFrame {
    Q_OBJECT

  public:
    // The level meter's range, in dBFS.
    static constexpr int kLevelFloorDb = -60;
    // The volume slider's range, in dB, and the pan slider's, in hundredths.
    static constexpr int kVolumeMinDb = -30;
    static constexpr int kVolumeMaxDb = 12;
    static constexpr int kPanSteps = 100;

    MonitorRow(MonitorController& monitor, int row, QWidget* parent = nullptr);

    // Shows the model's row.
    void show(const QModelIndex& index);

    QLabel* name = nullptr;
    QLabel* light = nullptr;  // lit while the feed transmits
    QProgressBar* level = nullptr;
    QLabel* status = nullptr;
    QSlider* volume = nullptr;
    QSlider* pan = nullptr;
    QToolButton* mute = nullptr;
    QToolButton* solo = nullptr;
    QToolButton* priority = nullptr;
    QToolButton* up = nullptr;
    QToolButton* down = nullptr;
    QToolButton* remove = nullptr;
};

class MonitorPanel : public QWidget {
    Q_OBJECT

  public:
    MonitorPanel(MonitorController& monitor, PlaybackController& window, QWidget* parent = nullptr);

    QAction* addStationAction() const { return addStation_; }
    QPushButton* playButton() const { return play_; }
    QToolButton* addButton() const { return add_; }
    int rowCount() const { return static_cast<int>(rows_.size()); }
    MonitorRow* row(int index) const { return rows_.at(static_cast<std::size_t>(index)); }

  private:
    void addSelected();
    // Rebuilds the rows (feeds added, removed or moved).
    void rebuild();
    // Where the focus goes after the next rebuild: row `row`'s control named
    // `control` (the add button when there is no such row).
    void focusAfterRebuild(int row, const char* control);
    void rowsChanged(const QModelIndex& first, const QModelIndex& last);
    void showButtons();

    MonitorController& monitor_;
    PlaybackController& window_;
    QAction* addStation_ = nullptr;
    QPushButton* play_ = nullptr;
    QToolButton* add_ = nullptr;
    QLabel* empty_ = nullptr;
    QVBoxLayout* rowsLayout_ = nullptr;
    std::vector<MonitorRow*> rows_;
    int focusRow_ = -1;
    QString focusControl_;
};

}  // namespace orvento
