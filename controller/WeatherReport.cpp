#include "controller/WeatherReport.h"

#include <QCoreApplication>
#include <QStringDecoder>
#include <algorithm>

namespace orvento {
namespace {

QString noReport(const char* why) {
    return QCoreApplication::translate("OrventoViewController", "(No report: %1)")
        .arg(QCoreApplication::translate("OrventoViewController", why));
}

bool isText(const QString& text) {
    return std::none_of(text.begin(), text.end(), [](QChar c) {
        return c.category() == QChar::Other_Control && c != u'\n' && c != u'\r' && c != u'\t';
    });
}

}  // namespace

std::optional<QString> decodeUtf8(const QByteArray& bytes) {
    // Stateless: a sequence cut short at the end is an error, not kept for
    // more bytes to come.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        return std::nullopt;
    }
    return text;
}

QString weatherSectionText(const std::optional<HttpDownloadResult>& download) {
    if (!download) {
        return {};
    }
    if (download->tooLarge) {
        return noReport(QT_TRANSLATE_NOOP("OrventoViewController", "it is larger than 256 KiB."));
    }
    if (!download->body) {
        return QCoreApplication::translate("OrventoViewController", "(No report: %1)")
            .arg(QString::fromStdString(download->error));
    }
    const std::optional<QString> text = decodeUtf8(QByteArray::fromStdString(*download->body));
    if (!text) {
        return noReport(QT_TRANSLATE_NOOP("OrventoViewController", "it is not UTF-8 text."));
    }
    if (!isText(*text)) {
        return noReport(
            QT_TRANSLATE_NOOP("OrventoViewController", "it holds control characters, not text."));
    }
    return *text;
}

QString weatherPanelText(const QString& metar, const QString& taf) {
    return QStringLiteral("METAR:\n") + metar + QStringLiteral("\nTAF:\n") + taf;
}

}  // namespace orvento
