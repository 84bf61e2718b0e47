#include "tools/station-server/SiteReports.h"

#include <charconv>
#include <cstdio>

namespace orvento::site {
namespace {

constexpr std::string_view kMark = "{time:";

std::string written(std::string_view format, std::chrono::sys_time<std::chrono::minutes> at) {
    using namespace std::chrono;
    const sys_days day = floor<days>(at);
    const year_month_day date(day);
    const hh_mm_ss<minutes> time(at - day);
    char text[64];
    const unsigned dayOfMonth = static_cast<unsigned>(date.day());
    const int hour = static_cast<int>(time.hours().count());
    const int minute = static_cast<int>(time.minutes().count());
    if (format == "ddhhmm") {
        std::snprintf(text, sizeof text, "%02u%02d%02d", dayOfMonth, hour, minute);
    } else if (format == "ddhh") {
        std::snprintf(text, sizeof text, "%02u%02d", dayOfMonth, hour);
    } else if (format == "stamp") {
        std::snprintf(text, sizeof text, "%04d/%02u/%02u %02d:%02d", static_cast<int>(date.year()),
                      static_cast<unsigned>(date.month()), dayOfMonth, hour, minute);
    } else {
        return {};
    }
    return text;
}

}  // namespace

std::string currentReport(std::string_view text, std::chrono::system_clock::time_point now) {
    using namespace std::chrono;
    const sys_time<minutes> hour = floor<hours>(now);
    std::string out;
    while (!text.empty()) {
        const std::size_t mark = text.find(kMark);
        out += text.substr(0, mark);
        if (mark == std::string_view::npos) {
            break;
        }
        text.remove_prefix(mark);
        const std::size_t colon = text.find(':', kMark.size());
        const std::size_t end = text.find('}');
        long offset = 0;
        std::string replaced;
        if (colon != std::string_view::npos && end != std::string_view::npos && colon < end) {
            const char* first = text.data() + colon + 1 + (text[colon + 1] == '+' ? 1 : 0);
            const auto [last, error] = std::from_chars(first, text.data() + end, offset);
            if (error == std::errc() && last == text.data() + end) {
                replaced = written(text.substr(kMark.size(), colon - kMark.size()),
                                   hour + minutes(offset));
            }
        }
        if (replaced.empty()) {
            // Not a mark after all: keep its first character and look on.
            out += text.front();
            text.remove_prefix(1);
            continue;
        }
        out += replaced;
        text.remove_prefix(end + 1);
    }
    return out;
}

}  // namespace orvento::site
