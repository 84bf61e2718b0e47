// StationReplay: "say again" for the station a PlaybackController plays.
// It keeps what the station said (a StationHistory filled through the tap
// every player of the controller is given), lists the transmissions the
// detector finds in it (TransmissionListModel), says whether someone is
// transmitting now (keyed, level), and plays a transmission again from
// memory.
//
// Say again. sayAgain() plays the transmission under way from its start, or
// else the last one heard whole; pressed again while a replay plays, it
// steps one transmission further back. playRow() plays the one a row shows;
// endReplay() ends a replay at once. While a replay plays, the live output
// is muted (the flag given to setOutputs(), which the live player's output
// choice carries) and the live stream goes on into the history and the list;
// when the replay ends, live is heard again.
//
// Outputs. Replays go to the sound device and nothing is muted until
// setOutputs() says otherwise (the application gives both; tests give a null
// output).
//
// Threads: main thread only, except the taps (their players' workers), whose
// events reach the list through posted calls.
#pragma once

#include <QDateTime>
#include <QObject>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

#include "controller/TransmissionListModel.h"
#include "controller/TransmissionSaver.h"
#include "engine/audio/OutputQueue.h"
#include "engine/history/HistoryTap.h"
#include "engine/history/ReplayPlayer.h"
#include "engine/player/ResumeTrail.h"

namespace orvento {

class StationReplay : public QObject {
    Q_OBJECT

  public:
    explicit StationReplay(QObject* parent = nullptr);
    ~StationReplay() override;

    void setOutputs(AudioOutputChoice replayOutput, std::shared_ptr<std::atomic<bool>> liveMute);
    // Where each replay plays instead (a feed of the window's mix), if given.
    using OutputSource = std::function<AudioOutputChoice()>;
    void setReplayOutputSource(OutputSource source) { replayOutputSource_ = std::move(source); }
    // Minutes kept (Settings::historyMinutes).
    void setHistoryMinutes(int minutes);
    // The station the next player plays (its rows' feed role, its stretch of
    // the history and the name of its saved and recorded files).
    void setFeedName(const QString& name);
    const QString& feedName() const { return feed_; }

    // The tap for the next player of the controller, for feedName()'s station.
    std::shared_ptr<PacketTap> tapForPlayer() { return tap_->forPlayer(feed_.toStdString()); }
    const StationHistory& history() const { return *history_; }
    TransmissionListModel& transmissions() { return model_; }
    // Saving the rows or the last minutes (TransmissionSaver.h).
    TransmissionSaver& saver() { return saver_; }
    bool keyed() const { return tap_->keyed(); }
    double levelDbfs() const { return tap_->levelDbfs(); }

    // Continuous recording: everything the station says from now on, as it
    // arrives, into a new file of the saver's folder (a new file for each
    // stream, named for its station). A failure turns it off and is told
    // through the saver's failed().
    // recordingFileChanged() says each file when it is begun (on a worker,
    // at a stream's start), and an empty path when the recording stops.
    void setRecording(bool on);
    bool recording() const { return recording_; }
    // The file being recorded to; empty while none is.
    const QString& recordingPath() const { return recordingPath_; }

    // A note in the list (TransmissionListModel::noted) at `at`, of the feed.
    void note(const QDateTime& at, const QString& text);
    // Where the listener left off, for the players of one press in turn
    // (ResumeTrail.h): what a drop cost, or a new format, becomes a note.
    std::shared_ptr<ResumeTrail> newResumeTrail();

    // Say again: the newest transmission, or one further back while a
    // replay plays; notes are stepped over. A note's row plays nothing.
    void sayAgain();
    void playRow(int row);
    void endReplay();
    bool replaying() const { return player_ != nullptr; }
    // Mutes or unmutes the live output while another station's replay plays.
    void muteLive(bool muted) { setLiveMuted(muted); }
    // The row being replayed, or -1.
    int replayingRow() const;
    // When the last replay asked for began to play (for the start time).
    std::chrono::steady_clock::time_point replayAskedAt() const { return askedAt_; }

  signals:
    void replayingChanged(bool replaying);
    void recordingChanged(bool recording);
    void recordingFileChanged(const QString& path);
    // A replay could not be played: why, for the status line.
    void replayFailed(const QString& why);
    // The recording stopped by itself (a full disk, a folder gone): why.
    void recordingFailed(const QString& why);

  private:
    // Lets the taps' events reach this object while it lives.
    struct Relay;

    // `feed`: the station of the stream it was heard in.
    void heard(const TransmissionDetector::Event& event, const QDateTime& startUtc,
               const QString& feed);
    void replayEnded(quint64 generation);
    void setLiveMuted(bool muted);
    void setRecordingPath(const QString& path);

    std::shared_ptr<Relay> relay_;
    std::shared_ptr<StationHistory> history_;
    std::shared_ptr<HistoryTap> tap_;
    TransmissionListModel model_;
    TransmissionSaver saver_{*history_, model_};
    QString feed_;
    int historyMinutes_;

    AudioOutputChoice replayOutput_;
    OutputSource replayOutputSource_;
    std::shared_ptr<std::atomic<bool>> liveMute_;
    std::unique_ptr<ReplayPlayer> player_;
    quint64 generation_ = 0;
    double replayingStart_ = 0;  // the replayed transmission's start, audio clock
    std::chrono::steady_clock::time_point askedAt_{};
    bool recording_ = false;
    quint64 recordingGeneration_ = 0;
    QString recordingPath_;
};

}  // namespace orvento
