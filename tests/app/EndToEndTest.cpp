// The real `orvento` program, offscreen, against the local station site: the
// stations and the weather at start, a station played until audio flows,
// another one picked and played; and with the catalogue server down, a set-up
// that ends within its limits and a typed URL that plays. A test agent loaded
// into the program (agent/TestAgentPlugin.cpp) acts on its widgets.
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include "screen/ScreenTexts.h"
#include "tools/loopback/LoopbackServer.h"
#include "tools/station-server/StationSite.h"

namespace orvento::test {
namespace {

// The program with the agent in it; the servers as given.
class RunningApp {
  public:
    RunningApp(const std::string& catalogueServer, const std::string& weatherServer) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_PLUGIN_PATH"), QStringLiteral(ORVENTO_AGENT_DIR));
        environment.insert(QStringLiteral("QT_QPA_GENERIC_PLUGINS"),
                           QStringLiteral("orventotestagent"));
        environment.insert(QStringLiteral("ORVENTO_CATALOGUE_URL"),
                           QString::fromStdString(catalogueServer));
        environment.insert(QStringLiteral("ORVENTO_WEATHER_URL"),
                           QString::fromStdString(weatherServer));
        // No session bus: the same answer on every machine.
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                           QStringLiteral("unix:path=/nonexistent/bus"));
        process_.setProcessEnvironment(environment);
        started_.start();
        process_.start(QStringLiteral(ORVENTO_APP_PATH), {});
    }
    ~RunningApp() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished();
        }
    }
    RunningApp(const RunningApp&) = delete;
    RunningApp& operator=(const RunningApp&) = delete;

    // The agent's answer to `command`; null when none came within 10 s.
    QJsonValue ask(const QString& command) {
        process_.write(command.toUtf8() + '\n');
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 10000) {
            while (process_.canReadLine()) {
                const QByteArray line = process_.readLine();
                if (line.startsWith("agent ")) {
                    return QJsonDocument::fromJson(line.mid(6)).array().at(0);
                }
            }
            process_.waitForReadyRead(100);
        }
        return {};
    }
    QString get(const QString& widget, const char* property) {
        return ask(QStringLiteral("get %1 %2").arg(widget, QLatin1String(property)))
            .toVariant()
            .toString();
    }
    // The diagnostic lines so far, without the time and process.
    QStringList log() {
        log_ += QString::fromUtf8(process_.readAllStandardError());
        QStringList lines;
        static const QRegularExpression prefix(QStringLiteral(R"(^\S+ \S+ orvento\[\d+\] )"));
        for (const QString& line : log_.split(QLatin1Char('\n'))) {
            if (prefix.match(line).hasMatch()) {
                lines.append(QString(line).remove(prefix));
            }
        }
        return lines;
    }
    // Milliseconds from the start until set-up has ended, seen by its status line.
    qint64 waitForSetUp() {
        QString status;
        while (started_.elapsed() < 30000 &&
               ((status = get(QStringLiteral("statusLabel"), "text")).isEmpty() ||
                status == loadingText())) {
            QTest::qWait(20);
        }
        return started_.elapsed();
    }
    // Ctrl+Q; true when the program then ends by itself, with status 0.
    bool quit() {
        ask(QStringLiteral("key textField Ctrl+Q"));
        return process_.waitForFinished(15000) && process_.exitStatus() == QProcess::NormalExit &&
               process_.exitCode() == 0;
    }

  private:
    QProcess process_;
    QElapsedTimer started_;
    QString log_;
};

site::StationSite makeSite() {
    site::SiteOptions options;
    options.folder = ORVENTO_STATION_SITE_DIR;
    return site::StationSite(options);
}

}  // namespace

class EndToEndTest : public QObject {
    Q_OBJECT

  private slots:
    void stationsWeatherAndPlayback();
    void catalogueServerDown_data();
    void catalogueServerDown();
};

