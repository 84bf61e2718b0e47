// Pictures of the window for review, as PNG files in <build>/screenshots/
// ("@2x" in their names at a device pixel ratio of 2, in Turkish): set up from
// the local station site, its picker open, loading, playing, the failure
// alert in the language of the run and a server's markup as plain text,
// playing in windows of 800x560, 900x560, 1280x800 and 1920x1080 (after which the
// window goes back to the phone's size it has in every other picture),
// a transmission said again, the search, another airport's weather with its timeline, and without a
// station list.
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "controller/StationCatalogue.h"
#include "controller/WeatherReport.h"
#include "screen/OrventoLook.h"
#include "screen/PlayerSettingsDialog.h"
#include "screen/Translations.h"
#include "screen/TransmissionsPanel.h"
#include "tests/screen/ScreenHarness.h"
#include "tools/station-server/StationSite.h"

namespace orvento::test {

class ScreenshotTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void screensForReview();
    void anotherAirport();
    void withoutAStationList();
    void playerSettings();

  private:
    void save(QWidget& widget, const QString& name);
    // The playing screen in desktop windows, then back to a phone's.
    void wideWindows(OrventoViewController& screen);
    QString folder_;
    std::unique_ptr<QTranslator> translation_;
};

void ScreenshotTest::initTestCase() {
    applyOrventoLook(*qApp);
    translation_ = installTranslation(QLocale::system());
    folder_ = qEnvironmentVariable("ORVENTO_BINARY_DIR") + QStringLiteral("/screenshots");
    QVERIFY(QDir().mkpath(folder_));
}

void ScreenshotTest::save(QWidget& widget, const QString& name) {
    // As a user sees it: the layouts that changes asked for, done.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    const QPixmap picture = widget.grab();
    const qreal ratio = widget.devicePixelRatio();
    QCOMPARE(picture.size(), widget.size() * ratio);  // sharp: in device pixels
    const QString path = folder_ + QLatin1Char('/') + name +
                         (ratio > 1 ? QStringLiteral("@%1x").arg(ratio) : QString()) +
                         QStringLiteral(".png");
    QVERIFY2(picture.save(path), qPrintable(path));
}

void ScreenshotTest::wideWindows(OrventoViewController& screen) {
    const QSize phone = screen.size();
    // Wholly shown, not cut by the window or a scrolled area.
    const auto shown = [](const QWidget* widget) {
        return widget->isVisible() && widget->visibleRegion() == QRegion(widget->rect());
    };
    const std::pair<QSize, ScreenLayout> windows[] = {
        {QSize(800, 560), ScreenLayout::Short},
        {QSize(900, 560), ScreenLayout::Wide},
        {QSize(1280, 800), ScreenLayout::Wide},
        {QSize(1920, 1080), ScreenLayout::Wide},
    };
    for (const auto& [size, layout] : windows) {
        screen.resize(size);
        QTRY_COMPARE(screen.size(), size);
        QCOMPARE(screen.layouts().shown(), layout);
        save(screen, QStringLiteral("playing-%1x%2").arg(size.width()).arg(size.height()));
        QVERIFY(shown(screen.button));
        QVERIFY(shown(screen.statusLabel));
        const QListView& list = *screen.transmissionsPanel->list();
        QVERIFY(shown(&list));
        if (layout == ScreenLayout::Wide) {
            QVERIFY(shown(screen.picker()));
            QVERIFY2(list.viewport()->height() >= 8 * list.sizeHintForRow(0),
                     qPrintable(QString::number(list.viewport()->height())));
        }
        if (size.width() >= ScreenLayouts::kTwoColumnsFromWidth) {
            QVERIFY(shown(screen.weatherPanel->metarView()));
        }
    }
    screen.resize(phone);
    QTRY_COMPARE(screen.layouts().shown(), ScreenLayout::Narrow);
}

