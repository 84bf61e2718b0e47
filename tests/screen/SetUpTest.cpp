// The screen's set-up over real HTTP from a loopback server: the station
// lists from the catalogue, whatever shape it has; the weather panel; the
// download notifications; the station picker with mouse and keyboard.
#include <QApplication>
#include <QPointer>
#include <QRegularExpression>
#include <QTest>

#include "screen/OrventoViewController.h"
#include "screen/StationCatalogue.h"
#include "screen/WeatherReport.h"
#include "tests/screen/ScreenHarness.h"
#include "tools/loopback/LoopbackServer.h"

namespace orvento::test {
namespace {

using loopback::LoopbackServer;
using loopback::Script;

// A screen on the given servers, logging into `lines`.
struct BareScreen {
    BareScreen(const QString& catalogueServer, const QString& weatherServer) {
        ScreenServices services;
        services.catalogueBaseUrl = catalogueServer;
        services.weatherBaseUrl = weatherServer;
        services.log = [this](std::string_view text) {
            lines.append(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
        };
        screen = std::make_unique<OrventoViewController>(std::move(services));
    }
    QStringList linesStartingWith(const char* prefix) const {
        return lines.filter(QRegularExpression(QLatin1Char('^') + QLatin1String(prefix)));
    }
    QStringList lines;
    std::unique_ptr<OrventoViewController> screen;
};

// A JSON array of `size` bytes: one station, then spaces.
QByteArray paddedCatalogue(std::size_t size) {
    QByteArray body = R"([{"a":"Big","d":"http://b/1"})";
    body += QByteArray(static_cast<qsizetype>(size) - body.size() - 1, ' ');
    return body + ']';
}

}  // namespace

class SetUpTest : public QObject {
    Q_OBJECT

