// The decoded weather in words, as the weather panel shows it: plain text,
// in the language of the run (the phenomena keep the decoder's English
// words). Each text says "not reported" for what the report leaves out or
// gives as missing, never a guess.
//
// Times: reports give a day of the month and a time, UTC; nearestDayTime
// places them in the month, before or after, that brings them nearest to a
// moment of reference (now, for a METAR; the forecast's start, for a TAF's
// periods).
//
// Pure functions; any thread.
#pragma once

#include <QDateTime>
#include <QString>
#include <chrono>
#include <optional>

#include "weather/Metar.h"
#include "weather/Taf.h"

namespace orvento {

// A METAR older than this is flagged as old.
inline constexpr std::chrono::minutes kOldMetarAge{90};

// "340° at 12 kt, gusts 22 kt, varying 300°–020°", "variable at 3 kt", "calm".
QString windText(const std::optional<weather::Wind>& wind);
// "6000 m (3 3/4SM)", "1 1/2SM (2414 m)", "less than 1/4SM (402 m)", "10 km
// or more", "CAVOK: 10 km or more, no significant cloud".
QString visibilityText(const weather::Conditions& conditions);
// Statute miles to the nearest quarter below 5, whole above: "1 1/4SM".
QString statuteMilesText(double miles);
// "runway 27L: 1100 m, rising; ..."; empty when there is none.
QString runwayVisualRangeText(const std::vector<weather::RunwayVisualRange>& ranges);
// "light rain, mist"; empty when there is none.
QString presentWeatherText(const std::vector<weather::Phenomenon>& phenomena);
// "few 3000 ft, broken 1200 ft CB", "no significant cloud".
QString cloudsText(const weather::Sky& sky);
// The lowest broken or overcast layer or vertical visibility: "2500 ft", "none".
QString ceilingText(const weather::Sky& sky);
// "19 °C, dew point 11 °C", with a minus sign below zero.
QString temperatureText(const weather::Temperatures& temperatures);
// "1016 hPa (30.00 inHg)"; "29.86 inHg (1011 hPa)" when written in inches.
QString qnhText(const std::optional<weather::Qnh>& qnh);
// "no category: visibility or sky not reported" for a category that is none.
QString categoryText(const std::optional<weather::FlightCategory>& category);

// The moment `time` names nearest to `reference` (UTC); invalid when no month
// around it has that day.
QDateTime nearestDayTime(const weather::DayTime& time, const QDateTime& reference);
// "Issued 14 May 12:20 UTC, 10 min ago" (no age for a time ahead of `now`).
QString issuedText(const weather::DayTime& issued, const QDateTime& now);
// Whether a METAR issued at `issued` is older than kOldMetarAge at `now`.
bool isOldMetar(const weather::DayTime& issued, const QDateTime& now);
// A TAF group's kind as written: "BASE", "FM", "BECMG", "TEMPO", "PROB30",
// "PROB40 TEMPO", "INTER".
QString tafGroupName(const weather::TafGroup& group);
// "14 12:00" (day of the month, time UTC).
QString dayTimeText(const weather::DayTime& time);

// What the weather panel says of an airport code typed that is none, and
// while an airport's reports are on their way.
QString wrongAirportText(const QString& typed);
QString fetchingWeatherText(const QString& code);

// "5 min ago", "3 h ago", "2 days ago" (from `then` to `now`; "just now"
// under a minute).
QString ageText(const QDateTime& then, const QDateTime& now);
// Where the reports came from and when: "From tgftp.nws.noaa.gov, fetched
// 14:05 UTC." When the latest fetch brought none (`failure`, in words), the
// report kept and its age: "The latest fetch failed (<failure>); the report
// shown is from tgftp.nws.noaa.gov, fetched 2 h ago." Without `anyReport`
// (none came, now or before): "Asked tgftp.nws.noaa.gov at 14:05 UTC; no
// report came." Empty without a server or a fetch.
QString weatherSourceText(const QString& server, const QDateTime& fetchedAt, const QString& failure,
                          bool anyReport, const QDateTime& now);

}  // namespace orvento
