// OrventoViewController: the application's one screen, the player. It shows
// what its PlaybackController says and hands it what the user does; it owns
// no player.
//
// The play/stop button. A press (a click, Space or Return on the button,
// Return in the URL field) is the controller's press(). The button follows
// the controller: the loading image and the spin when a press starts a
// player; the spin ends when a press stops it; the stop image when the player
// reports playing and the play image when it has ended, in the order the
// player reported. The status line and the listening time show the
// controller's texts, as plain text.
//
// The URL field and the station name field show the controller's selected
// station; typing in the URL field selects what is typed, named only when it
// is a listed station's URL. The select control shows and hides the station
// picker, the list of a StationBrowser (with its search and scopes) on the
// StationListModel; choosing a row (click, or Return on it) selects that
// station, hides the picker and leaves the focus on the button, where Return
// plays it. Ctrl+F (or Find in the menu) opens the picker at its search;
// Return there plays the first match (stopping what plays first). A star on
// a row (a click, or Space) makes the station a favourite; the favourites,
// the stations played last and the last station (selected at start, and
// played when the user asked for that) are kept by a StationMemory in the
// Settings. The picker's data source and row operations speak of catalogue
// rows (tableData1, tableData2), whatever the search shows.
//
// Set-up (viewDidLoad) starts three downloads at once, off the main thread:
// the station catalogue, the METAR and the TAF of the airport in the settings
// (LTBA unless the user chose another). The window is usable meanwhile (a
// typed URL plays; closing ends the application at once, and the downloads
// with it). Their results are applied as they arrive, in set-up's order:
// first the station list (the last station played selected, or else the
// first station, unless the user has typed an address by then; one "adi="
// line a station), then the weather panel, once both reports are there.
// After set-up, "Reload stations" (F5) downloads the catalogue again: a list
// that cannot be used leaves the current one in place, and the status line
// says why. The community directory's stations (StationDirectory), when
// there is a directory, come from its cache at once and are fetched when it
// is a day old, and again with F5; each play of a directory station that the
// user starts (not a reconnection) is counted with the directory. Without a
// catalogue server there is no catalogue to load and nothing wrong with that. The weather is
// fetched again every 10 minutes, on request (Refresh, Ctrl+R), and when the user types another
// airport's code.
//
// Layout. The controls come from the interface description
// (resources/OrventoViewController.ui), built when the screen is created and
// connected to the outlets below, and to the actions: the button's click ->
// buttonPressed, Return in the URL field -> textFieldShouldReturn, the select
// control's click -> SelectbuttonClick. The menu button holds the screen's
// actions. The bottom card is a tab widget (bottomTabs): the weather is its
// first tab; other features add theirs (addBottomTab), each a widget of its
// own: the monitor's, when the screen is given a monitor. ScreenLayouts
// arranges these controls anew for wide and for short windows.
//
// Main thread only.
#pragma once

#include <QAction>
#include <QByteArray>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QStringList>
#include <QTabWidget>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>
#include <QWidget>
#include <chrono>
#include <memory>
#include <optional>

#include "controller/AirportWeather.h"
#include "controller/BackgroundDownload.h"
#include "controller/DiagnosticLog.h"
#include "controller/MonitorController.h"
#include "controller/PlaybackController.h"
#include "controller/Settings.h"
#include "controller/SleepTimer.h"
#include "controller/StationDirectory.h"
#include "controller/StationListModel.h"
#include "controller/StationMemory.h"
#include "controller/StatusTexts.h"
#include "screen/IdleTimer.h"
#include "screen/MonitorPanel.h"
#include "screen/ReportTextView.h"
#include "screen/ScreenLayouts.h"
#include "screen/SpinningButton.h"
#include "screen/StationBrowser.h"
#include "screen/TransmissionsPanel.h"
#include "screen/WeatherPanel.h"
#include "ui_OrventoViewController.h"

