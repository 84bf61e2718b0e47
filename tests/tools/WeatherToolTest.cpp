// orvento-weather from the outside: the decode modes' exit status and one
// output line per input line, usage errors, and an airport's reports fetched
// from the local station site over loopback HTTP.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tools/loopback/LoopbackServer.h"
#include "tools/station-server/StationSite.h"

namespace orvento::test {
namespace {

struct ToolRun {
    int exitCode = -1;
    std::string out;  // standard output
};

// Runs the tool with `arguments` (shell words) and `environment` (VAR=value
// words); `out` holds standard error too with `withErrors`.
ToolRun runWeather(const std::string& arguments, const std::string& environment = {},
                   bool withErrors = false) {
    ToolRun run;
    const std::string command = environment + " " + ORVENTO_WEATHER_PATH + " " + arguments +
                                (withErrors ? " 2>&1" : " 2>/dev/null");
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        run.out.append(buffer, n);
    }
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// A file of these lines (binary allowed), in the test's scratch folder.
std::string linesFile(const std::string& name, const std::string& content) {
    const auto path = std::filesystem::temp_directory_path() / ("orvento-weather-" + name);
    std::ofstream(path, std::ios::binary) << content;
    return path.string();
}

std::vector<std::string> lines(const std::string& text, char separator = '\n') {
    std::vector<std::string> out;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find(separator, at), text.size());
        out.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

// Whether a terminal shows `text` as it is: printable ASCII, line breaks and
// UTF-8 sequences of U+00A0 and above (no escape sequence, C1 control or
// stray byte).
bool terminalSafe(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = [&](std::size_t at) {
            return at < text.size() ? static_cast<unsigned char>(text[at]) : 0U;
        };
        const unsigned lead = byte(i);
        if (lead < 0x80) {
            if ((lead < 0x20 && lead != '\n') || lead == 0x7f) {
                return false;
            }
            ++i;
            continue;
        }
        const std::size_t length = lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : 2;
        if (lead < 0xc2 || lead > 0xf4 || (lead == 0xc2 && byte(i + 1) < 0xa0)) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            if ((byte(i + k) & 0xc0U) != 0x80U) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

TEST(WeatherTool, CommandLine) {
    const std::string metars = linesFile(
        "metars",
        "LTBA 141220Z 34012KT 9999 FEW030 19/11 Q1016\n\x01\xff junk\r\n\nSVCB 272203Z AUTO NIL\n");
    const std::string tafs = linesFile(
        "tafs", "TAF LTBA 141100Z 1412/1518 9999 FEW030 TEMPO 1504/1508 4000 BR\nTAF LTFM NIL\n");
    // clang-format off
    const struct {
        std::string arguments;
        int exitCode;
        const char* output;  // the start of each output line, in order
    } rows[] = {
        {"--decode " + metars, 0, "{\"station\":\"LTBA\"|{\"error\":\"no location|{\"error\":\"empty|{\"error\":\"NIL"},
        {"--taf --decode " + tafs, 0, "{\"station\":\"LTBA\",\"groups\":[{\"type\":\"BASE\"|{\"error\":\"NIL"},
        {"--decode - < " + metars, 0, "{\"station\":\"LTBA\"|{\"error\":\"no location|{\"error\":\"empty|{\"error\":\"NIL"},
        {"--decode /nonexistent/file", 1, ""},
        {"--decode", 2, ""},
        {"--taf LTBA", 2, ""},
        {"LT1", 2, ""},
        {"LTBA LTFM", 2, ""},
        {"--bogus", 2, ""},
    };
    // clang-format on
    for (const auto& row : rows) {
        const ToolRun run = runWeather(row.arguments);
        EXPECT_EQ(run.exitCode, row.exitCode) << row.arguments;
        EXPECT_EQ(lines(run.out).size(), lines(row.output, '|').size()) << row.arguments;
        for (std::size_t i = 0; i < lines(run.out).size() && i < lines(row.output, '|').size();
             ++i) {
            EXPECT_TRUE(lines(run.out)[i].starts_with(lines(row.output, '|')[i]))
                << lines(run.out)[i];
        }
    }
}

TEST(WeatherTool, AirportFromTheWeatherServer) {
    site::SiteOptions options;
    options.folder = ORVENTO_STATION_SITE_DIR;
    site::StationSite site(options);
    const std::string server = "ORVENTO_WEATHER_URL=" + site.baseUrl() + "/";
    const ToolRun ltfm = runWeather("ltfm", server);
    EXPECT_EQ(ltfm.exitCode, 0);
    for (const char* line : {"LTFM METAR, observed day ", "  category     MVFR\n",
                             "LTFM TAF, issued day ", "  BECMG ", "  TEMPO "}) {
        EXPECT_NE(ltfm.out.find(line), std::string::npos) << line << " not in\n" << ltfm.out;
    }
    EXPECT_NE(ltfm.out.find(site.metar("LTFM").substr(site.metar("LTFM").find("LTFM"), 17)),
              std::string::npos);
    EXPECT_EQ(runWeather("ZZZZ", server).exitCode, 1);  // a 404 page is no report
}

// A report that is not UTF-8 or holds control characters is refused, as the
// window refuses it, and nothing of it reaches the terminal; --decode escapes
// the same bytes in its JSON.
TEST(WeatherTool, ReportsThatAreNoText) {
    const std::string metar = "2024/05/14 12:20\nLTBA 141220Z 34012KT 9999 FEW030 19/11 Q1016 ";
    const std::string taf = "2024/05/14 11:00\nTAF LTBA 141100Z 1412/1518 34012KT 9999 FEW030\n";
    // clang-format off
    const struct {
        const char* name;
        std::string tail;    // after the METAR's groups
        int exitCode;
        const char* shown;   // in what the tool prints
    } rows[] = {
        {"UTF-8 text", "RMK R\xc3\xbczg\xc3\xa2r\r\n", 0, "RMK R\xc3\xbczg\xc3\xa2r"},
        {"Latin-1", "RMK R\xfczg\xe2r\n", 1, "no report at http://127.0.0.1:"},
        {"sequence cut short", "RMK \xc3", 1, "it is not UTF-8 text"},
        {"overlong slash", "RMK \xc0\xaf\n", 1, "it is not UTF-8 text"},
        {"surrogate", "RMK \xed\xa0\x80\n", 1, "it is not UTF-8 text"},
        {"ESC clears the screen", "\x1b[2J\x1b]0;title\x07\n", 1, "it holds control characters, not text"},
        {"C1 CSI", "\xc2\x9b" "2J\n", 1, "it holds control characters, not text"},
        {"C1 OSC", "\xc2\x9d" "0;title\xc2\x9c\n", 1, "it holds control characters, not text"},
        {"NUL", std::string("RMK \0 A", 7) + "\n", 1, "it holds control characters, not text"},
        {"DEL", "RMK \x7f\n", 1, "it holds control characters, not text"},
    };
    // clang-format on
    loopback::LoopbackServer server;
    server.setScript("//pub/data/forecasts/taf/stations/LTBA.TXT", loopback::Script::fixed(taf));
    const std::string environment = "ORVENTO_WEATHER_URL=" + server.url("");
    for (const auto& row : rows) {
        server.setScript("//pub/data/observations/metar/stations/LTBA.TXT",
                         loopback::Script::fixed(metar + row.tail));
        const ToolRun run = runWeather("LTBA", environment, true);
        EXPECT_EQ(run.exitCode, row.exitCode) << row.name << ":\n" << run.out;
        EXPECT_NE(run.out.find(row.shown), std::string::npos) << row.name << ":\n" << run.out;
        EXPECT_TRUE(terminalSafe(run.out)) << row.name << ":\n" << run.out;
        const ToolRun decoded =
            runWeather("--decode " + linesFile("no-text", metar.substr(17) + row.tail), {}, true);
        EXPECT_EQ(decoded.exitCode, 0) << row.name;
        EXPECT_TRUE(decoded.out.starts_with("{\"station\":\"LTBA\"")) << decoded.out;
        EXPECT_TRUE(terminalSafe(decoded.out)) << row.name << ":\n" << decoded.out;
    }
}

TEST(WeatherTool, PublicServerByDefault) {
    // Without ORVENTO_WEATHER_URL: the public server's name and paths, sent to
    // a loopback stand-in with a certificate for that name.
    loopback::LoopbackServer server(loopback::LoopbackServer::Transport::tls, 0,
                                    {"tgftp.nws.noaa.gov"});
    server.setScript("/data/observations/metar/stations/LTBA.TXT",
                     loopback::Script::fixed("2024/05/14 12:20\n"
                                             "LTBA 141220Z 34012KT 9999 FEW030 19/11 Q1016\n"));
    server.setScript("/data/forecasts/taf/stations/LTBA.TXT",
                     loopback::Script::fixed("2024/05/14 11:00\n"
                                             "TAF LTBA 141100Z 1412/1518 34012KT CAVOK\n"));
    const std::string environment = "env -u ORVENTO_WEATHER_URL ORVENTO_TEST_CONNECT_TO=" +
                                    std::string("tgftp.nws.noaa.gov:443:127.0.0.1:") +
                                    std::to_string(server.port()) +
                                    " ORVENTO_TEST_CA_FILE=" + server.caFile() + " no_proxy='*'";
    const ToolRun run = runWeather("LTBA", environment);
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_NE(run.out.find("LTBA METAR, observed day 14"), std::string::npos) << run.out;
    const std::vector<std::string> heads = server.requests();
    ASSERT_EQ(heads.size(), 2u);
    EXPECT_TRUE(heads[0].starts_with("GET /data/observations/metar/stations/LTBA.TXT "))
        << heads[0];
    EXPECT_TRUE(heads[1].starts_with("GET /data/forecasts/taf/stations/LTBA.TXT ")) << heads[1];
    EXPECT_NE(heads[0].find("Host: tgftp.nws.noaa.gov"), std::string::npos) << heads[0];
}

}  // namespace
}  // namespace orvento::test
