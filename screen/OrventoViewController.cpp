#include "screen/OrventoViewController.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QResizeEvent>
#include <QUrl>
#include <algorithm>
#include <string>
#include <utility>

#include "controller/MainThread.h"
#include "controller/StationNames.h"
#include "controller/WeatherReport.h"
#include "controller/WeatherTexts.h"
#include "screen/PlayerSettingsDialog.h"
#include "screen/SleepMenu.h"
#include "screen/StationDialog.h"

namespace orvento {
namespace {

constexpr const char* kImageFolder = ":/images/";

QString translate(const char* text) {
    return QCoreApplication::translate("OrventoViewController", text);
}

// What a screen reader says for each image of the button.
QString buttonNameFor(const QString& image) {
    if (image == QLatin1String(OrventoViewController::kStopImage)) {
        return translate(QT_TRANSLATE_NOOP("OrventoViewController", "Stop"));
    }
    if (image == QLatin1String(OrventoViewController::kLoadingImage)) {
        return translate(QT_TRANSLATE_NOOP("OrventoViewController", "Connecting, press to stop"));
    }
    return translate(QT_TRANSLATE_NOOP("OrventoViewController", "Play"));
}

// The host and port of a base URL, for the status line; a password in it is
// not shown.
QString serverName(const QString& baseUrl) {
    const QString shown = withoutPassword(baseUrl);
    const QUrl url(shown);
    return url.authority().isEmpty() ? shown : url.authority();
}

}  // namespace

OrventoViewController::OrventoViewController(PlaybackController& controller,
                                             StationListModel& stations, ScreenServices services,
                                             QWidget* parent)
    : QWidget(parent),
      controller_(controller),
      stations_(stations),
      services_(std::move(services)),
      settings_(services_.settings ? services_.settings
                                   : std::shared_ptr<Settings>(Settings::temporary())),
      memory_(*settings_, controller_, stations_),
      weather_(services_.weatherBaseUrl, settings_->weatherAirport(), nullptr,
               services_.weatherLayout),
      directory_(services_.directory, services_.cacheFolder) {
    ui_.setupUi(this);
    textField = ui_.textField;
    button = ui_.button;
    selectButton = ui_.selectButton;
    statusLabel = ui_.statusLabel;
    stationBrowser = ui_.stationBrowser;
    bottomTabs = ui_.bottomTabs;
    weatherPanel = ui_.weatherPanel;
    menuButton = ui_.menuButton;
    metar = weatherPanel->reportText();
    setPicker(stationBrowser->list());
    setMyTextField2(ui_.myTextField2);
    setTimerLabel(ui_.timerLabel);
    metar->setPlainText(translate(QT_TRANSLATE_NOOP(
        "OrventoViewController", "The latest METAR observation and TAF forecast appear here.")));
    stationBrowser->setStations(&stations_);
    stationBrowser->setSources(!services_.catalogueBaseUrl.isEmpty(), directory_.configured());
    connect(&directory_, &StationDirectory::changed, this, &OrventoViewController::showDirectory);
    connect(&directory_, &StationDirectory::fetched, this, [this](bool ok) {
        if (directoryAsked_ && services_.catalogueBaseUrl.isEmpty()) {
            controller_.setStatusText(
                directoryUpdatedText(ok, directory_.error(), directory_.list().stations.size()));
        }
        directoryAsked_ = false;
    });
    weatherPanel->setAirport(weather_.airport());
    createMenu();
    if (services_.monitor != nullptr) {
        monitorPanel = new MonitorPanel(*services_.monitor, controller_, this);
        addBottomTab(monitorPanel,
                     translate(QT_TRANSLATE_NOOP("OrventoViewController", "Monitor")));
        // Its shortcut works wherever the focus is in the window.
        menuButton->menu()->addAction(monitorPanel->addStationAction());
        addAction(monitorPanel->addStationAction());
    }
    // Hidden until the select control shows it (set-up hides it again).
    picker()->setHidden(true);
    picker()->installEventFilter(this);
    // One character more than the controller plays: an address too long
    // shows as too long instead of being cut to one that is not.
    textField->setMaxLength(static_cast<int>(PlaybackController::kAddressLengthLimit) + 1);
    // The layout's actions; the screen is the delegate of the button's spin.
    connect(button, &QAbstractButton::clicked, this, &OrventoViewController::buttonPressed);
    connect(textField, &QLineEdit::returnPressed, this,
            [this] { textFieldShouldReturn(textField); });
    connect(selectButton, &QAbstractButton::clicked, this,
            [this] { SelectbuttonClick(selectButton); });
    connect(button, &SpinningButton::animationDidStop, this,
            &OrventoViewController::animationDidStop);

    connect(&controller_, &PlaybackController::attemptStarted, this, [this] {
        // A station coming back after a drop keeps its stop image.
        if (controller_.reconnecting()) {
            return;
        }
        // A play the user started: the directory counts its own stations'.
        directory_.click(stations_.directoryId(controller_.selectedStation()));
        setButtonImage(QLatin1String(kLoadingImage));
        spinButton();
    });
    connect(&controller_, &PlaybackController::stopRequested, button,
            &SpinningButton::removeAllAnimations);
    connect(&controller_, &PlaybackController::reportedPlaying, this,
            [this] { setButtonImage(QLatin1String(kStopImage)); });
    connect(&controller_, &PlaybackController::reportedEnded, this, [this] {
        if (!controller_.reconnecting()) {
            setButtonImage(QLatin1String(kPlayImage));
        }
    });
    // A reconnection stopped between two players: no player reports an end.
    connect(&controller_, &PlaybackController::reconnectingChanged, this, [this](bool on) {
        if (!on && controller_.playState() == PlaybackController::PlayState::Idle) {
            setButtonImage(QLatin1String(kPlayImage));
        }
    });
    connect(&controller_, &PlaybackController::statusTextChanged, this,
            [this](const QString& /*text*/) { showStatusLine(); });
    connect(&controller_, &PlaybackController::listeningTimeChanged, this, [this](double seconds) {
        if (QLabel* label = timerLabel();
            label != nullptr && label->text() != elapsedTimeText(seconds)) {
            label->setText(elapsedTimeText(seconds));
        }
    });
    connect(&controller_, &PlaybackController::selectedStationChanged, this,
            &OrventoViewController::showSelectedStation);
    connect(textField, &QLineEdit::textChanged, this, &OrventoViewController::addressChanged);
    connect(&controller_, &PlaybackController::playStateChanged, this,
            [this](PlaybackController::PlayState state) {
                if (state == PlaybackController::PlayState::Idle && playAfterStop_) {
                    playAfterStop_ = false;
                    // After every slot has seen this state.
                    postToMainThread(this, [this] { playSelected(); });
                }
            });

    connect(stationBrowser, &StationBrowser::firstMatchChosen, this, [this](int row) {
        pickerViewDidSelectRow(picker(), row, 0);
        button->setFocus(Qt::OtherFocusReason);
        playSelected();
    });
    connect(stationBrowser, &StationBrowser::favouriteToggled, this,
            [this](int row) { memory_.toggleFavourite(stations_.station(row)); });
    connect(stationBrowser, &StationBrowser::addRequested, this, [this] { openStationDialog({}); });
    connect(stationBrowser, &StationBrowser::renameRequested, this,
            [this](int row) { openStationDialog(stations_.station(row)); });
    connect(stationBrowser, &StationBrowser::removeRequested, this,
            [this](int row) { memory_.removeOwnStation(stations_.station(row)); });
    connect(&memory_, &StationMemory::rememberedChanged, this,
            [this] { showStations(catalogueStations_); });
    // The open browser takes the bottom card's room: a list of thousands
    // needs it more than the weather does meanwhile.
    connect(stationBrowser, &StationBrowser::openChanged, this, [this](bool open) {
        if (layouts_ != nullptr) {
            layouts_->browserOpenChanged(open);
        }
    });
    connect(stationBrowser, &StationBrowser::closeRequested, this,
            &OrventoViewController::closePicker);

    connect(weatherPanel, &WeatherPanel::airportEntered, this,
            &OrventoViewController::chooseAirport);
    connect(weatherPanel, &WeatherPanel::refreshRequested, &weather_, &AirportWeather::fetch);
    connect(&weather_, &AirportWeather::reportArrived, this, [this] {
        if (!weatherApplied_) {
            emit setUpDownloadArrived();
        }
    });
    connect(&weather_, &AirportWeather::updated, this, [this] {
        if (weatherApplied_) {
            showWeather();
        } else {
            applySetUpResults();
        }
    });
    addTransmissionsTab();
    ScreenParts parts;
    parts.screenLayout = ui_.screenLayout;
    parts.headerRow = ui_.headerRow;
    parts.stationCard = ui_.stationCard;
    parts.stationBrowser = stationBrowser;
    parts.selectButton = selectButton;
    parts.nameField = myTextField2();
    parts.addressField = textField;
    parts.button = button;
    parts.statusLabel = statusLabel;
    parts.timerLayout = ui_.timerLayout;
    parts.bottomTabs = bottomTabs;
    parts.menuButton = menuButton;
    parts.transmissions = transmissionsPanel;
    parts.weather = weatherPanel;
    parts.monitor = monitorPanel;
    layouts_ = new ScreenLayouts(*this, parts);
    connect(settings_.get(), &Settings::changed, this, &OrventoViewController::settingChanged);
    controller_.setReconnectWhenDropped(settings_->reconnectWhenDropped());
    controller_.setLiveEdge(settings_->liveEdge());
    if (services_.sleepTimer != nullptr) {
        connect(services_.sleepTimer, &SleepTimer::changed, this,
                &OrventoViewController::showStatusLine);
    }
    showStatusLine();
    showSelectedStation();
}

void OrventoViewController::createMenu() {
    auto* menu = new QMenu(this);
    const auto add = [this, menu](const char* text, const QKeySequence& keys, auto action) {
        QAction* added = menu->addAction(translate(text));
        added->setShortcut(keys);
        connect(added, &QAction::triggered, this, action);
        // The shortcut works wherever the focus is in the window.
        addAction(added);
        return added;
    };
    findAction = add(QT_TRANSLATE_NOOP("OrventoViewController", "&Find a station"),
                     QKeySequence::Find, &OrventoViewController::openSearch);
    reloadAction = add(QT_TRANSLATE_NOOP("OrventoViewController", "&Reload stations"),
                       QKeySequence(Qt::Key_F5), &OrventoViewController::reloadStations);
    addStationAction = add(QT_TRANSLATE_NOOP("OrventoViewController", "&Add station\u2026"),
                           QKeySequence(Qt::CTRL | Qt::Key_N), [this] { openStationDialog({}); });
    refreshWeatherAction = add(QT_TRANSLATE_NOOP("OrventoViewController", "Refresh the &weather"),
                               QKeySequence(Qt::CTRL | Qt::Key_R), [this] { weather_.fetch(); });
    menu->addSeparator();
    playLastAtStartAction = menu->addAction(
        translate(QT_TRANSLATE_NOOP("OrventoViewController", "&Play the last station at start")));
    playLastAtStartAction->setCheckable(true);
    playLastAtStartAction->setChecked(settings_->playLastStationAtStart());
    connect(playLastAtStartAction, &QAction::toggled, settings_.get(),
            &Settings::setPlayLastStationAtStart);
    if (services_.sleepTimer != nullptr) {
        addSleepMenu(menu);
    }
    menu->addSeparator();
    settingsAction =
        add(QT_TRANSLATE_NOOP("OrventoViewController", "&Settings\u2026"),
            QKeySequence(Qt::CTRL | Qt::Key_Comma), &OrventoViewController::openSettings);
    menuButton->setMenu(menu);
    menuButton->setPopupMode(QToolButton::InstantPopup);
}

void OrventoViewController::addSleepMenu(QMenu* menu) {
    SleepTimer& timer = *services_.sleepTimer;
    sleepMenu =
        menu->addMenu(translate(QT_TRANSLATE_NOOP("OrventoViewController", "S&leep timer")));
    addSleepChoices(*sleepMenu, timer,
                    translate(QT_TRANSLATE_NOOP("OrventoViewController", "&Off")),
                    translate(QT_TRANSLATE_NOOP("OrventoViewController", "%1 minutes")));
    sleepMenu->addSeparator();
    QAction* atEnd = sleepMenu->addAction(
        translate(QT_TRANSLATE_NOOP("OrventoViewController", "Let the last &transmission finish")));
    atEnd->setCheckable(true);
    atEnd->setChecked(timer.atTransmissionEnd());
    connect(atEnd, &QAction::toggled, &timer, &SleepTimer::setAtTransmissionEnd);
    // The box shows the timer's state, whoever set it (the tray, an end, a stop).
    connect(&timer, &SleepTimer::changed, atEnd,
            [&timer, atEnd] { atEnd->setChecked(timer.atTransmissionEnd()); });
}

void OrventoViewController::showStatusLine() {
    QString line = replayStatus_.isEmpty() ? controller_.statusText() : replayStatus_;
    if (services_.sleepTimer != nullptr && services_.sleepTimer->active()) {
        const QString countdown = services_.sleepTimer->countdownText();
        line = line.isEmpty() ? countdown : line + QStringLiteral(" \u00b7 ") + countdown;
    }
    if (statusLabel->text() != line) {
        statusLabel->setText(line);
    }
}

void OrventoViewController::addTransmissionsTab() {
    StationReplay& replay = controller_.replay();
    replay.setHistoryMinutes(settings_->historyMinutes());
    auto* all = new AllTransmissions(controller_, services_.monitor, this);
    transmissionsPanel = new TransmissionsPanel(replay, all, this);
    addBottomTab(transmissionsPanel,
                 translate(QT_TRANSLATE_NOOP("OrventoViewController", "Transmissions")));
    addAction(transmissionsPanel->sayAgainAction());
    addAction(transmissionsPanel->endReplayAction());
    connect(
        transmissionsPanel, &TransmissionsPanel::replayShown, this,
        [this](bool replaying, const QDateTime& startUtc) {
            replayStatus_.clear();
            if (replaying) {
                replayStatus_ =
                    startUtc.isValid()
                        ? translate(QT_TRANSLATE_NOOP(
                                        "OrventoViewController",
                                        "Saying again what was said at %1. Escape: back to live."))
                              .arg(startUtc.toString(QStringLiteral("HH:mm:ss'Z'")))
                        : translate(QT_TRANSLATE_NOOP("OrventoViewController",
                                                      "Saying again. Escape: back to live."));
            }
            showStatusLine();
        });
    connect(&replay, &StationReplay::replayFailed, &controller_,
            &PlaybackController::setStatusText);
    connect(&replay.saver(), &TransmissionSaver::failed, &controller_,
            &PlaybackController::setStatusText);
    const auto showSaved = [this](const QStringList& paths) {
        controller_.setStatusText(TransmissionSaver::savedText(paths));
    };
    connect(&replay.saver(), &TransmissionSaver::saved, &controller_, showSaved);
    connect(all, &AllTransmissions::saved, &controller_, showSaved);
    connect(all, &AllTransmissions::saveFailed, &controller_, &PlaybackController::setStatusText);
    // Recording begins, goes on in a new file, stops: said where the user looks.
    connect(&replay, &StationReplay::recordingFileChanged, &controller_,
            [this](const QString& path) {
                if (!path.isEmpty()) {
                    controller_.setStatusText(
                        translate(QT_TRANSLATE_NOOP("OrventoViewController", "Recording to %1"))
                            .arg(path));
                }
            });
    connect(&replay, &StationReplay::recordingChanged, &controller_, [this](bool on) {
        const QString& path = controller_.replay().recordingPath();
        if (!on && !path.isEmpty()) {
            controller_.setStatusText(
                translate(QT_TRANSLATE_NOOP("OrventoViewController", "Recording stopped: %1"))
                    .arg(path));
        }
    });
}

void OrventoViewController::addBottomTab(QWidget* page, const QString& title) {
    bottomTabs->addTab(page, title);
    if (layouts_ != nullptr) {
        layouts_->pageAdded();
    }
}

bool OrventoViewController::focusNextPrevChild(bool next) {
    return (layouts_ != nullptr && layouts_->focusNext(next)) || QWidget::focusNextPrevChild(next);
}

void OrventoViewController::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (layouts_ != nullptr) {
        layouts_->arrange(event->size());
    }
}

