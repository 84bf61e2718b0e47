#include "weather/Words.h"

namespace orvento::weather {
namespace {

bool isBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ' || c == 0x7f;
}

bool inRange(int value, int low, int high) {
    return value >= low && value <= high;
}

}  // namespace

std::vector<std::string_view> splitWords(std::string_view text) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && isBlank(text[i])) {
            ++i;
        }
        const std::size_t start = i;
        while (i < text.size() && !isBlank(text[i])) {
            ++i;
        }
        std::string_view word = text.substr(start, i - start);
        while (!word.empty() && word.back() == '=') {
            word.remove_suffix(1);
        }
        if (!word.empty()) {
            words.push_back(word);
        }
    }
    return words;
}

bool allDigits(std::string_view word) {
    if (word.empty()) {
        return false;
    }
    for (const char c : word) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

int digitsValue(std::string_view digits) {
    int value = 0;
    for (const char c : digits) {
        value = value * 10 + (c - '0');
    }
    return value;
}

std::optional<int> fixedDigits(std::string_view word, std::size_t count) {
    if (word.size() != count || !allDigits(word)) {
        return std::nullopt;
    }
    return digitsValue(word);
}

std::optional<DayTime> readIssueTime(std::string_view word) {
    if (word.size() != 7 || word[6] != 'Z' || !allDigits(word.substr(0, 6))) {
        return std::nullopt;
    }
    const DayTime t{digitsValue(word.substr(0, 2)), digitsValue(word.substr(2, 2)),
                    digitsValue(word.substr(4, 2))};
    if (!inRange(t.day, 1, 31) || !inRange(t.hour, 0, 23) || !inRange(t.minute, 0, 59)) {
        return std::nullopt;
    }
    return t;
}

std::optional<std::pair<DayTime, DayTime>> readPeriod(std::string_view word) {
    if (word.size() != 9 || word[4] != '/' || !allDigits(word.substr(0, 4)) ||
        !allDigits(word.substr(5))) {
        return std::nullopt;
    }
    const DayTime from{digitsValue(word.substr(0, 2)), digitsValue(word.substr(2, 2)), 0};
    const DayTime to{digitsValue(word.substr(5, 2)), digitsValue(word.substr(7, 2)), 0};
    for (const DayTime& t : {from, to}) {
        if (!inRange(t.day, 1, 31) || !inRange(t.hour, 0, 24)) {
            return std::nullopt;
        }
    }
    return std::pair{from, to};
}

bool isLocationIndicator(std::string_view word) {
    const auto letter = [](char c) { return c >= 'A' && c <= 'Z'; };
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    return word.size() == 4 && letter(word[0]) && (letter(word[1]) || digit(word[1])) &&
           (letter(word[2]) || digit(word[2])) && (letter(word[3]) || digit(word[3]));
}

}  // namespace orvento::weather
