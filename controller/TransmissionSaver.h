// TransmissionSaver: saves what was said, in the stream's own format (the
// MPEG audio or AAC frames as they came, no re-encoding; see
// StreamFileWriter), from the history: chosen transmissions, or the last
// minutes.
//
// The history runs on across station changes; each stretch knows its
// station. A save writes a file for each station and format it covers (two
// stretches of one station and format go into one file, in order), named for
// that station.
//
// Where: the folder() given, by default $XDG_MUSIC_DIR/Orvento (created when
// needed), as "<station> <UTC date time>.mp3" (or .aac, ...), the time being
// that of the file's first audio ("Tower 2026-12-07 14-22-07Z.mp3"). The name
// is made safe from any station name (safeFileName); an existing file is
// never overwritten: " (2)", " (3)", ... are added.
//
// A failure (an unwritable folder, a full disk, a file size limit) is
// reported with failed(message) in words a user can act on, naming the files
// written before it; a file that was begun keeps what was written, ending
// with a whole frame, and stays playable. Success is reported with
// saved(paths), every file written. Listening is never affected.
//
// Main thread.
#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include "controller/TransmissionListModel.h"
#include "engine/history/StationHistory.h"

namespace orvento {

class TransmissionSaver : public QObject {
    Q_OBJECT

  public:
    // The choices offered for the last minutes.
    static constexpr int kMinuteChoices[] = {1, 5, 15, 30};
    // The longest file name most file systems take, in bytes.
    static constexpr qsizetype kNameLimitBytes = 255;

    TransmissionSaver(const StationHistory& history, const TransmissionListModel& list,
                      QObject* parent = nullptr);

    QString folder() const { return folder_; }
    void setFolder(const QString& folder) { folder_ = folder; }

    // What one save wrote: every file, oldest audio first; why it stopped
    // (empty if it did not).
    struct Outcome {
        QStringList paths;
        QString problem;
    };

    // The rows' transmissions, oldest first; the last `minutes` minutes.
    // Both report (saved or failed) and return what was written.
    Outcome saveRows(QList<int> rows);
    Outcome saveLastMinutes(int minutes);
    // The same without a report, for a caller that says what several savers
    // wrote at once.
    Outcome writeRows(QList<int> rows) const;
    Outcome writeLastMinutes(int minutes) const;

    // A path in folder() for a new file (made there if needed), or empty with
    // `problem` in a user's words. newFilePathIn: the same in `folder`, on
    // any thread. `station`: a name or an address (fileNamePart).
    QString newFilePath(const QString& station, const QDateTime& startUtc, const QString& extension,
                        QString& problem) const;
    static QString newFilePathIn(const QString& folder, const QString& station,
                                 const QDateTime& startUtc, const QString& extension,
                                 QString& problem);

    // "<station> <yyyy-MM-dd HH-mm-ss>Z.<extension>", or for a `copy` past
    // the first "<station> <...>Z (<copy>).<extension>": the station as
    // fileNamePart makes it ("Orvento" when nothing is left), cut at a
    // character so that the whole, suffix and all, takes at most
    // kNameLimitBytes in UTF-8.
    static QString safeFileName(const QString& station, const QDateTime& utc,
                                const QString& extension, int copy = 1);

    // "Saved to <path>, <path>".
    static QString savedText(const QStringList& paths);
    // A problem, and what was written before it if anything was.
    static QString failedText(const Outcome& outcome);

  signals:
    void saved(const QStringList& paths);
    void failed(const QString& message);

  private:
    // An excerpt with the wall-clock time of its first audio.
    struct Piece {
        StationHistory::Excerpt excerpt;
        QDateTime startUtc;
    };
    Outcome write(std::vector<Piece> pieces) const;
    Outcome report(Outcome outcome);

    const StationHistory& history_;
    const TransmissionListModel& list_;
    QString folder_;
};

}  // namespace orvento
