#include "screen/TransmissionsPanel.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QMenu>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QVBoxLayout>
#include <algorithm>

#include "controller/StatusTexts.h"

namespace orvento {
namespace {

QString translate(const char* text) {
    return QCoreApplication::translate("OrventoViewController", text);
}

// Down, the button says so in the light's red, whatever the style's own
// checked look (some barely differ from up).
constexpr auto kRecordStyle =
    "QPushButton#recordButton:checked { background: #c62828; color: #ffffff; "
    "border: 1px solid #ef5350; border-radius: 9px; padding: 8px 14px; }";

QString lightStyle(bool lit) {
    return lit ? QStringLiteral("color: #e53935;") : QStringLiteral("color: #5f6368;");
}

// A row: its text, and a bar for its level at the right end. A note (audio
// missed in a drop) is its text alone, set apart.
class TransmissionRowDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        if (index.data(TransmissionListModel::NoteRole).toBool()) {
            QStyleOptionViewItem note(option);
            note.font.setItalic(true);
            note.palette.setColor(QPalette::Text, option.palette.color(QPalette::PlaceholderText));
            QStyledItemDelegate::paint(painter, note, index);
            return;
        }
        QStyledItemDelegate::paint(painter, option, index);
        const double peak = index.data(TransmissionListModel::PeakRole).toDouble();
        const double share =
            std::clamp((peak - TransmissionsPanel::kMeterFloorDbfs) /
                           -static_cast<double>(TransmissionsPanel::kMeterFloorDbfs),
                       0.0, 1.0);
        const QRect row = option.rect.adjusted(0, 4, -6, -4);
        const QRect track(row.right() - 60, row.top(), 60, row.height());
        painter->save();
        painter->fillRect(track, option.palette.color(QPalette::Mid));
        painter->fillRect(track.adjusted(0, 0, -static_cast<int>(60 * (1 - share)), 0),
                          option.palette.color(QPalette::Highlight));
        painter->restore();
    }
};

}  // namespace

TransmissionsPanel::TransmissionsPanel(StationReplay& replay, AllTransmissions* all,
                                       QWidget* parent)
    : QWidget(parent), replay_(replay), all_(all) {
    light_ = new QLabel(QStringLiteral("\u25CF"), this);
    light_->setObjectName(QStringLiteral("keyedLight"));
    light_->setToolTip(translate(QT_TRANSLATE_NOOP("OrventoViewController", "Transmitting now")));
    light_->setStyleSheet(lightStyle(false));
    meter_ = new QProgressBar(this);
    meter_->setObjectName(QStringLiteral("levelMeter"));
    meter_->setRange(kMeterFloorDbfs, 0);
    meter_->setValue(kMeterFloorDbfs);
    meter_->setTextVisible(false);
    meter_->setMaximumHeight(8);
    meter_->setAccessibleName(translate(QT_TRANSLATE_NOOP("OrventoViewController", "Level")));
    button_ =
        new QPushButton(translate(QT_TRANSLATE_NOOP("OrventoViewController", "Say again")), this);
    button_->setObjectName(QStringLiteral("sayAgainButton"));
    button_->setToolTip(translate(
        QT_TRANSLATE_NOOP("OrventoViewController",
                          "Play the last transmission again (R, or Alt+R in a text field); again "
                          "to go further back")));

    save_ = new QPushButton(translate(QT_TRANSLATE_NOOP("OrventoViewController", "Save")), this);
    save_->setObjectName(QStringLiteral("saveButton"));
    auto* saveMenu = new QMenu(save_);
    connect(saveMenu->addAction(translate(
                QT_TRANSLATE_NOOP("OrventoViewController", "The selected transmissions"))),
            &QAction::triggered, this, &TransmissionsPanel::saveSelected);
    for (const int minutes : TransmissionSaver::kMinuteChoices) {
        const QString text =
            minutes == 1
                ? translate(QT_TRANSLATE_NOOP("OrventoViewController", "The last minute"))
                : translate(QT_TRANSLATE_NOOP("OrventoViewController", "The last %1 minutes"))
                      .arg(minutes);
        connect(saveMenu->addAction(text), &QAction::triggered, this,
                [this, minutes] { replay_.saver().saveLastMinutes(minutes); });
    }
    save_->setMenu(saveMenu);
    record_ =
        new QPushButton(translate(QT_TRANSLATE_NOOP("OrventoViewController", "Record")), this);
    record_->setObjectName(QStringLiteral("recordButton"));
    record_->setCheckable(true);
    record_->setToolTip(translate(QT_TRANSLATE_NOOP(
        "OrventoViewController", "Record everything the station says, as it comes")));
    record_->setStyleSheet(QLatin1String(kRecordStyle));
    connect(record_, &QPushButton::toggled, &replay_, &StationReplay::setRecording);
    connect(&replay_, &StationReplay::recordingChanged, record_, &QPushButton::setChecked);
    recording_ = new QLabel(this);
    recording_->setObjectName(QStringLiteral("recordingLabel"));
    recording_->setTextFormat(Qt::PlainText);
    recording_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    recording_->setStyleSheet(lightStyle(true));
    recording_->hide();
    connect(&replay_, &StationReplay::recordingFileChanged, this, [this](const QString& path) {
        recordingFor_.start();
        recording_->setToolTip(path);
        recording_->setVisible(!path.isEmpty());
        showRecording();
    });

    list_ = new QListView(this);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setObjectName(QStringLiteral("transmissionList"));
    showList();
    list_->setItemDelegate(new TransmissionRowDelegate(list_));
    list_->setUniformItemSizes(true);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setAccessibleName(
        translate(QT_TRANSLATE_NOOP("OrventoViewController", "Transmissions heard")));

    // The buttons keep their words; the meter gives way in a narrow window.
    for (QPushButton* button : {button_, save_, record_}) {
        button->setSizePolicy(QSizePolicy::Fixed, button->sizePolicy().verticalPolicy());
    }
    meter_->setMinimumWidth(24);
    auto* top = new QHBoxLayout;
    top->addWidget(light_);
    top->addWidget(meter_, 1);
    top->addWidget(button_);
    top->addWidget(save_);
    top->addWidget(record_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(recording_);
    layout->addWidget(list_, 1);

    sayAgain_ = new QAction(button_->text(), this);
    // Alt+R as well: the focus often rests in the address field, which keeps
    // the letter R for itself.
    sayAgain_->setShortcuts({QKeySequence(Qt::Key_R), QKeySequence(Qt::ALT | Qt::Key_R)});
    endReplay_ =
        new QAction(translate(QT_TRANSLATE_NOOP("OrventoViewController", "End replay")), this);
    endReplay_->setShortcut(QKeySequence(Qt::Key_Escape));
    endReplay_->setEnabled(false);

    connect(sayAgain_, &QAction::triggered, this, &TransmissionsPanel::sayAgainNow);
    connect(button_, &QPushButton::clicked, this, &TransmissionsPanel::sayAgainNow);
    connect(endReplay_, &QAction::triggered, this, [this] {
        if (acrossFeeds()) {
            all_->endReplay();
        } else {
            replay_.endReplay();
        }
    });
    connect(list_, &QListView::activated, this, [this](const QModelIndex& index) {
        if (acrossFeeds()) {
            all_->playRow(index.row());
        } else {
            replay_.playRow(index.row());
        }
    });
    if (all_ != nullptr) {
        connect(all_, &AllTransmissions::replayingChanged, this,
                &TransmissionsPanel::showReplaying);
        connect(all_, &AllTransmissions::feedsChanged, this, &TransmissionsPanel::showList);
    } else {
        connect(&replay_, &StationReplay::replayingChanged, this,
                &TransmissionsPanel::showReplaying);
    }

    meterTimer_.setInterval(kMeterIntervalMs);
    connect(&meterTimer_, &QTimer::timeout, this, &TransmissionsPanel::followDetector);
}

void TransmissionsPanel::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    followDetector();
    meterTimer_.start();
}

