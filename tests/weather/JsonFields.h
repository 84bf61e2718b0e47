// Checks on the decoder's one-line JSON: rows state the fields they expect as
// `"key":value` pairs separated by commas (values hold no commas).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace orvento::weather::testing {

// Each pair of `expected` is in `json` as written, as a whole member.
inline void expectFields(const std::string& json, std::string_view expected) {
    while (!expected.empty()) {
        const std::size_t comma = expected.find(',');
        const std::string pair(expected.substr(0, comma));
        expected =
            comma == std::string_view::npos ? std::string_view() : expected.substr(comma + 1);
        const bool found = json.find("{" + pair + ",") != std::string::npos ||
                           json.find("," + pair + ",") != std::string::npos ||
                           json.find("," + pair + "}") != std::string::npos;
        EXPECT_TRUE(found) << pair << " not in " << json;
    }
}

}  // namespace orvento::weather::testing
