// The application: its window and keyboard, and the real `orvento` program
// offscreen against the local station site, driven by a test agent loaded
// into it (agent/TestAgentPlugin.cpp). (The package test runs it without a
// display.)
#include <QApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include "screen/ScreenTexts.h"
#include "tests/screen/ScreenHarness.h"
#include "tools/station-server/StationSite.h"

namespace orvento::test {
namespace {

// The program with the agent in it, on the servers given, without a session
// bus (the same answers on every machine).
struct RunningApp {
    RunningApp(const std::string& catalogueServer, const std::string& weatherServer) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const auto& [name, value] :
             {std::pair{"QT_PLUGIN_PATH", ORVENTO_AGENT_DIR},
              {"QT_QPA_GENERIC_PLUGINS", "orventotestagent"},
              {"ORVENTO_CATALOGUE_URL", catalogueServer.c_str()},
              {"ORVENTO_WEATHER_URL", weatherServer.c_str()},
              {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus"}}) {
            environment.insert(QString::fromUtf8(name), QString::fromUtf8(value));
        }
        process.setProcessEnvironment(environment);
        started.start();
        process.start(QStringLiteral(ORVENTO_APP_PATH), {});
    }
    ~RunningApp() {
        process.kill();
        process.waitForFinished();
    }
    RunningApp(const RunningApp&) = delete;
    RunningApp& operator=(const RunningApp&) = delete;

    // The agent's answer, as text; empty when none came within 10 s.
    QString ask(const QString& command) {
        process.write(command.toUtf8() + '\n');
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 10000) {
            while (process.canReadLine()) {
                const QByteArray line = process.readLine();
                if (line.startsWith("agent ")) {
                    return QJsonDocument::fromJson(line.mid(6))
                        .array()
                        .at(0)
                        .toVariant()
                        .toString();
                }
            }
            process.waitForReadyRead(100);
        }
        return {};
    }
    QString text(const char* widget) {
        return ask(QStringLiteral("get %1 text").arg(QLatin1String(widget)));
    }
    // The diagnostic lines so far, without their time, process name and id.
    QStringList log() {
        const QRegularExpression line(
            QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} orvento\[%1\] (.*)$)")
                .arg(process.processId()),
            QRegularExpression::MultilineOption);
        stderrText += QString::fromUtf8(process.readAllStandardError());
        QStringList lines;
        for (const QRegularExpressionMatch& match : line.globalMatch(stderrText)) {
            lines.append(match.captured(1));
        }
        return lines;
    }
    // Milliseconds from the start until the status line says set-up ended.
    qint64 waitForSetUp() {
        for (QString status;
             started.elapsed() < 30000 &&
             ((status = text("statusLabel")).isEmpty() || status == loadingText());) {
            QTest::qWait(20);
        }
        return started.elapsed();
    }
    // Ctrl+Q; true when the program then ends with status 0.
    bool quit() {
        ask(QStringLiteral("key textField Ctrl+Q"));
        return process.waitForFinished(15000) && process.exitStatus() == QProcess::NormalExit &&
               process.exitCode() == 0;
    }

    QProcess process;
    QElapsedTimer started;
    QString stderrText;
};

}  // namespace

class AppTest : public QObject {
    Q_OBJECT

  private slots:
    void windowAndKeyboard();
    void stationsWeatherAndPlayback();
    void catalogueServerDown_data();
    void catalogueServerDown();
};

void AppTest::windowAndKeyboard() {
    const site::StationSite site({.folder = ORVENTO_STATION_SITE_DIR});
    ScreenHarness h(nullptr, nullptr, QString::fromStdString(site.baseUrl()));
    QMainWindow& window = h.window();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QCOMPARE(window.windowTitle(), QStringLiteral("Orvento"));
    QVERIFY(!window.windowIcon().isNull());
    QVERIFY(window.height() > window.width() * 3 / 2);
    for (const int orientation : {1, 2, 3, 4}) {  // upright portrait only
        QCOMPARE(h.screen().shouldAutorotateToInterfaceOrientation(orientation), orientation == 1);
    }

    // The URL field has the focus; Tab reaches every control, the button first.
    QList<QWidget*> expected;
    for (QWidget* widget : h.screen().findChildren<QWidget*>()) {
        if (widget->isVisible() && widget->isEnabled() && (widget->focusPolicy() & Qt::TabFocus)) {
            expected.append(widget);
        }
    }
    QList<QWidget*> reached{QApplication::focusWidget()};
    while (reached.size() <= expected.size()) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        reached.append(QApplication::focusWidget());
    }
    QCOMPARE(reached.first(), static_cast<QWidget*>(h.screen().textField));
    QCOMPARE(reached[1], static_cast<QWidget*>(h.screen().button));
    QCOMPARE(reached.last(), reached.first());
    for (QWidget* widget : expected) {
        QVERIFY2(reached.contains(widget), qPrintable(widget->objectName()));
    }
}

