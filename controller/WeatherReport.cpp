#include "controller/WeatherReport.h"

#include <QCoreApplication>

#include "weather/ReportText.h"

namespace orvento {
namespace {

QString noReport(const char* why) {
    return QCoreApplication::translate("OrventoViewController", "(No report: %1)")
        .arg(QCoreApplication::translate("OrventoViewController", why));
}

}  // namespace

QString weatherSectionText(const std::optional<HttpDownloadResult>& download) {
    return readWeatherSection(download).text;
}

WeatherSection readWeatherSection(const std::optional<HttpDownloadResult>& download) {
    if (!download) {
        return {};
    }
    if (download->tooLarge) {
        return {noReport(QT_TRANSLATE_NOOP("OrventoViewController", "it is larger than 256 KiB."))};
    }
    if (!download->body) {
        return {QCoreApplication::translate("OrventoViewController", "(No report: %1)")
                    .arg(QString::fromStdString(download->error))};
    }
    switch (weather::checkReportText(*download->body)) {
        case weather::ReportText::notUtf8:
            return {noReport(QT_TRANSLATE_NOOP("OrventoViewController", "it is not UTF-8 text."))};
        case weather::ReportText::controlCharacters:
            return {noReport(QT_TRANSLATE_NOOP("OrventoViewController",
                                               "it holds control characters, not text."))};
        case weather::ReportText::text:
            break;
    }
    return {QString::fromStdString(*download->body), true};
}

QString weatherPanelText(const QString& metar, const QString& taf) {
    return QStringLiteral("METAR:\n") + metar + QStringLiteral("\nTAF:\n") + taf;
}

}  // namespace orvento
