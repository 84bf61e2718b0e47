// The application: its window and keyboard (in process), its size and place
// kept from one run to the next, the media keys
// through the controller, and the real `orvento` program against the local
// station site on a private session bus (ctest runs this under
// dbus-run-session), ending in order on a signal or Quit in every state.
#include <signal.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusObjectPath>
#include <QElapsedTimer>
#include <QFile>
#include <QMimeData>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include "app/MprisService.h"
#include "app/OrventoAppDelegate.h"
#include "tests/controller/ControllerHarness.h"
#include "tools/station-server/StationSite.h"

namespace orvento::test {

class AppTest : public QObject {
    Q_OBJECT

  private slots:
    void windowAndKeyboard();
    void windowComesBackAsItWasClosed();
    void mediaKeysFollowTheController();
    void theProgramEndsInOrder_data();
    void theProgramEndsInOrder();
    void theProgramAsksThePublicSourcesByDefault();
    void aSecondStartRaisesTheFirst();
    void withoutASessionBusItRunsAlone();
    void theProgramPlaysWhatItIsHanded();
    void dropsOnTheWindowAreOpened();
};

namespace {

// `app` set up to start the real program against `servers`, with settings of
// its own in `config`.
void prepare(QProcess& app, const QString& servers, const QTemporaryDir& config,
             const QString& busAddress = {}) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    environment.insert(QStringLiteral("ORVENTO_CATALOGUE_URL"), servers);
    environment.insert(QStringLiteral("ORVENTO_WEATHER_URL"), servers);
    // The directory of the same servers, and a cache of its own.
    environment.insert(QStringLiteral("ORVENTO_DIRECTORY_URL"), servers);
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), config.filePath(QStringLiteral("cache")));
    if (!busAddress.isEmpty()) {
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
    }
    app.setProcessEnvironment(environment);
}

}  // namespace

void AppTest::windowAndKeyboard() {
    // Servers that never answer: set-up is still under way throughout.
    const loopback::UnansweredPort unanswered;
    ScreenServices services;
    services.catalogueBaseUrl = services.weatherBaseUrl =
        QString::fromStdString(unanswered.url(""));
    auto delegate = std::make_unique<OrventoAppDelegate>(PelorinServices{}, services);
    delegate->applicationDidFinishLaunching();
    QMainWindow& window = *delegate->window();
    OrventoViewController& screen = *delegate->viewController();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QCOMPARE(window.windowTitle(), QStringLiteral("Orvento"));
    QVERIFY(!window.windowIcon().isNull());
    QVERIFY(window.height() > window.width() * 3 / 2);

    // The URL field has the focus; Tab reaches every control, the button first.
    QList<QWidget*> expected;
    for (QWidget* widget : screen.findChildren<QWidget*>()) {
        // A widget with a focus proxy (a tab widget) is reached through it.
        if (widget->isVisible() && widget->isEnabled() && (widget->focusPolicy() & Qt::TabFocus) &&
            widget->focusProxy() == nullptr) {
            expected.append(widget);
        }
    }
    QList<QWidget*> reached{QApplication::focusWidget()};
    while (reached.size() <= expected.size()) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        reached.append(QApplication::focusWidget());
    }
    QCOMPARE(reached.first(), static_cast<QWidget*>(screen.textField));
    QCOMPARE(reached[1], static_cast<QWidget*>(screen.button));
    QCOMPARE(reached.last(), reached.first());
    for (QWidget* widget : expected) {
        QVERIFY2(reached.contains(widget), qPrintable(widget->objectName()));
    }

    // Ctrl+Q closes the window; what is left goes at once.
    QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
    QVERIFY(!window.isVisible());
    QElapsedTimer ending;
    ending.start();
    delegate.reset();
    QVERIFY2(ending.elapsed() < 1000, qPrintable(QString::number(ending.elapsed())));
}

