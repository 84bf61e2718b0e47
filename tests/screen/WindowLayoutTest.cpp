// The window's arrangements by its size: which one each size gets; a window
// resized across every breakpoint while a station of the local site plays,
// with a transmission row selected and the focus on the list, finds all of
// it as it was (the station list scrolled as it was too) and every control
// with the name it had; Tab follows the reading order of each arrangement and
// reaches every control; the station list as the sidebar stays open when a
// station is chosen in it or on Escape.
#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QButtonGroup>
#include <QScrollBar>
#include <QTest>

#include "tests/screen/ScreenHarness.h"
#include "tools/station-server/StationSite.h"

namespace orvento::test {
namespace {

struct Arrangement {
    ScreenLayout layout;
    int columns;
};

// Resizes the screen and waits for its arrangement.
bool resizeTo(OrventoViewController& screen, QSize size, Arrangement expected) {
    screen.resize(size);
    return QTest::qWaitFor([&] {
        return screen.size() == size && screen.layouts().shown() == expected.layout &&
               screen.layouts().panelColumns() == expected.columns;
    });
}

QString accessibleName(QWidget* widget) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face != nullptr ? face->text(QAccessible::Name) : QString();
}

// The controls Tab can reach now (of exclusive buttons, the checked one).
QList<QWidget*> tabStops(const QWidget& screen) {
    QList<QWidget*> stops;
    for (QWidget* widget : screen.findChildren<QWidget*>()) {
        const auto* button = qobject_cast<QAbstractButton*>(widget);
        if (button != nullptr && button->group() != nullptr && button->group()->exclusive() &&
            !button->isChecked()) {
            continue;
        }
        if (widget->isVisible() && widget->isEnabled() && (widget->focusPolicy() & Qt::TabFocus) &&
            widget->focusProxy() == nullptr) {
            stops.append(widget);
        }
    }
    return stops;
}

}  // namespace
}  // namespace orvento::test

Q_DECLARE_METATYPE(orvento::ScreenLayout)

namespace orvento::test {

class WindowLayoutTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void cleanupTestCase();
    void breakpoints_data();
    void breakpoints();
    void stateKeptAcrossBreakpoints_data();
    void stateKeptAcrossBreakpoints();
    void tabFollowsTheReadingOrder_data();
    void tabFollowsTheReadingOrder();
    void sidebarStaysOpen();
    void scopesWholeAtEverySize_data();
    void scopesWholeAtEverySize();

  private:
    std::unique_ptr<site::StationSite> site_;
    std::unique_ptr<ScreenHarness> h_;
    int selectedRow_ = -1;
    int stationsScrolled_ = 0;
    QHash<QWidget*, QString> names_;
};

void WindowLayoutTest::initTestCase() {
    site_ =
        std::make_unique<site::StationSite>(site::SiteOptions{.folder = ORVENTO_STATION_SITE_DIR});
    const QString url = QString::fromStdString(site_->baseUrl());
    h_ = std::make_unique<ScreenHarness>(nullptr, nullptr, url, url);
    OrventoViewController& screen = h_->screen();
    QCOMPARE(screen.layouts().shown(), ScreenLayout::Narrow);
    // A station plays, and two transmissions are listed.
    screen.pickerViewDidSelectRow(nullptr, 0, 0);
    h_->press();
    TransmissionsPanel& transmissions = *screen.transmissionsPanel;
    QTRY_VERIFY_WITH_TIMEOUT(transmissions.list()->model()->rowCount() > 1, 30000);
    screen.bottomTabs->setCurrentWidget(&transmissions);
    selectedRow_ = 1;
    transmissions.list()->setCurrentIndex(transmissions.list()->model()->index(selectedRow_, 0));
    transmissions.list()->setFocus(Qt::TabFocusReason);
    QTRY_COMPARE(QApplication::focusWidget(), transmissions.list());
    QTRY_COMPARE(h_->button().imageName(), QStringLiteral("stopbutton.png"));
    // Once the station plays (a station played is remembered, which sets
    // the list anew), stations enough for the list to scroll, scrolled in
    // the sidebar.
    QList<Station> stations = h_->stations.stations();
    for (int i = 0; i < 60; ++i) {
        stations.append({QStringLiteral("Extra %1").arg(i),
                         QStringLiteral("http://127.0.0.1:9/extra-%1.mp3").arg(i)});
    }
    h_->stations.setStations(stations);
    QVERIFY(resizeTo(screen, QSize(1280, 800), {ScreenLayout::Wide, 2}));
    QScrollBar& stationsScroll = *screen.picker()->verticalScrollBar();
    QTRY_VERIFY(stationsScroll.maximum() > 20);
    stationsScroll.setValue(stationsScroll.maximum() - 10);
    stationsScrolled_ = stationsScroll.value();
    QVERIFY(resizeTo(screen, QSize(400, 780), {ScreenLayout::Narrow, 1}));
    transmissions.list()->setFocus(Qt::TabFocusReason);
    QTRY_COMPARE(QApplication::focusWidget(), transmissions.list());
    for (QWidget* widget : tabStops(screen)) {
        names_.insert(widget, accessibleName(widget));
    }
}

