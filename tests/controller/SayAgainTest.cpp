// Say again through the controller: a recording of known transmissions
// played from a loopback station fills the list (newest first, with UTC time
// and length); then each row presses keys (R: say again, a digit: Enter on
// that row, E: Escape) and checks what is replayed and that live audio is
// muted exactly while a replay plays, also when it plays to its end. Saving:
// files named safely, decoded back to the length saved, also when a file
// size limit stops the writing half-way. Across a monitor's feeds: one list,
// newest first, each row marked with its station; say again steps through it
// and, while a replay plays, every other live station is unheard.
#include <sys/resource.h>

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

#include "controller/AllTransmissions.h"
#include "tests/controller/ControllerHarness.h"
#include "tools/loopback/LoopbackServer.h"
#include "tools/transmission-recordings/RecordingSet.h"

namespace orvento::test {

using State = PlaybackController::PlayState;

class SayAgainTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void keysChooseWhatIsReplayed_data();
    void keysChooseWhatIsReplayed();
    void aReplayEndsByItselfAndLiveReturns();
    void savedFilesPlayBack_data();
    void savedFilesPlayBack();
    void fileNamesAreSafe_data();
    void fileNamesAreSafe();
    void sayAgainAcrossFeeds();

  private:
    std::shared_ptr<std::atomic<bool>> liveMute_ = std::make_shared<std::atomic<bool>>(false);
    std::unique_ptr<ControllerHarness> h_;
    QTemporaryDir recordings_;
};

void SayAgainTest::initTestCase() {
    AudioOutputChoice live;
    live.kind = AudioOutputChoice::Kind::Null;
    live.realTime = false;  // the whole recording at once
    live.muted = liveMute_;
    h_ = std::make_unique<ControllerHarness>(std::make_shared<EnginePlatform>(live));
    // The recording ends: it is not brought back, so its end is the stream's end.
    h_->controller->setReconnectWhenDropped(false);
    AudioOutputChoice replays;
    replays.kind = AudioOutputChoice::Kind::Null;
    h_->controller->replay().setOutputs(replays, liveMute_);
    h_->server.setScript(
        "/tower.mp3",
        loopback::Script::fromFile(ORVENTO_TRANSMISSION_TEST_RECORDINGS "/tower-mp3-8k.mp3"));
    h_->controller->setAddressText(h_->url("/tower.mp3"));
    h_->controller->replay().saver().setFolder(recordings_.path());
    h_->controller->replay().setRecording(true);
    h_->controller->press();
    // The recording's five transmissions, all heard to their end.
    const TransmissionListModel& list = h_->controller->replay().transmissions();
    QVERIFY2(QTest::qWaitFor([&] { return list.rowCount() == 5 && !list.at(0).inProgress; }, 20000),
             qPrintable(QString::number(list.rowCount())));
    QCOMPARE(list.at(0).feed, h_->url("/tower.mp3"));
    QVERIFY(std::abs(list.at(0).durationSeconds - (42.438 - 37.600)) < 0.3);
    QVERIFY(std::abs(list.at(4).durationSeconds - (5.601 - 2.317)) < 0.3);
    const QString text = list.data(list.index(0), Qt::DisplayRole).toString();
    // Recorded as it came: the whole recording, once the stream has ended.
    QVERIFY(QTest::qWaitFor([&] { return h_->controller->playState() == State::Idle; }, 20000));
    const QStringList recorded = QDir(recordings_.path()).entryList(QDir::Files);
    QCOMPARE(recorded.size(), 1);
    recordings::Pcm pcm;
    std::string error;
    QVERIFY(recordings::decode(recordings_.filePath(recorded[0]).toStdString(), pcm, error));
    QVERIFY2(std::abs(pcm.seconds() - 45) < 0.8, qPrintable(QString::number(pcm.seconds())));
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\dZ  4\\.\\d s$"))
                 .match(text)
                 .hasMatch(),
             qPrintable(text));
}

void SayAgainTest::keysChooseWhatIsReplayed_data() {
    QTest::addColumn<QString>("keys");
    QTest::addColumn<int>("replayedRow");  // -1: no replay on
    QTest::newRow("R: the newest") << "R" << 0;
    QTest::newRow("R R: one further back") << "RR" << 1;
    QTest::newRow("R five times: the oldest") << "RRRRR" << 4;
    QTest::newRow("R at the oldest: stays") << "RRRRRRR" << 4;
    QTest::newRow("Enter on row 2") << "2" << 2;
    QTest::newRow("Enter on row 2, R: back from there") << "2R" << 3;
    QTest::newRow("Escape ends it") << "RRE" << -1;
    QTest::newRow("Escape without a replay") << "E" << -1;
    QTest::newRow("R after Escape: the newest again") << "RRER" << 0;
}

