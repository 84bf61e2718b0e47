// AirportWeather: the latest METAR and TAF of one airport, from the weather
// server, read and decoded.
//
// fetch() downloads both reports at once, each on a thread of its own
// (BackgroundDownload), where each is also checked (readWeatherSection), read
// (weather::readReportFile: the file's time line, then the report) and
// decoded (weather::decodeMetar, decodeTaf). Each result is applied on the
// main thread as it arrives (reportArrived); updated() follows once both of a
// fetch are there. A new fetch abandons the one under way; until it has
// arrived whole, the reports of the last whole fetch stay readable. While
// refreshing is on, the reports are fetched again every kRefreshInterval.
// A report that fails to come (the server is unreachable, answers an error
// page, junk or too much) does not replace the airport's last good one: that
// stays, with the time it was fetched, and `failure` says why the latest
// fetch brought nothing.
//
// Paths: weather::metarPath(code, layout) and tafPath(code, layout) after the
// server's base URL; for LTBA on a server of one's own, kMetarPath and
// kTafPath. Without a base URL nothing is fetched: both reports arrive at
// once, with no text.
//
// Main thread only (the decoding runs on the downloads' threads).
#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <memory>
#include <optional>

#include "controller/BackgroundDownload.h"
#include "weather/Metar.h"
#include "weather/ServerFiles.h"
#include "weather/Taf.h"

namespace orvento {

class AirportWeather : public QObject {
    Q_OBJECT

  public:
    static constexpr std::chrono::minutes kRefreshInterval{10};

    struct Report {
        bool arrived = false;
        // What the raw panel shows: the report as it came, or one line saying
        // why there is none (weatherSectionText); empty without a server.
        QString text;
        bool isReport = false;  // `text` is the report (to decode)
        QString stamp;          // the file's time line, "2024/05/14 12:20"; empty when none
        QDateTime fetchedAt;    // when the report arrived (UTC); invalid without a server
        // Why the latest fetch brought no report, when this one is kept from
        // an earlier fetch; empty otherwise.
        QString failure;
        // Of a report: its decoding, or why it could not be decoded.
        std::optional<weather::Metar> metar;
        std::optional<weather::Taf> taf;
        QString decodeError;
    };

    // `baseUrl`: the weather server ("http://host:port"); empty: none.
    // `layout`: where it keeps the files. `airport`: a four-letter ICAO code.
    AirportWeather(QString baseUrl, QString airport, QObject* parent = nullptr,
                   weather::ServerLayout layout = weather::ServerLayout::own);
    ~AirportWeather() override;

    // The code typed, in capitals and without surrounding blanks, when it is
    // an airport's ("ltfm " -> "LTFM"); none otherwise.
    static std::optional<QString> airportCode(const QString& typed);

    const QString& airport() const { return airport_; }
    // The server's host (and port), for saying where the reports come from;
    // empty without a server.
    QString serverName() const;
    // The next fetch is of `code`'s reports (a valid code).
    void setAirport(const QString& code);

    void fetch();
    void setRefreshing(bool on);
    bool refreshing() const { return refreshTimer_.isActive(); }

    // Of the latest whole fetch; fetched(): there has been one.
    const Report& metar() const { return metar_; }
    const Report& taf() const { return taf_; }
    bool fetched() const { return metar_.arrived; }

  signals:
    void reportArrived();
    void updated();

  private:
    enum class Kind { metar, taf };
    std::unique_ptr<BackgroundDownload> download(Kind kind, const std::string& path, Report& into);
    void arrived(Report& into, Report report);
    // The report to show of `fresh`, given `last` of the same airport.
    static Report keptIfFailed(Report fresh, const Report& last);
    static Report read(Kind kind, const std::optional<HttpDownloadResult>& download);

    const QString baseUrl_;
    const weather::ServerLayout layout_;
    QString airport_;
    Report metar_;
    Report taf_;
    QString shownAirport_;  // whose reports metar_ and taf_ are
    // The fetch under way; its results replace metar_ and taf_ once both are in.
    Report pendingMetar_;
    Report pendingTaf_;
    std::unique_ptr<BackgroundDownload> metarDownload_;
    std::unique_ptr<BackgroundDownload> tafDownload_;
    QTimer refreshTimer_;
};

}  // namespace orvento