void AppTest::windowComesBackAsItWasClosed() {
    const QTemporaryDir folder;
    const auto settings =
        std::make_shared<Settings>(folder.filePath(QStringLiteral("orvento.conf")));
    const loopback::UnansweredPort unanswered;
    // On the offscreen desktop of 800x600: short and off the corner.
    const QRect placed(24, 32, 760, 540);
    for (const bool again : {false, true}) {
        ScreenServices services;
        services.catalogueBaseUrl = services.weatherBaseUrl =
            QString::fromStdString(unanswered.url(""));
        services.settings = settings;
        auto delegate = std::make_unique<OrventoAppDelegate>(PelorinServices{}, services);
        delegate->applicationDidFinishLaunching();
        QMainWindow& window = *delegate->window();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        if (!again) {
            window.setGeometry(placed);
            QTRY_COMPARE(window.geometry(), placed);
            QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
        } else {
            QCOMPARE(window.geometry(), placed);
            QCOMPARE(delegate->viewController()->layouts().shown(), ScreenLayout::Short);
        }
    }
}

void AppTest::mediaKeysFollowTheController() {
    ControllerHarness h;
    PlaybackController& c = *h.controller;
    MprisService keys(c);
    const auto shown = [&keys](const char* key) {
        return keys.metadata().value(QLatin1String(key)).toString();
    };
    QVERIFY(!keys.canPlay());
    QCOMPARE(keys.metadata().value("mpris:trackid").value<QDBusObjectPath>().path(),
             QLatin1String(MprisService::kNoTrack));
    keys.playPause();
    keys.stop();
    QVERIFY(h.logLines().isEmpty());

    h.server.setScript("/live.mp3", liveStation());
    const QString url = h.url("/live.mp3").replace("//", "//pilot:secret@");
    const QString hidden = h.url("/live.mp3").replace("//", "//pilot:***@");
    c.chooseStation({QStringLiteral("Tower\n118.1 <b>"), url});
    QCOMPARE(shown("xesam:title"), QStringLiteral("Tower118.1 <b>"));
    QCOMPARE(shown("xesam:url"), hidden);
    c.setAddressText(url + QStringLiteral("?other"));
    QCOMPARE(shown("xesam:title"), hidden + QStringLiteral("?other"));

    c.chooseStation({QStringLiteral("Tower"), url});
    keys.play();
    // Connecting shows as playing; Play, as the button, does nothing then.
    QCOMPARE(keys.playbackStatus(), QStringLiteral("Playing"));
    keys.play();
    QTRY_VERIFY_WITH_TIMEOUT(keys.position() > 0, 15000);
    // The station on is the one pressed, whatever is selected now.
    c.setAddressText(QStringLiteral("http://elsewhere/"));
    QCOMPARE(shown("xesam:url"), hidden);
    keys.pause();
    QTRY_COMPARE_WITH_TIMEOUT(keys.playbackStatus(), QStringLiteral("Stopped"), 5000);
    QCOMPARE(keys.position(), 0);
    QCOMPARE(shown("xesam:url"), QStringLiteral("http://elsewhere/"));
    QCOMPARE(h.logLines().filter(QStringLiteral("txt:")),
             (QStringList{"txt:" + hidden, QStringLiteral("txt:http://elsewhere/")}));

    // While the monitor plays the keys act on it: Play adds nothing, Stop stops
    // it, also a feed still connecting.
    AudioOutputChoice output;
    output.kind = AudioOutputChoice::Kind::Null;
    Mixer mixer(output);
    PelorinServices engine;
    engine.workers = &h.workers;
    MonitorController monitor(mixer, engine, h.log, nullptr);
    keys.setMonitor(&monitor);
    QVERIFY(monitor.add({QStringLiteral("Tower"), h.url("/live.mp3")}));
    monitor.play();
    QCOMPARE(keys.playbackStatus(), QStringLiteral("Playing"));
    keys.play();
    QCOMPARE(h.logLines().filter(QStringLiteral("txt:")).size(), 3);
    keys.stop();
    QVERIFY(!monitor.playing());
    QTRY_COMPARE_WITH_TIMEOUT(monitor.player(0).playState(), PlaybackController::PlayState::Idle,
                              5000);
    QCOMPARE(keys.playbackStatus(), QStringLiteral("Stopped"));
}

void AppTest::theProgramEndsInOrder_data() {
    QTest::addColumn<QString>("state");  // "playing", "set-up", "idle"
    QTest::addColumn<int>("ending");     // a signal, or 0 for MPRIS Quit
    QTest::newRow("SIGTERM while playing") << "playing" << SIGTERM;
    QTest::newRow("SIGINT during a set-up nobody answers") << "set-up" << SIGINT;
    QTest::newRow("Quit during a set-up nobody answers") << "set-up" << 0;
    QTest::newRow("SIGHUP while idle") << "idle" << SIGHUP;
}