void SayAgainTest::keysChooseWhatIsReplayed() {
    QFETCH(QString, keys);
    QFETCH(int, replayedRow);
    StationReplay& replay = h_->controller->replay();
    for (const QChar key : keys) {
        if (key == QLatin1Char('R')) {
            replay.sayAgain();
        } else if (key == QLatin1Char('E')) {
            replay.endReplay();
        } else {
            replay.playRow(key.digitValue());
        }
    }
    QCOMPARE(replay.replayingRow(), replayedRow);
    QCOMPARE(replay.replaying(), replayedRow >= 0);
    QCOMPARE(liveMute_->load(), replayedRow >= 0);
    replay.endReplay();
    QVERIFY(!liveMute_->load());
}

void SayAgainTest::aReplayEndsByItselfAndLiveReturns() {
    // Played in real time: about four seconds.
    AudioOutputChoice replays;
    replays.kind = AudioOutputChoice::Kind::Null;
    replays.realTime = true;
    StationReplay& replay = h_->controller->replay();
    replay.setOutputs(replays, liveMute_);
    QSignalSpy changes(&replay, &StationReplay::replayingChanged);
    replay.playRow(4);
    QVERIFY(liveMute_->load());
    QVERIFY(QTest::qWaitFor([&] { return !replay.replaying(); }, 15000));
    QVERIFY(!liveMute_->load());
    QCOMPARE(changes.count(), 2);
    QCOMPARE(changes.at(1).at(0).toBool(), false);
}

void SayAgainTest::savedFilesPlayBack_data() {
    QTest::addColumn<QString>("what");      // rows "0,1" or minutes "m1"
    QTest::addColumn<qint64>("sizeLimit");  // RLIMIT_FSIZE, 0: none
    QTest::addColumn<bool>("writable");
    QTest::newRow("two transmissions") << "0,1" << qint64{0} << true;
    QTest::newRow("the last minute") << "m1" << qint64{0} << true;
    QTest::newRow("a file size limit half-way") << "m1" << qint64{40000} << true;
    QTest::newRow("an unwritable folder") << "0" << qint64{0} << false;
}

