#include "weather/Metar.h"

#include <span>
#include <vector>

namespace orvento::weather {
namespace {

bool isTrendWord(std::string_view word) {
    if (word == "NOSIG" || word == "BECMG" || word == "TEMPO" || word == "INTER") {
        return true;
    }
    if (word.starts_with("FM") || word.starts_with("TL") || word.starts_with("AT")) {
        const std::string_view digits = word.substr(2);
        return (digits.size() == 4 || digits.size() == 6) && allDigits(digits);
    }
    return word.starts_with("PROB") && fixedDigits(word.substr(4), 2).has_value();
}

bool isCorrection(std::string_view word) {
    return word == "COR" ||
           (word.size() == 3 && word.starts_with("CC") && word[2] >= 'A' && word[2] <= 'Z');
}

}  // namespace

MetarDecode decodeMetar(std::string_view text) {
    if (text.size() > kMaxReportBytes) {
        return {std::nullopt, "longer than any report (" + std::to_string(text.size()) + " bytes)"};
    }
    const std::vector<std::string_view> words = splitWords(text);
    Metar m;
    std::size_t i = 0;
    if (i < words.size() && (words[i] == "METAR" || words[i] == "SPECI")) {
        m.special = words[i] == "SPECI";
        ++i;
    }
    while (i < words.size() && (words[i] == "COR" || words[i] == "AMD")) {
        m.corrected = m.corrected || words[i] == "COR";
        ++i;
    }
    if (i >= words.size() || !isLocationIndicator(words[i])) {
        return {std::nullopt, words.empty() ? "empty report" : "no location indicator"};
    }
    m.station = words[i++];
    const std::optional<DayTime> issued = i < words.size() ? readIssueTime(words[i]) : std::nullopt;
    if (!issued) {
        return {std::nullopt, "no valid DDHHMMZ time after the location indicator"};
    }
    m.issued = *issued;
    ++i;

    std::optional<Qnh> inHectopascals;
    std::optional<Qnh> inInches;
    bool temperaturesRead = false;
    bool qRead = false;
    bool aRead = false;
    const std::span<const std::string_view> all(words);
    while (i < words.size()) {
        const std::string_view word = words[i];
        if (word == "RMK" || isTrendWord(word)) {
            break;
        }
        if (word == "NIL") {
            return {std::nullopt, "NIL report: no observation"};
        }
        if (word == "AUTO") {
            m.automatic = true;
            ++i;
            continue;
        }
        if (isCorrection(word)) {
            m.corrected = true;
            ++i;
            continue;
        }
        if (const int taken = readConditionWords(all.subspan(i), m.conditions); taken > 0) {
            i += static_cast<std::size_t>(taken);
            continue;
        }
        if (!temperaturesRead) {
            if (const std::optional<Temperatures> t = readTemperatures(word)) {
                m.temperatures = *t;
                temperaturesRead = true;
                ++i;
                continue;
            }
        }
        if (const QnhRead q = readQnh(word); q.matched) {
            bool& read = word[0] == 'Q' ? qRead : aRead;
            if (!read) {
                read = true;
                (word[0] == 'Q' ? inHectopascals : inInches) = q.value;
            }
        }
        ++i;
    }
    m.qnh = inHectopascals ? inHectopascals : inInches;
    m.category = m.conditions.category();
    return {std::move(m), {}};
}

}  // namespace orvento::weather
