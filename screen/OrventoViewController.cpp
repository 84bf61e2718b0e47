#include "screen/OrventoViewController.h"

#include <QAbstractListModel>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QUrl>
#include <algorithm>
#include <string>
#include <utility>

#include "engine/UrlEscaping.h"
#include "engine/platform/http/HttpDownload.h"
#include "screen/MainThread.h"
#include "screen/WaitWhilePainting.h"
#include "screen/WeatherReport.h"

namespace orvento {
namespace {

constexpr const char* kImageFolder = ":/images/";

// Auxiliary timers: a one-shot after 10 s and two repeating ones.
constexpr std::chrono::seconds kTimer0Interval{10};
constexpr std::chrono::seconds kTimer2Interval{55};
constexpr std::chrono::seconds kTimer3Interval{60};

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

// The host and port of a base URL, for the status line.
QString serverName(const QString& baseUrl) {
    const QUrl url(baseUrl);
    return url.authority().isEmpty() ? baseUrl : url.authority();
}

// A base URL without trailing slashes: the paths bring their own.
QString joined(const QString& baseUrl, const char* path) {
    QString base = baseUrl;
    while (base.endsWith(QLatin1Char('/'))) {
        base.chop(1);
    }
    return base + QLatin1String(path);
}

}  // namespace

// The picker's model: every question goes to the screen's data source.
class StationPickerModel : public QAbstractListModel {
  public:
    StationPickerModel(OrventoViewController& screen, QListView& picker)
        : QAbstractListModel(&screen), screen_(screen), picker_(picker) {}

    int rowCount(const QModelIndex& parent) const override {
        return parent.isValid()
                   ? 0
                   : static_cast<int>(screen_.pickerViewNumberOfRowsInComponent(&picker_, 0));
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= rowCount({})) {
            return {};
        }
        if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) {
            return screen_.pickerViewTitleForRow(&picker_, index.row(), 0);
        }
        if (role == Qt::ToolTipRole) {
            return screen_.tableData2().value(index.row());
        }
        return {};
    }

  private:
    OrventoViewController& screen_;
    QListView& picker_;
};

OrventoViewController::OrventoViewController(ScreenServices services, QWidget* parent)
    : QWidget(parent), services_(std::move(services)) {
    ui_.setupUi(this);
    textField = ui_.textField;
    button = ui_.button;
    metar = ui_.metar;
    selectButton = ui_.selectButton;
    statusLabel = ui_.statusLabel;
    setPicker(ui_.picker);
    setMyTextField2(ui_.myTextField2);
    setTimerLabel(ui_.timerLabel);
    // Hidden until the select control shows it (set-up hides it again).
    picker()->setHidden(true);
    picker()->installEventFilter(this);
    // The screen is the delegate of the button's spin.
    connect(button, &SpinningButton::animationDidStop, this,
            &OrventoViewController::animationDidStop);
}

OrventoViewController::~OrventoViewController() {
    std::shared_ptr<Pelorin> player;
    {
        // No notification starts any more; wait for those under way, which
        // may still post to this object.
        std::unique_lock lock(streamerMutex_);
        closing_ = true;
        notificationsDone_.wait(lock, [this] { return notificationsRunning_ == 0; });
        player = std::move(streamer);
    }
    if (player) {
        player->removeObserver(this, kIsPlayingKeyPath);
        player->removeObserver(this, kHasEndedKeyPath);
        player->stop();
    }
}

void OrventoViewController::viewDidLoad() {
    setTableData1({});
    setTableData2({});
    setStatusText(loadingText());

    QList<Station> stations;
    const CatalogueOutcome outcome = loadCatalogue(stations);
    for (qsizetype i = 0; i < stations.size(); ++i) {
        const Station& station = stations.at(i);
        if (i == 0) {
            textField->setText(station.url);
            // A long URL shows its beginning, the scheme and host.
            textField->setCursorPosition(0);
            myTextField2()->setText(station.name);
            myTextField2()->setCursorPosition(0);
            chosenRow_ = 0;
        }
        log(QStringLiteral("adi=%1,url=%2").arg(station.name, station.url));
        tableData1_.append(station.name);
        tableData2_.append(station.url);
    }
    picker()->setHidden(true);
    setButtonImage(QLatin1String(kPlayImage));
    ikiyegec();
    // QWidget has no set-up of its own to run here.
    if (services_.idleTimer) {
        services_.idleTimer->setIdleTimerDisabled(true);
    }
    selectButton->setEnabled(!tableData1_.isEmpty());
    setStatusText(catalogueText(outcome, serverName(services_.catalogueBaseUrl)));
}

