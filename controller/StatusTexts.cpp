#include "screen/ScreenTexts.h"

#include <QCoreApplication>
#include <cmath>
#include <cstdint>

namespace orvento {
namespace {

QString translate(const char* text) {
    return QCoreApplication::translate("OrventoViewController", text);
}

}  // namespace

QString elapsedTimeText(double seconds) {
    const auto whole =
        seconds > 0 ? static_cast<std::int64_t>(std::floor(seconds)) : std::int64_t{0};
    return QStringLiteral("%1:%2:%3")
        .arg(whole / 3600, 2, 10, QLatin1Char('0'))
        .arg(whole / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(whole % 60, 2, 10, QLatin1Char('0'));
}

QString endingText(const PlayerEnding& ending) {
    if (!ending.hadUrl) {
        if (ending.text.trimmed().isEmpty()) {
            return translate(
                QT_TRANSLATE_NOOP("OrventoViewController", "Type a stream address first."));
        }
        return translate(QT_TRANSLATE_NOOP("OrventoViewController",
                                           "\u201c%1\u201d is not a stream address."))
            .arg(ending.text);
    }
    if (!ending.cause.empty()) {
        const QString cause = QString::fromStdString(ending.cause);
        if (!ending.reportedPlaying) {
            return translate(QT_TRANSLATE_NOOP("OrventoViewController",
                                               "The stream could not be opened: %1"))
                .arg(cause);
        }
        return translate(QT_TRANSLATE_NOOP("OrventoViewController", "Playback failed: %1"))
            .arg(cause);
    }
    if (!ending.reportedPlaying) {
        return translate(
            QT_TRANSLATE_NOOP("OrventoViewController", "The stream could not be opened."));
    }
    if (ending.stopRequested) {
        return translate(QT_TRANSLATE_NOOP("OrventoViewController", "Stopped."));
    }
    return translate(QT_TRANSLATE_NOOP("OrventoViewController", "Playback ended."));
}

QString connectingText() {
    return translate(QT_TRANSLATE_NOOP("OrventoViewController", "Connecting\u2026"));
}

QString playingText() {
    return translate(QT_TRANSLATE_NOOP("OrventoViewController", "Playing"));
}

QString readyText() {
    return translate(QT_TRANSLATE_NOOP("OrventoViewController", "Press play to listen."));
}

QString loadingText() {
    return translate(
        QT_TRANSLATE_NOOP("OrventoViewController", "Loading the stations and the weather\u2026"));
}

QString catalogueText(CatalogueOutcome outcome, const QString& server) {
    switch (outcome) {
        case CatalogueOutcome::loaded:
            break;
        case CatalogueOutcome::failed:
            return translate(QT_TRANSLATE_NOOP("OrventoViewController",
                                               "Could not load the station list from %1. "
                                               "Type a stream address."))
                .arg(server);
        case CatalogueOutcome::unreadable:
            return translate(QT_TRANSLATE_NOOP("OrventoViewController",
                                               "The station list from %1 could not be read. "
                                               "Type a stream address."))
                .arg(server);
        case CatalogueOutcome::empty:
            return translate(QT_TRANSLATE_NOOP("OrventoViewController",
                                               "The station list from %1 holds no station. "
                                               "Type a stream address."))
                .arg(server);
    }
    return readyText();
}

}  // namespace orvento
