#include "weather/Conditions.h"

namespace orvento::weather {
namespace {

void setVisibility(Conditions& c, std::optional<Visibility> value) {
    if (!c.visibilityGiven) {
        c.visibilityGiven = true;
        c.visibility = std::move(value);
    }
}

}  // namespace

int readConditionWords(std::span<const std::string_view> words, Conditions& c) {
    const std::string_view word = words[0];
    if (word == "CAVOK") {
        c.cavok = true;
        setVisibility(c, cavokVisibility());
        c.sky.clearWord = "CAVOK";
        return 1;
    }
    if (std::optional<Wind> wind = readWind(word)) {
        if (!c.wind) {
            c.wind = wind;
        }
        return 1;
    }
    if (c.wind && !c.wind->variableFromDeg && readVariableSector(word, *c.wind)) {
        return 1;
    }
    if (const VisibilityRead v = readVisibility(words); v.words > 0) {
        if (v.prevailing) {
            setVisibility(c, v.value);
        }
        return v.words;
    }
    if (readSkyWord(word, c.sky)) {
        return 1;
    }
    if (std::optional<RunwayVisualRange> rvr = readRunwayVisualRange(word)) {
        c.runwayVisualRanges.push_back(std::move(*rvr));
        return 1;
    }
    if (std::optional<Phenomenon> p = readPhenomenon(word)) {
        c.weather.push_back(std::move(*p));
        return 1;
    }
    return 0;
}

}  // namespace orvento::weather