void OrventoViewController::openSettings() {
    PlayerSettingsDialog dialog(*settings_, this);
    dialog.exec();
}

void OrventoViewController::settingChanged(const QString& key) {
    if (key == QLatin1String(Settings::kHistoryMinutesKey)) {
        controller_.replay().setHistoryMinutes(settings_->historyMinutes());
    }
    if (key == QLatin1String(Settings::kReconnectKey)) {
        controller_.setReconnectWhenDropped(settings_->reconnectWhenDropped());
    } else if (key == QLatin1String(Settings::kLiveEdgeKey)) {
        controller_.setLiveEdge(settings_->liveEdge());
    } else if (key == QLatin1String(Settings::kPlayLastAtStartKey)) {
        playLastAtStartAction->setChecked(settings_->playLastStationAtStart());
    } else if (key == QLatin1String(Settings::kWeatherAirportKey) &&
               settings_->weatherAirport() != weather_.airport()) {
        weather_.setAirport(settings_->weatherAirport());
        weatherPanel->setAirport(weather_.airport());
        weatherPanel->setMessage(fetchingWeatherText(weather_.airport()));
        weather_.fetch();
    }
}

OrventoViewController::~OrventoViewController() = default;

void OrventoViewController::log(const QString& text) const {
    writeLogLine(services_.log, text.toStdString());
}

