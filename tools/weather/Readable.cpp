#include "tools/weather/Readable.h"

#include <cstdio>

namespace orvento::weather {
namespace {

std::string format(const char* pattern, auto... values) {
    char text[160];
    std::snprintf(text, sizeof text, pattern, values...);
    return text;
}

std::string when(const DayTime& t) {
    return format("day %d %02d:%02d UTC", t.day, t.hour, t.minute);
}

std::string line(const char* name, const std::string& value) {
    return format("  %-12s ", name) + value + "\n";
}

std::string orUnknown(const std::string& text) {
    return text.empty() ? "not reported" : text;
}

std::string windText(const std::optional<Wind>& wind) {
    if (!wind || !wind->speedKt) {
        return {};
    }
    if (wind->calm()) {
        return "calm";
    }
    std::string text =
        wind->directionDeg ? format("%03d\xc2\xb0", *wind->directionDeg) : std::string("variable");
    text += format(" at %s%d kt", wind->speedAbove ? "more than " : "", *wind->speedKt);
    if (wind->gustKt) {
        text += format(", gusts %d kt", *wind->gustKt);
    }
    if (wind->variableFromDeg && wind->variableToDeg) {
        text += format(", varying %03d\xc2\xb0-%03d\xc2\xb0", *wind->variableFromDeg,
                       *wind->variableToDeg);
    }
    return text;
}

std::string visibilityText(const std::optional<Visibility>& v) {
    if (!v) {
        return {};
    }
    if (v->written == "CAVOK" || v->metres == kTenKilometresOrMore) {
        return "10 km or more";
    }
    const char* prefix = v->lessThan ? "less than " : v->moreThan ? "more than " : "";
    if (v->statuteMiles) {
        std::string miles = v->written.substr(v->lessThan || v->moreThan ? 1 : 0);
        miles.resize(miles.size() - 2);  // the "SM"
        return prefix + miles + " SM (" + std::to_string(v->metres) + " m)";
    }
    return prefix + std::to_string(v->metres) + " m";
}

std::string amountText(CloudAmount amount) {
    switch (amount) {
        case CloudAmount::few:
            return "few";
        case CloudAmount::scattered:
            return "scattered";
        case CloudAmount::broken:
            return "broken";
        case CloudAmount::overcast:
            return "overcast";
        case CloudAmount::verticalVisibility:
            return "sky hidden, vertical visibility";
        case CloudAmount::unknown:
            return "cloud";
    }
    return {};
}

std::string skyText(const Sky& sky) {
    std::string text;
    for (const CloudLayer& layer : sky.layers) {
        if (layer.heightFt) {
            text += (text.empty() ? "" : ", ") + amountText(layer.amount) +
                    format(" %d ft", *layer.heightFt) +
                    (layer.type.empty() ? "" : " " + layer.type);
        }
    }
    if (text.empty() && !sky.clearWord.empty()) {
        return sky.clearWord == "NCD" ? "no cloud detected" : "no cloud that matters";
    }
    return text;
}

std::string weatherText(const Conditions& c) {
    std::string text;
    for (const Phenomenon& p : c.weather) {
        text += (text.empty() ? "" : ", ") + p.words;
    }
    return text;
}

std::string categoryText(std::optional<FlightCategory> category) {
    return category ? categoryName(*category) : "unknown (visibility or sky not reported)";
}

}  // namespace

std::string readableMetar(const Metar& m) {
    const Conditions& c = m.conditions;
    std::string out = m.station + (m.special ? " SPECI" : " METAR") + ", observed " +
                      when(m.issued) + (m.automatic ? " (automatic)" : "") + "\n";
    out += line("wind", orUnknown(windText(c.wind)));
    out += line("visibility", orUnknown(visibilityText(c.visibility)));
    for (const RunwayVisualRange& r : c.runwayVisualRanges) {
        out += line("RVR", "runway " + r.runway + ": " + (r.lessThan ? "less than " : "") +
                               (r.moreThan && !r.maximum ? "more than " : "") +
                               std::to_string(r.value) +
                               (r.maximum ? " to " + std::to_string(*r.maximum) : "") +
                               (r.feet ? " ft" : " m"));
    }
    if (!c.weather.empty()) {
        out += line("weather", weatherText(c));
    }
    out += line("clouds", orUnknown(skyText(c.sky)));
    const std::optional<int> ceiling = c.sky.ceilingFt();
    out += line("ceiling", ceiling ? format("%d ft", *ceiling) : std::string("none"));
    const Temperatures& t = m.temperatures;
    out += line("temperature", orUnknown(t.airC ? format("%d \xc2\xb0"
                                                         "C",
                                                         *t.airC)
                                                : std::string()) +
                                   (t.dewPointC ? format(", dew point %d \xc2\xb0"
                                                         "C",
                                                         *t.dewPointC)
                                                : ""));
    out +=
        line("QNH", m.qnh ? format("%d hPa, %.2f inHg", m.qnh->hectopascals, m.qnh->inchesOfMercury)
                          : std::string("not reported"));
    out += line("category", categoryText(m.category));
    return out;
}

std::string readableTaf(const Taf& taf) {
    std::string out = taf.station + " TAF" + (taf.amended ? " (amended)" : "") +
                      (taf.issued ? ", issued " + when(*taf.issued) : "") +
                      format(", valid day %d %02d:00 to day %d %02d:00 UTC\n", taf.validFrom.day,
                             taf.validFrom.hour, taf.validTo.day, taf.validTo.hour);
    for (const TafGroup& g : taf.groups) {
        std::string type = groupTypeName(g.type);
        if (g.probability) {
            type = format("PROB%d", *g.probability) +
                   (g.type == TafGroupType::probability ? "" : " " + type);
        }
        const std::string period = g.from && g.to
                                       ? format("%02d/%02d:%02d-%02d/%02d:00", g.from->day,
                                                g.from->hour, g.from->minute, g.to->day, g.to->hour)
                                       : std::string("(no period)");
        std::string says;
        for (const std::string& part :
             {windText(g.conditions.wind), visibilityText(g.conditions.visibility),
              weatherText(g.conditions), skyText(g.conditions.sky)}) {
            if (!part.empty()) {
                says += (says.empty() ? "" : "; ") + part;
            }
        }
        out += format("  %-12s %-18s %-5s ", type.c_str(), period.c_str(),
                      g.category ? categoryName(*g.category) : "-") +
               says + "\n";
    }
    return out;
}

}  // namespace orvento::weather
