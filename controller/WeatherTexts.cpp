#include "controller/WeatherTexts.h"

#include <QCoreApplication>
#include <QLocale>
#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace orvento {
namespace {

using namespace weather;

QString translate(const char* text) {
    return QCoreApplication::translate("OrventoViewController", text);
}

QString notReported() {
    return translate(QT_TRANSLATE_NOOP("OrventoViewController", "not reported"));
}

QString degrees(int value) {
    return QStringLiteral("%1\u00b0").arg(value, 3, 10, QLatin1Char('0'));
}

// A whole number of degrees Celsius, with a minus sign below zero.
QString celsius(int value) {
    return (value < 0 ? QStringLiteral("\u2212%1 \u00b0C").arg(-value)
                      : QStringLiteral("%1 \u00b0C").arg(value));
}

QString joined(const QStringList& parts, const char* separator) {
    return parts.join(QLatin1String(separator));
}

QString lessOrMore(bool less, bool more, const QString& value) {
    if (less) {
        return translate(QT_TRANSLATE_NOOP("OrventoViewController", "less than %1")).arg(value);
    }
    if (more) {
        return translate(QT_TRANSLATE_NOOP("OrventoViewController", "more than %1")).arg(value);
    }
    return value;
}

QString cloudAmountText(CloudAmount amount) {
    static constexpr const char* kAmounts[] = {
        QT_TRANSLATE_NOOP("OrventoViewController", "few"),
        QT_TRANSLATE_NOOP("OrventoViewController", "scattered"),
        QT_TRANSLATE_NOOP("OrventoViewController", "broken"),
        QT_TRANSLATE_NOOP("OrventoViewController", "overcast"),
        QT_TRANSLATE_NOOP("OrventoViewController", "sky hidden, vertical visibility"),
        QT_TRANSLATE_NOOP("OrventoViewController", "cloud"),
    };
    return translate(kAmounts[static_cast<int>(amount)]);
}

QString feet(int value) {
    return QStringLiteral("%1 ft").arg(value);
}

}  // namespace

QString windText(const std::optional<Wind>& wind) {
    if (!wind || !wind->speedKt) {
        return notReported();
    }
    if (wind->calm()) {
        return translate(QT_TRANSLATE_NOOP("OrventoViewController", "calm"));
    }
    const QString speed =
        lessOrMore(false, wind->speedAbove, QStringLiteral("%1 kt").arg(*wind->speedKt));
    QStringList parts{
        wind->directionDeg
            ? translate(QT_TRANSLATE_NOOP("OrventoViewController", "%1 at %2"))
                  .arg(degrees(*wind->directionDeg), speed)
            : translate(QT_TRANSLATE_NOOP("OrventoViewController", "variable at %1")).arg(speed)};
    if (wind->gustKt) {
        parts.append(translate(QT_TRANSLATE_NOOP("OrventoViewController", "gusts %1 kt"))
                         .arg(*wind->gustKt));
    }
    if (wind->variableFromDeg && wind->variableToDeg) {
        parts.append(translate(QT_TRANSLATE_NOOP("OrventoViewController", "varying %1\u2013%2"))
                         .arg(degrees(*wind->variableFromDeg), degrees(*wind->variableToDeg)));
    }
    return joined(parts, ", ");
}

QString statuteMilesText(double miles) {
    if (miles >= 5) {
        return QStringLiteral("%1SM").arg(std::lround(miles));
    }
    static constexpr const char* kQuarters[] = {"", "1/4", "1/2", "3/4"};
    const long quarters = std::lround(miles * 4);
    const long whole = quarters / 4;
    const char* part = kQuarters[quarters % 4];
    if (whole == 0) {
        return quarters == 0 ? QStringLiteral("0SM")
                             : QStringLiteral("%1SM").arg(QLatin1String(part));
    }
    return *part == '\0' ? QStringLiteral("%1SM").arg(whole)
                         : QStringLiteral("%1 %2SM").arg(whole).arg(QLatin1String(part));
}

QString visibilityText(const Conditions& conditions) {
    if (conditions.cavok) {
        return translate(QT_TRANSLATE_NOOP("OrventoViewController",
                                           "CAVOK: 10 km or more, no significant cloud"));
    }
    const std::optional<Visibility>& v = conditions.visibility;
    if (!v) {
        return notReported();
    }
    if (v->statuteMiles) {
        // As written, without its "M" or "P".
        QString miles = QString::fromStdString(v->written);
        if (v->lessThan || v->moreThan) {
            miles.remove(0, 1);
        }
        return lessOrMore(v->lessThan, v->moreThan,
                          QStringLiteral("%1 (%2 m)").arg(miles).arg(v->metres));
    }
    if (v->metres >= kTenKilometresOrMore) {
        return translate(QT_TRANSLATE_NOOP("OrventoViewController", "10 km or more"));
    }
    return lessOrMore(v->lessThan, v->moreThan,
                      QStringLiteral("%1 m (%2)").arg(v->metres).arg(statuteMilesText(v->miles())));
}