void AppTest::stationsWeatherAndPlayback() {
    const site::StationSite site({.folder = ORVENTO_STATION_SITE_DIR});
    const auto& stations = site.stations();
    RunningApp app(site.baseUrl(), site.baseUrl());
    app.waitForSetUp();

    QStringList adi;
    for (const site::SiteStation& station : stations) {
        adi.append(QString::fromStdString("adi=" + station.name + ",url=" + station.url));
    }
    const QStringList log = app.log();
    QCOMPARE(log.filter(QRegularExpression(QStringLiteral("^adi="))), adi);
    // Without a session bus: one line each for the media keys and the idle timer.
    for (const char* line :
         {"^mpris: no D-Bus session bus", "^screen not kept awake: no session bus"}) {
        QCOMPARE(log.filter(QRegularExpression(QLatin1String(line))).size(), 1);
    }
    QCOMPARE(app.text("textField"), QString::fromStdString(stations[0].url));
    QCOMPARE(app.text("myTextField2"), QString::fromStdString(stations[0].name));
    QCOMPARE(app.text("metar"),
             QString::fromStdString("METAR:\n" + site.metar() + "\nTAF:\n" + site.taf()));
    QCOMPARE(app.text("statusLabel"), readyText());

    // Return plays the first station; the listening time runs while audio plays.
    app.ask(QStringLiteral("key textField Return"));
    QTRY_COMPARE_WITH_TIMEOUT(app.text("statusLabel"), playingText(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(app.text("timerLabel"), QStringLiteral("00:00:02"), 10000);

    // Picking another station while one plays changes only the fields.
    app.ask(QStringLiteral("key selectButton Space"));
    app.ask(QStringLiteral("key picker Down"));
    app.ask(QStringLiteral("key picker Return"));
    QCOMPARE(app.text("textField"), QString::fromStdString(stations[1].url));
    QCOMPARE(app.text("statusLabel"), playingText());
    // The next press stops, the one after plays the AAC station picked.
    app.ask(QStringLiteral("key button Space"));
    QTRY_COMPARE_WITH_TIMEOUT(app.ask(QStringLiteral("get button accessibleName")),
                              QStringLiteral("Play"), 10000);
    // The stopped player closes its sound device up to a poll interval after
    // it reported; SDL's dummy driver has only one device.
    QTest::qWait(1000);
    app.ask(QStringLiteral("key button Space"));
    QTRY_COMPARE_WITH_TIMEOUT(app.text("statusLabel"), playingText(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(app.text("timerLabel"), QStringLiteral("00:00:04"), 10000);
    const QString second = QStringLiteral("txt:") + QString::fromStdString(stations[1].url);
    QCOMPARE(app.log().filter(QRegularExpression(QStringLiteral("^(txt:|count;|ppp;)"))),
             (QStringList{QStringLiteral("txt:") + QString::fromStdString(stations[0].url),
                          QStringLiteral("count;%1").arg(stations.size()), QStringLiteral("ppp;1"),
                          second, second}));
    QVERIFY(app.quit());
}

void AppTest::catalogueServerDown_data() {
    QTest::addColumn<bool>("answers");  // the catalogue's port refuses, or never answers
    QTest::addColumn<int>("limitMs");   // when set-up must have ended, start-up included
    QTest::newRow("connection refused") << false << 4000;
    QTest::newRow("connection never accepted") << true << 5000 + 4000;
}

void AppTest::catalogueServerDown() {
    QFETCH(bool, answers);
    QFETCH(int, limitMs);
    const site::StationSite site({.folder = ORVENTO_STATION_SITE_DIR});
    const loopback::UnansweredPort unanswered;
    const std::string down = answers ? unanswered.url("") : loopback::LoopbackServer().url("");
    RunningApp app(down, site.baseUrl());
    const qint64 setUpMs = app.waitForSetUp();
    QVERIFY2(setUpMs < limitMs, qPrintable(QString::number(setUpMs)));

    QCOMPARE(app.text("statusLabel"),
             catalogueText(CatalogueOutcome::failed,
                           QString::fromStdString(down).remove(QStringLiteral("http://"))));
    QCOMPARE(app.ask(QStringLiteral("get selectButton enabled")), QStringLiteral("false"));
    QVERIFY(app.text("metar").startsWith(QStringLiteral("METAR:\n") +
                                         QString::fromStdString(site.metar())));

    app.ask(QStringLiteral("set textField text ") + QString::fromStdString(site.stations()[2].url));
    app.ask(QStringLiteral("key textField Return"));
    QTRY_COMPARE_WITH_TIMEOUT(app.text("statusLabel"), playingText(), 10000);
    QVERIFY(app.quit());
}

}  // namespace orvento::test

QTEST_MAIN(orvento::test::AppTest)
#include "AppTest.moc"
