// The screen's diagnostic lines ("txt:...", "timer2", ...), written the way
// the platform log writes them: a local timestamp with milliseconds, the
// process name and id, then the text, as one line on standard error:
//
//   2025-05-01 14:03:07.512 orvento[48213] txt:http://127.0.0.1:8000/demo.mp3
//
// Any thread. Each line goes out in one write, so lines written by several
// threads at once never mix.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

namespace orvento {

// Where a screen's diagnostic lines go: receives the text of one line, without
// the timestamp and without a line feed. Called on any thread.
using LogSink = std::function<void(std::string_view text)>;

// The whole line for `text` written at `when`, with its line feed.
std::string formatLogLine(std::string_view text, std::chrono::system_clock::time_point when);

// Writes `text` as one log line on standard error.
void writeLogLine(std::string_view text);

// Gives `text` to `sink`, or writes it on standard error when `sink` is empty.
void writeLogLine(const LogSink& sink, std::string_view text);

}  // namespace orvento
