// Whether a weather server's file is text to show, the same for the window's
// weather panel and orvento-weather: a body that is not UTF-8, or that holds
// control characters (a terminal's escape sequences, C1 controls such as
// CSI), is no report and is never shown or printed.
//
// Pure functions: any thread, no shared state.
#pragma once

#include <cstddef>
#include <string_view>

namespace orvento::weather {

enum class ReportText {
    text,               // UTF-8 with no control characters but tabs and line breaks
    notUtf8,            // a stray byte, a sequence cut short, an overlong form, a surrogate
    controlCharacters,  // a C0 control other than tab, LF and CR; DEL; a C1 control
};

ReportText checkReportText(std::string_view bytes);

// Why a body is no report, as the tools say it: "it is not UTF-8 text";
// empty for ReportText::text.
const char* reportTextProblem(ReportText check);

// The length of the valid UTF-8 sequence at the front of `bytes` (1 to 4), 0
// when it is none (also when `bytes` is empty).
std::size_t utf8SequenceLength(std::string_view bytes);

// Whether the code point is a control character: C0, DEL or C1.
constexpr bool isControl(char32_t c) {
    return c < 0x20 || (c >= 0x7f && c <= 0x9f);
}

}  // namespace orvento::weather
