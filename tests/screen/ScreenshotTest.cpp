// Pictures of the window for review, as PNG files in <build>/screenshots/
// ("@2x" in their names at a device pixel ratio of 2): set up from the local
// station site, its picker open, loading, playing, the failure alert, and
// without a station list.
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QTest>

#include "controller/StationCatalogue.h"
#include "controller/WeatherReport.h"
#include "screen/OrventoLook.h"
#include "tests/screen/ScreenHarness.h"
#include "tools/station-server/StationSite.h"

namespace orvento::test {

class ScreenshotTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void screensForReview();
    void withoutAStationList();

  private:
    void save(QWidget& widget, const QString& name);
    QString folder_;
};

void ScreenshotTest::initTestCase() {
    applyOrventoLook(*qApp);
    folder_ = qEnvironmentVariable("ORVENTO_BINARY_DIR") + QStringLiteral("/screenshots");
    QVERIFY(QDir().mkpath(folder_));
}

void ScreenshotTest::save(QWidget& widget, const QString& name) {
    const QPixmap picture = widget.grab();
    const qreal ratio = widget.devicePixelRatio();
    QCOMPARE(picture.size(), widget.size() * ratio);  // sharp: in device pixels
    const QString path = folder_ + QLatin1Char('/') + name +
                         (ratio > 1 ? QStringLiteral("@%1x").arg(ratio) : QString()) +
                         QStringLiteral(".png");
    QVERIFY2(picture.save(path), qPrintable(path));
}

void ScreenshotTest::screensForReview() {
    using loopback::Script;
    const site::StationSite site({.folder = ORVENTO_STATION_SITE_DIR});
    ScreenHarness h(nullptr, nullptr, QString::fromStdString(site.baseUrl()));
    h.server.setScript("/silent.mp3", Script::silent());
    h.server.setScript("/gone.mp3", Script::notFound());
    QVERIFY(h.screen().metar->toPlainText().contains(QStringLiteral("TAF LTBA")));
    save(h.screen(), QStringLiteral("idle"));

    QTest::mouseClick(h.screen().selectButton, Qt::LeftButton);
    QVERIFY(h.screen().picker()->isVisible());
    QTest::keyClick(h.screen().picker(), Qt::Key_Down);
    save(h.screen(), QStringLiteral("picker"));
    QTest::keyClick(h.screen().picker(), Qt::Key_Return);

    const QString picked = h.screen().textField->text();
    h.setUrlText(h.url("/silent.mp3"));
    h.press();
    // Caught in mid-turn.
    QTRY_VERIFY(h.button().angle() > 0.6 && h.button().angle() < 1.2);
    save(h.screen(), QStringLiteral("loading"));
    h.press();
    QTRY_COMPARE(h.button().imageName(), QStringLiteral("playbutton.png"));

    h.setUrlText(picked);
    h.screen().textField->setCursorPosition(0);
    h.press();
    QTRY_COMPARE_WITH_TIMEOUT(h.button().imageName(), QStringLiteral("stopbutton.png"), 15000);
    QTRY_COMPARE_WITH_TIMEOUT(h.screen().timerLabel()->text(), QStringLiteral("00:00:02"), 5000);
    save(h.screen(), QStringLiteral("playing"));
    h.press();
    QTRY_COMPARE(h.button().imageName(), QStringLiteral("playbutton.png"));

    h.setUrlText(h.url("/gone.mp3"));
    h.press();
    QMessageBox* box = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((box = shownAlert()) != nullptr, 15000);
    QVERIFY(QTest::qWaitForWindowExposed(box));
    QTRY_COMPARE(h.button().imageName(), QStringLiteral("playbutton.png"));
    save(h.screen(), QStringLiteral("ended"));
    save(*box, QStringLiteral("alert"));
}

void ScreenshotTest::withoutAStationList() {
    // The catalogue's server hangs up; the weather is there.
    const site::StationSite site({.folder = ORVENTO_STATION_SITE_DIR});
    loopback::LoopbackServer server;
    server.setScript(kCataloguePath, loopback::Script::fixed("[]").closeAfter(0));
    server.setScript(kMetarPath, loopback::Script::fixed(site.metar()));
    server.setScript(kTafPath, loopback::Script::fixed(site.taf()));
    ScreenHarness h(nullptr, nullptr, QString::fromStdString(server.url("")));
    QVERIFY(!h.screen().selectButton->isEnabled());
    save(h.screen(), QStringLiteral("no-stations"));
}

}  // namespace orvento::test

QTEST_MAIN(orvento::test::ScreenshotTest)
#include "ScreenshotTest.moc"
