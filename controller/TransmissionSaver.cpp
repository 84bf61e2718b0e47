#include "controller/TransmissionSaver.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>

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
                                        const QString& extension) {
    QString name;
    for (const QChar c : station.trimmed()) {
        name += (c == QLatin1Char('/') || c == QLatin1Char('\\') ||
                 c.category() == QChar::Other_Control)
                    ? QChar(QLatin1Char('_'))
                    : c;
    }
    if (name.startsWith(QLatin1Char('.'))) {
        name[0] = QLatin1Char('_');
    }
    if (name.isEmpty()) {
        name = QStringLiteral("Orvento");
    }
    const QString tail = QLatin1Char(' ') +
                         utc.toUTC().toString(QStringLiteral("yyyy-MM-dd HH-mm-ss")) +
                         QStringLiteral("Z.") + extension;
    const qsizetype room = kNameLimitBytes - tail.toUtf8().size();
    while (name.toUtf8().size() > room) {
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
    const QString name = safeFileName(station, startUtc, extension);
    QString path = QDir(folder).filePath(name);
    for (int n = 2; QFileInfo::exists(path); ++n) {
        const QString numbered =
            name.chopped(extension.size() + 1) + QStringLiteral(" (%1).").arg(n) + extension;
        path = QDir(folder).filePath(numbered);
    }
    return path;
}

QString TransmissionSaver::saveRows(QList<int> rows, const QString& station) {
    std::sort(rows.begin(), rows.end(), std::greater<>());  // the oldest is the last row
    std::vector<StationHistory::Excerpt> excerpts;
    QDateTime startUtc;
    for (const int row : rows) {
        const HeardTransmission t = list_.at(row);
        if (row < 0 || row >= list_.rowCount()) {
            continue;
        }
        for (auto& excerpt : history_.between(
                 t.startSeconds, t.inProgress ? 1e300 : t.startSeconds + t.durationSeconds)) {
            excerpts.push_back(std::move(excerpt));
        }
        if (!startUtc.isValid()) {
            startUtc = t.startUtc;
        }
    }
    return save(excerpts, station, startUtc);
}

QString TransmissionSaver::saveLastMinutes(int minutes, const QString& station) {
    const auto now = StationHistory::Clock::now();
    const auto excerpts = history_.since(now - std::chrono::minutes(minutes));
    QDateTime startUtc;
    if (!excerpts.empty()) {
        const auto ago = std::chrono::duration_cast<std::chrono::milliseconds>(
            now - excerpts.front().firstArrival);
        startUtc = QDateTime::currentDateTimeUtc().addMSecs(-ago.count());
    }
    return save(excerpts, station, startUtc);
}

QString TransmissionSaver::save(const std::vector<StationHistory::Excerpt>& excerpts,
                                const QString& station, const QDateTime& startUtc) {
    if (excerpts.empty()) {
        return fail(tr("Nothing to save: the station has said nothing in that time."));
    }
    const AudioStreamBasicDescription& format = excerpts.front().format;
    const QString extension = QString::fromStdString(StreamFileWriter::extensionFor(format));
    if (extension.isEmpty()) {
        return fail(tr("This station's audio cannot be saved as it came."));
    }
    QString problem;
    const QString path = newFilePath(station, startUtc, extension, problem);
    if (path.isEmpty()) {
        return fail(problem);
    }
    StreamFileWriter writer;
    std::string error;
    if (!writer.open(path.toStdString(), format, excerpts.front().cookie, false, error)) {
        return fail(tr("Nothing was saved: %1 cannot be written (%2). Check the folder.")
                        .arg(path, QString::fromStdString(error)));
    }
    for (const auto& excerpt : excerpts) {
        // A stream of another format (the station changed it) cannot join
        // this file.
        if (excerpt.format.mFormatID == format.mFormatID &&
            excerpt.format.mSampleRate == format.mSampleRate && !writer.write(excerpt, error)) {
            return fail(tr("Saving stopped: %1 (%2). What was written so far is in %3.")
                            .arg(QString::fromStdString(error), tr("is the disk full?"), path));
        }
    }
    emit saved(path);
    return path;
}

QString TransmissionSaver::fail(const QString& message) {
    emit failed(message);
    return {};
}

}  // namespace orvento
