// Decoding throughput on one core: METARs (and TAFs) decoded per second over
// files of real reports held in memory, with and without the JSON the tool
// prints. Prints figures; asserts nothing.
//
//   orvento_bench_weather [METARS [TAFS]]   default: the committed samples
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "weather/Json.h"
#include "weather/Metar.h"
#include "weather/Taf.h"

namespace {

using namespace orvento::weather;

// Each measurement runs at least this long.
constexpr double kSeconds = 2.0;

std::vector<std::string> readLines(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// Runs `decode` over every line, round after round, for kSeconds; returns
// reports per second. `sink` keeps the work from being optimised away.
template <class Decode>
double perSecond(const std::vector<std::string>& lines, Decode decode, std::size_t& sink) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    std::size_t decoded = 0;
    double elapsed = 0;
    do {
        for (const std::string& line : lines) {
            sink += decode(line);
        }
        decoded += lines.size();
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (elapsed < kSeconds);
    return static_cast<double>(decoded) / elapsed;
}

}  // namespace

int main(int argc, char** argv) {
    const char* metarPath = argc > 1 ? argv[1] : ORVENTO_WEATHER_SAMPLES "/metar-sample.txt";
    const char* tafPath = argc > 2 ? argv[2] : ORVENTO_WEATHER_SAMPLES "/taf-sample.txt";
    const std::vector<std::string> metars = readLines(metarPath);
    const std::vector<std::string> tafs = readLines(tafPath);
    if (metars.empty() || tafs.empty()) {
        std::fprintf(stderr, "orvento_bench_weather: cannot read %s or %s\n", metarPath, tafPath);
        return 1;
    }
    std::size_t sink = 0;
    const double metar = perSecond(
        metars, [](std::string_view l) { return decodeMetar(l).metar ? 1u : 0u; }, sink);
    const double metarJsonRate = perSecond(
        metars, [](std::string_view l) { return metarJson(decodeMetar(l), l).size(); }, sink);
    const double taf = perSecond(
        tafs, [](std::string_view l) { return decodeTaf(l).taf ? 1u : 0u; }, sink);
    std::printf("METARs: %zu lines of %s\n", metars.size(), metarPath);
    std::printf("  decoded           %10.0f per second (target 100000)\n", metar);
    std::printf("  decoded + JSON    %10.0f per second\n", metarJsonRate);
    std::printf("TAFs: %zu lines of %s\n", tafs.size(), tafPath);
    std::printf("  decoded           %10.0f per second\n", taf);
    std::printf("(checksum %zu)\n", sink % 1000);
    return 0;
}