void AppTest::theProgramEndsInOrder() {
    QFETCH(QString, state);
    QFETCH(int, ending);
    const site::StationSite site({.folder = ORVENTO_STATION_SITE_DIR});
    const loopback::UnansweredPort unanswered;
    const QString servers =
        QString::fromStdString(state == "set-up" ? unanswered.url("") : site.baseUrl());
    QProcess app;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // Settings of its own, never the user's.
    const QTemporaryDir config;
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    environment.insert(QStringLiteral("ORVENTO_CATALOGUE_URL"), servers);
    environment.insert(QStringLiteral("ORVENTO_WEATHER_URL"), servers);
    // The directory of the same servers, and a cache of its own.
    environment.insert(QStringLiteral("ORVENTO_DIRECTORY_URL"), servers);
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), config.filePath(QStringLiteral("cache")));
    app.setProcessEnvironment(environment);
    app.start(QStringLiteral(ORVENTO_APP_PATH), {});
    QDBusConnection bus = QDBusConnection::sessionBus();
    QVERIFY2(bus.isConnected(), "run under dbus-run-session: no session bus");
    QTRY_VERIFY_WITH_TIMEOUT(
        bus.interface()->isServiceRegistered(QLatin1String(MprisService::kServiceName)), 15000);
    QDBusInterface root(QLatin1String(MprisService::kServiceName),
                        QLatin1String(MprisService::kObjectPath),
                        QLatin1String(MprisService::kRootInterface), bus);
    QDBusInterface player(QLatin1String(MprisService::kServiceName),
                          QLatin1String(MprisService::kObjectPath),
                          QLatin1String(MprisService::kPlayerInterface), bus);
    const QRegularExpression setUpEnded(QStringLiteral(" adi="));
    QString log;
    if (state != "set-up") {
        // Set up from the site: its first station selected, and played.
        QTRY_VERIFY_WITH_TIMEOUT(
            (log += QString::fromUtf8(app.readAllStandardError())).contains(setUpEnded), 15000);
        const auto& first = site.stations().front();
        QCOMPARE(player.property("Metadata").toMap().value("xesam:title").toString(),
                 QString::fromStdString(first.name));
    }
    if (state == "playing") {
        player.call(QStringLiteral("Play"));
        QTRY_VERIFY_WITH_TIMEOUT(player.property("Position").toLongLong() > 0, 15000);
    }
    QElapsedTimer ended;
    ended.start();
    if (ending == 0) {
        root.call(QStringLiteral("Quit"));
    } else {
        QCOMPARE(kill(static_cast<pid_t>(app.processId()), ending), 0);
    }
    QVERIFY(app.waitForFinished(5000));
    QVERIFY2(ended.elapsed() < 1000, qPrintable(QString::number(ended.elapsed())));
    QCOMPARE(app.exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.exitCode(), 0);
    log += QString::fromUtf8(app.readAllStandardError());
    QCOMPARE(log.contains(QStringLiteral(": ending")), ending != 0);
    QCOMPARE(log.contains(setUpEnded), state != "set-up");
    // The engine's own lines (an MP3 stream has no magic cookie) are log lines too.
    QCOMPARE(log.contains(QStringLiteral("] info kAudioFileStreamProperty_MagicCookieData err ")),
             state == "playing");
    QCOMPARE(app.readAllStandardOutput(), QByteArray());
}

