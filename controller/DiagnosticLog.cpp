#include "screen/DiagnosticLog.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

namespace orvento {

std::string formatLogLine(std::string_view text, std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const std::time_t seconds = system_clock::to_time_t(when);
    const auto millis = duration_cast<milliseconds>(when.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[64];
    const std::size_t n = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    char head[160];
    std::snprintf(head, sizeof head, "%.*s.%03d %s[%d] ", static_cast<int>(n), stamp,
                  static_cast<int>(millis), program_invocation_short_name,
                  static_cast<int>(getpid()));
    std::string line(head);
    line.append(text);
    line.push_back('\n');
    return line;
}

void writeLogLine(std::string_view text) {
    const std::string line = formatLogLine(text, std::chrono::system_clock::now());
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = write(STDERR_FILENO, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

void writeLogLine(const LogSink& sink, std::string_view text) {
    if (sink) {
        sink(text);
    } else {
        writeLogLine(text);
    }
}

}  // namespace orvento