  private slots:
    void catalogueFillsTheStationLists_data();
    void catalogueFillsTheStationLists();
    void weatherPanel_data();
    void weatherPanel();
    void downloadNotifications();
    void pickerChoosesAStation();
};

void SetUpTest::catalogueFillsTheStationLists_data() {
    QTest::addColumn<QByteArray>("body");  // empty: the server is not there
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("urls");
    QTest::addColumn<QStringList>("problems");  // the "catalogue: " lines, without the server's
    QTest::addColumn<CatalogueOutcome>("outcome");
    using enum CatalogueOutcome;
    const auto skipped = [](int element, const char* why) {
        return QStringLiteral("catalogue element %1 skipped: %2")
            .arg(element)
            .arg(QLatin1String(why));
    };

    QTest::newRow("one station") << QByteArray(R"([{"a":"Tower","d":"http://t/1"}])")
                                 << QStringList{"Tower"} << QStringList{"http://t/1"}
                                 << QStringList{} << loaded;
    QTest::newRow("same names kept, in order, other members ignored")
        << QByteArray(R"([{"a":"X","d":"u1","f":118.1},{"a":"X","d":"u2"},{"a":"Y","d":"u1"}])")
        << QStringList{"X", "X", "Y"} << QStringList{"u1", "u2", "u1"} << QStringList{} << loaded;
    QTest::newRow("empty array") << QByteArray("[]") << QStringList{} << QStringList{}
                                 << QStringList{} << empty;
    QTest::newRow("unusable elements skipped, the others kept")
        << QByteArray(R"([1,"s",null,[],{"a":"A"},{"d":"u"},{"a":5,"d":"u"},{"a":"B","d":"u2"}])")
        << QStringList{"B"} << QStringList{"u2"}
        << QStringList{skipped(0, "not an object"),   skipped(1, "not an object"),
                       skipped(2, "not an object"),   skipped(3, "not an object"),
                       skipped(4, "no string \"d\""), skipped(5, "no string \"a\""),
                       skipped(6, "no string \"a\"")}
        << loaded;
    QTest::newRow("every element unusable")
        << QByteArray(R"([{"a":"A","d":7}])") << QStringList{} << QStringList{}
        << QStringList{skipped(0, "no string \"d\"")} << empty;
    QTest::newRow("an object, not an array")
        << QByteArray(R"({"a":"A","d":"u"})") << QStringList{} << QStringList{}
        << QStringList{"the catalogue is a JSON object, not an array"} << unreadable;
    QTest::newRow("an error page")
        << QByteArray("<html>Not Found</html>") << QStringList{} << QStringList{}
        << QStringList{"the catalogue is not JSON: illegal value"} << unreadable;
    QTest::newRow("exactly the cap") << paddedCatalogue(kCatalogueMaxBytes) << QStringList{"Big"}
                                     << QStringList{"http://b/1"} << QStringList{} << loaded;
    QTest::newRow("over the cap") << paddedCatalogue(kCatalogueMaxBytes + 1) << QStringList{}
                                  << QStringList{}
                                  << QStringList{"The response is larger than 4194304 bytes."}
                                  << failed;
    QTest::newRow("no server") << QByteArray() << QStringList{} << QStringList{}
                               << QStringList{"Failed to connect"} << failed;
}

void SetUpTest::catalogueFillsTheStationLists() {
    QFETCH(QByteArray, body);
    QFETCH(QStringList, names);
    QFETCH(QStringList, urls);
    QFETCH(QStringList, problems);
    QFETCH(CatalogueOutcome, outcome);
    auto server = std::make_unique<LoopbackServer>();
    const QString serverName = QStringLiteral("127.0.0.1:%1").arg(server->port());
    server->setScript(kCataloguePath, Script::fixed(body.toStdString()));
    if (body.isEmpty()) {
        server.reset();  // the port refuses connections now
    }
    BareScreen s(QStringLiteral("http://") + serverName, {});
    OrventoViewController& screen = *s.screen;
    screen.textField->setText(QStringLiteral("layout text"));
    screen.viewDidLoad();

    QCOMPARE(screen.tableData1(), names);
    QCOMPARE(screen.tableData2(), urls);
    QStringList adi;
    for (qsizetype i = 0; i < names.size(); ++i) {
        adi.append(QStringLiteral("adi=%1,url=%2").arg(names[i], urls[i]));
    }
    QCOMPARE(s.linesStartingWith("adi="), adi);
    const QStringList logged = s.linesStartingWith("catalogue: ");
    QCOMPARE(logged.size(), problems.size());
    for (qsizetype i = 0; i < problems.size(); ++i) {
        QVERIFY2(logged[i].contains(problems[i]), qPrintable(logged[i]));
    }
    // The first station is in the fields; without one they keep their text.
    QCOMPARE(screen.textField->text(), urls.value(0, QStringLiteral("layout text")));
    QCOMPARE(screen.myTextField2()->text(), names.value(0));
    QCOMPARE(screen.selectButton->isEnabled(), !names.isEmpty());
    QCOMPARE(screen.statusLabel->text(), catalogueText(outcome, serverName));
    QVERIFY(screen.picker()->isHidden());
    QVERIFY(screen.textField->isEnabled() && !screen.textField->isReadOnly());
}

void SetUpTest::weatherPanel_data() {
    // A report: its bytes, or "FAIL" for a download that fails.
    QTest::addColumn<QByteArray>("metar");
    QTest::addColumn<QByteArray>("taf");
    QTest::addColumn<QString>("panel");
    const QByteArray fail = "FAIL";
    QTest::newRow("both") << QByteArray("LTBA 141220Z") << QByteArray("TAF LTBA")
                          << "METAR:\nLTBA 141220Z\nTAF:\nTAF LTBA";
    QTest::newRow("trailing line breaks")
        << QByteArray("2024/05/14 12:20\nLTBA 141220Z\n") << QByteArray("TAF LTBA\n  BECMG\n")
        << "METAR:\n2024/05/14 12:20\nLTBA 141220Z\n\nTAF:\nTAF LTBA\n  BECMG\n";
    QTest::newRow("METAR download fails")
        << fail << QByteArray("TAF LTBA") << "METAR:\n\nTAF:\nTAF LTBA";
    QTest::newRow("both downloads fail") << fail << fail << "METAR:\n\nTAF:\n";
    QTest::newRow("UTF-8 beyond ASCII")
        << QByteArray("R\xc3\xbczg\xc3\xa2r") << QByteArray("T") << "METAR:\nRüzgâr\nTAF:\nT";
    QTest::newRow("Latin-1, not UTF-8")
        << QByteArray("M") << QByteArray("R\xfczg\xe2r") << "METAR:\nM\nTAF:\n";
    QTest::newRow("sequence cut short")
        << QByteArray("M\xc3") << QByteArray("T") << "METAR:\n\nTAF:\nT";
    QTest::newRow("overlong form")
        << QByteArray("M\xc0\xaf") << QByteArray("T") << "METAR:\n\nTAF:\nT";
    QTest::newRow("over the cap") << QByteArray(kWeatherMaxBytes + 1, 'M') << QByteArray("T")
                                  << "METAR:\n\nTAF:\nT";
}

void SetUpTest::weatherPanel() {
    QFETCH(QByteArray, metar);
    QFETCH(QByteArray, taf);
    QFETCH(QString, panel);
    LoopbackServer server;
    for (const auto& [path, bytes] : {std::pair{kMetarPath, metar}, std::pair{kTafPath, taf}}) {
        // A failed download: the connection closes before the body's one byte.
        server.setScript(path, bytes == "FAIL" ? Script::fixed("x").closeAfter(0)
                                               : Script::fixed(bytes.toStdString()));
    }
    BareScreen s({}, QString::fromStdString(server.url("")));
    s.screen->ikiyegec();
    QCOMPARE(s.screen->metar->text(), panel);
    QVERIFY(s.screen->metar->wordWrap());
    QCOMPARE(s.screen->metar->textFormat(), Qt::PlainText);
    QCOMPARE(s.lines, QStringList{});
    // One after the other, each path as given.
    QCOMPARE(server.requests().size(), std::size_t{2});
    QVERIFY(server.requests()[0].starts_with(std::string("GET ") + kMetarPath + " "));
    QVERIFY(server.requests()[1].starts_with(std::string("GET ") + kTafPath + " "));
}

void SetUpTest::downloadNotifications() {
    for (const bool fails : {false, true}) {
        BareScreen s({}, {});
        QPointer<QObject> connection = new QObject;
        // No buffer collects (nothing creates one): response and data change nothing.
        s.screen->connectionDidReceiveResponse(connection);
        s.screen->connectionDidReceiveData(connection, QByteArray("LTBA"));
        if (fails) {
            s.screen->connectionDidFailWithError(connection, QStringLiteral("The server is gone."),
                                                 QStringLiteral("http://h/x"));
        } else {
            s.screen->connectionDidFinishLoading(connection);
        }
        QCOMPARE(s.lines,
                 fails ? QStringList{"Connection failed! Error - The server is gone. http://h/x"}
                       : QStringList({"Succeeded! Received 0 bytes of data", "finalResponse;"}));
        QCOMPARE(s.screen->receivedData(), nullptr);
        QTRY_VERIFY(connection.isNull());  // the screen ends the download
    }
}

void SetUpTest::pickerChoosesAStation() {
    LoopbackServer site;
    site.setScript(kCataloguePath, Script::fixed(R"([{"a":"Tower","d":"http://h/t"},)"
                                                 R"({"a":"Tower","d":"http://h/t2"},)"
                                                 R"({"a":"Ground","d":"tower"}])"));
    ScreenHarness h(nullptr, nullptr, QString::fromStdString(site.url("")));
    OrventoViewController& screen = h.screen();
    QListView* picker = screen.picker();
    QCOMPARE(screen.numberOfComponentsInPickerView(picker), 1);
    QCOMPARE(screen.pickerViewNumberOfRowsInComponent(picker, 0), 3);
    QCOMPARE(screen.pickerViewTitleForRow(picker, 2, 0), QStringLiteral("Ground"));

    // The select control shows the picker and hides it again, fields untouched.
    QTest::mouseClick(screen.selectButton, Qt::LeftButton);
    QVERIFY(picker->isVisible());
    QTest::mouseClick(screen.selectButton, Qt::LeftButton);
    QVERIFY(picker->isHidden());

    QTest::mouseClick(screen.selectButton, Qt::LeftButton);
    QCOMPARE(QApplication::focusWidget(), picker);
    QCOMPARE(picker->currentIndex().row(), 0);  // at the station in the fields
    // A click on the row (AppTest picks with the keys).
    const QRect row = picker->visualRect(picker->model()->index(2, 0));
    QTest::mouseClick(picker->viewport(), Qt::LeftButton, {}, row.center());
    QVERIFY(picker->isHidden());
    QCOMPARE(screen.textField->text(), QStringLiteral("tower"));
    QCOMPARE(screen.myTextField2()->text(), QStringLiteral("Ground"));
    QCOMPARE(QApplication::focusWidget(), screen.button);
    QCOMPARE(h.logLines().filter(QRegularExpression(QStringLiteral("^(count|ppp);"))),
             (QStringList{"count;3", "count;3", "count;3", "ppp;2"}));

    // Escape closes the picker without choosing.
    QTest::mouseClick(screen.selectButton, Qt::LeftButton);
    QTest::keyClick(picker, Qt::Key_Up);
    QTest::keyClick(picker, Qt::Key_Escape);
    QVERIFY(picker->isHidden());
    QCOMPARE(screen.textField->text(), QStringLiteral("tower"));
}

}  // namespace orvento::test

QTEST_MAIN(orvento::test::SetUpTest)
#include "SetUpTest.moc"
