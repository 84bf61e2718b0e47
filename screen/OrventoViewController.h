// OrventoViewController: the application's one screen, the player.
//
// The screen owns at most one stream player (`streamer`) at a time: a press of
// the play button creates it for the URL field's text, observes it and starts
// it; a press while a player exists stops it. The screen learns of playback
// only through the player's notifications and shows four states:
//
//   state     streamer                    button image            spin  tick timer
//   Idle      none                        "playbutton.png"        no    stopped
//   Loading   not yet reported playing    "loadingbutton.png"     yes   stopped
//   Playing   reported playing            "stopbutton.png"        no    running
//   Stopping  stop requested              unchanged               no    unchanged
//
// playState() is the state as the button shows it; playStateChanged says
// when it changes (on the main thread), so that other controls (the media
// keys) can follow the button and press it.
//
// A player that ends without ever reporting whether it plays (the text is no
// URL, its stream or parser could not be opened) is taken as ended when it
// reports "hasEnded": the screen returns to Idle then too, so it never spins
// for ever. The status line under the button says what happened.
//
// Set-up (viewDidLoad) fills the station lists from the catalogue server and
// the weather panel from the weather server: three blocking downloads, one
// after the other, while the window keeps repainting and user input waits
// (waitWhilePainting). The select control shows and hides the station picker;
// choosing a station (click, or Return on a row) copies it into the URL and
// name fields and hides the picker.
//
// Layout. The controls come from the interface description
// (resources/OrventoViewController.ui), built when the screen is created and
// connected to the outlets below. The application delegate connects the
// controls' actions (button -> buttonPressed, return in the URL field ->
// textFieldShouldReturn, select control -> SelectbuttonClick) before set-up
// (viewDidLoad) runs.
//
// Threads. Everything runs on the main thread except the player's
// notifications (observeValueForKeyPath), which run on whichever thread
// reports: the player's output queue thread, its worker thread, or the main
// thread itself inside the player's stop(). A notification touches no widget:
// image and status changes are posted to the main thread, in order, also when
// the notification already runs there. startTimer and stopTimer may be called
// on any thread; they always take effect on the main thread, in call order.
// `streamer` (with what the screen noted about that player) is the one field
// both sides touch: it is guarded by streamerMutex_, which is never held while
// the screen calls into a player or a widget, so a notification raised inside
// stop() can take it. The press reads `streamer` under the lock and keeps its
// own reference while it calls stop(), so a notification that clears
// `streamer` meanwhile cannot destroy the player under it. The destructor
// lets notifications under way finish before the object goes.
#pragma once

#include <QByteArray>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QStringList>
#include <QTextEdit>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

#include "engine/Pelorin.h"
#include "screen/DiagnosticLog.h"
#include "screen/IdleTimer.h"
#include "screen/ScreenTexts.h"
#include "screen/SpinningButton.h"
#include "screen/StationCatalogue.h"
#include "ui_OrventoViewController.h"

namespace orvento {

// What a screen runs on.
struct ScreenServices {
    PelorinServices engine{};  // given to every player the screen creates
    LogSink log{};             // diagnostic lines; empty: standard error (writeLogLine)
    // The catalogue and weather servers, as base URLs ("http://host:port") to
    // which the fixed paths are appended. Empty: set-up fetches nothing there.
    QString catalogueBaseUrl{};
    QString weatherBaseUrl{};
    // Switched off by set-up, so that the desktop neither blanks nor locks
    // while the application runs. Null: there is none to switch.
    std::shared_ptr<IdleTimer> idleTimer{};
};

class StationPickerModel;

class OrventoViewController : public QWidget, public PelorinObserver {
    Q_OBJECT

