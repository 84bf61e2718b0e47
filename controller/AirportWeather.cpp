#include "controller/AirportWeather.h"

#include <QCoreApplication>
#include <QUrl>

#include "controller/WeatherReport.h"
#include "weather/ServerFiles.h"

namespace orvento {

AirportWeather::AirportWeather(QString baseUrl, QString airport, QObject* parent,
                               weather::ServerLayout layout)
    : QObject(parent), baseUrl_(std::move(baseUrl)), layout_(layout), airport_(std::move(airport)) {
    refreshTimer_.setInterval(kRefreshInterval);
    connect(&refreshTimer_, &QTimer::timeout, this, &AirportWeather::fetch);
}

AirportWeather::~AirportWeather() = default;

std::optional<QString> AirportWeather::airportCode(const QString& typed) {
    const QString code = typed.trimmed().toUpper();
    if (!weather::isIcaoCode(code.toStdString())) {
        return std::nullopt;
    }
    return code;
}

void AirportWeather::setAirport(const QString& code) {
    airport_ = code;
}

QString AirportWeather::serverName() const {
    const QUrl url(baseUrl_);
    return url.host().isEmpty() ? QString()
           : url.port() < 0     ? url.host()
                                : QStringLiteral("%1:%2").arg(url.host()).arg(url.port());
}

void AirportWeather::setRefreshing(bool on) {
    if (on) {
        refreshTimer_.start();
    } else {
        refreshTimer_.stop();
    }
}

void AirportWeather::fetch() {
    pendingMetar_ = Report{};
    pendingTaf_ = Report{};
    const std::string code = airport_.toStdString();
    // The downloads under way, if any, are abandoned first.
    metarDownload_ = download(Kind::metar, weather::metarPath(code, layout_), pendingMetar_);
    tafDownload_ = download(Kind::taf, weather::tafPath(code, layout_), pendingTaf_);
}

std::unique_ptr<BackgroundDownload> AirportWeather::download(Kind kind, const std::string& path,
                                                             Report& into) {
    if (baseUrl_.isEmpty()) {
        arrived(into, read(kind, std::nullopt));
        return nullptr;
    }
    HttpDownloadOptions options;
    options.maxBytes = kWeatherMaxBytes;
    return std::make_unique<BackgroundDownload>(
        serverUrl(baseUrl_, QString::fromStdString(path)).toStdString(), options, this,
        [this, kind, &into](HttpDownloadResult result) -> std::function<void()> {
            // On the download's thread: nothing of this object but `kind`.
            Report report = read(kind, std::move(result));
            report.fetchedAt = QDateTime::currentDateTimeUtc();
            return [this, &into, report = std::move(report)]() mutable {
                arrived(into, std::move(report));
            };
        });
}

AirportWeather::Report AirportWeather::read(Kind kind,
                                            const std::optional<HttpDownloadResult>& download) {
    Report report;
    report.arrived = true;
    const WeatherSection section = readWeatherSection(download);
    report.text = section.text;
    report.isReport = section.isReport;
    if (!section.isReport) {
        return report;
    }
    const weather::ReportFile file = weather::readReportFile(section.text.toStdString());
    report.stamp = QString::fromStdString(file.stamp);
    if (kind == Kind::metar) {
        weather::MetarDecode decode = weather::decodeMetar(file.report);
        report.metar = std::move(decode.metar);
        report.decodeError = QString::fromStdString(decode.error);
    } else {
        weather::TafDecode decode = weather::decodeTaf(file.report);
        report.taf = std::move(decode.taf);
        report.decodeError = QString::fromStdString(decode.error);
    }
    return report;
}

AirportWeather::Report AirportWeather::keptIfFailed(Report fresh, const Report& last) {
    // Text that does not decode (an HTML page, junk) after a report that did
    // is no newer report.
    const bool lastDecoded = last.isReport && last.decodeError.isEmpty();
    const bool freshFailed = !fresh.isReport || (lastDecoded && !fresh.decodeError.isEmpty());
    if (!freshFailed || !last.isReport) {
        return fresh;
    }
    Report kept = last;
    kept.failure =
        fresh.isReport
            ? QCoreApplication::translate("OrventoViewController", "(No report: %1)")
                  .arg(QCoreApplication::translate(
                      "OrventoViewController",
                      QT_TRANSLATE_NOOP("OrventoViewController", "the answer is no report.")))
            : fresh.text;
    return kept;
}

void AirportWeather::arrived(Report& into, Report report) {
    into = std::move(report);
    if (!baseUrl_.isEmpty()) {
        emit reportArrived();
    }
    if (pendingMetar_.arrived && pendingTaf_.arrived) {
        const bool sameAirport = shownAirport_ == airport_;
        shownAirport_ = airport_;
        metar_ =
            sameAirport ? keptIfFailed(std::move(pendingMetar_), metar_) : std::move(pendingMetar_);
        taf_ = sameAirport ? keptIfFailed(std::move(pendingTaf_), taf_) : std::move(pendingTaf_);
        pendingMetar_ = Report{};
        pendingTaf_ = Report{};
        emit updated();
    }
}

}  // namespace orvento
