#include <gtest/gtest.h>

#include "engine/net/UrlEscaping.h"

namespace orvento {
namespace {

struct EscapeRow {
    const char* name;
    const char* text;
    const char* escaped;
};

class PercentEscapeUrlText : public testing::TestWithParam<EscapeRow> {};

TEST_P(PercentEscapeUrlText, EscapesWhatCannotStandInAUrl) {
    EXPECT_EQ(percentEscapeUrlText(GetParam().text), GetParam().escaped);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PercentEscapeUrlText,
    testing::Values(
        EscapeRow{"UnreservedAndReservedKept",
                  "http://a-b_c.d!e~f*g'h(i)j;k/l?m:n@o&p=q+r$s,t/0123456789",
                  "http://a-b_c.d!e~f*g'h(i)j;k/l?m:n@o&p=q+r$s,t/0123456789"},
        EscapeRow{"SpaceBecomesPercent20", "http://h/a b", "http://h/a%20b"},
        EscapeRow{"NumberSignEscaped", "http://h/x#frag", "http://h/x%23frag"},
        EscapeRow{"LonePercentEscaped", "http://h/100%", "http://h/100%25"},
        EscapeRow{"PercentWithOneHexDigitEscaped", "http://h/%4", "http://h/%254"},
        EscapeRow{"PercentWithNonHexEscaped", "http://h/%zz", "http://h/%25zz"},
        EscapeRow{"AlreadyEscapedKept", "http://h/a%20b%2fc", "http://h/a%20b%2fc"},
        EscapeRow{"NonAsciiEscapedPerUtf8Byte", "http://h/\xC3\xBC\xE2\x82\xAC",
                  "http://h/%C3%BC%E2%82%AC"},
        EscapeRow{"OtherAsciiEscaped", "\"<>[]{}|\\^`", "%22%3C%3E%5B%5D%7B%7D%7C%5C%5E%60"},
        EscapeRow{"ControlsEscaped", "a\tb\nc", "a%09b%0Ac"},
        // The host is typed as it must reach the network: an IP
        // literal keeps its brackets, an internationalised name its
        // letters; brackets and letters elsewhere are escaped.
        EscapeRow{"IpLiteralKeepsItsBrackets", "http://[::1]:8000/[x]",
                  "http://[::1]:8000/%5Bx%5D"},
        EscapeRow{"IpLiteralZoneIsEscaped", "http://[fe80::1%eth0]/", "http://[fe80::1%25eth0]/"},
        EscapeRow{"InternationalHostKept",
                  "http://\xC3\xBC:\xC3\xBC@b\xC3\xBC"
                  "cher.de/\xC3\xBC",
                  "http://%C3%BC:%C3%BC@b\xC3\xBC"
                  "cher.de/%C3%BC"},
        EscapeRow{"NoAuthorityNoHost", "mailto:[\xC3\xBC]", "mailto:%5B%C3%BC%5D"},
        EscapeRow{"EmptyStaysEmpty", "", ""}),
    [](const testing::TestParamInfo<EscapeRow>& info) { return info.param.name; });

}  // namespace
}  // namespace orvento
