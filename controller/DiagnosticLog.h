// The application's diagnostic lines ("txt:...", "timer2", ...), written the
// way the platform log writes them: a local timestamp with milliseconds, the
// process name and id, then the text, as one line on standard error:
//
//   2025-05-01 14:03:07.512 orvento[48213] txt:http://127.0.0.1:8000/demo.mp3
//
// A line is always one line: control characters in its text (a line feed, a
// NUL, an escape) are written as escapes ("\n", "\x00"), so text from outside
// (a catalogue's names, a typed URL) cannot forge lines. Text from outside
// goes in through logField, which also cuts it at kLogFieldLimit bytes.
//
// Any thread. Each line goes out in one write, so lines written by several
// threads at once never mix.
#pragma once

#include <QString>
#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "engine/LogSink.h"

namespace orvento {

// The most bytes of one outside text a line holds.
inline constexpr std::size_t kLogFieldLimit = 1024;

// `text` with every control character (below U+0020, and U+007F) written as
// "\n", "\r", "\t" or "\xHH"; other text unchanged.
std::string escapeControlCharacters(std::string_view text);

// An outside text for a log line: cut after kLogFieldLimit bytes of UTF-8 (at
// a character's start) and marked "...[cut: N bytes]" with its whole length.
QString logField(const QString& text);

// The whole line for `text` written at `when`, escaped, with its line feed.
std::string formatLogLine(std::string_view text, std::chrono::system_clock::time_point when);

// Writes `text` as one log line on standard error.
void writeLogLine(std::string_view text);

// Gives `text`, escaped, to `sink`, or writes it on standard error when
// `sink` is empty.
void writeLogLine(const LogSink& sink, std::string_view text);

}  // namespace orvento
