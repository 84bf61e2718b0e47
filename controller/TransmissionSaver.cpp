#include "controller/TransmissionSaver.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>

#include "controller/StationNames.h"
#include "engine/history/StreamFileWriter.h"

namespace orvento {

TransmissionSaver::TransmissionSaver(const StationHistory& history,
                                     const TransmissionListModel& list, QObject* parent)
    : QObject(parent),
      history_(history),
      list_(list),
      folder_(QStandardPaths::writableLocation(QStandardPaths::MusicLocation) +
              QStringLiteral("/Orvento")) {}

QString TransmissionSaver::safeFileName(const QString& station, const QDateTime& utc,
                                        const QString& extension, int copy) {
    QString name = fileNamePart(station);
    if (name.isEmpty()) {
        name = QStringLiteral("Orvento");
    }
    // The suffix is known before the name is cut: a copy's " (2)" must fit too.
    const QString tail =
        QLatin1Char(' ') + utc.toUTC().toString(QStringLiteral("yyyy-MM-dd HH-mm-ss")) +
        QLatin1Char('Z') + (copy > 1 ? QStringLiteral(" (%1)").arg(copy) : QString()) +
        QLatin1Char('.') + extension;
    const qsizetype room = kNameLimitBytes - tail.toUtf8().size();
    while (name.toUtf8().size() > room) {
        // Never half a character: a surrogate pair goes whole.
        name.chop(name.size() >= 2 && name.at(name.size() - 1).isLowSurrogate() ? 2 : 1);
    }
    return name + tail;
}

QString TransmissionSaver::newFilePath(const QString& station, const QDateTime& startUtc,
                                       const QString& extension, QString& problem) const {
    return newFilePathIn(folder_, station, startUtc, extension, problem);
}

QString TransmissionSaver::newFilePathIn(const QString& folder, const QString& station,
                                         const QDateTime& startUtc, const QString& extension,
                                         QString& problem) {
    if (!QDir().mkpath(folder)) {
        problem = tr("Nothing was saved: the folder %1 cannot be made. Check that it can be "
                     "written to.")
                      .arg(folder);
        return {};
    }
    QString path = QDir(folder).filePath(safeFileName(station, startUtc, extension));
    for (int copy = 2; QFileInfo::exists(path); ++copy) {
        path = QDir(folder).filePath(safeFileName(station, startUtc, extension, copy));
    }
    return path;
}

QString TransmissionSaver::savedText(const QStringList& paths) {
    return tr("Saved to %1").arg(paths.join(QStringLiteral(", ")));
}

QString TransmissionSaver::failedText(const Outcome& outcome) {
    return outcome.paths.isEmpty()
               ? outcome.problem
               : tr("%1 Saved before that: %2")
                     .arg(outcome.problem, outcome.paths.join(QStringLiteral(", ")));
}

TransmissionSaver::Outcome TransmissionSaver::writeRows(QList<int> rows) const {
    std::sort(rows.begin(), rows.end(), std::greater<>());  // the oldest is the last row
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    std::vector<Piece> pieces;
    for (const int row : rows) {
        if (row < 0 || row >= list_.rowCount()) {
            continue;
        }
        const HeardTransmission t = list_.at(row);
        if (!t.note.isEmpty()) {
            continue;
        }
        for (auto& excerpt : history_.between(
                 t.startSeconds, t.inProgress ? 1e300 : t.startSeconds + t.durationSeconds)) {
            pieces.push_back({std::move(excerpt), t.startUtc});
        }
    }
    return write(std::move(pieces));
}

TransmissionSaver::Outcome TransmissionSaver::writeLastMinutes(int minutes) const {
    const auto now = StationHistory::Clock::now();
    const QDateTime nowUtc = QDateTime::currentDateTimeUtc();
    std::vector<Piece> pieces;
    for (auto& excerpt : history_.since(now - std::chrono::minutes(minutes))) {
        const auto ago =
            std::chrono::duration_cast<std::chrono::milliseconds>(now - excerpt.firstArrival);
        pieces.push_back({std::move(excerpt), nowUtc.addMSecs(-ago.count())});
    }
    return write(std::move(pieces));
}

TransmissionSaver::Outcome TransmissionSaver::saveRows(QList<int> rows) {
    return report(writeRows(std::move(rows)));
}

TransmissionSaver::Outcome TransmissionSaver::saveLastMinutes(int minutes) {
    return report(writeLastMinutes(minutes));
}

TransmissionSaver::Outcome TransmissionSaver::write(std::vector<Piece> pieces) const {
    Outcome outcome;
    if (pieces.empty()) {
        outcome.problem = tr("Nothing to save: the station has said nothing in that time.");
        return outcome;
    }
    // A file for each station and format, in the order of their first audio:
    // a stretch of another station, or of another format (the station changed
    // it), cannot join a file.
    const auto sameFile = [](const StationHistory::Excerpt& a, const StationHistory::Excerpt& b) {
        return a.station == b.station && a.format.formatId == b.format.formatId &&
               a.format.sampleRate == b.format.sampleRate;
    };
    std::vector<bool> written(pieces.size(), false);
    for (std::size_t first = 0; first < pieces.size(); ++first) {
        if (written[first]) {
            continue;
        }
        const StationHistory::Excerpt& lead = pieces[first].excerpt;
        const QString station = QString::fromStdString(lead.station);
        const QString extension =
            QString::fromStdString(StreamFileWriter::extensionFor(lead.format));
        if (extension.isEmpty()) {
            outcome.problem = tr("This station's audio cannot be saved as it came.");
            return outcome;
        }
        QString problem;
        const QString path = newFilePath(station, pieces[first].startUtc, extension, problem);
        if (path.isEmpty()) {
            outcome.problem = problem;
            return outcome;
        }
        StreamFileWriter writer;
        std::string error;
        if (!writer.open(path.toStdString(), lead.format, lead.cookie, false, error)) {
            outcome.problem = tr("Nothing was saved: %1 cannot be written (%2). Check the folder.")
                                  .arg(path, QString::fromStdString(error));
            return outcome;
        }
        for (std::size_t i = first; i < pieces.size(); ++i) {
            if (written[i] || !sameFile(pieces[i].excerpt, lead)) {
                continue;
            }
            written[i] = true;
            if (!writer.write(pieces[i].excerpt, error)) {
                outcome.problem =
                    tr("Saving stopped: %1 (%2). What was written so far is in %3.")
                        .arg(QString::fromStdString(error), tr("is the disk full?"), path);
                return outcome;
            }
        }
        outcome.paths.append(path);
    }
    return outcome;
}

TransmissionSaver::Outcome TransmissionSaver::report(Outcome outcome) {
    if (outcome.problem.isEmpty()) {
        emit saved(outcome.paths);
    } else {
        emit failed(failedText(outcome));
    }
    return outcome;
}

}  // namespace orvento
