// The words of a report and the small matchers every element reader uses.
//
// A report is split at blanks (spaces, tabs, line breaks and other control
// characters); the "=" or "==" that ends a report is dropped. Words are views
// into the caller's text, which must outlive them.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace orvento::weather {

std::vector<std::string_view> splitWords(std::string_view text);

// True when `word` is one or more ASCII digits.
bool allDigits(std::string_view word);
// The value of a run of at most nine ASCII digits; the caller has checked them.
int digitsValue(std::string_view digits);
// The value of `word` when it is exactly `count` digits.
std::optional<int> fixedDigits(std::string_view word, std::size_t count);

// A day and time of day in UTC, as reports write them.
struct DayTime {
    int day = 0;     // of the month, 1 to 31
    int hour = 0;    // 0 to 23 (24 only as the end of a forecast period)
    int minute = 0;  // 0 to 59
};

// "DDHHMMZ": day 1-31, hour 0-23, minute 0-59.
std::optional<DayTime> readIssueTime(std::string_view word);
// "DDhh/DDhh", the period of a forecast or of one of its change groups: days
// 1-31, hours 0-24.
std::optional<std::pair<DayTime, DayTime>> readPeriod(std::string_view word);

// Longer texts are refused whole: no real report comes near it, and a
// refusal is clearer than a reading of whatever junk such a text holds.
inline constexpr std::size_t kMaxReportBytes = 8192;

// A four-character location indicator: a letter, then letters or digits.
bool isLocationIndicator(std::string_view word);

}  // namespace orvento::weather
