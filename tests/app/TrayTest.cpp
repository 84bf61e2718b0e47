// The tray and the desktop notifications of the real window (in process, on
// an X server: Qt's tray speaks to a StatusNotifierWatcher there), against a
// stand-in tray host and notification server on a private session bus: the
// icon registered, closing the window with "Keep playing when the window is
// closed" off and on, a favourite played from the tray's menu, notices on
// the desktop (a station back after a long drop, through the application's
// own wiring of its rules to the desktop) and a server that goes away; the
// sleep timer through the switches to another station, which keep it, and
// the stops, which cancel it.
#include <QApplication>
#include <QDir>
#include <QMainWindow>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include "app/DesktopNotices.h"
#include "app/DesktopNotifier.h"
#include "app/MprisService.h"
#include "app/OrventoAppDelegate.h"
#include "app/TrayIcon.h"
#include "tests/controller/ControllerHarness.h"

namespace orvento::test {
namespace {

using State = PlaybackController::PlayState;

// The stand-in desktop, for as long as the object lives; its lines as they come.
class StandIn {
  public:
    explicit StandIn(const QStringList& services) {
        process_.start(QStringLiteral(ORVENTO_DESKTOP_STAND_IN_PATH), services);
        ready_ =
            QTest::qWaitFor([this] { return lines().contains(QStringLiteral("ready")); }, 10000);
    }
    ~StandIn() { stop(); }
    bool ready() const { return ready_; }
    QStringList lines() {
        text_ += QString::fromUtf8(process_.readAllStandardOutput());
        return text_.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    QStringList linesStartingWith(const QString& word) {
        return lines().filter(QRegularExpression(QLatin1Char('^') + word + QLatin1Char('\t')));
    }
    void stop() {
        process_.kill();
        process_.waitForFinished(5000);
    }

  private:
    QProcess process_;
    QString text_;
    bool ready_ = false;
};

struct App {
    App()
        : settings(Settings::temporary()), mixer(std::make_shared<Mixer>([] {
              AudioOutputChoice output;
              output.kind = AudioOutputChoice::Kind::Null;
              return output;
          }())) {
        ScreenServices services;
        services.settings = settings;
        services.log = log;
        delegate = std::make_unique<OrventoAppDelegate>(PelorinServices{}, services, mixer);
        delegate->applicationDidFinishLaunching();
        tray = std::make_unique<TrayIcon>(*delegate, log);
    }
    ~App() {
        tray.reset();
        delegate.reset();
    }
    QStringList logLines() const {
        std::lock_guard lock(*mutex);
        return *lines;
    }

    std::shared_ptr<std::mutex> mutex = std::make_shared<std::mutex>();
    std::shared_ptr<QStringList> lines = std::make_shared<QStringList>();
    const LogSink log = [mutex = mutex, lines = lines](std::string_view line) {
        std::lock_guard lock(*mutex);
        lines->append(QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
    };
    std::shared_ptr<Settings> settings;
    std::shared_ptr<Mixer> mixer;
    std::unique_ptr<OrventoAppDelegate> delegate;
    std::unique_ptr<TrayIcon> tray;
};

}  // namespace

class TrayTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void closingTheWindow_data();
    void closingTheWindow();
    void trayMenuPlaysAFavourite();
    void sleepTimerThroughSwitchesAndStops_data();
    void sleepTimerThroughSwitchesAndStops();
    void stationBackOnTheDesktop_data();
    void stationBackOnTheDesktop();
    void noticesReachTheDesktop();

