#include "weather/Json.h"

#include <cstdio>
#include <optional>

#include "weather/ReportText.h"

namespace orvento::weather {
namespace {

// Builds one object, key by key, in the order given.
class Object {
  public:
    Object& text(const char* key, std::string_view value) { return raw(key, jsonString(value)); }
    Object& number(const char* key, std::optional<int> value) {
        return raw(key, value ? std::to_string(*value) : "null");
    }
    Object& flag(const char* key, bool value) { return raw(key, value ? "true" : "false"); }
    Object& category(std::optional<FlightCategory> value) {
        return raw("category", value ? jsonString(categoryName(*value)) : "null");
    }
    Object& raw(const char* key, const std::string& json) {
        out_ += out_.size() > 1 ? ",\"" : "\"";
        out_ += key;
        out_ += "\":";
        out_ += json;
        return *this;
    }
    // The object, with the report's text echoed when it is not too long.
    std::string done(std::optional<std::string_view> rawText = std::nullopt) {
        if (rawText && rawText->size() <= kMaxReportBytes) {
            text("raw", *rawText);
        }
        return out_ + "}";
    }

  private:
    std::string out_ = "{";
};

std::string hhmm(const DayTime& t) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d%02d", t.hour % 100, t.minute % 100);
    return text;
}

}  // namespace

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    const auto escape = [&](unsigned codePoint) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", codePoint);
        out += escaped;
    };
    while (!text.empty()) {
        const std::size_t length = utf8SequenceLength(text);
        const auto c = static_cast<unsigned char>(text[0]);
        if (length == 0) {
            out += "\xef\xbf\xbd";  // U+FFFD
            text.remove_prefix(1);
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (isControl(c)) {
            escape(c);
        } else if (c == 0xc2 && isControl(static_cast<unsigned char>(text[1]))) {
            escape(static_cast<unsigned char>(text[1]));  // C1, such as CSI (U+009B)
        } else {
            out += text.substr(0, length);
        }
        text.remove_prefix(length);
    }
    return out + "\"";
}

std::string metarJson(const MetarDecode& decoded, std::string_view raw) {
    Object o;
    if (!decoded.metar) {
        return o.text("error", decoded.error).done(raw);
    }
    const Metar& m = *decoded.metar;
    const Conditions& c = m.conditions;
    const std::optional<Wind>& wind = c.wind;
    o.text("station", m.station).number("day", m.issued.day).text("time", hhmm(m.issued));
    if (wind && wind->variable) {
        o.text("wind_dir_deg", "VRB");
    } else {
        o.number("wind_dir_deg", wind ? wind->directionDeg : std::nullopt);
    }
    o.number("wind_kt", wind ? wind->speedKt : std::nullopt)
        .number("gust_kt", wind ? wind->gustKt : std::nullopt)
        .number("visibility_m",
                c.visibility ? std::optional<int>(c.visibility->metres) : std::nullopt)
        .flag("less_than", c.visibility && c.visibility->lessThan)
        .flag("cavok", c.cavok)
        .number("ceiling_ft", c.sky.ceilingFt())
        .number("temp_c", m.temperatures.airC)
        .number("dew_c", m.temperatures.dewPointC)
        .number("qnh_hpa", m.qnh ? std::optional<int>(m.qnh->hectopascals) : std::nullopt)
        .category(m.category);
    return o.done(raw);
}

std::string tafJson(const TafDecode& decoded, std::string_view raw) {
    Object o;
    if (!decoded.taf) {
        return o.text("error", decoded.error).done(raw);
    }
    std::string groups = "[";
    for (const TafGroup& g : decoded.taf->groups) {
        const auto field = [](const std::optional<DayTime>& t, int DayTime::*member) {
            return t ? std::optional<int>((*t).*member) : std::nullopt;
        };
        Object group;
        group.text("type", groupTypeName(g.type))
            .number("prob", g.probability)
            .number("from_day", field(g.from, &DayTime::day))
            .number("from_hour", field(g.from, &DayTime::hour))
            .number("to_day", field(g.to, &DayTime::day))
            .number("to_hour", field(g.to, &DayTime::hour))
            .category(g.category);
        groups += (groups.size() > 1 ? "," : "") + group.done();
    }
    return o.text("station", decoded.taf->station).raw("groups", groups + "]").done(raw);
}

}  // namespace orvento::weather
