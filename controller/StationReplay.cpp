#include "controller/StationReplay.h"

#include <cmath>
#include <limits>
#include <mutex>

#include "controller/MainThread.h"
#include "controller/Settings.h"
#include "engine/history/StreamRecorder.h"

namespace orvento {

struct StationReplay::Relay {
    explicit Relay(StationReplay* to) : target(to) {}
    std::mutex mutex;
    StationReplay* target;  // guarded by mutex; null once the target is gone
    QString station;        // guarded by mutex; the latest player's, for the recorder
};

StationReplay::StationReplay(QObject* parent)
    : QObject(parent),
      relay_(std::make_shared<Relay>(this)),
      history_(
          std::make_shared<StationHistory>(std::chrono::minutes(Settings::kDefaultHistoryMinutes))),
      historyMinutes_(Settings::kDefaultHistoryMinutes) {
    // On a player's worker: the start is put on the wall clock there, from
    // how far back on the audio clock it lies.
    tap_ = std::make_shared<HistoryTap>(
        history_, [relay = relay_](const TransmissionDetector::Event& event, double now,
                                   const std::string& station) {
            const auto ago = std::chrono::duration<double>(now - event.transmission.startSeconds);
            const QDateTime startUtc = QDateTime::currentDateTimeUtc().addMSecs(
                -std::chrono::duration_cast<std::chrono::milliseconds>(ago).count());
            std::lock_guard lock(relay->mutex);
            if (StationReplay* target = relay->target) {
                postToMainThread(target,
                                 [target, event, startUtc, feed = QString::fromStdString(station)] {
                                     target->heard(event, startUtc, feed);
                                 });
            }
        });
}

StationReplay::~StationReplay() {
    {
        std::lock_guard lock(relay_->mutex);
        relay_->target = nullptr;
    }
    ++generation_;
    player_.reset();
    setLiveMuted(false);
    // The players may outlive this object: their tap writes no more.
    tap_->setRecorder(nullptr);
}

void StationReplay::setOutputs(AudioOutputChoice replayOutput,
                               std::shared_ptr<std::atomic<bool>> liveMute) {
    replayOutput_ = std::move(replayOutput);
    liveMute_ = std::move(liveMute);
}

void StationReplay::setFeedName(const QString& name) {
    feed_ = name;
    std::lock_guard lock(relay_->mutex);
    relay_->station = name;
}

void StationReplay::setHistoryMinutes(int minutes) {
    historyMinutes_ = minutes;
    history_->setWindow(std::chrono::minutes(minutes));
}

void StationReplay::heard(const TransmissionDetector::Event& event, const QDateTime& startUtc,
                          const QString& feed) {
    const Transmission& t = event.transmission;
    const HeardTransmission row{startUtc,
                                t.startSeconds,
                                t.durationSeconds,
                                t.peakDbfs,
                                event.kind == TransmissionDetector::Event::Kind::Started,
                                feed,
                                {}};
    if (row.inProgress) {
        model_.started(row);
    } else {
        model_.ended(row);
    }
    model_.dropBefore(QDateTime::currentDateTimeUtc().addSecs(-60LL * historyMinutes_));
}

int StationReplay::replayingRow() const {
    return player_ ? model_.rowStartingAt(replayingStart_) : -1;
}

void StationReplay::setRecording(bool on) {
    if (on == recording_) {
        return;
    }
    recording_ = on;
    const quint64 generation = ++recordingGeneration_;
    if (!on) {
        tap_->setRecorder(nullptr);
        emit recordingChanged(false);
        setRecordingPath({});
        return;
    }
    // Both functions run on a player's worker: the path is made there, in
    // the folder of now, and it and a failure come back through the relay.
    const auto post = [relay = relay_](std::function<void(StationReplay*)> call) {
        std::lock_guard lock(relay->mutex);
        if (StationReplay* target = relay->target) {
            postToMainThread(target, [target, call = std::move(call)] { call(target); });
        }
    };
    tap_->setRecorder(std::make_shared<StreamRecorder>(
        [relay = relay_, post, generation, folder = saver_.folder()](const std::string& extension,
                                                                     std::string& error) {
            QString station;
            {
                std::lock_guard lock(relay->mutex);
                station = relay->station;
            }
            QString problem;
            const QString path =
                TransmissionSaver::newFilePathIn(folder, station, QDateTime::currentDateTimeUtc(),
                                                 QString::fromStdString(extension), problem);
            error = problem.toStdString();
            if (!path.isEmpty()) {
                post([generation, path](StationReplay* target) {
                    if (generation == target->recordingGeneration_) {
                        target->setRecordingPath(path);
                    }
                });
            }
            return path.toStdString();
        },
        false,
        [post, generation](const std::string& why) {
            post([generation, why](StationReplay* target) {
                if (generation == target->recordingGeneration_) {
                    target->setRecording(false);
                    emit target->saver_.failed(QString::fromStdString(why));
                    emit target->recordingFailed(QString::fromStdString(why));
                }
            });
        }));
    emit recordingChanged(true);
}

void StationReplay::setRecordingPath(const QString& path) {
    if (path != recordingPath_) {
        recordingPath_ = path;
        emit recordingFileChanged(path);
    }
}

void StationReplay::note(const QDateTime& at, const QString& text) {
    HeardTransmission note;
    note.startUtc = at;
    note.startSeconds = -1;
    note.feed = feed_;
    note.note = text;
    model_.noted(note);
}

std::shared_ptr<ResumeTrail> StationReplay::newResumeTrail() {
    // On the starting player's worker.
    return std::make_shared<ResumeTrail>([relay = relay_](const Resumption& resumption) {
        std::lock_guard lock(relay->mutex);
        StationReplay* target = relay->target;
        if (target == nullptr) {
            return;
        }
        postToMainThread(target, [target, resumption] {
            const QDateTime at = QDateTime::fromMSecsSinceEpoch(
                std::chrono::duration_cast<std::chrono::milliseconds>(
                    resumption.droppedAt.time_since_epoch())
                    .count(),
                Qt::UTC);
            const QString when = TransmissionListModel::utcTimeText(at);
            if (resumption.kind == Resumption::Kind::FormatChanged) {
                target->note(at, tr("New stream format at %1").arg(when));
            } else if (resumption.kind == Resumption::Kind::Gap &&
                       resumption.missedSeconds >= kGapToldSeconds) {
                target->note(
                    at,
                    tr("%1 s missed at %2").arg(std::lround(resumption.missedSeconds)).arg(when));
            }
        });
    });
}

void StationReplay::sayAgain() {
    if (replaying()) {
        // One further back, when there is one.
        const int row = replayingRow();
        if (const int back = model_.transmissionRowFrom(row + 1); row >= 0 && back >= 0) {
            playRow(back);
        }
        return;
    }
    // The one under way from its start, else the newest heard whole.
    if (const int newest = model_.transmissionRowFrom(0); newest >= 0) {
        playRow(newest);
    }
}

void StationReplay::playRow(int row) {
    const HeardTransmission t = model_.at(row);
    if (row < 0 || row >= model_.rowCount() || !t.note.isEmpty()) {
        return;
    }
    askedAt_ = std::chrono::steady_clock::now();
    const double end =
        t.inProgress ? std::numeric_limits<double>::max() : t.startSeconds + t.durationSeconds;
    const auto excerpts = history_->between(t.startSeconds, end);
    // A new replay ends the one before without its end being reported.
    const quint64 generation = ++generation_;
    player_.reset();
    if (excerpts.empty()) {
        setLiveMuted(false);
        emit replayingChanged(false);
        emit replayFailed(tr("That transmission is no longer kept."));
        return;
    }
    player_ = std::make_unique<ReplayPlayer>(
        replayOutputSource_ ? replayOutputSource_() : replayOutput_, [this, generation] {
            postToMainThread(this, [this, generation] { replayEnded(generation); });
        });
    std::string error;
    setLiveMuted(true);
    if (!player_->play(excerpts.front(), error)) {
        ++generation_;
        player_.reset();
        setLiveMuted(false);
        emit replayingChanged(false);
        emit replayFailed(tr("The transmission could not be played again: %1")
                              .arg(QString::fromStdString(error)));
        return;
    }
    replayingStart_ = t.startSeconds;
    emit replayingChanged(true);
}

void StationReplay::endReplay() {
    if (!player_) {
        return;
    }
    ++generation_;
    player_.reset();
    setLiveMuted(false);
    emit replayingChanged(false);
}

void StationReplay::replayEnded(quint64 generation) {
    if (generation == generation_) {
        endReplay();
    }
}

void StationReplay::setLiveMuted(bool muted) {
    if (liveMute_) {
        liveMute_->store(muted);
    }
}

}  // namespace orvento