namespace orvento {

// What a screen runs on.
struct ScreenServices {
    LogSink log{};  // diagnostic lines; empty: standard error (writeLogLine)
    // The catalogue and weather servers, as base URLs ("http://host:port") to
    // which the fixed paths are appended. Empty: set-up fetches nothing there.
    QString catalogueBaseUrl{};
    QString weatherBaseUrl{};
    // Where the weather server keeps its files.
    weather::ServerLayout weatherLayout = weather::ServerLayout::own;
    // The community directory's servers; none: no "Directory" source.
    DirectoryServers directory{};
    // Where the directory's list is cached; empty: nowhere.
    QString cacheFolder{};
    // Switched off by set-up, so that the desktop neither blanks nor locks
    // while the application runs. Null: there is none to switch.
    std::shared_ptr<IdleTimer> idleTimer{};
    // The user's settings. Null: settings for this run only.
    std::shared_ptr<Settings> settings{};
    // Several stations at once: with one, the bottom card has a "Monitor"
    // tab (MonitorPanel) and the menu its Ctrl+M. It outlives the screen.
    MonitorController* monitor = nullptr;
    // Stops playback after a while: with one, the menu has "Sleep timer" and
    // the status line counts it down. It outlives the screen.
    SleepTimer* sleepTimer = nullptr;
};

class OrventoViewController : public QWidget {
    Q_OBJECT

  public:
    // Image names and the spin, as the button shows them.
    static constexpr const char* kPlayImage = "playbutton.png";
    static constexpr const char* kLoadingImage = "loadingbutton.png";
    static constexpr const char* kStopImage = "stopbutton.png";
    static constexpr float kFullTurn = 6.2831855f;  // 2 pi, one turn
    static constexpr std::chrono::milliseconds kSpinDuration{2000};
    // Stations named one by one in the log at set-up; the rest in one line.
    static constexpr qsizetype kLoggedStationsLimit = 1000;

    // The controller and the station list outlive the screen.
    OrventoViewController(PlaybackController& controller, StationListModel& stations,
                          ScreenServices services = {}, QWidget* parent = nullptr);
    // Abandons set-up's downloads still under way.
    ~OrventoViewController() override;

    PlaybackController& controller() const { return controller_; }
    Settings& settings() const { return *settings_; }
    StationMemory& stationMemory() { return memory_; }
    AirportWeather& weather() { return weather_; }
    StationDirectory& directory() { return directory_; }
    // Adds a tab to the bottom card, after the others.
    void addBottomTab(QWidget* page, const QString& title);
    // How the controls are arranged for the window's size.
    ScreenLayouts& layouts() const { return *layouts_; }

    // Set-up, once, after the actions are connected.
    void viewDidLoad();

    // The station picker. The select control shows or hides it; the data
    // source answers from the station list whatever the component; a
    // selection selects station `row` and hides the picker.
    void SelectbuttonClick(QObject* sender);
    int numberOfComponentsInPickerView(QListView* picker) const;
    qsizetype pickerViewNumberOfRowsInComponent(QListView* picker, int component) const;
    QString pickerViewTitleForRow(QListView* picker, qsizetype row, int component) const;
    void pickerViewDidSelectRow(QListView* picker, qsizetype row, int component);

    // The weather panel: fetches both reports; set-up shows them.
    void ikiyegec();
    // The airport typed in the weather panel: a valid code becomes the
    // setting (and its reports are fetched); another is refused with a word.
    void chooseAirport(const QString& typed);

    // Selects `station` and plays it: at once when idle, else once what
    // plays has stopped (the tray's Favourites and Recent).
    void playStation(const Station& station);

    // Downloads the catalogue again (see above); one at a time.
    void reloadStations();
    // Opens the picker at its search field.
    void openSearch();

    // Play/stop button.
    void buttonPressed();
    void setButtonImage(const QString& name);
    void spinButton();
    void animationDidStop(bool finished);
    // Return in the URL field: a press of the button. Answers false (the
    // field keeps the focus).
    bool textFieldShouldReturn(QLineEdit* field);

