#include <gtest/gtest.h>

#include "engine/player/LocalizedStrings.h"

namespace orvento {
namespace {

TEST(LocalizedStrings, FallsBackToTheValueAndThenToTheKey) {
    LocalizedStrings strings;
    EXPECT_EQ(strings.localizedStringForKey("Audio Error", "", "Errors"), "Audio Error");
    EXPECT_EQ(strings.localizedStringForKey("Audio Error", "Fallback", "Errors"), "Fallback");
    strings.setString("Errors", "Audio Error", "Ses hatası");
    EXPECT_EQ(strings.localizedStringForKey("Audio Error", "", "Errors"), "Ses hatası");
    // Tables are separate.
    EXPECT_EQ(strings.localizedStringForKey("Audio Error", "", "Other"), "Audio Error");
}

TEST(LocalizedStrings, LoadsAStringsTableWithEscapesAndComments) {
    LocalizedStrings strings;
    ASSERT_TRUE(strings.loadTableFromText("Errors",
                                          "// alert texts\n"
                                          "\n"
                                          "\"Audio Error\" = \"Ses \\\"hatası\\\"\";\n"
                                          "  \"OK\"\t=\"Tamam\" ;\r\n"
                                          "\"Two\" = \"line1\\nline2\";"));
    EXPECT_EQ(strings.localizedStringForKey("Audio Error", "", "Errors"), "Ses \"hatası\"");
    EXPECT_EQ(strings.localizedStringForKey("OK", "", "Errors"), "Tamam");
    EXPECT_EQ(strings.localizedStringForKey("Two", "", "Errors"), "line1\nline2");
}

class MalformedStringsLine : public testing::TestWithParam<const char*> {};

TEST_P(MalformedStringsLine, IsRejectedAndChangesNothing) {
    LocalizedStrings strings;
    strings.setString("Errors", "OK", "kept");
    EXPECT_FALSE(
        strings.loadTableFromText("Errors", std::string("\"OK\" = \"new\";\n") + GetParam()));
    EXPECT_EQ(strings.localizedStringForKey("OK", "", "Errors"), "kept");
}

INSTANTIATE_TEST_SUITE_P(Rows, MalformedStringsLine,
                         testing::Values("\"a\" = \"b\"", "\"a\" \"b\";", "a = \"b\";",
                                         "\"a\" = \"b;", "\"a\\"));

TEST(LocalizedStrings, MissingFileIsReported) {
    LocalizedStrings strings;
    EXPECT_FALSE(strings.loadTable("Errors", "/nonexistent/Errors.strings"));
}

}  // namespace
}  // namespace orvento
