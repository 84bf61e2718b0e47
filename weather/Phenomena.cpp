#include "weather/Phenomena.h"

#include <array>

namespace orvento::weather {
namespace {

struct Code {
    std::string_view code;
    std::string_view words;
};

constexpr std::array kDescriptors = {
    Code{"MI", "shallow"},      Code{"BC", "patches of"}, Code{"PR", "partial"},
    Code{"DR", "low drifting"}, Code{"BL", "blowing"},    Code{"SH", "showers"},
    Code{"TS", "thunderstorm"}, Code{"FZ", "freezing"},
};

constexpr std::array kPhenomena = {
    Code{"DZ", "drizzle"},
    Code{"RA", "rain"},
    Code{"SN", "snow"},
    Code{"SG", "snow grains"},
    Code{"IC", "ice crystals"},
    Code{"PL", "ice pellets"},
    Code{"GR", "hail"},
    Code{"GS", "small hail"},
    Code{"UP", "unknown precipitation"},
    Code{"BR", "mist"},
    Code{"FG", "fog"},
    Code{"FU", "smoke"},
    Code{"VA", "volcanic ash"},
    Code{"DU", "widespread dust"},
    Code{"SA", "sand"},
    Code{"HZ", "haze"},
    Code{"PY", "spray"},
    Code{"PO", "dust whirls"},
    Code{"SQ", "squalls"},
    Code{"FC", "funnel cloud"},
    Code{"SS", "sandstorm"},
    Code{"DS", "duststorm"},
};

template <std::size_t N>
const Code* find(const std::array<Code, N>& codes, std::string_view text) {
    for (const Code& c : codes) {
        if (text.starts_with(c.code)) {
            return &c;
        }
    }
    return nullptr;
}

}  // namespace

std::optional<Phenomenon> readPhenomenon(std::string_view word) {
    if (word == "NSW") {
        return Phenomenon{"NSW", "no significant weather"};
    }
    std::string_view rest = word;
    std::string_view intensity;
    bool vicinity = false;
    if (rest.starts_with('-')) {
        intensity = "light ";
    } else if (rest.starts_with('+')) {
        intensity = "heavy ";
    }
    if (!intensity.empty()) {
        rest.remove_prefix(1);
    } else if (rest.starts_with("VC")) {
        vicinity = true;
        rest.remove_prefix(2);
    }
    const Code* descriptor = find(kDescriptors, rest);
    if (descriptor != nullptr) {
        rest.remove_prefix(2);
    }
    std::string what;
    while (!rest.empty()) {
        const Code* phenomenon = find(kPhenomena, rest);
        if (phenomenon == nullptr) {
            return std::nullopt;
        }
        if (!what.empty()) {
            what += " and ";
        }
        what += phenomenon->words;
        rest.remove_prefix(2);
    }
    // Only thunderstorms and showers stand without a phenomenon.
    if (what.empty() &&
        (descriptor == nullptr || (descriptor->code != "TS" && descriptor->code != "SH"))) {
        return std::nullopt;
    }
    std::string words(intensity);
    if (word == "+FC") {
        words = "tornado or waterspout";
    } else if (descriptor == nullptr) {
        words += what;
    } else if (descriptor->code == "SH") {
        words += what.empty() ? "showers" : what + " showers";
    } else if (descriptor->code == "TS") {
        words += what.empty() ? "thunderstorm" : "thunderstorm with " + what;
    } else {
        words += std::string(descriptor->words) + (what.empty() ? "" : " " + what);
    }
    if (vicinity) {
        words += " in the vicinity";
    }
    return Phenomenon{std::string(word), std::move(words)};
}

}  // namespace orvento::weather
