#include "controller/AirportWeather.h"

#include "controller/WeatherReport.h"
#include "weather/ServerFiles.h"

namespace orvento {

AirportWeather::AirportWeather(QString baseUrl, QString airport, QObject* parent)
    : QObject(parent), baseUrl_(std::move(baseUrl)), airport_(std::move(airport)) {
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
    metarDownload_ = download(Kind::metar, weather::metarPath(code), pendingMetar_);
    tafDownload_ = download(Kind::taf, weather::tafPath(code), pendingTaf_);
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

void AirportWeather::arrived(Report& into, Report report) {
    into = std::move(report);
    if (!baseUrl_.isEmpty()) {
        emit reportArrived();
    }
    if (pendingMetar_.arrived && pendingTaf_.arrived) {
        metar_ = std::move(pendingMetar_);
        taf_ = std::move(pendingTaf_);
        pendingMetar_ = Report{};
        pendingTaf_ = Report{};
        emit updated();
    }
}

}  // namespace orvento