std::optional<QByteArray> OrventoViewController::download(const QString& url, std::size_t maxBytes,
                                                          QString* error) const {
    HttpDownloadOptions options;
    options.maxBytes = maxBytes;
    HttpDownloadResult result;
    const std::string address = url.toStdString();
    waitWhilePainting([&] { result = downloadWholeBody(address, options); });
    if (!result.body) {
        if (error != nullptr) {
            *error = QString::fromStdString(result.error);
        }
        return std::nullopt;
    }
    return QByteArray::fromStdString(*result.body);
}

CatalogueOutcome OrventoViewController::loadCatalogue(QList<Station>& stations) {
    if (services_.catalogueBaseUrl.isEmpty()) {
        return CatalogueOutcome::failed;
    }
    const QString url = joined(services_.catalogueBaseUrl, kCataloguePath);
    QString error;
    const std::optional<QByteArray> body = download(url, kCatalogueMaxBytes, &error);
    if (!body) {
        log(QStringLiteral("catalogue: %1: %2").arg(url, error));
        return CatalogueOutcome::failed;
    }
    Catalogue catalogue = parseCatalogue(*body);
    for (const QString& problem : catalogue.problems) {
        log(QStringLiteral("catalogue: ") + problem);
    }
    stations = std::move(catalogue.stations);
    if (!catalogue.readable) {
        return CatalogueOutcome::unreadable;
    }
    return stations.isEmpty() ? CatalogueOutcome::empty : CatalogueOutcome::loaded;
}

bool OrventoViewController::shouldAutorotateToInterfaceOrientation(int orientation) const {
    return orientation == kPortraitOrientation;
}

void OrventoViewController::log(const QString& text) const {
    writeLogLine(services_.log, text.toStdString());
}

void OrventoViewController::setStatusText(const QString& text) {
    statusLabel->setText(text);
}

// ---- Play/stop button and play state

void OrventoViewController::buttonPressed() {
    const QString text = textField->text();
    log(QStringLiteral("txt:") + text);

    std::shared_ptr<Pelorin> current;
    {
        std::lock_guard lock(streamerMutex_);
        current = streamer;
        if (current) {
            streamerNotes_.stopRequested = true;
        }
    }
    if (current) {
        // The image changes only when the player reports that it stopped.
        button->removeAllAnimations();
        setPlayState(PlayState::Stopping);
        current->stop();
        return;
    }

    CFURLRef url = Url::fromString(percentEscapeUrlText(text.toStdString()));
    const bool hadUrl = url != nullptr;
    std::shared_ptr<Pelorin> player = Pelorin::initWithURL(std::move(url), services_.engine);
    {
        std::lock_guard lock(streamerMutex_);
        streamer = player;
        streamerNotes_ = PlayerEnding{};
        streamerNotes_.text = text;
        streamerNotes_.hadUrl = hadUrl;
    }
    // Observed before it starts, so that no notification is missed.
    player->addObserver(this, kIsPlayingKeyPath);
    player->addObserver(this, kHasEndedKeyPath);
    player->start();
    setButtonImage(QLatin1String(kLoadingImage));
    spinButton();
    setStatusText(connectingText());
    setPlayState(PlayState::Loading);
}

void OrventoViewController::setPlayState(PlayState state) {
    if (playState_ != state) {
        playState_ = state;
        emit playStateChanged(state);
    }
}

bool OrventoViewController::holdsPlayer(const Pelorin* player) const {
    std::lock_guard lock(streamerMutex_);
    return streamer.get() == player;
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
    if (pickerDataSource_ == nullptr) {
        pickerDataSource_ = new StationPickerModel(*this, *picker());
    }
    if (picker()->model() != pickerDataSource_) {
        picker()->setModel(pickerDataSource_);
    }
    connect(picker(), &QAbstractItemView::clicked, this, &OrventoViewController::pickerRowChosen,
            Qt::UniqueConnection);

    picker()->setHidden(!picker()->isHidden());
    if (!picker()->isHidden()) {
        // Opens at the station in the fields, ready for the keyboard.
        const QModelIndex current = pickerDataSource_->index(static_cast<int>(chosenRow_), 0);
        picker()->setCurrentIndex(current);
        picker()->scrollTo(current);
        picker()->setFocus(Qt::OtherFocusReason);
    }
    log(QStringLiteral("count;%1").arg(tableData1().size()));
}

