// The application shell: the window the delegate shows, its keyboard use, the
// orientation policy, the translation chosen by the locale, and the program's
// answer on a machine without a display.
#include <QApplication>
#include <QProcess>
#include <QTest>
#include <chrono>
#include <memory>

#include "app/OrventoApplication.h"
#include "engine/WorkerRegistry.h"
#include "screen/ScreenTexts.h"
#include "screen/Translations.h"
#include "screen/WeatherReport.h"
#include "tools/loopback/LoopbackServer.h"

namespace orvento::test {
namespace {

const QString kStationUrl = QStringLiteral("http://127.0.0.1:8000/tower.mp3");

// A delegate launched the way main() does it, over services that log into a
// list, against a server with one station and both weather reports.
struct LaunchedApp {
    LaunchedApp() {
        server.setScript(kCataloguePath,
                         loopback::Script::fixed(R"([{"a":"Tower","d":")" +
                                                 kStationUrl.toStdString() + R"("}])"));
        server.setScript(kMetarPath, loopback::Script::fixed("LTBA 141220Z"));
        server.setScript(kTafPath, loopback::Script::fixed("TAF LTBA"));
        ScreenServices services;
        services.engine.workers = &workers;
        services.log = [this](std::string_view text) {
            log.append(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
        };
        services.catalogueBaseUrl = services.weatherBaseUrl =
            QString::fromStdString(server.url(""));
        delegate = std::make_unique<OrventoAppDelegate>(std::move(services));
        delegate->applicationDidFinishLaunching();
    }
    ~LaunchedApp() {
        delegate.reset();
        workers.shutdown(std::chrono::seconds(10));
    }
    LaunchedApp(const LaunchedApp&) = delete;
    LaunchedApp& operator=(const LaunchedApp&) = delete;
    OrventoViewController& screen() const { return *delegate->viewController(); }

    loopback::LoopbackServer server;
    WorkerRegistry workers;
    QStringList log;  // main thread: nothing here plays
    std::unique_ptr<OrventoAppDelegate> delegate;
};

}  // namespace

class AppTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void launchShowsThePlayerScreen();
    void keyboardReachesEveryControl();
    void keysPressThePlayButton_data();
    void keysPressThePlayButton();
    void onlyUprightPortraitIsAccepted_data();
    void onlyUprightPortraitIsAccepted();
    void translationFollowsTheLocale_data();
    void translationFollowsTheLocale();
    void withoutADisplayItSaysSoInOneLine();
};

void AppTest::initTestCase() {
    applyOrventoLook(*qApp);
}

void AppTest::launchShowsThePlayerScreen() {
    LaunchedApp app;
    QMainWindow* window = app.delegate->window();
    QVERIFY(QTest::qWaitForWindowActive(window));
    QCOMPARE(window->windowTitle(), QStringLiteral("Orvento"));
    QVERIFY(!window->windowIcon().isNull());
    QCOMPARE(window->centralWidget(), &app.screen());
    // Phone-shaped: portrait, at least the layout's minimum.
    QVERIFY(window->height() > window->width() * 3 / 2);
    QVERIFY(window->width() >= 360 && window->height() >= 640);

    OrventoViewController& screen = app.screen();
    QCOMPARE(QApplication::focusWidget(), screen.textField);
    QCOMPARE(screen.textField->text(), kStationUrl);
    QCOMPARE(screen.myTextField2()->text(), QStringLiteral("Tower"));
    QVERIFY(screen.picker()->isHidden());
    QVERIFY(screen.selectButton->isEnabled());
    QCOMPARE(screen.button->imageName(), QStringLiteral("playbutton.png"));
    QCOMPARE(screen.statusLabel->text(), readyText());
    QCOMPARE(screen.timerLabel()->text(), QStringLiteral("00:00:00"));
    QCOMPARE(screen.metar->text(), QStringLiteral("METAR:\nLTBA 141220Z\nTAF:\nTAF LTBA"));
    QCOMPARE(screen.tableData2(), QStringList{kStationUrl});

    QTest::keyClick(window, Qt::Key_Q, Qt::ControlModifier);
    QTRY_VERIFY(!window->isVisible());
}

