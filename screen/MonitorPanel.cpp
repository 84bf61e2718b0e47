#include "screen/MonitorPanel.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QScrollArea>
#include <QSignalBlocker>
#include <algorithm>
#include <cmath>

#include "controller/StatusTexts.h"

namespace orvento {
namespace {

QString translate(const char* text) {
    return QCoreApplication::translate("OrventoViewController", text);
}

// The panel's own look, in the window's colours.
constexpr const char* kStyle = R"(
#monitorScroll, #monitorRows, #monitorScroll > QWidget { background: transparent; }
#monitorRow { background: #0e1d31; border: 1px solid #1f3657; border-radius: 9px; }
#monitorRow QLabel { font-size: 12px; }
#feedStatus, #monitorEmpty { color: #f0c674; font-size: 12px; }
QToolButton#monitorAdd, #monitorRow QToolButton {
  background: transparent; color: #a9bbd3; border: 1px solid #2a4468; border-radius: 7px;
  padding: 1px 7px; font-size: 12px; font-weight: 700;
}
#monitorRow QToolButton:checked { background: #2f8f7d; color: #ffffff; border-color: #2f8f7d; }
#monitorRow QToolButton#feedMute:checked { background: #9b3b3b; border-color: #9b3b3b; }
#monitorRow QToolButton#feedPriority:checked { background: #b7791f; border-color: #b7791f; }
QToolButton#monitorAdd:focus, #monitorRow QToolButton:focus { border: 1px solid #45e0c2; }
QToolButton#monitorAdd:disabled, #monitorRow QToolButton:disabled {
  color: #3a4d66; border-color: #1a2d47;
}
#monitorRow QSlider:focus { background: #1f3657; border-radius: 4px; }
#feedLevel { background: #0b1828; border: none; border-radius: 3px; }
#feedLevel::chunk { background: #45e0c2; border-radius: 3px; }
)";

QToolButton* toolButton(const char* objectName, const char* text, const char* tip, bool checkable,
                        QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QLatin1String(objectName));
    button->setText(translate(text));
    button->setToolTip(translate(tip));
    button->setAccessibleName(translate(tip));
    button->setCheckable(checkable);
    button->setFocusPolicy(Qt::StrongFocus);
    return button;
}

QSlider* slider(const char* objectName, const char* name, int minimum, int maximum, int page,
                QWidget* parent) {
    auto* made = new QSlider(Qt::Horizontal, parent);
    made->setObjectName(QLatin1String(objectName));
    made->setRange(minimum, maximum);
    made->setPageStep(page);
    made->setAccessibleName(translate(name));
    made->setFocusPolicy(Qt::StrongFocus);
    return made;
}

}  // namespace

// ---- A row