QString runwayVisualRangeText(const std::vector<RunwayVisualRange>& ranges) {
    QStringList parts;
    for (const RunwayVisualRange& r : ranges) {
        const QString unit = r.feet ? QStringLiteral(" ft") : QStringLiteral(" m");
        QString value = lessOrMore(r.lessThan, r.moreThan && !r.maximum, QString::number(r.value));
        if (r.maximum) {
            value = translate(QT_TRANSLATE_NOOP("OrventoViewController", "%1 to %2"))
                        .arg(value, lessOrMore(false, r.moreThan, QString::number(*r.maximum)));
        }
        QString text = translate(QT_TRANSLATE_NOOP("OrventoViewController", "runway %1: %2"))
                           .arg(QString::fromStdString(r.runway), value + unit);
        if (r.tendency == 'U') {
            text += translate(QT_TRANSLATE_NOOP("OrventoViewController", ", rising"));
        } else if (r.tendency == 'D') {
            text += translate(QT_TRANSLATE_NOOP("OrventoViewController", ", falling"));
        }
        parts.append(text);
    }
    return joined(parts, "; ");
}

QString presentWeatherText(const std::vector<Phenomenon>& phenomena) {
    QStringList parts;
    for (const Phenomenon& p : phenomena) {
        parts.append(QString::fromStdString(p.words));
    }
    return joined(parts, ", ");
}

QString cloudsText(const Sky& sky) {
    QStringList parts;
    for (const CloudLayer& layer : sky.layers) {
        if (layer.heightFt) {
            parts.append(cloudAmountText(layer.amount) + QLatin1Char(' ') + feet(*layer.heightFt) +
                         (layer.type.empty() || layer.type == "///"
                              ? QString()
                              : QLatin1Char(' ') + QString::fromStdString(layer.type)));
        }
    }
    if (!parts.isEmpty()) {
        return joined(parts, ", ");
    }
    if (sky.clearWord == "NCD") {
        return translate(QT_TRANSLATE_NOOP("OrventoViewController", "no cloud detected"));
    }
    if (!sky.clearWord.empty()) {
        return translate(QT_TRANSLATE_NOOP("OrventoViewController", "no significant cloud"));
    }
    return notReported();
}

QString ceilingText(const Sky& sky) {
    const std::optional<int> ceiling = sky.ceilingFt();
    return ceiling ? feet(*ceiling) : translate(QT_TRANSLATE_NOOP("OrventoViewController", "none"));
}

QString temperatureText(const Temperatures& t) {
    if (!t.airC) {
        return notReported();
    }
    if (!t.dewPointC) {
        return celsius(*t.airC);
    }
    return translate(QT_TRANSLATE_NOOP("OrventoViewController", "%1, dew point %2"))
        .arg(celsius(*t.airC), celsius(*t.dewPointC));
}

QString qnhText(const std::optional<Qnh>& qnh) {
    if (!qnh) {
        return notReported();
    }
    const QString hectopascals = QStringLiteral("%1 hPa").arg(qnh->hectopascals);
    const QString inches = QStringLiteral("%1 inHg").arg(qnh->inchesOfMercury, 0, 'f', 2);
    return qnh->writtenInInches ? QStringLiteral("%1 (%2)").arg(inches, hectopascals)
                                : QStringLiteral("%1 (%2)").arg(hectopascals, inches);
}

QString categoryText(const std::optional<FlightCategory>& category) {
    return category ? QString::fromLatin1(categoryName(*category))
                    : translate(QT_TRANSLATE_NOOP("OrventoViewController",
                                                  "no category: visibility or sky not reported"));
}

QDateTime nearestDayTime(const DayTime& time, const QDateTime& reference) {
    const QDateTime utc = reference.toUTC();
    const QDate month(utc.date().year(), utc.date().month(), 1);
    QDateTime nearest;
    for (int offset = -1; offset <= 1; ++offset) {
        const QDate first = month.addMonths(offset);
        if (time.day < 1 || time.day > first.daysInMonth()) {
            continue;
        }
        const QDateTime at =
            QDateTime(QDate(first.year(), first.month(), time.day), QTime(0, 0), Qt::UTC)
                .addSecs(time.hour * 3600LL + time.minute * 60LL);
        if (!nearest.isValid() || std::llabs(at.secsTo(utc)) < std::llabs(nearest.secsTo(utc))) {
            nearest = at;
        }
    }
    return nearest;
}