void AppTest::keyboardReachesEveryControl() {
    LaunchedApp app;
    QVERIFY(QTest::qWaitForWindowActive(app.delegate->window()));
    OrventoViewController& screen = app.screen();

    // Every control a user can act on now takes the focus by Tab.
    QList<QWidget*> expected;
    for (QWidget* widget : screen.findChildren<QWidget*>()) {
        if (widget->isVisible() && widget->isEnabled() &&
            (widget->focusPolicy() & Qt::TabFocus) != 0) {
            expected.append(widget);
        }
    }
    QVERIFY(expected.contains(screen.button));

    QList<QWidget*> reached{QApplication::focusWidget()};
    for (int i = 0; i < 20; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        if (QApplication::focusWidget() == reached.front()) {
            break;
        }
        reached.append(QApplication::focusWidget());
    }
    QCOMPARE(reached.value(0), static_cast<QWidget*>(screen.textField));
    QCOMPARE(reached.value(1), static_cast<QWidget*>(screen.button));
    for (QWidget* widget : expected) {
        QVERIFY2(reached.contains(widget), qPrintable(widget->objectName()));
    }
    QCOMPARE(reached.size(), expected.size());
}

void AppTest::keysPressThePlayButton_data() {
    QTest::addColumn<bool>("onButton");
    QTest::newRow("Return in the URL field") << false;
    QTest::newRow("Space on the button") << true;
}

void AppTest::keysPressThePlayButton() {
    QFETCH(bool, onButton);
    LaunchedApp app;
    QVERIFY(QTest::qWaitForWindowActive(app.delegate->window()));
    OrventoViewController& screen = app.screen();
    screen.textField->setText(QStringLiteral("tower"));  // no URL: ends at once
    if (onButton) {
        QTest::keyClick(screen.textField, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), screen.button);
        QTest::keyClick(screen.button, Qt::Key_Space);
    } else {
        QTest::keyClick(screen.textField, Qt::Key_Return);
        // The field keeps the focus.
        QCOMPARE(QApplication::focusWidget(), screen.textField);
    }
    QCOMPARE(app.log.last(), QStringLiteral("txt:tower"));
    QCOMPARE(screen.button->imageName(), QStringLiteral("loadingbutton.png"));
    QTRY_COMPARE(screen.button->imageName(), QStringLiteral("playbutton.png"));
}

void AppTest::onlyUprightPortraitIsAccepted_data() {
    QTest::addColumn<int>("orientation");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("upright portrait") << 1 << true;
    QTest::newRow("upside-down portrait") << 2 << false;
    QTest::newRow("landscape left") << 3 << false;
    QTest::newRow("landscape right") << 4 << false;
}

void AppTest::onlyUprightPortraitIsAccepted() {
    QFETCH(int, orientation);
    QFETCH(bool, accepted);
    const OrventoViewController screen;
    QCOMPARE(screen.shouldAutorotateToInterfaceOrientation(orientation), accepted);
}

void AppTest::translationFollowsTheLocale_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<bool>("shipped");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("ready");
    QTest::newRow("English") << "en_US" << false << "Audio Error"
                             << "OK"
                             << "Press play to listen.";
    QTest::newRow("Turkish") << "tr_TR" << true << "Ses Hatası"
                             << "Tamam"
                             << "Dinlemek için çal düğmesine basın.";
    QTest::newRow("German, not shipped") << "de_DE" << false << "Audio Error"
                                         << "OK"
                                         << "Press play to listen.";
}

void AppTest::translationFollowsTheLocale() {
    QFETCH(QString, locale);
    QFETCH(bool, shipped);
    QFETCH(QString, title);
    QFETCH(QString, button);
    QFETCH(QString, ready);
    const std::unique_ptr<QTranslator> translation = installTranslation(QLocale(locale));
    QCOMPARE(translation != nullptr, shipped);
    const std::shared_ptr<LocalizedStrings> errors = errorsTable();
    QCOMPARE(
        QString::fromStdString(errors->localizedStringForKey(kAlertTitleKey, "", kErrorsTable)),
        title);
    QCOMPARE(
        QString::fromStdString(errors->localizedStringForKey(kAlertButtonKey, "", kErrorsTable)),
        button);
    QCOMPARE(readyText(), ready);
}

void AppTest::withoutADisplayItSaysSoInOneLine() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        environment.remove(QString::fromLatin1(name));
    }
    QProcess orvento;
    orvento.setProcessEnvironment(environment);
    orvento.start(QStringLiteral(ORVENTO_APP_PATH), {});
    QVERIFY(orvento.waitForFinished(10000));
    QCOMPARE(orvento.exitStatus(), QProcess::NormalExit);
    QCOMPARE(orvento.exitCode(), 1);
    const QString errors = QString::fromUtf8(orvento.readAllStandardError());
    QVERIFY2(errors.startsWith(QStringLiteral("orvento: no display")), qPrintable(errors));
    QCOMPARE(errors.count(QLatin1Char('\n')), 1);
}

}  // namespace orvento::test

QTEST_MAIN(orvento::test::AppTest)
#include "AppTest.moc"
