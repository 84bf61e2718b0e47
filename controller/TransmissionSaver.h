// TransmissionSaver: saves what a station said, in the stream's own format
// (the MPEG audio or AAC frames as they came, no re-encoding; see
// StreamFileWriter), from the station's history: chosen transmissions, or
// the last minutes.
//
// Where: the folder() given, by default $XDG_MUSIC_DIR/Orvento (created when
// needed), as "<station> <UTC date time>.mp3" (or .aac, ...), the time being
// that of the first audio saved ("Tower 2026-12-07 14-22-07Z.mp3"). The name
// is made safe from any station name (safeFileName); an existing file is
// never overwritten: " (2)", " (3)", ... are added.
//
// A failure (an unwritable folder, a full disk, a file size limit) is
// reported with failed(message) in words a user can act on; a file that was
// begun keeps what was written, ending with a whole frame, and stays
// playable. Success is reported with saved(path). Listening is never
// affected.
//
// Main thread.
#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

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

    // The rows' transmissions, oldest first, into one file; the last
    // `minutes` minutes. Both return the file's path, or empty on failure.
    QString saveRows(QList<int> rows, const QString& station);
    QString saveLastMinutes(int minutes, const QString& station);

    // A path in folder() for a new file (made there if needed), or empty with
    // `problem` in a user's words. newFilePathIn: the same in `folder`, on
    // any thread.
    QString newFilePath(const QString& station, const QDateTime& startUtc, const QString& extension,
                        QString& problem) const;
    static QString newFilePathIn(const QString& folder, const QString& station,
                                 const QDateTime& startUtc, const QString& extension,
                                 QString& problem);

    // "<station> <yyyy-MM-dd HH-mm-ss>Z.<extension>", with slashes, control
    // characters and a leading dot replaced, and the station name cut (at a
    // character) so that the whole takes at most kNameLimitBytes in UTF-8.
    static QString safeFileName(const QString& station, const QDateTime& utc,
                                const QString& extension);

  signals:
    void saved(const QString& path);
    void failed(const QString& message);

  private:
    QString save(const std::vector<StationHistory::Excerpt>& excerpts, const QString& station,
                 const QDateTime& startUtc);
    QString fail(const QString& message);

    const StationHistory& history_;
    const TransmissionListModel& list_;
    QString folder_;
};

}  // namespace orvento
