#include "screen/PlayerSettingsDialog.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <iterator>

namespace orvento {
namespace {

QString translate(const char* text) {
    return QCoreApplication::translate("PlayerSettingsDialog", text);
}

}  // namespace

PlayerSettingsDialog::PlayerSettingsDialog(Settings& settings, QWidget* parent)
    : QDialog(parent), settings_(settings) {
    setWindowTitle(translate(QT_TRANSLATE_NOOP("PlayerSettingsDialog", "Player settings")));
    auto* layout = new QVBoxLayout(this);
    reconnect_ = new QCheckBox(
        translate(QT_TRANSLATE_NOOP("PlayerSettingsDialog", "&Reconnect when the station drops")),
        this);
    reconnect_->setChecked(settings_.reconnectWhenDropped());
    layout->addWidget(reconnect_);
    keepBacklog_ = new QCheckBox(
        translate(QT_TRANSLATE_NOOP("PlayerSettingsDialog", "&Keep the backlog")), this);
    keepBacklog_->setToolTip(translate(QT_TRANSLATE_NOOP(
        "PlayerSettingsDialog",
        "Play everything the station's server sends on connecting, however far behind live")));
    keepBacklog_->setChecked(!settings_.liveEdge());
    layout->addWidget(keepBacklog_);
    auto* liveNote = new QLabel(
        translate(QT_TRANSLATE_NOOP(
            "PlayerSettingsDialog",
            "Otherwise Orvento plays close to live without losing a word: it skips the quiet "
            "between transmissions and plays long speech a little faster until it has caught "
            "up.")),
        this);
    liveNote->setWordWrap(true);
    liveNote->setIndent(24);
    liveNote->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(liveNote);
    history_ = new QSpinBox(this);
    history_->setRange(Settings::kMinHistoryMinutes, Settings::kMaxHistoryMinutes);
    history_->setSuffix(translate(QT_TRANSLATE_NOOP("PlayerSettingsDialog", " min")));
    history_->setValue(settings_.historyMinutes());
    auto* historyLabel = new QLabel(
        translate(QT_TRANSLATE_NOOP("PlayerSettingsDialog", "&Transmissions kept for")), this);
    historyLabel->setBuddy(history_);
    auto* historyRow = new QHBoxLayout;
    historyRow->addWidget(historyLabel);
    historyRow->addWidget(history_);
    historyRow->addStretch();
    layout->addLayout(historyRow);
    keepPlaying_ =
        new QCheckBox(translate(QT_TRANSLATE_NOOP("PlayerSettingsDialog",
                                                  "Keep &playing when the window is closed")),
                      this);
    keepPlaying_->setToolTip(translate(
        QT_TRANSLATE_NOOP("PlayerSettingsDialog",
                          "The window hides in the tray; Quit in the tray's menu ends Orvento")));
    keepPlaying_->setChecked(settings_.keepPlayingWhenClosed());
    layout->addWidget(keepPlaying_);
    connect(keepPlaying_, &QCheckBox::toggled, &settings_, &Settings::setKeepPlayingWhenClosed);
    auto* notices = new QGroupBox(
        translate(QT_TRANSLATE_NOOP("PlayerSettingsDialog", "Desktop notifications")), this);
    auto* noticeLayout = new QVBoxLayout(notices);
    const char* const noticeTexts[] = {
        QT_TRANSLATE_NOOP("PlayerSettingsDialog", "A station &back after a drop"),
        QT_TRANSLATE_NOOP("PlayerSettingsDialog", "A station &given up"),
        QT_TRANSLATE_NOOP("PlayerSettingsDialog", "A priority station &on the air (window hidden)"),
        QT_TRANSLATE_NOOP("PlayerSettingsDialog", "A recording &stopped (disk full)"),
    };
    for (std::size_t i = 0; i < std::size(kNotificationKeys); ++i) {
        const char* key = kNotificationKeys[i];
        auto* box = new QCheckBox(translate(noticeTexts[i]), notices);
        box->setChecked(settings_.notifies(key));
        connect(box, &QCheckBox::toggled, &settings_,
                [this, key](bool on) { settings_.setNotifies(key, on); });
        noticeLayout->addWidget(box);
        notifications_.append(box);
    }
    layout->addWidget(notices);
    catalogue_ = new QLineEdit(settings_.catalogueUrl(), this);
    catalogue_->setPlaceholderText(translate(
        QT_TRANSLATE_NOOP("PlayerSettingsDialog", "none (http://host:port of a catalogue)")));
    auto* catalogueLabel =
        new QLabel(translate(QT_TRANSLATE_NOOP("PlayerSettingsDialog",
                                               "Station &catalogue address (from the next start)")),
                   this);
    catalogueLabel->setBuddy(catalogue_);
    layout->addWidget(catalogueLabel);
    layout->addWidget(catalogue_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(reconnect_, &QCheckBox::toggled, &settings_, &Settings::setReconnectWhenDropped);
    connect(keepBacklog_, &QCheckBox::toggled, &settings_,
            [this](bool keep) { settings_.setLiveEdge(!keep); });
    connect(history_, &QSpinBox::valueChanged, &settings_, &Settings::setHistoryMinutes);
    connect(catalogue_, &QLineEdit::editingFinished, &settings_,
            [this] { settings_.setCatalogueUrl(catalogue_->text()); });
    connect(&settings_, &Settings::changed, this, &PlayerSettingsDialog::settingChanged);
}

void PlayerSettingsDialog::settingChanged(const QString& key) {
    if (key == QLatin1String(Settings::kReconnectKey)) {
        reconnect_->setChecked(settings_.reconnectWhenDropped());
    } else if (key == QLatin1String(Settings::kLiveEdgeKey)) {
        keepBacklog_->setChecked(!settings_.liveEdge());
    } else if (key == QLatin1String(Settings::kHistoryMinutesKey)) {
        history_->setValue(settings_.historyMinutes());
    } else if (key == QLatin1String(Settings::kKeepPlayingWhenClosedKey)) {
        keepPlaying_->setChecked(settings_.keepPlayingWhenClosed());
    } else if (key == QLatin1String(Settings::kCatalogueUrlKey) && !catalogue_->hasFocus()) {
        catalogue_->setText(settings_.catalogueUrl());
    }
    for (std::size_t i = 0; i < std::size(kNotificationKeys); ++i) {
        if (key == QLatin1String(kNotificationKeys[i])) {
            notifications_[static_cast<qsizetype>(i)]->setChecked(
                settings_.notifies(kNotificationKeys[i]));
        }
    }
}

}  // namespace orvento