// ---- Set-up

void OrventoViewController::viewDidLoad() {
    showStations({});
    controller_.setStatusText(loadingText());
    lastStationRestored_ = memory_.restoreLastStation();
    catalogue_ = downloadCatalogue([this](const std::optional<CatalogueDownload>& read) {
        catalogueArrived_ = true;
        catalogueRead_ = read;
        if (read) {
            emit setUpDownloadArrived();
        }
        applySetUpResults();
    });
    directory_.start();
    layouts_->setListOpen(false);
    setButtonImage(QLatin1String(kPlayImage));
    ikiyegec();
    weather_.setRefreshing(true);
    // QWidget has no set-up of its own to run here.
    if (services_.idleTimer) {
        services_.idleTimer->setIdleTimerDisabled(true);
    }
    applySetUpResults();
}

std::unique_ptr<BackgroundDownload> OrventoViewController::downloadCatalogue(
    CatalogueArrived arrived) {
    if (services_.catalogueBaseUrl.isEmpty()) {
        arrived(std::nullopt);
        return nullptr;
    }
    HttpDownloadOptions options;
    options.maxBytes = kCatalogueMaxBytes;
    return std::make_unique<BackgroundDownload>(
        serverUrl(services_.catalogueBaseUrl, QLatin1String(kCataloguePath)).toStdString(), options,
        this, [arrived = std::move(arrived)](HttpDownloadResult result) {
            // Read on the download's thread: a big catalogue takes a while.
            std::optional<CatalogueDownload> read = readCatalogueDownload(result);
            return std::function<void()>([arrived, read = std::move(read)] { arrived(read); });
        });
}

