#include "weather/Taf.h"

#include <span>

namespace orvento::weather {
namespace {

// "FMddhhmm": the start of an FM group.
std::optional<DayTime> readFrom(std::string_view word) {
    if (!word.starts_with("FM") || !fixedDigits(word.substr(2), 6)) {
        return std::nullopt;
    }
    const DayTime t{digitsValue(word.substr(2, 2)), digitsValue(word.substr(4, 2)),
                    digitsValue(word.substr(6, 2))};
    if (t.day < 1 || t.day > 31 || t.hour > 24 || t.minute > 59) {
        return std::nullopt;
    }
    return t;
}

std::optional<int> readProbability(std::string_view word) {
    return word.starts_with("PROB") ? fixedDigits(word.substr(4), 2) : std::nullopt;
}

// Starts a change group at words[i] when one starts there; returns the words it took.
std::size_t startGroup(std::span<const std::string_view> words, std::size_t i,
                       std::vector<TafGroup>& groups) {
    TafGroup group;
    std::size_t next = i + 1;
    if (const std::optional<DayTime> from = readFrom(words[i])) {
        group.type = TafGroupType::from;
        group.from = from;
        groups.push_back(std::move(group));
        return 1;
    }
    std::string_view word = words[i];
    if (const std::optional<int> probability = readProbability(word)) {
        group.probability = probability;
        group.type = TafGroupType::probability;
        if (next < words.size() && (words[next] == "TEMPO" || words[next] == "INTER")) {
            word = words[next++];
        }
    }
    if (word == "BECMG") {
        group.type = TafGroupType::becoming;
    } else if (word == "TEMPO") {
        group.type = TafGroupType::temporary;
    } else if (word == "INTER") {
        group.type = TafGroupType::intermittent;
    } else if (!group.probability) {
        return 0;
    }
    if (next < words.size()) {
        if (const auto period = readPeriod(words[next])) {
            group.from = period->first;
            group.to = period->second;
            ++next;
        }
    }
    groups.push_back(std::move(group));
    return next - i;
}

// Works out what is in force during each group, and its category.
void applyConditionsInForce(Taf& taf) {
    std::optional<Visibility> visibility;
    Sky sky;
    for (std::size_t g = 0; g < taf.groups.size(); ++g) {
        TafGroup& group = taf.groups[g];
        const Conditions& own = group.conditions;
        const bool standsAlone =
            group.type == TafGroupType::base || group.type == TafGroupType::from;
        group.visibilityInForce = standsAlone || own.visibilityGiven ? own.visibility : visibility;
        group.skyInForce = standsAlone || own.sky.known() ? own.sky : sky;
        group.category = flightCategory(group.visibilityInForce, group.skyInForce);
        if (standsAlone || group.type == TafGroupType::becoming) {
            visibility = group.visibilityInForce;
            sky = group.skyInForce;
        }
        if (group.type == TafGroupType::from) {
            group.to = taf.validTo;
            for (std::size_t n = g + 1; n < taf.groups.size(); ++n) {
                if (taf.groups[n].type == TafGroupType::from && taf.groups[n].from) {
                    group.to = DayTime{taf.groups[n].from->day, taf.groups[n].from->hour, 0};
                    break;
                }
            }
        }
    }
}

}  // namespace

const char* groupTypeName(TafGroupType type) {
    switch (type) {
        case TafGroupType::base:
            return "BASE";
        case TafGroupType::from:
            return "FM";
        case TafGroupType::becoming:
            return "BECMG";
        case TafGroupType::temporary:
            return "TEMPO";
        case TafGroupType::probability:
            return "PROB";
        case TafGroupType::intermittent:
            return "INTER";
    }
    return "";
}

TafDecode decodeTaf(std::string_view text) {
    if (text.size() > kMaxReportBytes) {
        return {std::nullopt, "longer than any report (" + std::to_string(text.size()) + " bytes)"};
    }
    const std::vector<std::string_view> words = splitWords(text);
    Taf taf;
    std::size_t i = 0;
    while (i < words.size() &&
           (words[i] == "TAF" || words[i] == "AMD" || words[i] == "COR" || words[i] == "RTD")) {
        taf.amended = taf.amended || words[i] == "AMD";
        taf.corrected = taf.corrected || words[i] == "COR";
        ++i;
    }
    if (i >= words.size() || !isLocationIndicator(words[i])) {
        return {std::nullopt, words.empty() ? "empty report" : "no location indicator"};
    }
    taf.station = words[i++];
    if (i < words.size()) {
        taf.issued = readIssueTime(words[i]);
        i += taf.issued ? 1 : 0;
    }
    const auto validity = i < words.size() ? readPeriod(words[i]) : std::nullopt;
    if (!validity) {
        if (i < words.size() && words[i] == "NIL") {
            return {std::nullopt, "NIL forecast: none issued"};
        }
        return {std::nullopt, "no valid DDhh/DDhh validity period"};
    }
    taf.validFrom = validity->first;
    taf.validTo = validity->second;
    ++i;
    if (i < words.size() && (words[i] == "NIL" || words[i] == "CNL")) {
        return {std::nullopt,
                words[i] == "NIL" ? "NIL forecast: none issued" : "cancelled forecast (CNL)"};
    }

    TafGroup base;
    base.from = taf.validFrom;
    base.to = taf.validTo;
    taf.groups.push_back(std::move(base));
    const std::span<const std::string_view> all(words);
    while (i < words.size() && words[i] != "RMK") {
        if (const std::size_t taken = startGroup(all, i, taf.groups); taken > 0) {
            i += taken;
        } else if (const int read =
                       readConditionWords(all.subspan(i), taf.groups.back().conditions);
                   read > 0) {
            i += static_cast<std::size_t>(read);
        } else {
            ++i;
        }
    }
    applyConditionsInForce(taf);
    return {std::move(taf), {}};
}

}  // namespace orvento::weather