void SayAgainTest::savedFilesPlayBack() {
    QFETCH(QString, what);
    QFETCH(qint64, sizeLimit);
    QFETCH(bool, writable);
    QTemporaryDir dir;
    TransmissionSaver& saver = h_->controller->replay().saver();
    saver.setFolder(writable ? dir.filePath(QStringLiteral("Orvento"))
                             : QStringLiteral("/dev/null/Orvento"));
    QSignalSpy failures(&saver, &TransmissionSaver::failed);
    const TransmissionListModel& list = h_->controller->replay().transmissions();
    double expected = 45;  // the whole recording
    QString path;
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    if (sizeLimit > 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limited{static_cast<rlim_t>(sizeLimit), saved.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &limited);
        expected = static_cast<double>(sizeLimit) / 2000;  // 16 kbit/s
    }
    if (what.startsWith(QLatin1Char('m'))) {
        path = saver.saveLastMinutes(what.mid(1).toInt(), QStringLiteral("Tower"));
    } else {
        QList<int> rows;
        expected = 0;
        for (const QString& row : what.split(QLatin1Char(','))) {
            rows.append(row.toInt());
            expected += list.at(row.toInt()).durationSeconds + StationHistory::kLeadInSeconds;
        }
        path = saver.saveRows(rows, QStringLiteral("Tower"));
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    QCOMPARE(path.isEmpty(), sizeLimit > 0 || !writable);
    QCOMPARE(failures.count(), path.isEmpty() ? 1 : 0);
    if (!writable) {
        QVERIFY(failures.at(0).at(0).toString().contains(QStringLiteral("/dev/null/Orvento")));
        return;
    }
    const QStringList files = QDir(dir.filePath(QStringLiteral("Orvento"))).entryList(QDir::Files);
    QCOMPARE(files.size(), 1);
    QVERIFY2(files[0].startsWith(QStringLiteral("Tower 20")) && files[0].endsWith("Z.mp3"),
             qPrintable(files[0]));
    recordings::Pcm pcm;
    std::string error;
    const QString written = dir.filePath(QStringLiteral("Orvento/") + files[0]);
    QVERIFY2(recordings::decode(written.toStdString(), pcm, error), error.c_str());
    QVERIFY2(std::abs(pcm.seconds() - expected) < 0.8,
             qPrintable(QString::number(pcm.seconds()) + " s, not " + QString::number(expected)));
}

void SayAgainTest::fileNamesAreSafe_data() {
    QTest::addColumn<QString>("station");
    QTest::addColumn<QString>("start");  // the name before the time
    QTest::newRow("slashes") << "a/b\\c"
                             << "a_b_c";
    QTest::newRow("control characters") << "\tTower\x01 1\n"
                                        << "Tower_ 1";
    QTest::newRow("hidden") << ".tower"
                            << "_tower";
    QTest::newRow("empty") << ""
                           << "Orvento";
    QTest::newRow("too long") << QString(300, QChar(0xE9)) << QString(115, QChar(0xE9));
    const QString clef = QString::fromUtf8("\xF0\x9D\x84\x9E");  // 4 bytes, 2 UTF-16 units
    QTest::newRow("too long, astral") << clef.repeated(100) << clef.repeated(57);
}

void SayAgainTest::fileNamesAreSafe() {
    QFETCH(QString, station);
    QFETCH(QString, start);
    const QDateTime when(QDate(2026, 12, 7), QTime(14, 22, 7), Qt::UTC);
    const QString name = TransmissionSaver::safeFileName(station, when, QStringLiteral("mp3"));
    QVERIFY2(name.endsWith(QStringLiteral(" 2026-12-07 14-22-07Z.mp3")), qPrintable(name));
    QVERIFY(name.toUtf8().size() <= TransmissionSaver::kNameLimitBytes);
    QVERIFY(!name.contains(QLatin1Char('/')) && QString::fromUtf8(name.toUtf8()) == name);
    QCOMPARE(name.chopped(25), start);
}

void SayAgainTest::sayAgainAcrossFeeds() {
    AudioOutputChoice untimed;
    untimed.kind = AudioOutputChoice::Kind::Null;
    untimed.realTime = false;
    Mixer mixer(untimed, {.feeds = 2 * kMaxFeeds, .makeKey = {}});
    WorkerRegistry workers;
    PelorinServices engine;
    engine.workers = &workers;
    {
        MonitorController monitor(mixer, engine, {}, nullptr);
        AllTransmissions all(*h_->controller, &monitor);
        AudioOutputChoice replays;
        replays.kind = AudioOutputChoice::Kind::Null;
        h_->controller->replay().setOutputs(replays, liveMute_);
        for (const char* name : {"Ground", "Approach"}) {
            const std::string path = std::string("/") + name;
            h_->server.setScript(path,
                                 loopback::Script::fromFile(ORVENTO_TRANSMISSION_TEST_RECORDINGS
                                                            "/tower-mp3-8k.mp3"));
            QVERIFY(monitor.add({QString::fromUtf8(name), h_->url(path.c_str())}));
            monitor.player(monitor.count() - 1).setReconnectWhenDropped(false);
            monitor.player(monitor.count() - 1).replay().setOutputs(replays, nullptr);
        }
        monitor.play();
        for (int row = 0; row < 2; ++row) {
            const TransmissionListModel& list = monitor.player(row).replay().transmissions();
            QVERIFY(QTest::qWaitFor([&] { return list.rowCount() == 5 && !list.at(0).inProgress; },
                                    60000));
        }
        monitor.stop();
        QCOMPARE(all.rowCount(), 15);
        monitor.setMute(0, true);  // the listener's, kept through the replays
        for (int row = 0; row < all.rowCount(); ++row) {
            const QModelIndex at = all.index(row);
            const AllTransmissions::Origin from = all.origin(row);
            QCOMPARE(at.data(TransmissionListModel::FeedRole).toString(), from.replay->feedName());
            QVERIFY(at.data().toString().endsWith(from.replay->feedName()));
            if (row > 0) {
                QVERIFY(all.index(row - 1).data(TransmissionListModel::StartUtcRole).toDateTime() >=
                        at.data(TransmissionListModel::StartUtcRole).toDateTime());
            }
        }

        // Keys (R: say again, a digit: Enter on that row, E: Escape), the row replayed.
        const std::vector<std::pair<QString, int>> presses{
            {"R", 0},
            {"RR", 1},
            {"RRR", 2},
            {"9", 9},
            {"9R", 10},
            {"RRRRRRRRRRRRRRR", 14},
            {"RRRRRRRRRRRRRRRR", 14},
            {"RE", -1},
            {"E", -1},
        };
        for (const auto& [keys, replayed] : presses) {
            for (const QChar key : keys) {
                if (key == QLatin1Char('R')) {
                    all.sayAgain();
                } else if (key == QLatin1Char('E')) {
                    all.endReplay();
                } else {
                    all.playRow(key.digitValue());
                }
            }
            QCOMPARE(all.replayingRow(), replayed);
            const AllTransmissions::Origin from = all.origin(replayed);
            for (StationReplay* replay : {&h_->controller->replay(), &monitor.player(0).replay(),
                                          &monitor.player(1).replay()}) {
                QCOMPARE(replay->replaying(), replay == from.replay);
            }
            QCOMPARE(from.row < 0 || from.replay->replayingRow() == from.row, true);
            QCOMPARE(monitor.silenced(), replayed >= 0);
            QCOMPARE(liveMute_->load(), replayed >= 0);
            QVERIFY(monitor.controls(0).muted && !monitor.controls(1).muted);
            all.endReplay();
            QVERIFY(!monitor.silenced() && !liveMute_->load());
        }
    }
    workers.shutdown(std::chrono::seconds(10));
}

}  // namespace orvento::test

QTEST_GUILESS_MAIN(orvento::test::SayAgainTest)
#include "SayAgainTest.moc"