  public:
    // Image names and the spin, as the button shows them.
    static constexpr const char* kPlayImage = "playbutton.png";
    static constexpr const char* kLoadingImage = "loadingbutton.png";
    static constexpr const char* kStopImage = "stopbutton.png";
    static constexpr float kFullTurn = 6.2831855f;  // 2 pi, one turn
    static constexpr std::chrono::milliseconds kSpinDuration{2000};
    static constexpr std::chrono::milliseconds kTickInterval{100};
    // Orientation values: 1 upright portrait; 2 upside down; 3, 4 landscape.
    static constexpr int kPortraitOrientation = 1;

    // The four states of the table above.
    enum class PlayState { Idle, Loading, Playing, Stopping };
    Q_ENUM(PlayState)

    explicit OrventoViewController(ScreenServices services = {}, QWidget* parent = nullptr);
    // Stops a player still held and stops observing it.
    ~OrventoViewController() override;

    // Set-up, once, on the main thread, after the actions are connected.
    void viewDidLoad();
    bool shouldAutorotateToInterfaceOrientation(int orientation) const;

    // The station picker (main thread). The select control shows or hides it;
    // the data source answers from tableData1 whatever the component; a
    // selection copies station `row` into the fields and hides the picker.
    void SelectbuttonClick(QObject* sender);
    int numberOfComponentsInPickerView(QListView* picker) const;
    qsizetype pickerViewNumberOfRowsInComponent(QListView* picker, int component) const;
    QString pickerViewTitleForRow(QListView* picker, qsizetype row, int component) const;
    void pickerViewDidSelectRow(QListView* picker, qsizetype row, int component);

    // The weather panel: fetches both reports and shows them (main thread).
    void ikiyegec();
    // Notifications of an asynchronous download collecting into the
    // `receivedData` field (main thread). Nothing in the application starts
    // such a download; a download that reports here is the screen's to end:
    // the final notification (finished or failed) deletes `connection` later,
    // on the event loop.
    void connectionDidReceiveResponse(QObject* connection);
    void connectionDidReceiveData(QObject* connection, const QByteArray& data);
    void connectionDidFinishLoading(QObject* connection);
    void connectionDidFailWithError(QObject* connection, const QString& description,
                                    const QString& failingUrl);

    // Play/stop button and play state (main thread, except the notification).
    void buttonPressed();
    void setButtonImage(const QString& name);
    void spinButton();
    void animationDidStop(bool finished);
    void observeValueForKeyPath(std::string_view keyPath, Pelorin& object) override;
    // The state the button shows. Main thread.
    PlayState playState() const { return playState_; }
    // Return in the URL field: a press of the button. Answers false (the
    // field keeps the focus).
    bool textFieldShouldReturn(QLineEdit* field);

    // Listening time. startTimer and stopTimer: any thread.
    void startTimer();
    void stopTimer();
    void timerTick();
    void startTimerAdMob();
    void timerTickA0();
    void timerTickA2();
    void timerTickA3();
    // Seconds listened so far, and whether the count runs now. Main thread.
    double listenedSeconds() const { return _ticks; }
    bool tickTimerRunning() const { return _timer != nullptr; }

    // Property accessors.
    QLabel* timerLabel() const { return _timerLabel; }
    void setTimerLabel(QLabel* label) { _timerLabel = label; }
    QWidget* contentView() const { return _contentView; }
    void setContentView(QWidget* view) { _contentView = view; }
    QWidget* ikiView() const { return _ikiView; }
    void setIkiView(QWidget* view) { _ikiView = view; }
    QLineEdit* myTextField() const { return _myTextField; }
    void setMyTextField(QLineEdit* field) { _myTextField = field; }
    QLineEdit* myTextField2() const { return _myTextField2; }
    void setMyTextField2(QLineEdit* field) { _myTextField2 = field; }
    QTextEdit* myTextView2() const { return myTextView2_; }
    void setMyTextView2(QTextEdit* view) { myTextView2_ = view; }
    std::shared_ptr<QByteArray> receivedData() const { return _receivedData; }
    void setReceivedData(std::shared_ptr<QByteArray> data) { _receivedData = std::move(data); }
    QListView* picker() const { return _picker; }
    void setPicker(QListView* picker) { _picker = picker; }
    const QStringList& _pickerData() const { return pickerData_; }
    void set_pickerData(QStringList data) { pickerData_ = std::move(data); }
    const QStringList& tableData1() const { return tableData1_; }
    void setTableData1(QStringList list) { tableData1_ = std::move(list); }
    const QStringList& tableData2() const { return tableData2_; }
    void setTableData2(QStringList list) { tableData2_ = std::move(list); }

