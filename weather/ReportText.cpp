#include "weather/ReportText.h"

namespace orvento::weather {
namespace {

char32_t codePoint(std::string_view sequence) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(sequence[i]); };
    switch (sequence.size()) {
        case 1:
            return byte(0);
        case 2:
            return (byte(0) & 0x1fU) << 6 | (byte(1) & 0x3fU);
        case 3:
            return (byte(0) & 0x0fU) << 12 | (byte(1) & 0x3fU) << 6 | (byte(2) & 0x3fU);
        default:
            return (byte(0) & 0x07U) << 18 | (byte(1) & 0x3fU) << 12 | (byte(2) & 0x3fU) << 6 |
                   (byte(3) & 0x3fU);
    }
}

}  // namespace

std::size_t utf8SequenceLength(std::string_view bytes) {
    if (bytes.empty()) {
        return 0;
    }
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        return 1;
    }
    // The second byte's range rules out overlong forms (E0, F0), surrogates
    // (ED) and code points beyond U+10FFFF (F4).
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        low = lead == 0xe0 ? 0xa0 : 0x80;
        high = lead == 0xed ? 0x9f : 0xbf;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        low = lead == 0xf0 ? 0x90 : 0x80;
        high = lead == 0xf4 ? 0x8f : 0xbf;
    }
    if (length == 0 || bytes.size() < length || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xbf) {
            return 0;
        }
    }
    return length;
}

ReportText checkReportText(std::string_view bytes) {
    bool control = false;
    while (!bytes.empty()) {
        const std::size_t length = utf8SequenceLength(bytes);
        if (length == 0) {
            return ReportText::notUtf8;
        }
        const char32_t c = codePoint(bytes.substr(0, length));
        control = control || (isControl(c) && c != U'\t' && c != U'\n' && c != U'\r');
        bytes.remove_prefix(length);
    }
    return control ? ReportText::controlCharacters : ReportText::text;
}

const char* reportTextProblem(ReportText check) {
    switch (check) {
        case ReportText::text:
            return "";
        case ReportText::notUtf8:
            return "it is not UTF-8 text";
        case ReportText::controlCharacters:
            return "it holds control characters, not text";
    }
    return "";
}

}  // namespace orvento::weather