void OrventoViewController::applySetUpResults() {
    if (!catalogueApplied_ && catalogueArrived_) {
        catalogueApplied_ = true;
        applyCatalogue(catalogueRead_);
        catalogueRead_.reset();
    }
    if (catalogueApplied_ && !weatherApplied_ && weather_.fetched()) {
        weatherApplied_ = true;
        showWeather();
    }
}

void OrventoViewController::logCatalogue(const std::optional<CatalogueDownload>& read) {
    if (read && !read->error.isEmpty()) {
        const QString where =
            withoutPassword(serverUrl(services_.catalogueBaseUrl, QLatin1String(kCataloguePath)));
        log(QStringLiteral("catalogue: %1: %2").arg(logField(where), read->error));
    }
    if (read) {
        for (const QString& problem : read->catalogue.problems) {
            log(QStringLiteral("catalogue: ") + problem);
        }
    }
}

void OrventoViewController::applyCatalogue(const std::optional<CatalogueDownload>& read) {
    logCatalogue(read);
    const CatalogueOutcome outcome = read ? read->outcome : CatalogueOutcome::failed;
    const QList<Station> stations = read ? read->catalogue.stations : QList<Station>();
    for (qsizetype i = 0; i < stations.size() && i < kLoggedStationsLimit; ++i) {
        log(QStringLiteral("adi=%1,url=%2")
                .arg(logField(stations[i].name), logField(withoutPassword(stations[i].url))));
    }
    if (stations.size() > kLoggedStationsLimit) {
        log(QStringLiteral("adi: %1 more stations, not logged")
                .arg(stations.size() - kLoggedStationsLimit));
    }
    // The first station, unless the user has typed an address meanwhile or
    // the last station played is selected.
    if (!stations.isEmpty() && !textField->isModified() && !lastStationRestored_) {
        controller_.chooseStation(stations.front());
    }
    showStations(stations);
    selectButton->setEnabled(stations_.rowCount() > 0);
    // Playback's news, once there is any, is worth more than set-up's. No
    // catalogue to load is nothing wrong.
    if (controller_.attempts() == 0) {
        controller_.setStatusText(
            services_.catalogueBaseUrl.isEmpty()
                ? readyText()
                : catalogueText(outcome, serverName(services_.catalogueBaseUrl)));
    }
}

