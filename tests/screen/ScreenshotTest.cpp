// Pictures of the window for review: the idle, loading and playing screens
// and the failure alert, written as PNG files to <build>/screenshots/ (with
// "@2x" in their names when run at a device pixel ratio of 2).
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QTest>

#include "app/OrventoApplication.h"
#include "tests/screen/ScreenHarness.h"

namespace orvento::test {

class ScreenshotTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void screensForReview();

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
    QVERIFY(!picture.isNull());
    // The picture has the window's size in device pixels.
    QCOMPARE(picture.size(), widget.size() * widget.devicePixelRatio());
    const qreal ratio = widget.devicePixelRatio();
    const QString suffix = ratio > 1 ? QStringLiteral("@%1x").arg(ratio) : QString();
    const QString path = folder_ + QLatin1Char('/') + name + suffix + QStringLiteral(".png");
    QVERIFY2(picture.save(path), qPrintable(path));
    qInfo("wrote %s", qPrintable(path));
}

void ScreenshotTest::screensForReview() {
    using loopback::Script;
    ScreenHarness h;
    h.server.setScript("/live.mp3", liveStation());
    h.server.setScript("/silent.mp3", Script::silent());
    h.server.setScript("/gone.mp3", Script::notFound());

    h.setUrlText(QString::fromStdString(h.server.url("/live.mp3")));
    save(h.window(), QStringLiteral("idle"));

    h.setUrlText(QString::fromStdString(h.server.url("/silent.mp3")));
    h.press();
    // Caught in mid-turn.
    QTRY_VERIFY(h.button().angle() > 0.6 && h.button().angle() < 1.2);
    save(h.window(), QStringLiteral("loading"));
    h.press();
    QTRY_COMPARE(h.button().imageName(), QStringLiteral("playbutton.png"));

    h.setUrlText(QString::fromStdString(h.server.url("/live.mp3")));
    h.press();
    QTRY_COMPARE_WITH_TIMEOUT(h.button().imageName(), QStringLiteral("stopbutton.png"), 15000);
    QTRY_COMPARE_WITH_TIMEOUT(h.screen().timerLabel()->text(), QStringLiteral("00:00:02"), 5000);
    save(h.window(), QStringLiteral("playing"));
    h.press();
    QTRY_COMPARE(h.button().imageName(), QStringLiteral("playbutton.png"));

    h.setUrlText(QString::fromStdString(h.server.url("/gone.mp3")));
    h.press();
    QMessageBox* box = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((box = h.window().findChild<QMessageBox*>()) != nullptr, 15000);
    QVERIFY(QTest::qWaitForWindowExposed(box));
    QTRY_COMPARE(h.button().imageName(), QStringLiteral("playbutton.png"));
    save(h.window(), QStringLiteral("ended"));
    save(*box, QStringLiteral("alert"));
}

}  // namespace orvento::test

QTEST_MAIN(orvento::test::ScreenshotTest)
#include "ScreenshotTest.moc"
