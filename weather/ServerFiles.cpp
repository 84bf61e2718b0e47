#include "weather/ServerFiles.h"

#include "weather/Words.h"

namespace orvento::weather {
namespace {

// "YYYY/MM/DD HH:MM"
bool isStamp(std::string_view line) {
    constexpr std::string_view kShape = "9999/99/99 99:99";
    if (line.size() != kShape.size()) {
        return false;
    }
    for (std::size_t i = 0; i < line.size(); ++i) {
        const bool digit = line[i] >= '0' && line[i] <= '9';
        if (kShape[i] == '9' ? !digit : line[i] != kShape[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool isIcaoCode(std::string_view code) {
    if (code.size() != 4) {
        return false;
    }
    for (const char c : code) {
        if (c < 'A' || c > 'Z') {
            return false;
        }
    }
    return true;
}

namespace {

std::string_view dataFolder(ServerLayout layout) {
    return layout == ServerLayout::nws ? "/data/" : "//pub/data/";
}

}  // namespace

std::string metarPath(std::string_view code, ServerLayout layout) {
    return std::string(dataFolder(layout)) + "observations/metar/stations/" + std::string(code) +
           ".TXT";
}

std::string tafPath(std::string_view code, ServerLayout layout) {
    return std::string(dataFolder(layout)) + "forecasts/taf/stations/" + std::string(code) + ".TXT";
}

ReportFile readReportFile(std::string_view body) {
    ReportFile file;
    std::string_view rest = body;
    const std::size_t firstEnd = rest.find('\n');
    std::string_view first = rest.substr(0, firstEnd);
    if (first.ends_with('\r')) {
        first.remove_suffix(1);
    }
    if (isStamp(first)) {
        file.stamp = first;
        rest = firstEnd == std::string_view::npos ? std::string_view() : rest.substr(firstEnd + 1);
    }
    for (const std::string_view word : splitWords(rest)) {
        file.report += (file.report.empty() ? "" : " ") + std::string(word);
    }
    return file;
}

}  // namespace orvento::weather
