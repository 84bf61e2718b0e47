#include "controller/StatusTexts.h"

#include <QCoreApplication>
#include <cmath>
#include <cstdint>

#include "controller/WeatherTexts.h"
#include "engine/net/Url.h"

namespace orvento {
namespace {

// The most characters of a typed text the status line quotes.
constexpr qsizetype kQuotedTextLimit = 200;

QString translate(const char* text) {
    return QCoreApplication::translate("OrventoViewController", text);
}

QString quoted(const QString& text) {
    return text.size() <= kQuotedTextLimit ? text : text.left(kQuotedTextLimit) + QChar(u'\u2026');
}

}  // namespace

QString elapsedTimeText(double seconds) {
    // The nearest whole second, an exact half to the even neighbour (0.5 s reads
    // "00:00:00", 0.6 s "00:00:01"); rounded before the split, so the seconds
    // carry into the minutes and never read "60".
    const auto whole =
        seconds > 0 ? static_cast<std::int64_t>(std::nearbyint(seconds)) : std::int64_t{0};
    return QStringLiteral("%1:%2:%3")
        .arg(whole / 3600, 2, 10, QLatin1Char('0'))
        .arg(whole / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(whole % 60, 2, 10, QLatin1Char('0'));
}

QString withoutPassword(const QString& text) {
    return QString::fromStdString(orvento::withoutPassword(text.toStdString()));
}

QString endingText(const PlayerEnding& ending) {
    if (!ending.hadUrl) {
        if (ending.text.trimmed().isEmpty()) {
            return translate(
                QT_TRANSLATE_NOOP("OrventoViewController", "Type a stream address first."));
        }
        return translate(QT_TRANSLATE_NOOP("OrventoViewController",
                                           "\u201c%1\u201d is not a stream address."))
            .arg(quoted(ending.text));
    }
    if (!ending.cause.empty()) {
        // The player's causes quote an address without its password.
        const QString cause = QString::fromStdString(ending.cause);
        return (ending.heard
                    ? translate(QT_TRANSLATE_NOOP("OrventoViewController", "Playback failed: %1"))
                    : translate(QT_TRANSLATE_NOOP("OrventoViewController",
                                                  "The stream could not be opened: %1")))
            .arg(cause);
    }
    if (ending.stopRequested) {
        return translate(QT_TRANSLATE_NOOP("OrventoViewController", "Stopped."));
    }
    if (!ending.heard) {
        return translate(
            QT_TRANSLATE_NOOP("OrventoViewController", "The stream could not be opened."));
    }
    return translate(QT_TRANSLATE_NOOP("OrventoViewController", "Playback ended."));
}

QString connectingText() {
    return translate(QT_TRANSLATE_NOOP("OrventoViewController", "Connecting\u2026"));
}

QString playingText() {
    return translate(QT_TRANSLATE_NOOP("OrventoViewController", "Playing"));
}

QString behindLiveText(double seconds) {
    return translate(QT_TRANSLATE_NOOP("OrventoViewController", "%1 s behind live"))
        .arg(std::lround(seconds));
}

QString liveText() {
    return translate(QT_TRANSLATE_NOOP("OrventoViewController", "Live"));
}

QString besideNewsText(const QString& news, const QString& station) {
    return station.isEmpty() || station == news ? news
                                                : news + QStringLiteral(" \u00b7 ") + station;
}

QString reconnectingText(std::chrono::milliseconds wait, int attempt, const std::string& cause) {
    const QString why = cause.empty()
                            ? translate(QT_TRANSLATE_NOOP("OrventoViewController",
                                                          "the server closed the connection"))
                            : QString::fromStdString(cause);
    if (attempt == 0) {
        return translate(QT_TRANSLATE_NOOP("OrventoViewController", "Reconnecting: %1")).arg(why);
    }
    if (wait.count() <= 0) {
        return translate(
                   QT_TRANSLATE_NOOP("OrventoViewController", "Reconnecting (attempt %1): %2"))
            .arg(attempt)
            .arg(why);
    }
    const auto seconds = (wait.count() + 999) / 1000;
    return translate(
               QT_TRANSLATE_NOOP("OrventoViewController", "Reconnecting in %1 s (attempt %2): %3"))
        .arg(seconds)
        .arg(attempt)
        .arg(why);
}

QString waitingForAudioText(std::chrono::seconds starved) {
    return translate(QT_TRANSLATE_NOOP("OrventoViewController",
                                       "Waiting for the station: no audio for %1 s"))
        .arg(starved.count());
}

QString tooLittleAudioCause(std::uint64_t bytes, std::chrono::seconds limit) {
    return translate(QT_TRANSLATE_NOOP("OrventoViewController",
                                       "the station sent %1 bytes in %2 s, too little to play"))
        .arg(bytes)
        .arg(limit.count());
}

QString noAudioCause(std::chrono::seconds limit) {
    return translate(
               QT_TRANSLATE_NOOP("OrventoViewController", "the station sent no audio for %1 s"))
        .arg(limit.count());
}

QString readyText() {
    return translate(QT_TRANSLATE_NOOP("OrventoViewController", "Press play to listen."));
}

QString addressTooLongText(qsizetype limit) {
    return translate(QT_TRANSLATE_NOOP("OrventoViewController",
                                       "The address is longer than the %1 characters the address "
                                       "field holds; it was not requested."))
        .arg(limit);
}

QString loadingText() {
    return translate(
        QT_TRANSLATE_NOOP("OrventoViewController", "Loading the stations and the weather\u2026"));
}

QString catalogueText(CatalogueOutcome outcome, const QString& server) {
    // In the order of CatalogueOutcome, from `failed` on.
    static constexpr const char* kTexts[] = {
        QT_TRANSLATE_NOOP("OrventoViewController",
                          "Could not load the station list from %1. Type a stream address."),
        QT_TRANSLATE_NOOP("OrventoViewController",
                          "The station list from %1 is larger than 4 MiB, more than Orvento "
                          "reads. Type a stream address."),
        QT_TRANSLATE_NOOP("OrventoViewController",
                          "The station list from %1 could not be read. Type a stream address."),
        QT_TRANSLATE_NOOP("OrventoViewController",
                          "The station list from %1 holds no station. Type a stream address."),
    };
    if (outcome == CatalogueOutcome::loaded) {
        return readyText();
    }
    return translate(kTexts[static_cast<int>(outcome) - 1]).arg(server);
}

QString reloadingText() {
    return translate(QT_TRANSLATE_NOOP("OrventoViewController", "Reloading the stations\u2026"));
}

QString reloadText(CatalogueOutcome outcome, const QString& server, const QString& cause,
                   qsizetype stations) {
    // In the order of CatalogueOutcome, from `failed` on.
    static constexpr const char* kTexts[] = {
        QT_TRANSLATE_NOOP("OrventoViewController",
                          "Could not reload the station list from %1: %2. The list stays as it "
                          "was."),
        QT_TRANSLATE_NOOP("OrventoViewController",
                          "The station list from %1 is larger than 4 MiB, more than Orvento "
                          "reads. The list stays as it was."),
        QT_TRANSLATE_NOOP("OrventoViewController",
                          "The station list from %1 could not be read. The list stays as it was."),
        QT_TRANSLATE_NOOP("OrventoViewController",
                          "The station list from %1 holds no station. The list stays as it was."),
    };
    if (outcome == CatalogueOutcome::loaded) {
        return translate(QT_TRANSLATE_NOOP("OrventoViewController",
                                           "The station list is reloaded: %1 stations."))
            .arg(stations);
    }
    const QString text = translate(kTexts[static_cast<int>(outcome) - 1]);
    // Both at once: a cause holding "%1" stays as it is.
    return outcome == CatalogueOutcome::failed ? text.arg(server, cause) : text.arg(server);
}

QString directoryNoteText(const DirectoryList& list, bool fetching, const QString& error,
                          const QDateTime& now) {
    const bool held = list.fetched.isValid();
    if (fetching) {
        return held ? translate(
                          QT_TRANSLATE_NOOP("OrventoViewController",
                                            "Updating the directory's list (fetched %1)\u2026"))
                          .arg(ageText(list.fetched, now))
                    : translate(QT_TRANSLATE_NOOP("OrventoViewController",
                                                  "Fetching the directory's stations\u2026"));
    }
    if (!error.isEmpty()) {
        return held ? translate(QT_TRANSLATE_NOOP("OrventoViewController",
                                                  "The directory could not be reached (%1). "
                                                  "This list was fetched %2."))
                          .arg(error, ageText(list.fetched, now))
                    : translate(QT_TRANSLATE_NOOP("OrventoViewController",
                                                  "The directory could not be reached (%1). "
                                                  "F5 tries again."))
                          .arg(error);
    }
    return held ? translate(QT_TRANSLATE_NOOP("OrventoViewController",
                                              "%1 stations from the community directory, "
                                              "fetched %2."))
                      .arg(list.stations.size())
                      .arg(ageText(list.fetched, now))
                : QString();
}

QString directoryUpdatingText() {
    return translate(QT_TRANSLATE_NOOP("OrventoViewController", "Updating the directory\u2026"));
}

QString directoryUpdatedText(bool ok, const QString& error, qsizetype stations) {
    return ok ? translate(QT_TRANSLATE_NOOP("OrventoViewController",
                                            "The directory is updated: %1 stations."))
                    .arg(stations)
              : translate(QT_TRANSLATE_NOOP("OrventoViewController",
                                            "The directory could not be updated (%1). The list "
                                            "stays as it was."))
                    .arg(error);
}

}  // namespace orvento