void OrventoViewController::reloadStations() {
    if (directory_.configured() && !directory_.fetching()) {
        directoryAsked_ = true;
        directory_.refresh();
        if (services_.catalogueBaseUrl.isEmpty()) {
            controller_.setStatusText(directoryUpdatingText());
        }
    }
    if (reload_ != nullptr || !catalogueApplied_ || services_.catalogueBaseUrl.isEmpty()) {
        return;
    }
    controller_.setStatusText(reloadingText());
    reload_ = downloadCatalogue([this](const std::optional<CatalogueDownload>& read) {
        applyReload(read);
        reload_.reset();
    });
}

void OrventoViewController::applyReload(const std::optional<CatalogueDownload>& read) {
    logCatalogue(read);
    const CatalogueOutcome outcome = read ? read->outcome : CatalogueOutcome::failed;
    if (outcome == CatalogueOutcome::loaded) {
        showStations(read->catalogue.stations);
        selectButton->setEnabled(true);
    }
    controller_.setStatusText(reloadText(outcome, serverName(services_.catalogueBaseUrl),
                                         read ? read->error : QString(), stations_.rowCount()));
}

void OrventoViewController::showStations(const QList<Station>& catalogue) {
    catalogueStations_ = catalogue;
    // The stations remembered that neither the catalogue nor the directory
    // lists come after them: a favourite is there when the list it came
    // from is gone.
    const QList<Station> rows = catalogue + memory_.stationsBeyond(listedStations());
    if (rows != stations_.catalogueStations()) {
        stations_.setStations(rows);
    }
    if (!rows.isEmpty() || directory_.configured()) {
        selectButton->setEnabled(true);
    }
}