void AppTest::theProgramPlaysWhatItIsHanded() {
    loopback::LoopbackServer server;
    server.setScript("/tower.mp3", liveStation());
    server.setScript("/approach.mp3", liveStation());
    server.setScript(
        "/ground.pls",
        loopback::Script::fixed("[playlist]\nFile1=tower.mp3\nTitle1=Ground\n", "audio/x-scpls"));
    const QTemporaryDir folder;
    const auto write = [&folder](const char* name, const std::string& text) {
        QFile file(folder.filePath(QLatin1String(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text.c_str());
    };
    write("station.pls", "[playlist]\nFile1=" + server.url("/tower.mp3") + "\nTitle1=Tower\n");
    write("other.m3u", "#EXTM3U\n#PLAYLIST:Approach\n" + server.url("/approach.mp3") + "\n");

    const loopback::UnansweredPort unanswered;
    QProcess app;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), folder.path());
    environment.insert(QStringLiteral("ORVENTO_CATALOGUE_URL"),
                       QString::fromStdString(unanswered.url("")));
    environment.insert(QStringLiteral("ORVENTO_WEATHER_URL"),
                       QString::fromStdString(unanswered.url("")));
    environment.insert(QStringLiteral("ORVENTO_DIRECTORY_URL"),
                       QString::fromStdString(unanswered.url("")));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), folder.filePath(QStringLiteral("cache")));
    app.setProcessEnvironment(environment);
    // A relative path, from the program's working folder.
    app.setWorkingDirectory(folder.path());
    app.start(QStringLiteral(ORVENTO_APP_PATH), {QStringLiteral("station.pls")});
    QDBusConnection bus = QDBusConnection::sessionBus();
    QTRY_VERIFY_WITH_TIMEOUT(
        bus.interface()->isServiceRegistered(QLatin1String(MprisService::kServiceName)), 15000);
    QDBusInterface root(QLatin1String(MprisService::kServiceName),
                        QLatin1String(MprisService::kObjectPath),
                        QLatin1String(MprisService::kRootInterface), bus);
    QDBusInterface player(QLatin1String(MprisService::kServiceName),
                          QLatin1String(MprisService::kObjectPath),
                          QLatin1String(MprisService::kPlayerInterface), bus);
    const auto title = [&player] {
        return player.property("Metadata").toMap().value("xesam:title").toString();
    };
    QTRY_VERIFY_WITH_TIMEOUT(player.property("Position").toLongLong() > 0, 15000);
    QCOMPARE(title(), QStringLiteral("Tower"));

    // A second start hands its playlist over (OpenUri) and ends at once; the
    // first window plays it.
    QProcess second;
    second.setProcessEnvironment(environment);
    second.setWorkingDirectory(folder.path());
    QElapsedTimer started;
    started.start();
    second.start(QStringLiteral(ORVENTO_APP_PATH), {QStringLiteral("other.m3u")});
    QVERIFY(second.waitForFinished(5000));
    QVERIFY2(started.elapsed() < 1000, qPrintable(QString::number(started.elapsed())));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(title(), QStringLiteral("Approach"), 15000);
    QTRY_VERIFY_WITH_TIMEOUT(player.property("Position").toLongLong() > 0, 15000);

    // OpenUri plays what it is given: here a playlist by its Content-Type.
    player.call(QStringLiteral("OpenUri"), QString::fromStdString(server.url("/ground.pls")));
    QTRY_COMPARE_WITH_TIMEOUT(title(), QStringLiteral("Ground"), 15000);
    QTRY_VERIFY_WITH_TIMEOUT(player.property("Position").toLongLong() > 0, 15000);
    QCOMPARE(player.property("PlaybackStatus").toString(), QStringLiteral("Playing"));

    // What the service says it opens is what the desktop entry declares.
    QCOMPARE(root.property("SupportedUriSchemes").toStringList(),
             (QStringList{"http", "https", "file"}));
    QFile entry(qEnvironmentVariable("ORVENTO_SOURCE_DIR") +
                QStringLiteral("/data/org.orvento.Orvento.desktop"));
    QVERIFY(entry.open(QIODevice::ReadOnly));
    const QString declared = QString::fromUtf8(entry.readAll());
    QVERIFY(declared.contains(QLatin1String("\nExec=orvento %U\n")));
    const QRegularExpression mimeLine(QStringLiteral("\nMimeType=([^\n]*);\n"));
    QCOMPARE(root.property("SupportedMimeTypes").toStringList(),
             mimeLine.match(declared).captured(1).split(QLatin1Char(';')));

    root.call(QStringLiteral("Quit"));
    QVERIFY(app.waitForFinished(5000));
    QCOMPARE(app.exitCode(), 0);
}