void WindowLayoutTest::cleanupTestCase() {
    h_.reset();
    site_.reset();
}

void WindowLayoutTest::breakpoints_data() {
    QTest::addColumn<QSize>("size");
    QTest::addColumn<ScreenLayout>("layout");
    QTest::addColumn<int>("columns");
    QTest::newRow("phone") << QSize(400, 780) << ScreenLayout::Narrow << 1;
    QTest::newRow("just narrow") << QSize(899, 640) << ScreenLayout::Narrow << 1;
    QTest::newRow("just short") << QSize(899, 639) << ScreenLayout::Short << 1;
    QTest::newRow("just wide") << QSize(900, 600) << ScreenLayout::Wide << 1;
    QTest::newRow("wide and short") << QSize(900, 560) << ScreenLayout::Wide << 1;
    QTest::newRow("two columns") << QSize(1200, 800) << ScreenLayout::Wide << 2;
    QTest::newRow("not yet three") << QSize(1599, 800) << ScreenLayout::Wide << 2;
    QTest::newRow("three columns") << QSize(1600, 900) << ScreenLayout::Wide << 3;
}

void WindowLayoutTest::breakpoints() {
    QFETCH(QSize, size);
    QFETCH(ScreenLayout, layout);
    QFETCH(int, columns);
    QCOMPARE(ScreenLayouts::layoutFor(size), layout);
    if (layout == ScreenLayout::Wide) {
        QCOMPARE(ScreenLayouts::panelColumnsFor(size.width()), columns);
    }
}

void WindowLayoutTest::stateKeptAcrossBreakpoints_data() {
    QTest::addColumn<QSize>("size");
    QTest::addColumn<ScreenLayout>("layout");
    QTest::addColumn<int>("columns");
    // In this order: every breakpoint crossed both ways.
    QTest::newRow("two columns") << QSize(1280, 800) << ScreenLayout::Wide << 2;
    QTest::newRow("three columns") << QSize(1920, 1080) << ScreenLayout::Wide << 3;
    QTest::newRow("wide, tabs") << QSize(1000, 700) << ScreenLayout::Wide << 1;
    QTest::newRow("short") << QSize(800, 560) << ScreenLayout::Short << 1;
    QTest::newRow("narrow") << QSize(400, 780) << ScreenLayout::Narrow << 1;
    QTest::newRow("wide and short") << QSize(900, 560) << ScreenLayout::Wide << 1;
    QTest::newRow("short again") << QSize(500, 560) << ScreenLayout::Short << 1;
    QTest::newRow("narrow again") << QSize(400, 780) << ScreenLayout::Narrow << 1;
}