MonitorRow::MonitorRow(MonitorController& monitor, int row, QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("monitorRow"));
    light = new QLabel(this);
    light->setObjectName(QStringLiteral("keyedLight"));
    light->setFixedSize(10, 10);
    name = new QLabel(this);
    name->setObjectName(QStringLiteral("feedName"));
    name->setTextFormat(Qt::PlainText);
    name->setMinimumWidth(40);
    name->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    level = new QProgressBar(this);
    level->setObjectName(QStringLiteral("feedLevel"));
    level->setRange(kLevelFloorDb, 0);
    level->setTextVisible(false);
    level->setFixedSize(64, 6);
    level->setAccessibleName(translate(QT_TRANSLATE_NOOP("OrventoViewController", "Level")));
    status = new QLabel(this);
    status->setObjectName(QStringLiteral("feedStatus"));
    status->setTextFormat(Qt::PlainText);
    status->setWordWrap(true);
    volume = slider("feedVolume", QT_TRANSLATE_NOOP("OrventoViewController", "Volume"),
                    kVolumeMinDb, kVolumeMaxDb, 3, this);
    pan = slider("feedPan", QT_TRANSLATE_NOOP("OrventoViewController", "Pan, left to right"),
                 -kPanSteps, kPanSteps, kPanSteps / 4, this);
    mute = toolButton("feedMute", QT_TRANSLATE_NOOP("OrventoViewController", "M"),
                      QT_TRANSLATE_NOOP("OrventoViewController", "Mute"), true, this);
    solo = toolButton("feedSolo", QT_TRANSLATE_NOOP("OrventoViewController", "S"),
                      QT_TRANSLATE_NOOP("OrventoViewController", "Solo"), true, this);
    priority = toolButton(
        "feedPriority", QT_TRANSLATE_NOOP("OrventoViewController", "P"),
        QT_TRANSLATE_NOOP("OrventoViewController", "Priority: the others dip while it speaks"),
        true, this);
    up = toolButton("feedUp", QT_TRANSLATE_NOOP("OrventoViewController", "\u2191"),
                    QT_TRANSLATE_NOOP("OrventoViewController", "Move up"), false, this);
    down = toolButton("feedDown", QT_TRANSLATE_NOOP("OrventoViewController", "\u2193"),
                      QT_TRANSLATE_NOOP("OrventoViewController", "Move down"), false, this);
    remove = toolButton("feedRemove", QT_TRANSLATE_NOOP("OrventoViewController", "\u00d7"),
                        QT_TRANSLATE_NOOP("OrventoViewController", "Remove from the monitor"),
                        false, this);

    auto* top = new QHBoxLayout;
    top->setSpacing(6);
    top->addWidget(light);
    top->addWidget(name, 1);
    top->addWidget(level);
    top->addWidget(up);
    top->addWidget(down);
    top->addWidget(remove);
    auto* controls = new QHBoxLayout;
    controls->setSpacing(6);
    controls->addWidget(
        new QLabel(translate(QT_TRANSLATE_NOOP("OrventoViewController", "Vol")), this));
    controls->addWidget(volume, 3);
    controls->addWidget(
        new QLabel(translate(QT_TRANSLATE_NOOP("OrventoViewController", "L")), this));
    controls->addWidget(pan, 2);
    controls->addWidget(
        new QLabel(translate(QT_TRANSLATE_NOOP("OrventoViewController", "R")), this));
    controls->addWidget(mute);
    controls->addWidget(solo);
    controls->addWidget(priority);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 6, 8, 6);
    layout->setSpacing(4);
    layout->addLayout(top);
    layout->addWidget(status);
    layout->addLayout(controls);

    connect(volume, &QSlider::valueChanged, this,
            [&monitor, row](int db) { monitor.setGainDb(row, db); });
    connect(pan, &QSlider::valueChanged, this, [&monitor, row](int steps) {
        monitor.setPan(row, static_cast<double>(steps) / kPanSteps);
    });
    connect(mute, &QToolButton::toggled, this,
            [&monitor, row](bool on) { monitor.setMute(row, on); });
    connect(solo, &QToolButton::toggled, this,
            [&monitor, row](bool on) { monitor.setSolo(row, on); });
    connect(priority, &QToolButton::toggled, this,
            [&monitor, row](bool on) { monitor.setPriority(row, on); });
    up->setEnabled(row > 0);
    down->setEnabled(row + 1 < monitor.count());
}

void MonitorRow::show(const QModelIndex& index) {
    const QSignalBlocker blockVolume(volume);
    const QSignalBlocker blockPan(pan);
    const QSignalBlocker blockMute(mute);
    const QSignalBlocker blockSolo(solo);
    const QSignalBlocker blockPriority(priority);
    name->setText(index.data(Qt::DisplayRole).toString());
    // Its address without a password, as text (an address may hold "<").
    name->setToolTip(
        QStringLiteral("<p>%1</p>")
            .arg(withoutPassword(index.data(MonitorModel::UrlRole).toString()).toHtmlEscaped()));
    const auto state =
        index.data(MonitorModel::PlayStateRole).value<PlaybackController::PlayState>();
    const QString text = index.data(MonitorModel::StatusRole).toString();
    // A row says nothing while all is well; it tells what went wrong, and
    // what is under way.
    status->setText(text);
    status->setVisible(!text.isEmpty() && state != PlaybackController::PlayState::Playing);
    const double db = index.data(MonitorModel::LevelRole).toDouble();
    level->setValue(static_cast<int>(std::lround(std::max<double>(db, kLevelFloorDb))));
    const bool keyed = index.data(MonitorModel::KeyedRole).toBool();
    light->setProperty("keyed", keyed);
    light->setStyleSheet(keyed ? QStringLiteral("background: #45e0c2; border-radius: 5px;")
                               : QStringLiteral("background: #3a4656; border-radius: 5px;"));
    volume->setValue(static_cast<int>(std::lround(index.data(MonitorModel::GainRole).toDouble())));
    pan->setValue(
        static_cast<int>(std::lround(index.data(MonitorModel::PanRole).toDouble() * kPanSteps)));
    mute->setChecked(index.data(MonitorModel::MutedRole).toBool());
    solo->setChecked(index.data(MonitorModel::SoloedRole).toBool());
    priority->setChecked(index.data(MonitorModel::PriorityRole).toBool());
}

// ---- The panel