void ScreenshotTest::screensForReview() {
    using loopback::Script;
    const site::StationSite site({.folder = ORVENTO_STATION_SITE_DIR});
    const QString url = QString::fromStdString(site.baseUrl());
    ScreenHarness h(nullptr, errorsTable(), url, url);
    h.server.setScript("/silent.mp3", Script::silent());
    h.server.setScript("/gone.mp3",
                       Script::notFound().withStatusLine("HTTP/1.1 404 <font size=7>HUGE</font>"));
    QVERIFY(h.screen().metar->toPlainText().contains(QStringLiteral("TAF LTBA")));
    save(h.screen(), QStringLiteral("idle"));

    StationBrowser& browser = *h.screen().stationBrowser;
    h.screen().openSearch();
    QTest::keyClicks(browser.searchField(), QStringLiteral("app"));
    save(h.screen(), QStringLiteral("search"));
    QTest::keyClick(browser.searchField(), Qt::Key_Escape);
    QTest::keyClick(browser.searchField(), Qt::Key_Escape);
    QVERIFY(h.screen().picker()->isHidden());

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

    // A transmission heard, said again from the address field, where the
    // focus stays after Return and R is a letter of the address: Alt+R.
    TransmissionsPanel& transmissions = *h.screen().transmissionsPanel;
    QTRY_VERIFY_WITH_TIMEOUT(transmissions.list()->model()->rowCount() > 0, 30000);
    h.screen().bottomTabs->setCurrentWidget(&transmissions);
    wideWindows(h.screen());
    const QSignalSpy sayAgain(transmissions.sayAgainAction(), &QAction::triggered);
    QTest::keyClick(h.screen().textField, Qt::Key_R, Qt::AltModifier);
    QCOMPARE(sayAgain.size(), 1);
    QCOMPARE(h.screen().textField->text(), picked);
    QTRY_VERIFY(transmissions.endReplayAction()->isEnabled());
    const QString time = transmissions.list()->currentIndex().data().toString().left(9);
    QVERIFY2(h.status().contains(time), qPrintable(h.status() + " / " + time));
    // What a drop cost, as a note among the rows.
    h.controller->replay().note(QDateTime::currentDateTimeUtc(),
                                QStringLiteral("14 s missed at 14:22:07Z"));
    save(h.screen(), QStringLiteral("transmissions"));
    QTest::keyClick(h.screen().textField, Qt::Key_Escape);
    QTRY_VERIFY(!transmissions.endReplayAction()->isEnabled());
    QCOMPARE(h.status(), h.controller->statusText());

    // Recording: the button down shows red, the status line
    // and a line under it name the file, which grows; up again, it says so.
    QTemporaryDir recordings;
    h.controller->replay().saver().setFolder(recordings.path());
    QPushButton& record = *transmissions.recordButton();
    QLabel& recording = *transmissions.recordingLabel();
    const auto text = [](const char* english) {
        return QCoreApplication::translate("OrventoViewController", english);
    };
    // The share of a button's pixels in the recording red.
    const auto red = [](QPushButton& button) {
        const QImage image = button.grab().toImage().convertToFormat(QImage::Format_RGB32);
        qsizetype count = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                count += image.pixel(x, y) == qRgb(0xc6, 0x28, 0x28);
            }
        }
        return double(count) / (image.width() * image.height());
    };
    QCOMPARE(red(record), 0.0);
    QTest::mouseClick(&record, Qt::LeftButton);
    QVERIFY(record.isChecked() && h.controller->replay().recording());
    QVERIFY2(red(record) > 0.3, qPrintable(QString::number(red(record))));
    QTRY_VERIFY(!recording.isHidden());
    const QString path = h.controller->replay().recordingPath();
    QVERIFY2(path.startsWith(recordings.path()), qPrintable(path));
    QCOMPARE(h.status(), text("Recording to %1").arg(path));
    QVERIFY2(recording.text().contains(QFileInfo(path).fileName()), qPrintable(recording.text()));
    const QString begun = recording.text();
    QTRY_VERIFY_WITH_TIMEOUT(recording.text() != begun && QFileInfo(path).size() > 0, 20000);
    save(h.screen(), QStringLiteral("recording"));
    QTest::mouseClick(&record, Qt::LeftButton);
    QVERIFY(!record.isChecked() && !h.controller->replay().recording());
    QCOMPARE(h.status(), text("Recording stopped: %1").arg(path));
    QVERIFY(recording.isHidden());
    QCOMPARE(red(record), 0.0);

    h.screen().bottomTabs->setCurrentIndex(0);
    h.press();
    QTRY_COMPARE(h.button().imageName(), QStringLiteral("playbutton.png"));

    // The monitor: three stations of the site added with Ctrl+M, placed left
    // and right with the keyboard, the last one in the centre with priority,
    // playing, each heard.
    OrventoViewController& screen = h.screen();
    MonitorPanel& panel = *screen.monitorPanel;
    screen.bottomTabs->setCurrentWidget(&panel);
    for (int row = 0; row < 3; ++row) {
        screen.pickerViewDidSelectRow(nullptr, row, 0);
        QTest::keyClick(screen.textField, Qt::Key_M, Qt::ControlModifier);
    }
    QCOMPARE(panel.rowCount(), 3);
    QTest::keyClick(panel.row(2)->pan, Qt::Key_End);
    QTest::keyClick(panel.row(2)->up, Qt::Key_Space);  // the last one goes up
    QCOMPARE(QApplication::focusWidget(), panel.row(1)->up);
    QTest::keyClick(panel.row(0)->pan, Qt::Key_Home);
    QTest::keyClick(panel.row(2)->priority, Qt::Key_Space);
    QCOMPARE(h.monitor->controls(0).pan, -1.0);
    QCOMPARE(h.monitor->controls(1).pan, 1.0);
    QVERIFY(h.monitor->controls(2).priority);
    QTest::mouseClick(panel.playButton(), Qt::LeftButton);
    std::array<bool, 3> heard{};
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            bool all = true;
            for (int row = 0; row < 3; ++row) {
                heard[row] = heard[row] || panel.row(row)->level->value() > -50;
                all = all && heard[row] &&
                      h.monitor->player(row).playState() == PlaybackController::PlayState::Playing;
            }
            return all;
        }(),
        15000);
    save(screen, QStringLiteral("monitor"));
    QTest::mouseClick(panel.playButton(), Qt::LeftButton);
    QTRY_VERIFY(!h.monitor->playing());
    screen.bottomTabs->setCurrentIndex(0);

    // A server's error page instead of audio: the player fails before playing.
    h.setUrlText(h.url("/gone.mp3"));
    h.press();
    QMessageBox* box = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((box = shownAlert()) != nullptr, 15000);
    QVERIFY(QTest::qWaitForWindowExposed(box));
    const auto errors = [](const char* key) { return QCoreApplication::translate("Errors", key); };
    QCOMPARE((QStringList{box->windowTitle(), box->text(), box->buttons().front()->text()}),
             (QStringList{errors("Audio Error"), errors("Attempt to play streaming audio failed."),
                          errors("OK")}));
    QCOMPARE(box->buttons().size(), 1);
    QCOMPARE(box->windowModality(), Qt::ApplicationModal);
    QCOMPARE(box->textFormat(), Qt::PlainText);
    // The worker waited only until the box was up: it ends while it is shown.
    QTRY_COMPARE_WITH_TIMEOUT(h.workers.running(), std::size_t{0}, 5000);
    QVERIFY(box->isVisible());
    QTRY_COMPARE(h.button().imageName(), QStringLiteral("playbutton.png"));
    QVERIFY(!h.button().hasAnimations());
    QCOMPARE(h.status(), QCoreApplication::translate("OrventoViewController",
                                                     "The stream could not be opened: %1")
                             .arg("the server answered \"HTTP/1.1 404 <font size=7>HUGE</font>\""));
    QCOMPARE(h.screen().statusLabel->textFormat(), Qt::PlainText);
    save(h.screen(), QStringLiteral("ended"));
    save(*box, QStringLiteral("alert"));
}