void WindowLayoutTest::stateKeptAcrossBreakpoints() {
    QFETCH(QSize, size);
    QFETCH(ScreenLayout, layout);
    QFETCH(int, columns);
    OrventoViewController& screen = h_->screen();
    QVERIFY(resizeTo(screen, size, {layout, columns}));
    QListView& list = *screen.transmissionsPanel->list();

    QCOMPARE(h_->controller->playState(), PlaybackController::PlayState::Playing);
    QCOMPARE(h_->button().imageName(), QStringLiteral("stopbutton.png"));
    QCOMPARE(list.currentIndex().row(), selectedRow_);
    QVERIFY(list.selectionModel()->isRowSelected(selectedRow_, {}));
    QCOMPARE(QApplication::focusWidget(), &list);
    QVERIFY(list.isVisible());
    // One of each: the panels are moved, not copied.
    QCOMPARE(screen.findChildren<TransmissionsPanel*>().size(), 1);
    QCOMPARE(screen.findChildren<WeatherPanel*>().size(), 1);
    for (auto it = names_.cbegin(); it != names_.cend(); ++it) {
        if (it.key()->isVisible()) {
            QCOMPARE(accessibleName(it.key()), it.value());
        }
    }
    // The list of stations is the sidebar of a wide window only, where it
    // is scrolled as it was.
    QCOMPARE(screen.picker()->isVisible(), layout == ScreenLayout::Wide);
    if (layout == ScreenLayout::Wide) {
        QCOMPARE(screen.picker()->verticalScrollBar()->value(), stationsScrolled_);
    }
    QCOMPARE(screen.selectButton->isVisible(), layout != ScreenLayout::Wide);
}

void WindowLayoutTest::tabFollowsTheReadingOrder_data() {
    QTest::addColumn<QSize>("size");
    QTest::addColumn<ScreenLayout>("layout");
    QTest::addColumn<int>("columns");
    QTest::newRow("narrow") << QSize(400, 780) << ScreenLayout::Narrow << 1;
    QTest::newRow("short") << QSize(800, 560) << ScreenLayout::Short << 1;
    QTest::newRow("wide, tabs") << QSize(1000, 700) << ScreenLayout::Wide << 1;
    QTest::newRow("two columns") << QSize(1280, 800) << ScreenLayout::Wide << 2;
    QTest::newRow("three columns") << QSize(1920, 1080) << ScreenLayout::Wide << 3;
    QTest::newRow("narrow again") << QSize(400, 780) << ScreenLayout::Narrow << 1;
}

void WindowLayoutTest::tabFollowsTheReadingOrder() {
    QFETCH(QSize, size);
    QFETCH(ScreenLayout, layout);
    QFETCH(int, columns);
    OrventoViewController& screen = h_->screen();
    QVERIFY(resizeTo(screen, size, {layout, columns}));
    screen.bottomTabs->setCurrentWidget(screen.transmissionsPanel);
    const WeatherPanel& weather = *screen.weatherPanel;
    const MonitorPanel& monitor = *screen.monitorPanel;
    QList<QWidget*> reading;
    if (layout == ScreenLayout::Wide) {
        reading = {screen.menuButton, screen.myTextField2(), screen.stationBrowser->searchField(),
                   screen.picker(),   screen.textField,      screen.button};
        if (columns == 1) {
            reading.append(screen.transmissionsPanel->list());
        } else {
            reading.append(
                {screen.transmissionsPanel->sayAgainButton(), screen.transmissionsPanel->list()});
            if (columns == 2) {
                reading.append(monitor.addButton());
            }
            reading.append({weather.airportField(), weather.refreshButton()});
            if (columns == 3) {
                reading.append(monitor.addButton());
            }
        }
    } else {
        reading = {screen.textField,
                   screen.button,
                   screen.selectButton,
                   screen.myTextField2(),
                   screen.transmissionsPanel->list(),
                   screen.menuButton};
    }

    reading.front()->setFocus(Qt::TabFocusReason);
    QTRY_COMPARE(QApplication::focusWidget(), reading.front());
    const QList<QWidget*> stops = tabStops(screen);
    QList<QWidget*> reached{reading.front()};
    while (reached.size() <= stops.size()) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        reached.append(QApplication::focusWidget());
    }
    QStringList seen;
    for (QWidget* widget : reached) {
        seen.append(widget->objectName() + QLatin1Char('/') + widget->metaObject()->className());
    }
    QCOMPARE(reached.last(), reached.first());
    for (QWidget* stop : stops) {
        QVERIFY2(reached.contains(stop), qPrintable(stop->objectName()));
    }
    qsizetype previous = -1;
    for (QWidget* widget : reading) {
        const qsizetype at = reached.indexOf(widget);
        QVERIFY2(at > previous, qPrintable(QStringLiteral("%1 reached at %2, after %3")
                                               .arg(widget->objectName())
                                               .arg(at)
                                               .arg(previous)));
        previous = at;
    }
}