int OrventoViewController::numberOfComponentsInPickerView(QListView* /*picker*/) const {
    return 1;
}

qsizetype OrventoViewController::pickerViewNumberOfRowsInComponent(QListView* /*picker*/,
                                                                   int /*component*/) const {
    return tableData1().size();
}

QString OrventoViewController::pickerViewTitleForRow(QListView* /*picker*/, qsizetype row,
                                                     int /*component*/) const {
    return tableData1().value(row);
}

void OrventoViewController::pickerViewDidSelectRow(QListView* picker, qsizetype row,
                                                   int /*component*/) {
    log(QStringLiteral("ppp;%1").arg(row));
    if (row < 0 || row >= tableData1().size()) {
        return;
    }
    chosenRow_ = row;
    textField->setText(tableData2().at(row));
    textField->setCursorPosition(0);
    myTextField2()->setText(tableData1().at(row));
    myTextField2()->setCursorPosition(0);
    if (picker != nullptr) {
        const bool hadFocus = picker->hasFocus();
        picker->setHidden(!picker->isHidden());
        // The next step is most likely play.
        if (hadFocus) {
            button->setFocus(Qt::OtherFocusReason);
        }
    }
}

void OrventoViewController::pickerRowChosen(const QModelIndex& index) {
    pickerViewDidSelectRow(picker(), index.row(), 0);
}

