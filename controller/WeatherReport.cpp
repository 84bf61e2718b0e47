#include "screen/WeatherReport.h"

#include <QStringDecoder>

namespace orvento {

std::optional<QString> decodeUtf8(const std::optional<QByteArray>& bytes) {
    if (!bytes) {
        return std::nullopt;
    }
    // Stateless: a sequence cut short at the end is an error, not kept for
    // more bytes to come.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(*bytes);
    if (decoder.hasError()) {
        return std::nullopt;
    }
    return text;
}

QString weatherPanelText(const std::optional<QString>& metar, const std::optional<QString>& taf) {
    return QStringLiteral("METAR:\n") + metar.value_or(QString()) + QStringLiteral("\nTAF:\n") +
           taf.value_or(QString());
}

}  // namespace orvento