void WindowLayoutTest::sidebarStaysOpen() {
    // A station chosen in the sidebar, and Escape there: the list stays, the
    // focus goes to the button; the column shows its list closed.
    OrventoViewController& screen = h_->screen();
    QVERIFY(resizeTo(screen, QSize(1280, 800), {ScreenLayout::Wide, 2}));
    QListView& list = *screen.picker();
    list.setFocus(Qt::TabFocusReason);
    list.setCurrentIndex(list.model()->index(2, 0));
    QTest::keyClick(&list, Qt::Key_Return);
    QCOMPARE(h_->controller->selectedStation(), h_->stations.station(2));
    QVERIFY(list.isVisible());
    QCOMPARE(QApplication::focusWidget(), screen.button);
    list.setFocus(Qt::TabFocusReason);
    QTest::keyClick(&list, Qt::Key_Escape);
    QVERIFY(list.isVisible());
    QCOMPARE(QApplication::focusWidget(), screen.button);
    QVERIFY(resizeTo(screen, QSize(400, 780), {ScreenLayout::Narrow, 1}));
    QVERIFY(list.isHidden());
}

void WindowLayoutTest::scopesWholeAtEverySize_data() {
    QTest::addColumn<QSize>("size");
    QTest::addColumn<ScreenLayout>("layout");
    QTest::addColumn<int>("columns");
    QTest::newRow("narrow, 360 wide") << QSize(360, 780) << ScreenLayout::Narrow << 1;
    QTest::newRow("narrow") << QSize(400, 780) << ScreenLayout::Narrow << 1;
    QTest::newRow("short") << QSize(800, 560) << ScreenLayout::Short << 1;
    QTest::newRow("sidebar") << QSize(1280, 800) << ScreenLayout::Wide << 2;
}

void WindowLayoutTest::scopesWholeAtEverySize() {
    // Every scope shown (a catalogue and the directory): each button keeps
    // its whole text, on as many lines of buttons as it takes, and none
    // overlaps another or runs out of the browser.
    QFETCH(QSize, size);
    QFETCH(ScreenLayout, layout);
    QFETCH(int, columns);
    OrventoViewController& screen = h_->screen();
    StationBrowser& browser = *screen.stationBrowser;
    browser.setSources(true, true);
    QVERIFY(resizeTo(screen, size, {layout, columns}));
    if (layout != ScreenLayout::Wide && !screen.picker()->isVisible()) {
        screen.selectButton->click();
    }
    QTRY_VERIFY(screen.picker()->isVisible());
    QList<QRect> taken;
    for (int scope = 0; scope < 5; ++scope) {
        const QAbstractButton* button =
            browser.scopeButton(static_cast<StationFilterModel::Scope>(scope));
        QVERIFY(button->isVisible());
        QVERIFY2(button->width() >= button->sizeHint().width(), qPrintable(button->text()));
        const QRect place = button->geometry();
        QVERIFY2(browser.rect().contains(place), qPrintable(button->text()));
        for (const QRect& other : taken) {
            QVERIFY2(!other.intersects(place), qPrintable(button->text()));
        }
        taken.append(place);
    }
    if (layout != ScreenLayout::Wide) {
        screen.selectButton->click();
    }
    browser.setSources(true, false);
}

}  // namespace orvento::test

QTEST_MAIN(orvento::test::WindowLayoutTest)
#include "WindowLayoutTest.moc"
