#include "screen/OrventoViewController.h"

#include <QCoreApplication>
#include <string>
#include <utility>

#include "engine/UrlEscaping.h"
#include "screen/MainThread.h"

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

}  // namespace

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
    if (!services_.initialStreamText.isEmpty()) {
        textField->setText(services_.initialStreamText);
        // A long URL shows its beginning, the scheme and host.
        textField->setCursorPosition(0);
    }
    picker()->setHidden(true);
    setButtonImage(QLatin1String(kPlayImage));
    setStatusText(readyText());
}

bool OrventoViewController::shouldAutorotateToInterfaceOrientation(int orientation) const {
    return orientation == kPortraitOrientation;
}

void OrventoViewController::log(const QString& text) const {
    const std::string line = text.toStdString();
    if (services_.log) {
        services_.log(line);
    } else {
        writeLogLine(line);
    }
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