MonitorPanel::MonitorPanel(MonitorController& monitor, PlaybackController& window, QWidget* parent)
    : QWidget(parent), monitor_(monitor), window_(window) {
    setObjectName(QStringLiteral("monitorPanel"));
    setStyleSheet(QLatin1String(kStyle));
    play_ = new QPushButton(this);
    play_->setObjectName(QStringLiteral("monitorPlay"));
    add_ = new QToolButton(this);
    add_->setObjectName(QStringLiteral("monitorAdd"));
    add_->setFocusPolicy(Qt::StrongFocus);
    addStation_ = new QAction(
        translate(QT_TRANSLATE_NOOP("OrventoViewController", "Add the station to the &monitor")),
        this);
    addStation_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    addStation_->setIconText(translate(QT_TRANSLATE_NOOP("OrventoViewController", "Add station")));
    add_->setDefaultAction(addStation_);
    empty_ = new QLabel(translate(QT_TRANSLATE_NOOP(
                            "OrventoViewController",
                            "Choose a station and add it (Ctrl+M) to hear up to six at once.")),
                        this);
    empty_->setObjectName(QStringLiteral("monitorEmpty"));
    empty_->setWordWrap(true);

    auto* top = new QHBoxLayout;
    top->setSpacing(8);
    top->addWidget(play_);
    top->addWidget(add_);
    top->addStretch();
    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("monitorRows"));
    rowsLayout_ = new QVBoxLayout(content);
    rowsLayout_->setContentsMargins(0, 0, 6, 0);
    rowsLayout_->setSpacing(6);
    rowsLayout_->addWidget(empty_);
    rowsLayout_->addStretch();
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("monitorScroll"));
    scroll->setWidget(content);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 10, 6, 10);
    layout->setSpacing(6);
    layout->addLayout(top);
    layout->addWidget(scroll, 1);

    connect(play_, &QPushButton::clicked, &monitor_, &MonitorController::toggle);
    connect(addStation_, &QAction::triggered, this, &MonitorPanel::addSelected);
    connect(&monitor_, &MonitorController::playingChanged, this, &MonitorPanel::showButtons);
    connect(&monitor_, &MonitorController::feedsChanged, this, [this] { rebuild(); });
    connect(&window_, &PlaybackController::selectedStationChanged, this,
            &MonitorPanel::showButtons);
    connect(&monitor_.model(), &QAbstractItemModel::dataChanged, this, &MonitorPanel::rowsChanged);
    rebuild();
}

void MonitorPanel::addSelected() {
    monitor_.add(window_.selectedStation());
}

void MonitorPanel::showButtons() {
    play_->setText(monitor_.playing()
                       ? translate(QT_TRANSLATE_NOOP("OrventoViewController", "Stop monitor"))
                       : translate(QT_TRANSLATE_NOOP("OrventoViewController", "Play monitor")));
    play_->setEnabled(monitor_.count() > 0);
    addStation_->setEnabled(monitor_.canAdd(window_.selectedStation()));
    empty_->setVisible(monitor_.count() == 0);
}

void MonitorPanel::rowsChanged(const QModelIndex& first, const QModelIndex& last) {
    for (int row = first.row(); row <= last.row() && row < rowCount(); ++row) {
        rows_[static_cast<std::size_t>(row)]->show(monitor_.model().index(row));
    }
}

void MonitorPanel::focusAfterRebuild(int row, const char* control) {
    focusRow_ = row;
    focusControl_ = QLatin1String(control);
}

void MonitorPanel::rebuild() {
    // Rows go later: a row's own button may be what asked for this.
    for (MonitorRow* each : rows_) {
        rowsLayout_->removeWidget(each);
        each->hide();
        each->deleteLater();
    }
    rows_.clear();
    for (int row = 0; row < monitor_.count(); ++row) {
        auto* added = new MonitorRow(monitor_, row);
        added->show(monitor_.model().index(row));
        // Before the empty line and the stretch.
        rowsLayout_->insertWidget(row, added);
        rows_.push_back(added);
        connect(added->remove, &QToolButton::clicked, this, [this, row] {
            focusAfterRebuild(std::min(row, monitor_.count() - 2), "feedRemove");
            monitor_.remove(row);
        });
        connect(added->up, &QToolButton::clicked, this, [this, row] {
            focusAfterRebuild(row - 1, "feedUp");
            monitor_.move(row, row - 1);
        });
        connect(added->down, &QToolButton::clicked, this, [this, row] {
            focusAfterRebuild(row + 1, "feedDown");
            monitor_.move(row, row + 1);
        });
    }
    showButtons();
    if (focusControl_.isEmpty()) {
        return;
    }
    // The focus stays with the control the user used, on the row it went to.
    QWidget* target = add_;
    if (focusRow_ >= 0 && focusRow_ < rowCount()) {
        auto* control = row(focusRow_)->findChild<QWidget*>(focusControl_);
        target = control != nullptr && control->isEnabled() ? control : row(focusRow_)->volume;
    }
    target->setFocus(Qt::OtherFocusReason);
    focusControl_.clear();
}

}  // namespace orvento