QList<Station> OrventoViewController::listedStations() const {
    QList<Station> listed = catalogueStations_;
    listed.reserve(listed.size() + directory_.list().stations.size());
    for (const DirectoryStation& station : directory_.list().stations) {
        listed << station.station();
    }
    return listed;
}

void OrventoViewController::showDirectory() {
    // A new list only: the rows stay put while a fetch starts or fails. One
    // reset for both parts: 20,000 rows are worth filtering once.
    if (directory_.list().fetched != directoryShown_) {
        directoryShown_ = directory_.list().fetched;
        stations_.setStations(catalogueStations_ + memory_.stationsBeyond(listedStations()),
                              directory_.list().stations);
    }
    stationBrowser->setDirectoryNote(directoryNoteText(directory_.list(), directory_.fetching(),
                                                       directory_.error(),
                                                       QDateTime::currentDateTimeUtc()));
    if (directory_.configured()) {
        selectButton->setEnabled(true);
    }
}

void OrventoViewController::openStationDialog(const Station& changed) {
    auto* dialog = new StationDialog(changed, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog, changed] {
        const Station station = dialog->station();
        const bool done = changed.url.isEmpty() ? memory_.addOwnStation(station)
                                                : memory_.changeOwnStation(changed, station);
        if (!done) {
            controller_.setStatusText(translate(QT_TRANSLATE_NOOP(
                "OrventoViewController", "That station is among your own already.")));
        }
    });
    dialog->open();
}