QString dayTimeText(const DayTime& time) {
    return QStringLiteral("%1 %2:%3")
        .arg(time.day)
        .arg(time.hour, 2, 10, QLatin1Char('0'))
        .arg(time.minute, 2, 10, QLatin1Char('0'));
}

QString issuedText(const DayTime& issued, const QDateTime& now) {
    const QDateTime at = nearestDayTime(issued, now);
    const QString issuedAt = translate(QT_TRANSLATE_NOOP("OrventoViewController", "Issued %1 UTC"));
    if (!at.isValid()) {
        return issuedAt.arg(dayTimeText(issued));
    }
    const QString when = QLocale().toString(at, QStringLiteral("d MMM HH:mm"));
    const qint64 minutes = at.secsTo(now) / 60;
    if (minutes < 0) {
        return issuedAt.arg(when);
    }
    const QString age =
        minutes < 60
            ? translate(QT_TRANSLATE_NOOP("OrventoViewController", "%1 min ago")).arg(minutes)
            : translate(QT_TRANSLATE_NOOP("OrventoViewController", "%1 h %2 min ago"))
                  .arg(minutes / 60)
                  .arg(minutes % 60);
    return translate(QT_TRANSLATE_NOOP("OrventoViewController", "Issued %1 UTC, %2"))
        .arg(when, age);
}

bool isOldMetar(const DayTime& issued, const QDateTime& now) {
    const QDateTime at = nearestDayTime(issued, now);
    return !at.isValid() || at.secsTo(now) > std::chrono::seconds(kOldMetarAge).count();
}

QString tafGroupName(const TafGroup& group) {
    const QString type = QString::fromLatin1(groupTypeName(group.type));
    if (!group.probability) {
        return type;
    }
    const QString probability = QStringLiteral("PROB%1").arg(*group.probability);
    return group.type == TafGroupType::probability ? probability
                                                   : probability + QLatin1Char(' ') + type;
}

QString wrongAirportText(const QString& typed) {
    // Quoted as typed, but never more than a code's worth and a little.
    constexpr qsizetype kQuoted = 12;
    const QString quoted = typed.size() <= kQuoted ? typed : typed.left(kQuoted) + QChar(0x2026);
    return translate(QT_TRANSLATE_NOOP(
                         "OrventoViewController",
                         "\u201c%1\u201d is not an airport code: type the four letters of its "
                         "ICAO code, such as LTFM."))
        .arg(quoted);
}

QString fetchingWeatherText(const QString& code) {
    return translate(QT_TRANSLATE_NOOP("OrventoViewController", "Fetching the weather at %1\u2026"))
        .arg(code);
}

QString ageText(const QDateTime& then, const QDateTime& now) {
    const qint64 minutes = std::max<qint64>(0, then.secsTo(now) / 60);
    if (minutes < 1) {
        return translate(QT_TRANSLATE_NOOP("OrventoViewController", "just now"));
    }
    if (minutes < 120) {
        return translate(QT_TRANSLATE_NOOP("OrventoViewController", "%1 min ago")).arg(minutes);
    }
    if (minutes < 48 * 60) {
        return translate(QT_TRANSLATE_NOOP("OrventoViewController", "%1 h ago")).arg(minutes / 60);
    }
    return translate(QT_TRANSLATE_NOOP("OrventoViewController", "%1 days ago"))
        .arg(minutes / (24 * 60));
}

QString weatherSourceText(const QString& server, const QDateTime& fetchedAt, const QString& failure,
                          bool anyReport, const QDateTime& now) {
    if (server.isEmpty() || !fetchedAt.isValid()) {
        return {};
    }
    if (!anyReport) {
        // Nothing came, now or before: nothing was fetched from there.
        return translate(QT_TRANSLATE_NOOP("OrventoViewController",
                                           "Asked %1 at %2 UTC; no report came."))
            .arg(server, fetchedAt.toUTC().toString(QStringLiteral("HH:mm")));
    }
    if (failure.isEmpty()) {
        return translate(QT_TRANSLATE_NOOP("OrventoViewController", "From %1, fetched %2 UTC."))
            .arg(server, fetchedAt.toUTC().toString(QStringLiteral("HH:mm")));
    }
    return translate(QT_TRANSLATE_NOOP("OrventoViewController",
                                       "The latest fetch failed %1; the report shown is from "
                                       "%2, fetched %3."))
        .arg(failure, server, ageText(fetchedAt, now));
}

}  // namespace orvento