void TransmissionsPanel::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    meterTimer_.stop();
}

void TransmissionsPanel::showRecording() {
    const QString& path = replay_.recordingPath();
    if (path.isEmpty()) {
        recording_->clear();
        return;
    }
    // The growing figures first: a long name is cut at the right.
    recording_->setText(QStringLiteral("\u25CF %1 \u00b7 %2 \u00b7 %3")
                            .arg(elapsedTimeText(recordingFor_.elapsed() / 1000.0),
                                 locale().formattedDataSize(QFileInfo(path).size()),
                                 QFileInfo(path).fileName()));
}

void TransmissionsPanel::followDetector() {
    if (!recording_->isHidden()) {
        showRecording();
    }
    meter_->setValue(
        static_cast<int>(std::clamp(replay_.levelDbfs(), double{kMeterFloorDbfs}, 0.0)));
    if (replay_.keyed() != lit_) {
        lit_ = !lit_;
        light_->setStyleSheet(lightStyle(lit_));
    }
}

void TransmissionsPanel::showList() {
    QAbstractItemModel* model =
        acrossFeeds() ? static_cast<QAbstractItemModel*>(all_) : &replay_.transmissions();
    if (list_->model() != model) {
        list_->setModel(model);
    }
}

void TransmissionsPanel::sayAgainNow() {
    if (acrossFeeds()) {
        all_->sayAgain();
    } else {
        replay_.sayAgain();
    }
}

void TransmissionsPanel::saveSelected() {
    QList<int> rows;
    for (const QModelIndex& index : list_->selectionModel()->selectedIndexes()) {
        rows.append(index.row());
    }
    if (rows.isEmpty() && list_->currentIndex().isValid()) {
        rows.append(list_->currentIndex().row());
    }
    if (acrossFeeds()) {
        all_->saveRows(rows);
    } else {
        replay_.saver().saveRows(rows);
    }
}

void TransmissionsPanel::showReplaying(bool replaying) {
    endReplay_->setEnabled(replaying);
    const int row = acrossFeeds() ? all_->replayingRow() : replay_.replayingRow();
    QDateTime start;
    if (replaying && row >= 0) {
        const QModelIndex index = list_->model()->index(row, 0);
        list_->setCurrentIndex(index);
        start = index.data(TransmissionListModel::StartUtcRole).toDateTime();
    }
    emit replayShown(replaying, start);
}

}  // namespace orvento