void ScreenshotTest::anotherAirport() {
    // Low cloud at LTFM, in a window tall enough for the whole timeline.
    const site::StationSite site({.folder = ORVENTO_STATION_SITE_DIR});
    const QString url = QString::fromStdString(site.baseUrl());
    ScreenHarness h(nullptr, nullptr, url, url);
    h.screen().resize(h.screen().width(), 1040);
    h.screen().chooseAirport(QStringLiteral("ltfm"));
    QTRY_VERIFY(h.screen().metar->toPlainText().contains(QStringLiteral("TAF LTFM")));
    save(h.screen(), QStringLiteral("weather-ltfm"));
}

void ScreenshotTest::withoutAStationList() {
    // The catalogue's server hangs up; the weather is there.
    const site::StationSite site({.folder = ORVENTO_STATION_SITE_DIR});
    loopback::LoopbackServer server;
    server.setScript(kCataloguePath, loopback::Script::fixed("[]").closeAfter(0));
    server.setScript(kMetarPath, loopback::Script::fixed(site.metar()));
    server.setScript(kTafPath, loopback::Script::fixed(site.taf()));
    const QString url = QString::fromStdString(server.url(""));
    ScreenHarness h(nullptr, nullptr, url, url);
    QVERIFY(!h.screen().selectButton->isEnabled());
    save(h.screen(), QStringLiteral("no-stations"));
}

void ScreenshotTest::playerSettings() {
    // Closing keeps the station playing; one kind of notice turned off.
    const std::unique_ptr<Settings> settings = Settings::temporary();
    settings->setKeepPlayingWhenClosed(true);
    settings->setNotifies(Settings::kNotifyRecordingStoppedKey, false);
    PlayerSettingsDialog dialog(*settings);
    dialog.adjustSize();
    save(dialog, QStringLiteral("settings"));
}

}  // namespace orvento::test

QTEST_MAIN(orvento::test::ScreenshotTest)
#include "ScreenshotTest.moc"