    // The station lists, in picker order.
    QStringList tableData1() const { return stations_.names(); }
    QStringList tableData2() const { return stations_.urls(); }

    QLabel* timerLabel() const { return _timerLabel; }
    void setTimerLabel(QLabel* label) { _timerLabel = label; }
    QLineEdit* myTextField2() const { return _myTextField2; }
    void setMyTextField2(QLineEdit* field) { _myTextField2 = field; }
    QListView* picker() const { return _picker; }
    void setPicker(QListView* picker) { _picker = picker; }

    // Outlets the layout connects.
    QLineEdit* textField = nullptr;  // the stream URL as text
    SpinningButton* button = nullptr;
    ReportTextView* metar = nullptr;           // the weather reports as text
    QAbstractButton* selectButton = nullptr;   // shows or hides the station picker
    QLabel* statusLabel = nullptr;             // the status line under the button
    StationBrowser* stationBrowser = nullptr;  // the picker with its search
    QTabWidget* bottomTabs = nullptr;          // the bottom card's features
    WeatherPanel* weatherPanel = nullptr;      // the "Weather" tab
    // The "Transmissions" tab; its R and Escape keys are the window's.
    TransmissionsPanel* transmissionsPanel = nullptr;
    MonitorPanel* monitorPanel = nullptr;  // the "Monitor" tab, with a monitor
    QToolButton* menuButton = nullptr;     // the screen's actions

    // The menu's actions; their shortcuts work anywhere in the window.
    QAction* findAction = nullptr;             // Ctrl+F
    QAction* reloadAction = nullptr;           // F5
    QAction* addStationAction = nullptr;       // Ctrl+N
    QAction* refreshWeatherAction = nullptr;   // Ctrl+R
    QAction* playLastAtStartAction = nullptr;  // checkable: the setting
    QAction* settingsAction = nullptr;         // opens the player's settings
    QMenu* sleepMenu = nullptr;                // with a sleep timer: Off, the minutes, the end

  signals:
    // One of set-up's downloads has arrived (before its result is applied).
    void setUpDownloadArrived();

  protected:
    // Return or Enter on a row of the picker chooses it; Escape hides it.
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Arranges the controls for the new size.
    void resizeEvent(QResizeEvent* event) override;
    // Tab and Shift+Tab in the arrangement's reading order.
    bool focusNextPrevChild(bool next) override;

  private:
    using CatalogueArrived = std::function<void(const std::optional<CatalogueDownload>& read)>;
    // Downloads and reads the catalogue; none when there is no server to ask
    // (`arrived` is then called at once, with none).
    std::unique_ptr<BackgroundDownload> downloadCatalogue(CatalogueArrived arrived);
    // Applies what has arrived, in set-up's order.
    void applySetUpResults();
    void applyCatalogue(const std::optional<CatalogueDownload>& read);
    void applyReload(const std::optional<CatalogueDownload>& read);
    // Logs why a catalogue could not be used, or what was skipped of it.
    void logCatalogue(const std::optional<CatalogueDownload>& read);
    void showWeather();
    void showDirectory();
    // The catalogue's stations and the directory's.
    QList<Station> listedStations() const;
    void settingChanged(const QString& key);
    void addTransmissionsTab();
    void createMenu();
    void addSleepMenu(QMenu* menu);
    // The status line: a replay's, or the controller's, and the sleep timer's countdown.
    void showStatusLine();
    void openSettings();
    void addressChanged(const QString& text);
    // The catalogue's stations, then those remembered that it lacks.
    void showStations(const QList<Station>& catalogue);
    // Adds a station of one's own (`changed` empty) or changes `changed`.
    void openStationDialog(const Station& changed);
    void showSelectedStation();
    void pickerRowChosen(const QModelIndex& index);
    void openPicker();
    // Closes the picker (a sidebar stays) and leaves the focus next to it.
    void closePicker();
    // Plays the station selected: at once when idle, else once what plays has stopped.
    void playSelected();
    void log(const QString& text) const;