void EndToEndTest::stationsWeatherAndPlayback() {
    site::StationSite site = makeSite();
    const auto& stations = site.stations();
    RunningApp app(site.baseUrl(), site.baseUrl());
    app.waitForSetUp();

    QStringList adi;
    for (const site::SiteStation& station : stations) {
        adi.append(
            QStringLiteral("adi=%1,url=%2")
                .arg(QString::fromStdString(station.name), QString::fromStdString(station.url)));
    }
    const QStringList log = app.log();
    QCOMPARE(log.filter(QRegularExpression(QStringLiteral("^adi="))), adi);
    QCOMPARE(
        log.filter(QRegularExpression(QStringLiteral("^screen not kept awake: no session bus")))
            .size(),
        1);
    QCOMPARE(app.get(QStringLiteral("textField"), "text"), QString::fromStdString(stations[0].url));
    QCOMPARE(app.get(QStringLiteral("myTextField2"), "text"),
             QString::fromStdString(stations[0].name));
    QCOMPARE(app.get(QStringLiteral("metar"), "text"),
             QString::fromStdString("METAR:\n" + site.metar() + "\nTAF:\n" + site.taf()));
    QCOMPARE(app.get(QStringLiteral("statusLabel"), "text"), readyText());

    // Return plays the first station; the listening time runs only while audio plays.
    app.ask(QStringLiteral("key textField Return"));
    QTRY_COMPARE_WITH_TIMEOUT(app.get(QStringLiteral("statusLabel"), "text"), playingText(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(app.get(QStringLiteral("timerLabel"), "text"),
                              QStringLiteral("00:00:02"), 10000);

    // Picking another station while one plays changes only the fields.
    app.ask(QStringLiteral("click selectButton"));
    QCOMPARE(app.ask(QStringLiteral("rows picker")).toArray().size(),
             static_cast<qsizetype>(stations.size()));
    app.ask(QStringLiteral("key picker Down"));
    app.ask(QStringLiteral("key picker Return"));
    QCOMPARE(app.get(QStringLiteral("textField"), "text"), QString::fromStdString(stations[1].url));
    QCOMPARE(app.get(QStringLiteral("statusLabel"), "text"), playingText());
    // The next press stops, the one after plays the AAC station picked.
    app.ask(QStringLiteral("click button"));
    QTRY_COMPARE_WITH_TIMEOUT(app.get(QStringLiteral("button"), "accessibleName"),
                              QStringLiteral("Play"), 10000);
    // The stopped player closes its sound device as its worker ends, up to a
    // poll interval after it reported; SDL's dummy driver has only one device.
    QTest::qWait(1000);
    app.ask(QStringLiteral("click button"));
    QTRY_COMPARE_WITH_TIMEOUT(app.get(QStringLiteral("statusLabel"), "text"), playingText(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(app.get(QStringLiteral("timerLabel"), "text"),
                              QStringLiteral("00:00:04"), 10000);
    const QStringList presses =
        app.log().filter(QRegularExpression(QStringLiteral("^(txt:|count;|ppp;)")));
    QCOMPARE(presses,
             (QStringList{QStringLiteral("txt:") + QString::fromStdString(stations[0].url),
                          QStringLiteral("count;%1").arg(stations.size()), QStringLiteral("ppp;1"),
                          QStringLiteral("txt:") + QString::fromStdString(stations[1].url),
                          QStringLiteral("txt:") + QString::fromStdString(stations[1].url)}));
    QVERIFY(app.quit());
}

void EndToEndTest::catalogueServerDown_data() {
    QTest::addColumn<bool>("answers");  // the catalogue's port refuses, or never answers
    QTest::addColumn<int>("limitMs");   // when set-up must have ended, start-up included
    QTest::newRow("connection refused") << false << 4000;
    QTest::newRow("connection never accepted") << true << 5000 + 4000;
}

void EndToEndTest::catalogueServerDown() {
    QFETCH(bool, answers);
    QFETCH(int, limitMs);
    site::StationSite site = makeSite();
    const loopback::UnansweredPort unanswered;
    const std::string down =
        answers ? unanswered.url("") : loopback::LoopbackServer().url("");  // gone: refuses
    RunningApp app(down, site.baseUrl());
    const qint64 setUpMs = app.waitForSetUp();
    QVERIFY2(setUpMs < limitMs, qPrintable(QString::number(setUpMs)));

    const QString server = QString::fromStdString(down).remove(QStringLiteral("http://"));
    QCOMPARE(app.get(QStringLiteral("statusLabel"), "text"),
             catalogueText(CatalogueOutcome::failed, server));
    QCOMPARE(app.get(QStringLiteral("selectButton"), "enabled"), QStringLiteral("false"));
    QVERIFY(app.get(QStringLiteral("metar"), "text").startsWith(QStringLiteral("METAR:\n2024/")));

    app.ask(QStringLiteral("type textField ") + QString::fromStdString(site.stations()[2].url));
    app.ask(QStringLiteral("key textField Return"));
    QTRY_COMPARE_WITH_TIMEOUT(app.get(QStringLiteral("statusLabel"), "text"), playingText(), 10000);
    QVERIFY(app.quit());
}

}  // namespace orvento::test

QTEST_MAIN(orvento::test::EndToEndTest)
#include "EndToEndTest.moc"
