#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "chart_renderer.h"
#include "kbdread.h"

using chart::Font;
using chart::MissingGlyph;

TEST(FontCoverage, ChartFontDrawsEverySignTheChartUses)
{
    const Font font(KURD_CHART_FONT);
    // The dotted circle, the Arabic comma, semicolon and question mark, the
    // Kurdish letters, and the Latin signs of the number row.
    EXPECT_NO_THROW(font.requireGlyphs(U"\x25CC\x060C\x061B\x061F\x0695\x06B5\x06C6\x06CE\x06D5\x06A4@#$%^&*()"));
}

TEST(FontCoverage, AMissingCharacterIsNamed)
{
    const Font font(KURD_CHART_FONT);
    struct Row {
        std::u32string text;
        char32_t missing;
        const char* name;
    };
    const Row rows[] = {
        {U"\xE000", 0xE000, "U+E000"},                  // a private-use character
        {U"\x0627\x0D9A", 0x0D9A, "U+0D9A"},            // SINHALA LETTER ALPAPRAANA KAYANNA after an alef
        {U"ab\x13000", 0x13000, "U+13000"},             // EGYPTIAN HIEROGLYPH A001, beyond 16 bits
    };
    for (const Row& row : rows) {
        for (bool shaped : {false, true}) {
            try {
                if (shaped)
                    font.render(row.text, 20);
                else
                    font.requireGlyphs(row.text);
                ADD_FAILURE() << row.name << " accepted" << (shaped ? " by render" : "");
            } catch (const MissingGlyph& error) {
                EXPECT_EQ(error.codePoint(), row.missing) << row.name;
                EXPECT_NE(std::string(error.what()).find(row.name), std::string::npos) << error.what();
            }
        }
    }
}

TEST(FontCoverage, CoverageCheckNamesTheKey)
{
    const Font font(KURD_CHART_FONT);
    chart::KeyLabel fine;
    fine.scan = {0x10, false};
    fine.shown[chart::PlainLevel] = {U"\x0686", false};
    chart::KeyLabel broken;
    broken.scan = {0x5B, true};
    broken.shown[3] = {U"\xE000", false};  // at Shift+Ctrl
    try {
        chart::requireCoverage(font, {fine, broken});
        FAIL() << "the coverage check accepted U+E000";
    } catch (const MissingGlyph& error) {
        const std::string message = error.what();
        EXPECT_NE(message.find("U+E000"), std::string::npos) << message;
        EXPECT_NE(message.find("E0 0x5B"), std::string::npos) << message;
    }
}

// The build step itself: a font without Arabic letters stops kbdchart with
// a message naming the first letter it cannot draw.
TEST(FontCoverage, KbdchartFailsWithAFontMissingTheLetters)
{
    const std::string out = TEST_OUTPUT_DIR;
    const std::string errors = out + "/kbdchart-no-arabic.err";
    const std::string command = std::string("'") + KBDCHART + "' '" + KURD_DLL + "' '" + FONT_WITHOUT_ARABIC +
                                "' '" + FONT_WITHOUT_ARABIC + "' '" + KURD_CHART_WORDS + "' '" + out +
                                "/no-arabic.bmp' '" + out + "/no-arabic.png' '" + out + "/no-arabic.pdf' 2>'" + errors +
                                "'";
    const int status = std::system(command.c_str());
    EXPECT_NE(status, 0);
    std::ifstream file(errors);
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_NE(text.str().find("no glyph for U+06"), std::string::npos) << text.str();
    EXPECT_NE(text.str().find("scan code"), std::string::npos) << text.str();
}

// The build step again: the same files, the chart to print too (no
// creation date or other changing bytes), so that every build ships the
// same download.
TEST(FontCoverage, KbdchartDrawsTheSameFilesAgain)
{
    const std::filesystem::path out = std::filesystem::path(TEST_OUTPUT_DIR) / "drawn-again";
    std::filesystem::create_directories(out);
    const std::string command = std::string("'") + KBDCHART + "' '" + KURD_DLL + "' '" + KURD_CHART_FONT + "' '" +
                                KURD_PRINT_FONT + "' '" + KURD_CHART_WORDS + "' '" + (out / "chart.bmp").string() +
                                "' '" + (out / "chart.png").string() + "' '" + (out / "chart.pdf").string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    EXPECT_TRUE(kbdread::readFileBytes(out / "chart.png") == kbdread::readFileBytes(KURD_CHART_PNG));
    const auto pdf = kbdread::readFileBytes(out / "chart.pdf");
    EXPECT_TRUE(pdf == kbdread::readFileBytes(KURD_CHART_PDF))
        << (out / "chart.pdf").string() << " differs from " << KURD_CHART_PDF;
    // Two runs in the same second would share a date: look for one too.
    const std::string text(pdf.begin(), pdf.end());
    for (const char* date : {"/CreationDate", "/ModDate"})
        EXPECT_EQ(text.find(date), std::string::npos) << date;
}