void AppTest::theProgramAsksThePublicSourcesByDefault() {
    // The public names, sent to one loopback stand-in with a certificate for them.
    loopback::LoopbackServer server(
        loopback::LoopbackServer::Transport::tls, 0,
        {"tgftp.nws.noaa.gov", "all.api.radio-browser.info", "de1.api.radio-browser.info"});
    server.setScript("/json/servers", loopback::Script::fixed(
                                          R"([{"ip":"1","name":"de1.api.radio-browser.info"}])"));
    server.setScript("/json/stations/bytagexact/atc",
                     loopback::Script::fixed(R"([{"stationuuid":"t1","name":"Tower",)"
                                             R"("url":"http://127.0.0.1:1/t","lastcheckok":1}])"));
    server.setScript("*", loopback::Script::fixed("[]"));
    server.setScript("/data/observations/metar/stations/LTBA.TXT",
                     loopback::Script::fixed("2024/05/14 12:20\nLTBA 141220Z 34012KT 9999\n"));
    server.setScript("/data/forecasts/taf/stations/LTBA.TXT",
                     loopback::Script::fixed("2024/05/14 11:00\nTAF LTBA 141100Z\n"));
    const std::string to = ":443:127.0.0.1:" + std::to_string(server.port());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* variable :
         {"ORVENTO_CATALOGUE_URL", "ORVENTO_WEATHER_URL", "ORVENTO_DIRECTORY_URL"}) {
        environment.remove(QLatin1String(variable));
    }
    const QTemporaryDir home;
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral("cache")));
    environment.insert(
        QStringLiteral("ORVENTO_TEST_CONNECT_TO"),
        QString::fromStdString("tgftp.nws.noaa.gov" + to + ",all.api.radio-browser.info" + to +
                               ",de1.api.radio-browser.info" + to));
    environment.insert(QStringLiteral("ORVENTO_TEST_CA_FILE"),
                       QString::fromStdString(server.caFile()));
    environment.insert(QStringLiteral("no_proxy"), QStringLiteral("*"));
    QProcess app;
    app.setProcessEnvironment(environment);
    app.start(QStringLiteral(ORVENTO_APP_PATH), {});
    const auto asked = [&server](const std::string& start) {
        const std::vector<std::string> heads = server.requests();
        return std::any_of(heads.begin(), heads.end(),
                           [&start](const std::string& head) { return head.starts_with(start); });
    };
    const QString cache = home.filePath(QStringLiteral("cache/Orvento/directory.json"));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(cache), 15000);
    QTRY_VERIFY(asked("GET /data/observations/metar/stations/LTBA.TXT "));
    QTRY_VERIFY(asked("GET /data/forecasts/taf/stations/LTBA.TXT "));
    QVERIFY(asked("GET /json/servers "));
    QVERIFY(asked("GET /json/stations/bytagexact/atc?hidebroken=true"));
    QVERIFY(!asked("GET /js_kur/"));
    QCOMPARE(kill(static_cast<pid_t>(app.processId()), SIGTERM), 0);
    QVERIFY(app.waitForFinished(5000));
}

// A second start, beside a running Orvento on the same session bus: it
// raises the first's window and ends at once; the first keeps the MPRIS
// name, and no second name appears.
void AppTest::aSecondStartRaisesTheFirst() {
    const site::StationSite site({.folder = ORVENTO_STATION_SITE_DIR});
    const QString servers = QString::fromStdString(site.baseUrl());
    const QTemporaryDir config;
    QProcess first;
    prepare(first, servers, config);
    first.start(QStringLiteral(ORVENTO_APP_PATH), {});
    QDBusConnection bus = QDBusConnection::sessionBus();
    QVERIFY2(bus.isConnected(), "run under dbus-run-session: no session bus");
    const QString mpris = QLatin1String(MprisService::kServiceName);
    QTRY_VERIFY_WITH_TIMEOUT(bus.interface()->isServiceRegistered(mpris), 15000);
    QString firstLog;
    QTRY_VERIFY_WITH_TIMEOUT(
        (firstLog += QString::fromUtf8(first.readAllStandardError())).contains(" adi="), 15000);

    QProcess second;
    prepare(second, servers, config);
    QElapsedTimer started;
    started.start();
    second.start(QStringLiteral(ORVENTO_APP_PATH), {});
    QVERIFY(second.waitForFinished(5000));
    QVERIFY2(started.elapsed() < 1000, qPrintable(QString::number(started.elapsed())));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    const QString secondLog = QString::fromUtf8(second.readAllStandardError());
    QVERIFY2(secondLog.contains(QStringLiteral("session: Orvento runs already (process %1): its "
                                               "window was raised")
                                    .arg(first.processId())),
             qPrintable(secondLog));
    QVERIFY2(!secondLog.contains(" adi="), qPrintable(secondLog));
    QTRY_VERIFY_WITH_TIMEOUT((firstLog += QString::fromUtf8(first.readAllStandardError()))
                                 .contains(QStringLiteral("raise: the window comes to the front")),
                             5000);

    QCOMPARE(first.state(), QProcess::Running);
    QCOMPARE(bus.interface()->servicePid(mpris).value(), static_cast<uint>(first.processId()));
    const QStringList names = bus.interface()->registeredServiceNames().value();
    QCOMPARE(
        names.filter(QRegularExpression(QStringLiteral("^org\\.mpris\\.MediaPlayer2\\.orvento"))),
        QStringList{mpris});
    QDBusInterface(mpris, QLatin1String(MprisService::kObjectPath),
                   QLatin1String(MprisService::kRootInterface), bus)
        .call(QStringLiteral("Quit"));
    QVERIFY(first.waitForFinished(5000));
    QCOMPARE(first.exitCode(), 0);
}