  private:
    std::unique_ptr<StandIn> desktop_;
    loopback::LoopbackServer server_;
};

void TrayTest::initTestCase() {
    desktop_ = std::make_unique<StandIn>(
        QStringList{QStringLiteral("--watcher"), QStringLiteral("--notifications")});
    QVERIFY2(desktop_->ready(), "the stand-in desktop did not start");
    server_.setScript("/live.mp3", liveStation());
    server_.setScript("/approach.mp3", liveStation());
}

void TrayTest::closingTheWindow_data() {
    QTest::addColumn<bool>("keepPlaying");
    QTest::newRow("off: closing ends the application") << false;
    QTest::newRow("on: the window hides, the station plays on") << true;
}

void TrayTest::closingTheWindow() {
    QFETCH(bool, keepPlaying);
    App app;
    // The icon is in the tray: the stand-in host was told of it.
    QVERIFY(app.tray->shown());
    QTRY_VERIFY_WITH_TIMEOUT(!desktop_->linesStartingWith(QStringLiteral("item")).isEmpty(), 10000);
    app.settings->setKeepPlayingWhenClosed(keepPlaying);
    QMainWindow& window = *app.delegate->window();
    PlaybackController& station = app.delegate->controller();
    station.setAddressText(QString::fromStdString(server_.url("/live.mp3")));
    station.press();
    QTRY_COMPARE_WITH_TIMEOUT(station.playState(), State::Playing, 15000);
    QCOMPARE(
        app.tray->look() == TrayIcon::Look::playing || app.tray->look() == TrayIcon::Look::onAir,
        true);
    QSignalSpy ending(app.tray.get(), &TrayIcon::ending);
    window.close();
    QVERIFY(!window.isVisible());
    QCOMPARE(ending.size(), keepPlaying ? 0 : 1);
    QCOMPARE(station.playState(), State::Playing);
    if (keepPlaying) {
        QCOMPARE(app.logLines().filter(QStringLiteral("playing on in the tray")).size(), 1);
        // The tray brings it back; Quit ends it for good.
        app.tray->openAction()->trigger();
        QVERIFY(window.isVisible());
        app.tray->quitAction()->trigger();
        QVERIFY(!window.isVisible());
        QCOMPARE(ending.size(), 1);
    }
    station.press();
    QTRY_COMPARE_WITH_TIMEOUT(station.playState(), State::Idle, 5000);
}

void TrayTest::trayMenuPlaysAFavourite() {
    App app;
    const Station tower{QStringLiteral("Tower & Ground"),
                        QString::fromStdString(server_.url("/live.mp3"))};
    app.settings->setFavourites({tower});
    PlaybackController& station = app.delegate->controller();
    QCOMPARE(app.tray->playAction()->isEnabled(), station.canPlay());
    emit app.tray->favouritesMenu()->aboutToShow();
    const QList<QAction*> favourites = app.tray->favouritesMenu()->actions();
    QCOMPARE(favourites.size(), 1);
    QCOMPARE(favourites.front()->text(), QStringLiteral("Tower && Ground"));
    favourites.front()->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(station.playState(), State::Playing, 15000);
    QCOMPARE(station.stationOn(), tower);
    QVERIFY2(app.tray->toolTip().contains(tower.name), qPrintable(app.tray->toolTip()));
    QCOMPARE(app.tray->playAction()->text(), QStringLiteral("S&top"));
    // The tray's sleep timer is the window's.
    app.tray->sleepMenu()->actions().at(2)->trigger();
    QCOMPARE(app.delegate->sleepTimer().minutes(), 30);
    QVERIFY2(app.tray->toolTip().contains(QStringLiteral("Sleep in 30:00")),
             qPrintable(app.tray->toolTip()));

    // For review: the tray's menu.
    const QString folder = qEnvironmentVariable("ORVENTO_BINARY_DIR") + "/screenshots";
    QVERIFY(QDir().mkpath(folder));
    emit app.tray->recentMenu()->aboutToShow();
    app.tray->menu()->adjustSize();
    QVERIFY(app.tray->menu()->grab().save(folder + QStringLiteral("/tray-menu.png")));
    app.tray->favouritesMenu()->adjustSize();
    QVERIFY(app.tray->favouritesMenu()->grab().save(folder + "/tray-favourites.png"));

    app.tray->playAction()->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(station.playState(), State::Idle, 5000);
    QVERIFY(!app.delegate->sleepTimer().active());
}

void TrayTest::sleepTimerThroughSwitchesAndStops_data() {
    // What the listener does, one step after the other, while the timer runs.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<bool>("kept");
    QTest::newRow("a favourite from the tray: a switch") << QStringList{"favourite"} << true;
    QTest::newRow("a recent station from the tray: a switch") << QStringList{"recent"} << true;
    QTest::newRow("an address opened: a switch") << QStringList{"open"} << true;
    QTest::newRow("the play/stop button: a stop") << QStringList{"button"} << false;
    QTest::newRow("MPRIS Stop: a stop") << QStringList{"mpris"} << false;
    QTest::newRow("the tray's Stop: a stop") << QStringList{"tray"} << false;
    QTest::newRow("Off") << QStringList{"off"} << false;
    QTest::newRow("a switch, then the play/stop button")
        << QStringList{"favourite", "button"} << false;
}

void TrayTest::sleepTimerThroughSwitchesAndStops() {
    QFETCH(QStringList, steps);
    QFETCH(bool, kept);
    App app;
    PlaybackController& station = app.delegate->controller();
    SleepTimer& timer = app.delegate->sleepTimer();
    MprisService mpris(station);
    const Station tower{QStringLiteral("Tower"), QString::fromStdString(server_.url("/live.mp3"))};
    const Station approach{QStringLiteral("Approach"),
                           QString::fromStdString(server_.url("/approach.mp3"))};
    app.settings->setFavourites({approach});
    // A recent station is one played before.
    station.chooseStation(approach);
    station.press();
    QTRY_COMPARE_WITH_TIMEOUT(station.playState(), State::Playing, 15000);
    station.press();
    QTRY_COMPARE_WITH_TIMEOUT(station.playState(), State::Idle, 5000);
    station.chooseStation(tower);
    station.press();
    QTRY_COMPARE_WITH_TIMEOUT(station.playState(), State::Playing, 15000);
    timer.start(std::chrono::minutes(60));
    const auto chooseFrom = [&](QMenu* menu) {
        emit menu->aboutToShow();
        for (QAction* action : menu->actions()) {
            if (action->text() == approach.name) {
                action->trigger();
                return true;
            }
        }
        return false;
    };
    for (const QString& step : steps) {
        if (step == "favourite") {
            QVERIFY(chooseFrom(app.tray->favouritesMenu()));
        } else if (step == "recent") {
            QVERIFY(chooseFrom(app.tray->recentMenu()));
        } else if (step == "open") {
            app.delegate->opener().open(approach.url);
        } else if (step == "button") {
            app.delegate->viewController()->buttonPressed();
        } else if (step == "mpris") {
            mpris.stop();
        } else if (step == "tray") {
            app.tray->playAction()->trigger();
        } else {
            app.tray->sleepMenu()->actions().at(0)->trigger();
        }
        if (step == "favourite" || step == "recent" || step == "open") {
            // The other station plays, and the timer runs on.
            QTRY_COMPARE_WITH_TIMEOUT(station.stationOn().url, approach.url, 15000);
            QTRY_COMPARE_WITH_TIMEOUT(station.playState(), State::Playing, 15000);
            QVERIFY(timer.active());
            QCOMPARE(timer.minutes(), 60);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(station.playState(),
                                      step == "off" ? State::Playing : State::Idle, 5000);
        }
    }
    QCOMPARE(timer.active(), kept);
    if (station.playState() != State::Idle) {
        station.press();
        QTRY_COMPARE_WITH_TIMEOUT(station.playState(), State::Idle, 5000);
    }
    QVERIFY(!timer.active());
}

void TrayTest::stationBackOnTheDesktop_data() {
    QTest::addColumn<int>("silent");  // seconds without audio in the first drop
    QTest::addColumn<bool>("kindOn");
    QTest::addColumn<int>("notices");
    QTest::newRow("back after 31 s: one notice") << 31 << true << 1;
    QTest::newRow("back after 29 s: none") << 29 << true << 0;
    QTest::newRow("the kind turned off: none") << 31 << false << 0;
}

void TrayTest::stationBackOnTheDesktop() {
    QFETCH(int, silent);
    QFETCH(bool, kindOn);
    QFETCH(int, notices);
    App app;
    app.settings->setNotifies(Settings::kNotifyStationBackKey, kindOn);
    DesktopNotices desktop(*app.delegate, app.log);
    NoticeRules::Clock::time_point now = NoticeRules::Clock::now();
    desktop.rules().setClock([&now] { return now; });
    QMainWindow& window = *app.delegate->window();
    window.hide();
    QTRY_VERIFY_WITH_TIMEOUT(!window.isActiveWindow(), 5000);
    // A station that closes after a second of audio, twice, then plays on;
    // the first drop lasts `silent`.
    server_.setScript("/drops.mp3", droppingStation(4000, 2));
    PlaybackController& station = app.delegate->controller();
    station.chooseStation(
        {QStringLiteral("Tower"), QString::fromStdString(server_.url("/drops.mp3"))});
    int dropped = 0;
    int back = 0;
    connect(&station, &PlaybackController::reconnectingChanged, this, [&](bool on) {
        if (on && dropped++ == 0) {
            now += std::chrono::seconds(silent);
        }
        back += on ? 0 : 1;
    });
    const qsizetype before = desktop_->linesStartingWith(QStringLiteral("notify")).size();
    station.press();
    QTRY_COMPARE_WITH_TIMEOUT(station.playState(), State::Playing, 15000);
    QVERIFY(QTest::qWaitFor([&] { return back >= 2; }, 30000));
    QTRY_VERIFY(!station.reconnecting());
    station.press();
    QTRY_COMPARE_WITH_TIMEOUT(station.playState(), State::Idle, 5000);
    // A last notice through the same notifier: the server has every earlier
    // one once it has this.
    desktop.notifier().notify(QStringLiteral("end of the row"), {});
    QTRY_VERIFY_WITH_TIMEOUT(desktop_->linesStartingWith(QStringLiteral("notify"))
                                     .mid(before)
                                     .filter(QStringLiteral("end of the row"))
                                     .size() == 1,
                             10000);
    const QStringList told = desktop_->linesStartingWith(QStringLiteral("notify"))
                                 .mid(before)
                                 .filter(QStringLiteral("Tower"));
    QCOMPARE(told.size(), notices);
    if (notices > 0) {
        QVERIFY2(told.front().startsWith(QStringLiteral("notify\tOrvento\torg.orvento.Orvento\t"
                                                        "Tower is back\tThe station plays again "
                                                        "after %1 s without audio.")
                                             .arg(silent)),
                 qPrintable(told.front()));
    }
}

void TrayTest::noticesReachTheDesktop() {
    QStringList logged;
    DesktopNotifier notifier([&logged](std::string_view line) {
        logged.append(QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
    });
    const qsizetype before = desktop_->linesStartingWith(QStringLiteral("notify")).size();
    notifier.notify(QStringLiteral("Tower <b> is back"),
                    QStringLiteral("Tower <b> & co. plays again after 31 s without audio."));
    QTRY_COMPARE_WITH_TIMEOUT(desktop_->linesStartingWith(QStringLiteral("notify")).size(),
                              before + 1, 5000);
    // Plain text to a server that reads none in the body.
    QCOMPARE(desktop_->linesStartingWith(QStringLiteral("notify")).last(),
             QStringLiteral("notify\tOrvento\torg.orvento.Orvento\tTower <b> is back\t"
                            "Tower <b> & co. plays again after 31 s without audio."));
    QVERIFY(logged.isEmpty());
    // The server goes away: one line, however many notices follow.
    desktop_->stop();
    for (int i = 1; i <= 3; ++i) {
        notifier.notify(QStringLiteral("Tower stopped"), QStringLiteral("Playback ended."));
        QTRY_COMPARE_WITH_TIMEOUT(notifier.failures(), i, 10000);
    }
    QCOMPARE(logged.size(), 1);
    QVERIFY2(logged.front().startsWith(QStringLiteral("no desktop notifications: ")),
             qPrintable(logged.front()));
}

}  // namespace orvento::test

QTEST_MAIN(orvento::test::TrayTest)
#include "TrayTest.moc"