void OrventoViewController::addressChanged(const QString& text) {
    if (text == controller_.selectedStation().url) {
        return;
    }
    // A station's own URL brings its name with it.
    const QList<Station>& stations = stations_.stations();
    const auto listed =
        std::find_if(stations.begin(), stations.end(),
                     [&text](const Station& station) { return station.url == text; });
    if (listed != stations.end()) {
        controller_.chooseStation(*listed);
    } else {
        controller_.setAddressText(text);
    }
}

void OrventoViewController::showSelectedStation() {
    const Station& station = controller_.selectedStation();
    if (textField->text() != station.url) {
        textField->setText(station.url);
        // A long URL shows its beginning, the scheme and host.
        textField->setCursorPosition(0);
    }
    // One line, however the catalogue wrote the name.
    myTextField2()->setText(shownName(station.name));
    myTextField2()->setCursorPosition(0);
}

// ---- Play/stop button

void OrventoViewController::buttonPressed() {
    controller_.press();
}

void OrventoViewController::setButtonImage(const QString& name) {
    button->removeAllAnimations();
    button->setImage(QLatin1String(kImageFolder) + name);
    button->setAccessibleName(buttonNameFor(name));
    button->setToolTip(button->accessibleName());
}

void OrventoViewController::spinButton() {
    // One turn about the button's centre; animationDidStop starts the next.
    button->addRotationAnimation(0.0f, kFullTurn, kSpinDuration);
}

void OrventoViewController::animationDidStop(bool finished) {
    if (finished) {
        spinButton();
    }
}

bool OrventoViewController::textFieldShouldReturn(QLineEdit* /*field*/) {
    buttonPressed();
    return false;
}

// ---- Station picker

void OrventoViewController::SelectbuttonClick(QObject* /*sender*/) {
    // The screen is the picker's data source and delegate.
    if (picker()->model() != stationBrowser->rows()) {
        picker()->setModel(stationBrowser->rows());
    }
    connect(picker(), &QAbstractItemView::clicked, this, &OrventoViewController::pickerRowChosen,
            Qt::UniqueConnection);
    if (picker()->isHidden()) {
        openPicker();
    } else {
        picker()->setHidden(true);
    }
    log(QStringLiteral("count;%1").arg(pickerViewNumberOfRowsInComponent(picker(), 0)));
}