    // Outlets the layout connects.
    QLineEdit* textField = nullptr;  // the stream URL as text
    SpinningButton* button = nullptr;
    QLabel* metar = nullptr;                  // the weather panel
    QAbstractButton* selectButton = nullptr;  // shows or hides the station picker
    QLabel* statusLabel = nullptr;            // the status line under the button

  signals:
    // playState() has changed. Main thread.
    void playStateChanged(orvento::OrventoViewController::PlayState state);

  protected:
    // Return or Enter on a row of the picker chooses it; Escape hides it.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // The body at `url`, downloaded while the window keeps painting; none
    // when the download failed (then `error` says why).
    std::optional<QByteArray> download(const QString& url, std::size_t maxBytes,
                                       QString* error = nullptr) const;
    // Downloads and reads the catalogue; logs what could not be used.
    CatalogueOutcome loadCatalogue(QList<Station>& stations);
    void pickerRowChosen(const QModelIndex& index);
    // The player reports playing: to Playing. Any thread.
    void playerPlays(Pelorin& object);
    // A player has stopped playing or ended: back to Idle. Any thread.
    void playerEnded(Pelorin& object);
    void setPlayState(PlayState state);
    // Whether `streamer` is `player` (which may be gone, and is not touched).
    bool holdsPlayer(const Pelorin* player) const;
    void log(const QString& text) const;
    void setStatusText(const QString& text);
    // The tick timer's work, on the main thread.
    void startTickTimer();
    void stopTickTimer();
    void addListeningTime();
    void showListeningTime();

    const ScreenServices services_;
    Ui::OrventoViewController ui_;

    // Guarded by streamerMutex_; see the header comment.
    mutable std::mutex streamerMutex_;
    std::shared_ptr<Pelorin> streamer;
    PlayerEnding streamerNotes_;  // what the screen noted about `streamer`
    // Notifications under way, and the destructor's wait for them to end.
    int notificationsRunning_ = 0;
    bool closing_ = false;
    std::condition_variable notificationsDone_;

    // Main thread only. Fields no code uses stay null.
    PlayState playState_ = PlayState::Idle;
    QWidget* _contentView = nullptr;
    QLineEdit* myTextField_ = nullptr;          // the field, not the property
    std::shared_ptr<QByteArray> receivedData_;  // the field, not the property
    QWidget* myWebView = nullptr;
    QLabel* myLoadingLabel = nullptr;
    std::unique_ptr<QTimer> _timer;  // the tick timer; set exactly while it runs
    double _ticks = 0;               // seconds listened, summed while the tick timer runs
    std::chrono::steady_clock::time_point ticksCountedUntil_{};
    std::unique_ptr<QTimer> _timer0;
    std::unique_ptr<QTimer> _timer2;
    std::unique_ptr<QTimer> _timer3;
    QStringList pickerData_;
    QTextEdit* myTextView2_ = nullptr;
    QStringList tableData1_;
    QStringList tableData2_;
    QLabel* _timerLabel = nullptr;
    QWidget* _ikiView = nullptr;
    QLineEdit* _myTextField = nullptr;
    QLineEdit* _myTextField2 = nullptr;
    std::shared_ptr<QByteArray> _receivedData;
    QListView* _picker = nullptr;

    StationPickerModel* pickerDataSource_ = nullptr;  // owned by the screen (its child)
    qsizetype chosenRow_ = -1;                        // the station in the fields, if any
};

}  // namespace orvento