// Without a session bus the program says so in one line and runs as before,
// without media keys.
void AppTest::withoutASessionBusItRunsAlone() {
    const site::StationSite site({.folder = ORVENTO_STATION_SITE_DIR});
    const QTemporaryDir config;
    const QTemporaryDir nowhere;
    QProcess app;
    prepare(app, QString::fromStdString(site.baseUrl()), config,
            "unix:path=" + nowhere.filePath(QStringLiteral("no-bus")));
    app.start(QStringLiteral(ORVENTO_APP_PATH), {});
    QString log;
    QTRY_VERIFY_WITH_TIMEOUT(
        (log += QString::fromUtf8(app.readAllStandardError())).contains(" adi="), 15000);
    QCOMPARE(app.state(), QProcess::Running);
    // One line about the bus (the screen's idle timer says its own).
    const QStringList busLines =
        log.split(QLatin1Char('\n'))
            .filter(QRegularExpression(QStringLiteral(" (session|mpris): ")));
    QCOMPARE(busLines.size(), 1);
    QVERIFY2(busLines.front().contains(QStringLiteral("session: no D-Bus session bus")),
             qPrintable(busLines.front()));
    QCOMPARE(kill(static_cast<pid_t>(app.processId()), SIGTERM), 0);
    QVERIFY(app.waitForFinished(5000));
    QCOMPARE(app.exitCode(), 0);
}

void AppTest::dropsOnTheWindowAreOpened() {
    const loopback::UnansweredPort unanswered;
    ControllerHarness h;
    h.server.setScript("/tower.mp3", liveStation());
    h.server.setScript("/tower.pls", loopback::Script::fixed("[playlist]\nFile1=tower.mp3\n"
                                                             "Title1=Dropped tower\n"));
    ScreenServices services;
    services.catalogueBaseUrl = services.weatherBaseUrl =
        QString::fromStdString(unanswered.url(""));
    PelorinServices engine;
    engine.platform = nullOutputPlatform();
    engine.workers = &h.workers;
    OrventoAppDelegate delegate(engine, services);
    delegate.applicationDidFinishLaunching();
    QMainWindow& window = *delegate.window();
    PlaybackController& c = delegate.controller();
    const auto drop = [&window](QMimeData* data) {
        const QPoint at(window.width() / 2, window.height() - 4);
        QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent dropped(QPointF(at), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window, &dropped);
        QVERIFY(dropped.isAccepted());
    };
    QMimeData link;
    link.setUrls({QUrl(h.url("/tower.pls"))});
    drop(&link);
    QTRY_VERIFY_WITH_TIMEOUT(c.heard(), 15000);
    QCOMPARE(c.stationOn().name, QStringLiteral("Dropped tower"));

    // A file that cannot be read: said, and the station plays on.
    QMimeData unreadable;
    unreadable.setUrls({QUrl::fromLocalFile(QStringLiteral("/nonexistent/orvento/station.pls"))});
    drop(&unreadable);
    QTRY_VERIFY_WITH_TIMEOUT(c.statusText().contains(QLatin1String("could not be read")), 5000);
    QCOMPARE(c.playState(), PlaybackController::PlayState::Playing);
    QCOMPARE(c.stationOn().name, QStringLiteral("Dropped tower"));
    c.press();
    QTRY_COMPARE_WITH_TIMEOUT(c.playState(), PlaybackController::PlayState::Idle, 5000);
}

}  // namespace orvento::test

QTEST_MAIN(orvento::test::AppTest)
#include "AppTest.moc"
