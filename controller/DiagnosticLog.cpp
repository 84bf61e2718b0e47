#include "controller/DiagnosticLog.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

namespace orvento {

std::string escapeControlCharacters(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7f) {
            out.push_back(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            out += escaped;
        }
    }
    return out;
}

QString logField(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    if (static_cast<std::size_t>(bytes.size()) <= kLogFieldLimit) {
        return text;
    }
    qsizetype cut = static_cast<qsizetype>(kLogFieldLimit);
    // Back to the start of a character: continuation bytes are 10xxxxxx.
    while (cut > 0 && (static_cast<unsigned char>(bytes[cut]) & 0xc0) == 0x80) {
        --cut;
    }
    return QString::fromUtf8(bytes.left(cut)) +
           QStringLiteral("...[cut: %1 bytes]").arg(bytes.size());
}

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
    line += escapeControlCharacters(text);
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
        sink(escapeControlCharacters(text));
    } else {
        writeLogLine(text);
    }
}

}  // namespace orvento
