// orvento-weather: decodes METAR and TAF reports.
//   orvento-weather ICAO                 the airport's latest reports from the weather server
//   orvento-weather --decode [--taf] FILE   one report per line in, one JSON object per line out
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "engine/net/HttpDownload.h"
#include "tools/weather/Readable.h"
#include "weather/Json.h"
#include "weather/Metar.h"
#include "weather/ReportText.h"
#include "weather/ServerFiles.h"
#include "weather/Taf.h"

namespace orvento::weather {
namespace {

constexpr const char* kWeatherUrlVariable = "ORVENTO_WEATHER_URL";
// The weather server's files are a few hundred bytes; anything far larger is no report.
constexpr std::size_t kReportFileMaxBytes = 256 * 1024;

constexpr const char* kUsage =
    "usage: orvento-weather ICAO\n"
    "       orvento-weather --decode [--taf] FILE\n"
    "\n"
    "With ICAO (four letters, such as LTBA), downloads the airport's latest\n"
    "METAR and TAF from the weather server and prints them decoded: wind,\n"
    "visibility, weather, clouds and ceiling, temperature, QNH and the flight\n"
    "category; the TAF's periods, each with its category. The server is\n"
    "$ORVENTO_WEATHER_URL (a server of one's own, with the files under\n"
    "//pub/data/), or, when it is unset, the US National Weather Service's\n"
    "public server https://tgftp.nws.noaa.gov (files under /data/).\n"
    "\n"
    "  --decode FILE  read one METAR per line from FILE (- for standard input)\n"
    "                 and print one JSON object per line, in the same order; a\n"
    "                 line that is no readable report gives {\"error\": ...}\n"
    "  --taf          with --decode: the lines are TAFs, one whole TAF a line\n"
    "  -h, --help     show this text\n"
    "\n"
    "Exit status: 0 when the reports were decoded (with --decode: also when some\n"
    "lines are errors); 1 when a file could not be read, a download failed or a\n"
    "downloaded report could not be decoded; 2 for a usage error.\n";

int usage(const std::string& problem) {
    std::fprintf(stderr, "orvento-weather: %s\n%s", problem.c_str(), kUsage);
    return 2;
}

void write(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

int decodeLines(const std::string& path, bool taf) {
    std::string input;
    if (path == "-") {
        input.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else {
        std::ifstream file(path, std::ios::binary);
        if (!file) {
            std::fprintf(stderr, "orvento-weather: cannot read %s\n", path.c_str());
            return 1;
        }
        input.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    std::string_view rest = input;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        write((taf ? tafJson(decodeTaf(line), line) : metarJson(decodeMetar(line), line)) + "\n");
    }
    return 0;
}

struct WeatherServer {
    std::string base;  // without trailing slashes
    ServerLayout layout = ServerLayout::own;
};

// $ORVENTO_WEATHER_URL, or the build's own default, or the public server.
WeatherServer weatherServer() {
    const char* url = std::getenv(kWeatherUrlVariable);
    WeatherServer server{url != nullptr && *url != '\0' ? url : ORVENTO_DEFAULT_WEATHER_URL};
    if (server.base.empty()) {
        return {kPublicWeatherServer, ServerLayout::nws};
    }
    while (server.base.ends_with('/')) {
        server.base.pop_back();
    }
    return server;
}

// Downloads one report file; prints why not and returns none when it fails
// or is no text (the window refuses the same bodies: nothing a terminal would
// act on reaches it).
std::optional<ReportFile> download(const std::string& url, const char* what) {
    HttpDownloadOptions options;
    options.maxBytes = kReportFileMaxBytes;
    const HttpDownloadResult result = downloadWholeBody(url, options);
    if (!result.body) {
        std::fprintf(stderr, "orvento-weather: the %s: could not download %s: %s\n", what,
                     url.c_str(), result.error.c_str());
        return std::nullopt;
    }
    const ReportText check = checkReportText(*result.body);
    if (check != ReportText::text) {
        std::fprintf(stderr, "orvento-weather: the %s: no report at %s: %s\n", what, url.c_str(),
                     reportTextProblem(check));
        return std::nullopt;
    }
    return readReportFile(*result.body);
}

// Says why a downloaded report could not be decoded, with the start of its text.
void cannotDecode(const char* what, const ReportFile& file, const std::string& why) {
    constexpr std::size_t kShown = 200;
    std::fprintf(stderr, "orvento-weather: the %s: could not decode it (%s): %s\n", what,
                 why.c_str(), jsonString(std::string_view(file.report).substr(0, kShown)).c_str());
}

// Downloads one report file and prints what `readable` makes of its report:
// none when it could not be decoded, for the reason `readable` puts in `error`.
using Readable = std::function<std::optional<std::string>(const std::string&, std::string& error)>;
bool showReport(const std::string& url, const char* what, const Readable& readable) {
    const std::optional<ReportFile> file = download(url, what);
    if (!file) {
        return false;
    }
    std::string error;
    const std::optional<std::string> text = readable(file->report, error);
    if (!text) {
        cannotDecode(what, *file, error);
        return false;
    }
    write(*text + "  " + file->report + "\n\n");
    return true;
}

int showAirport(const std::string& code) {
    const WeatherServer server = weatherServer();
    const bool metar = showReport(
        server.base + metarPath(code, server.layout), "METAR",
        [](const std::string& report, std::string& error) {
            const MetarDecode decoded = decodeMetar(report);
            error = decoded.error;
            return decoded.metar ? std::optional(readableMetar(*decoded.metar)) : std::nullopt;
        });
    const bool taf =
        showReport(server.base + tafPath(code, server.layout), "TAF",
                   [](const std::string& report, std::string& error) {
                       const TafDecode decoded = decodeTaf(report);
                       error = decoded.error;
                       return decoded.taf ? std::optional(readableTaf(*decoded.taf)) : std::nullopt;
                   });
    return metar && taf ? 0 : 1;
}

int run(int argc, char** argv) {
    bool decode = false;
    bool taf = false;
    std::string operand;
    bool haveOperand = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--decode") {
            decode = true;
        } else if (arg == "--taf") {
            taf = true;
        } else if (arg.starts_with("-") && arg != "-") {
            return usage("unknown option " + std::string(arg));
        } else if (haveOperand) {
            return usage("give one ICAO code or one FILE");
        } else {
            operand = arg;
            haveOperand = true;
        }
    }
    if (taf && !decode) {
        return usage("--taf goes with --decode FILE");
    }
    if (!haveOperand) {
        return usage(decode ? "--decode needs a FILE" : "give an ICAO code or --decode FILE");
    }
    if (decode) {
        return decodeLines(operand, taf);
    }
    std::string code = operand;
    for (char& c : code) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (!isIcaoCode(code)) {
        return usage("\"" + operand + "\" is not an ICAO code: give four letters, such as LTBA");
    }
    return showAirport(code);
}

}  // namespace
}  // namespace orvento::weather

int main(int argc, char** argv) {
    return orvento::weather::run(argc, argv);
}