    PlaybackController& controller_;
    StationListModel& stations_;
    const ScreenServices services_;
    const std::shared_ptr<Settings> settings_;
    StationMemory memory_;
    AirportWeather weather_;
    StationDirectory directory_;
    bool directoryAsked_ = false;  // the user asked for the directory's update (F5)
    QDateTime directoryShown_;     // when the list the rows show was fetched
    Ui::OrventoViewController ui_;
    ScreenLayouts* layouts_ = nullptr;  // child

    // While a replay plays, what the status line says instead of the
    // controller's news (which it shows again when the replay ends).
    QString replayStatus_;
    std::unique_ptr<BackgroundDownload> catalogue_;  // set-up's
    bool catalogueArrived_ = false;
    std::optional<CatalogueDownload> catalogueRead_;
    bool catalogueApplied_ = false;
    bool weatherApplied_ = false;
    bool lastStationRestored_ = false;
    std::unique_ptr<BackgroundDownload> reload_;  // a reload under way
    QList<Station> catalogueStations_;            // as last loaded
    bool playAfterStop_ = false;

    QLabel* _timerLabel = nullptr;
    QLineEdit* _myTextField2 = nullptr;
    QListView* _picker = nullptr;

    // ---- Members that nothing in the application calls or reads: the
    // screen's interface keeps them (OrventoViewControllerUnused.cpp).
  public:
    static constexpr int kPortraitOrientation = 1;  // 2 upside down; 3, 4 landscape
    bool shouldAutorotateToInterfaceOrientation(int orientation) const;
    void startTimerAdMob();
    void timerTickA0();
    void timerTickA2();
    void timerTickA3();
    // Notifications of an asynchronous download collecting into the
    // `receivedData` field, which nothing creates. The final notification
    // (finished or failed) deletes `connection` later, on the event loop.
    void connectionDidReceiveResponse(QObject* connection);
    void connectionDidReceiveData(QObject* connection, const QByteArray& data);
    void connectionDidFinishLoading(QObject* connection);
    void connectionDidFailWithError(QObject* connection, const QString& description,
                                    const QString& failingUrl);
    void setTableData1(const QStringList& names);
    void setTableData2(const QStringList& urls);
    QWidget* contentView() const { return _contentView; }
    void setContentView(QWidget* view) { _contentView = view; }
    QWidget* ikiView() const { return _ikiView; }
    void setIkiView(QWidget* view) { _ikiView = view; }
    QLineEdit* myTextField() const { return _myTextField; }
    void setMyTextField(QLineEdit* field) { _myTextField = field; }
    QTextEdit* myTextView2() const { return myTextView2_; }
    void setMyTextView2(QTextEdit* view) { myTextView2_ = view; }
    std::shared_ptr<QByteArray> receivedData() const { return _receivedData; }
    void setReceivedData(std::shared_ptr<QByteArray> data) { _receivedData = std::move(data); }
    const QStringList& _pickerData() const { return pickerData_; }
    void set_pickerData(QStringList data) { pickerData_ = std::move(data); }

  private:
    QWidget* _contentView = nullptr;
    QLineEdit* myTextField_ = nullptr;          // the field, not the property
    std::shared_ptr<QByteArray> receivedData_;  // the field, not the property
    QWidget* myWebView = nullptr;
    QLabel* myLoadingLabel = nullptr;
    std::unique_ptr<QTimer> _timer0;
    std::unique_ptr<QTimer> _timer2;
    std::unique_ptr<QTimer> _timer3;
    QStringList pickerData_;
    QTextEdit* myTextView2_ = nullptr;
    QWidget* _ikiView = nullptr;
    QLineEdit* _myTextField = nullptr;
    std::shared_ptr<QByteArray> _receivedData;
};

}  // namespace orvento