bool OrventoViewController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == picker() && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && picker()->currentIndex().isValid()) {
            pickerRowChosen(picker()->currentIndex());
            return true;
        }
        if (key == Qt::Key_Escape) {
            picker()->setHidden(true);
            selectButton->setFocus(Qt::OtherFocusReason);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---- Weather panel

void OrventoViewController::ikiyegec() {
    std::optional<QByteArray> metarBytes;
    std::optional<QByteArray> tafBytes;
    if (!services_.weatherBaseUrl.isEmpty()) {
        metarBytes = download(joined(services_.weatherBaseUrl, kMetarPath), kWeatherMaxBytes);
        tafBytes = download(joined(services_.weatherBaseUrl, kTafPath), kWeatherMaxBytes);
    }
    // Words wrap, and the label takes as many lines as the text needs.
    metar->setWordWrap(true);
    metar->setText(weatherPanelText(decodeUtf8(metarBytes), decodeUtf8(tafBytes)));
}

void OrventoViewController::connectionDidReceiveResponse(QObject* /*connection*/) {
    if (receivedData_) {
        receivedData_->clear();
    }
}

void OrventoViewController::connectionDidReceiveData(QObject* /*connection*/,
                                                     const QByteArray& data) {
    if (receivedData_) {
        receivedData_->append(data);
    }
}

void OrventoViewController::connectionDidFinishLoading(QObject* connection) {
    const QByteArray bytes = receivedData_ ? *receivedData_ : QByteArray();
    log(QStringLiteral("Succeeded! Received %1 bytes of data")
            .arg(static_cast<qint32>(bytes.size())));
    // As ASCII: bytes outside it leave the text empty.
    const bool ascii = std::all_of(bytes.begin(), bytes.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    log(QStringLiteral("finalResponse;") + (ascii ? QString::fromLatin1(bytes) : QString()));
    receivedData_.reset();
    if (connection != nullptr) {
        connection->deleteLater();
    }
}

void OrventoViewController::connectionDidFailWithError(QObject* connection,
                                                       const QString& description,
                                                       const QString& failingUrl) {
    if (connection != nullptr) {
        connection->deleteLater();
    }
    receivedData_.reset();
    log(QStringLiteral("Connection failed! Error - %1 %2").arg(description, failingUrl));
}

void OrventoViewController::observeValueForKeyPath(std::string_view keyPath, Pelorin& object) {
    {
        std::lock_guard lock(streamerMutex_);
        if (closing_) {
            return;
        }
        ++notificationsRunning_;
    }
    if (keyPath == kHasEndedKeyPath) {
        // Only a player that never reported "not playing" is still held here.
        playerEnded(object);
    } else if (keyPath == kIsPlayingKeyPath) {
        if (object.isPlaying()) {
            playerPlays(object);
        } else {
            playerEnded(object);
        }
    }
    {
        std::lock_guard lock(streamerMutex_);
        --notificationsRunning_;
    }
    notificationsDone_.notify_all();
}

void OrventoViewController::playerPlays(Pelorin& object) {
    {
        std::lock_guard lock(streamerMutex_);
        if (streamer.get() != &object) {
            return;
        }
        streamerNotes_.reportedPlaying = true;
    }
    postToMainThread(this, [this, player = &object] {
        setButtonImage(QLatin1String(kStopImage));
        setStatusText(playingText());
        // Not for a player that has ended (or been replaced) since it posted.
        if (holdsPlayer(player)) {
            setPlayState(PlayState::Playing);
        }
    });
    startTimer();
}

void OrventoViewController::playerEnded(Pelorin& object) {
    std::shared_ptr<Pelorin> player;
    PlayerEnding ending;
    {
        std::lock_guard lock(streamerMutex_);
        if (streamer.get() != &object) {
            return;
        }
        player = std::move(streamer);
        ending = std::move(streamerNotes_);
    }
    // Empty after a user's stop; otherwise why the player failed or could not start.
    ending.cause = object.failureReason();
    player->removeObserver(this, kIsPlayingKeyPath);
    player->removeObserver(this, kHasEndedKeyPath);
    // The player's worker keeps its own reference until its last step.
    player.reset();
    const QString status = endingText(ending);
    postToMainThread(this, [this, status] {
        setButtonImage(QLatin1String(kPlayImage));
        setStatusText(status);
        // Not when a press has started the next player since.
        if (holdsPlayer(nullptr)) {
            setPlayState(PlayState::Idle);
        }
    });
    stopTimer();
}

// ---- Listening time

void OrventoViewController::startTimer() {
    postToMainThread(this, [this] { startTickTimer(); });
}

void OrventoViewController::stopTimer() {
    postToMainThread(this, [this] { stopTickTimer(); });
}

void OrventoViewController::startTickTimer() {
    if (_timer) {
        return;
    }
    ticksCountedUntil_ = std::chrono::steady_clock::now();
    _timer = std::make_unique<QTimer>();
    _timer->setInterval(kTickInterval);
    connect(_timer.get(), &QTimer::timeout, this, &OrventoViewController::timerTick);
    _timer->start();
}

void OrventoViewController::stopTickTimer() {
    if (!_timer) {
        return;
    }
    _timer.reset();
    addListeningTime();
    showListeningTime();
}

void OrventoViewController::timerTick() {
    addListeningTime();
    showListeningTime();
}

void OrventoViewController::addListeningTime() {
    // Real time on a monotonic clock: a busy main thread delays the label,
    // never the count.
    const auto now = std::chrono::steady_clock::now();
    _ticks += std::chrono::duration<double>(now - ticksCountedUntil_).count();
    ticksCountedUntil_ = now;
}

void OrventoViewController::showListeningTime() {
    QLabel* label = timerLabel();
    if (label == nullptr) {
        return;
    }
    const QString text = elapsedTimeText(_ticks);
    if (label->text() != text) {
        label->setText(text);
    }
}

void OrventoViewController::startTimerAdMob() {
    const auto make = [this](std::unique_ptr<QTimer>& field, std::chrono::seconds interval,
                             bool repeats, void (OrventoViewController::*action)()) {
        if (field) {
            return;
        }
        field = std::make_unique<QTimer>();
        field->setInterval(interval);
        field->setSingleShot(!repeats);
        connect(field.get(), &QTimer::timeout, this, action);
        field->start();
    };
    make(_timer0, kTimer0Interval, false, &OrventoViewController::timerTickA0);
    make(_timer2, kTimer2Interval, true, &OrventoViewController::timerTickA2);
    make(_timer3, kTimer3Interval, true, &OrventoViewController::timerTickA3);
}

void OrventoViewController::timerTickA0() {}

void OrventoViewController::timerTickA2() {
    log(QStringLiteral("timer2"));
}

void OrventoViewController::timerTickA3() {}

}  // namespace orvento
