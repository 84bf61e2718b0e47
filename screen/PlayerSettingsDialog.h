// PlayerSettingsDialog: the player's settings in a small dialog, opened from
// the window's menu. Each control shows one setting of `settings` and writes
// it back as soon as it changes (no OK step: closing keeps what is shown);
// a change made elsewhere while the dialog is open is shown too. Settings:
// reconnecting, the backlog (the live edge), how long transmissions are kept,
// whether closing the window keeps the station playing (in the tray),
// which desktop notifications are sent, and the station catalogue address
// (written when the field is left or Return is pressed; taken at the next
// start). Keyboard:
// every control has a mnemonic, Escape or the Close button closes.
// Main thread only.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QList>
#include <QSpinBox>

#include "controller/Settings.h"

namespace orvento {

class PlayerSettingsDialog : public QDialog {
    Q_OBJECT

  public:
    explicit PlayerSettingsDialog(Settings& settings, QWidget* parent = nullptr);

    QCheckBox* reconnectBox() const { return reconnect_; }
    QCheckBox* keepBacklogBox() const { return keepBacklog_; }
    QSpinBox* historyBox() const { return history_; }
    QCheckBox* keepPlayingBox() const { return keepPlaying_; }
    // The notifications' boxes, in the order of kNotificationKeys.
    const QList<QCheckBox*>& notificationBoxes() const { return notifications_; }
    static constexpr const char* kNotificationKeys[] = {
        Settings::kNotifyStationBackKey, Settings::kNotifyStationGivenUpKey,
        Settings::kNotifyPriorityTransmissionKey, Settings::kNotifyRecordingStoppedKey};
    QLineEdit* catalogueField() const { return catalogue_; }

  private:
    void settingChanged(const QString& key);

    Settings& settings_;
    QCheckBox* reconnect_ = nullptr;    // owned by the dialog
    QCheckBox* keepBacklog_ = nullptr;  // owned by the dialog
    QSpinBox* history_ = nullptr;       // minutes of transmissions kept; owned by the dialog
    QCheckBox* keepPlaying_ = nullptr;  // owned by the dialog
    QList<QCheckBox*> notifications_;   // owned by the dialog
    QLineEdit* catalogue_ = nullptr;    // the station catalogue address; owned by the dialog
};

}  // namespace orvento