void OrventoViewController::openPicker() {
    picker()->setHidden(false);
    // Opens at the station selected, ready for the keyboard.
    stationBrowser->setCurrentStation(
        static_cast<int>(stations_.stations().indexOf(controller_.selectedStation())));
    picker()->setFocus(Qt::OtherFocusReason);
}

void OrventoViewController::closePicker() {
    layouts_->setListOpen(false);
    // The sidebar has no select control: the next step is the button.
    QWidget* next = layouts_->listIsSidebar() ? static_cast<QWidget*>(button) : selectButton;
    next->setFocus(Qt::OtherFocusReason);
}

void OrventoViewController::openSearch() {
    if (picker()->isHidden()) {
        openPicker();
    }
    stationBrowser->focusSearch();
}

void OrventoViewController::playStation(const Station& station) {
    controller_.chooseStation(station);
    playSelected();
}

void OrventoViewController::playSelected() {
    if (controller_.playState() == PlaybackController::PlayState::Idle) {
        controller_.press();
        return;
    }
    // Stop first; the press that plays follows the stop.
    playAfterStop_ = true;
    if (controller_.playState() != PlaybackController::PlayState::Stopping) {
        controller_.stopToSwitch();
    }
}

int OrventoViewController::numberOfComponentsInPickerView(QListView* /*picker*/) const {
    return 1;
}

qsizetype OrventoViewController::pickerViewNumberOfRowsInComponent(QListView* /*picker*/,
                                                                   int /*component*/) const {
    return stations_.rowCount();
}

QString OrventoViewController::pickerViewTitleForRow(QListView* /*picker*/, qsizetype row,
                                                     int /*component*/) const {
    return stations_.station(row).name;
}

void OrventoViewController::pickerViewDidSelectRow(QListView* picker, qsizetype row,
                                                   int /*component*/) {
    log(QStringLiteral("ppp;%1").arg(row));
    if (row < 0 || row >= stations_.rowCount()) {
        return;
    }
    controller_.chooseStation(stations_.station(row));
    if (picker != nullptr) {
        const bool hadFocus = picker->hasFocus();
        layouts_->setListOpen(picker->isHidden());
        // The next step is most likely play: Return on the button.
        if (hadFocus) {
            button->setFocus(Qt::OtherFocusReason);
        }
    }
}

void OrventoViewController::pickerRowChosen(const QModelIndex& index) {
    pickerViewDidSelectRow(picker(), stationBrowser->stationRow(index), 0);
}

bool OrventoViewController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == picker() && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && picker()->currentIndex().isValid()) {
            pickerRowChosen(picker()->currentIndex());
            return true;
        }
        if (key == Qt::Key_Escape) {
            closePicker();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---- Weather panel

void OrventoViewController::ikiyegec() {
    weather_.fetch();
}

void OrventoViewController::showWeather() {
    metar->setPlainText(weatherPanelText(weather_.metar().text, weather_.taf().text));
    weatherPanel->showDecoded(weather_);
    weatherPanel->setMessage({});
    // The age of a report kept from an earlier fetch matters most.
    const AirportWeather::Report& said =
        weather_.metar().failure.isEmpty() ? weather_.taf() : weather_.metar();
    weatherPanel->setSource(weatherSourceText(weather_.serverName(), said.fetchedAt, said.failure,
                                              weather_.metar().isReport || weather_.taf().isReport,
                                              QDateTime::currentDateTimeUtc()));
}

void OrventoViewController::chooseAirport(const QString& typed) {
    const std::optional<QString> code = AirportWeather::airportCode(typed);
    if (!code) {
        weatherPanel->setMessage(wrongAirportText(typed));
        return;
    }
    weatherPanel->setAirport(*code);
    if (*code == weather_.airport()) {
        weatherPanel->setMessage(fetchingWeatherText(*code));
        weather_.fetch();
        return;
    }
    // The setting's change fetches that airport's reports.
    settings_->setWeatherAirport(*code);
}

}  // namespace orvento
