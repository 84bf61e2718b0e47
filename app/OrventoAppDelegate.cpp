#include "app/OrventoAppDelegate.h"

#include <QAction>
#include <QDropEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QMimeData>
#include <QScreen>
#include <algorithm>

#include "app/ApplicationId.h"

namespace orvento {
namespace {

constexpr int kWindowMargin = 48;  // kept free of the screen's available height

// The address a drop carries: its first URL (a file as a file: URL), or its
// text's first line.
QString droppedAddress(const QMimeData* data) {
    if (data == nullptr) {
        return {};
    }
    if (data->hasUrls() && !data->urls().isEmpty()) {
        return data->urls().constFirst().toString();
    }
    return data->hasText() ? data->text().section(QLatin1Char('\n'), 0, 0).trimmed() : QString();
}

// Drops on the window, opened.
class WindowDrops : public QObject {
  public:
    WindowDrops(AddressOpener& opener, QObject* parent) : QObject(parent), opener_(opener) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
            case QEvent::DragEnter:
            case QEvent::DragMove: {
                auto* drag = static_cast<QDropEvent*>(event);
                if (!droppedAddress(drag->mimeData()).isEmpty()) {
                    drag->acceptProposedAction();
                    return true;
                }
                break;
            }
            case QEvent::Drop: {
                auto* drop = static_cast<QDropEvent*>(event);
                if (const QString address = droppedAddress(drop->mimeData()); !address.isEmpty()) {
                    drop->acceptProposedAction();
                    opener_.open(address);
                    return true;
                }
                break;
            }
            default:
                break;
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    AddressOpener& opener_;
};

}  // namespace

OrventoAppDelegate::OrventoAppDelegate(PelorinServices engine, ScreenServices services,
                                       std::shared_ptr<Mixer> mixer,
                                       std::shared_ptr<std::atomic<bool>> liveMute)
    : mixer_(std::move(mixer)),
      stationChannel_(mixer_ ? std::make_unique<MixerChannel>(
                                   *mixer_, ChannelControls{},
                                   engine.platform ? engine.platform->logSink() : LogSink{},
                                   std::move(liveMute))
                             : nullptr),
      controller_(std::make_unique<PlaybackController>(engine, services.log)) {
    if (stationChannel_) {
        // The station's light is its transmissions list's; the mixer's
        // judgement of it would go unread.
        stationChannel_->setJudged(false);
        controller_->setPlatformSource([this] { return stationChannel_->nextPlatform(); });
        if (!services.settings) {
            services.settings = Settings::temporary();
        }
        monitor_ =
            std::make_unique<MonitorController>(*mixer_, engine, services.log, services.settings);
        services.monitor = monitor_.get();
    }
    sleepTimer_ = std::make_unique<SleepTimer>(*controller_, monitor_.get());
    services.sleepTimer = sleepTimer_.get();
    if (stationChannel_) {
        QObject::connect(sleepTimer_.get(), &SleepTimer::gainChanged,
                         [this](float gain) { stationChannel_->setFade(gain); });
    }
    opener_ = std::make_unique<AddressOpener>(*controller_, services.log);
    auto window = std::make_unique<QMainWindow>();
    window->setAcceptDrops(true);
    window->installEventFilter(new WindowDrops(*opener_, window.get()));
    auto* screen =
        new OrventoViewController(*controller_, *stations_, std::move(services), window.get());
    window->setWindowTitle(screen->windowTitle());
    // The installed application icon; the play button where there is none.
    window->setWindowIcon(QIcon::fromTheme(QLatin1String(kApplicationId),
                                           QIcon(QStringLiteral(":/images/playbutton.png"))));
    // Ctrl+Q closes the window, and with it the application.
    auto* quit = new QAction(window.get());
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    QObject::connect(quit, &QAction::triggered, window.get(), &QWidget::close);
    window->addAction(quit);
    quitAction_ = quit;
    setWindow(std::move(window));
    setViewController(screen);
}

OrventoAppDelegate::~OrventoAppDelegate() {
    // The next start opens the window where and as large as it was (a window
    // never shown has neither).
    if (launched_) {
        viewController_->settings().setWindowGeometry(window_->saveGeometry());
    }
    setViewController(nullptr);
    window_.reset();
}

void OrventoAppDelegate::applicationDidFinishLaunching() {
    // A phone-shaped window at first: the layout's own size, made shorter when the
    // display is, but never below the layout's minimum.
    QSize size = viewController_->size();
    if (const QScreen* display = window_->screen(); display != nullptr) {
        const int room = display->availableGeometry().height() - kWindowMargin;
        size.setHeight(std::max(viewController_->minimumHeight(), std::min(size.height(), room)));
    }
    window_->setCentralWidget(viewController_);
    launched_ = true;
    // Where the user left it, or else phone-shaped.
    if (!window_->restoreGeometry(viewController_->settings().windowGeometry())) {
        window_->resize(size);
    }
    window_->show();
    viewController_->viewDidLoad();
    window_->activateWindow();
    viewController_->textField->setFocus(Qt::ActiveWindowFocusReason);
}

}  // namespace orvento
