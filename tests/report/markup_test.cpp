#include <gtest/gtest.h>

#include <string>

#include "report/markup.h"

namespace tolvane {
namespace {

CharFormat bold() {
    CharFormat f;
    f.bold = true;
    return f;
}

CharFormat coloured(uint8_t r, uint8_t g, uint8_t b) {
    CharFormat f;
    f.hasColour = true;
    f.colour = Rgb{r, g, b};
    return f;
}

// The shown text of every run, with its format, in order.
std::vector<std::pair<std::string, CharFormat>> runsOf(const LogLine& line) {
    std::vector<std::pair<std::string, CharFormat>> out;
    size_t expectedStart = 0;
    for (const FormatRun& run : line.runs) {
        EXPECT_EQ(run.start, expectedStart) << "runs must cover the line in order";
        expectedStart = run.start + run.length;
        out.emplace_back(line.text.substr(run.start, run.length), run.format);
    }
    EXPECT_EQ(expectedStart, line.text.size());
    return out;
}

using Runs = std::vector<std::pair<std::string, CharFormat>>;

TEST(Markup, PlainAndEmptyTextsAreOneRegularRunOrNone) {
    EXPECT_EQ(runsOf(parseMarkup("Done.")), (Runs{{"Done.", CharFormat{}}}));
    const LogLine empty = parseMarkup("");
    EXPECT_EQ(empty.text, "");
    EXPECT_TRUE(empty.runs.empty());
}

TEST(Markup, TaggedRunsGetTheirOneAttributeAndTheRestStaysRegular) {
    EXPECT_EQ(runsOf(parseMarkup("Opening file [b]C:\\DISC\\FEATURE_1.EVO[/b]")),
              (Runs{{"Opening file ", {}}, {"C:\\DISC\\FEATURE_1.EVO", bold()}}));
    const LogLine encrypted =
        parseMarkup("[b]This file is ENCRYPTED![/b] Decrypt it before any process.");
    EXPECT_EQ(encrypted.text, "This file is ENCRYPTED! Decrypt it before any process.");
    EXPECT_EQ(runsOf(encrypted),
              (Runs{{"This file is ENCRYPTED!", bold()}, {" Decrypt it before any process.", {}}}));
    EXPECT_EQ(
        runsOf(parseMarkup("[bl]16[/bl] bits, [bl]DTS ES[/bl]")),
        (Runs{{"16", coloured(0, 0, 255)}, {" bits, ", {}}, {"DTS ES", coloured(0, 0, 255)}}));

    CharFormat big;
    big.pointSize = 12;
    CharFormat medium;
    medium.pointSize = 10;
    CharFormat italic;
    italic.italic = true;
    CharFormat underline;
    underline.underline = true;
    EXPECT_EQ(runsOf(parseMarkup("[s2]Big[/s2] small [s1]mid[/s1][i]it[/i][u]un[/u][re]r[/re]")),
              (Runs{{"Big", big},
                    {" small ", {}},
                    {"mid", medium},
                    {"it", italic},
                    {"un", underline},
                    {"r", coloured(255, 0, 0)}}));
}

TEST(Markup, ColourDigitsAreReadBlueGreenRed) {
    EXPECT_EQ(formatForTag("c:0000FF"), coloured(255, 0, 0));
    EXPECT_EQ(formatForTag("c:0000ff"), coloured(255, 0, 0));
    EXPECT_EQ(formatForTag("c:FF0000"), coloured(0, 0, 255));
    EXPECT_EQ(formatForTag("c:00FF00"), coloured(0, 255, 0));
    EXPECT_EQ(formatForTag("c:zz"), coloured(0, 0, 0));
    EXPECT_EQ(formatForTag("c:"), coloured(0, 0, 0));
    EXPECT_EQ(formatForTag("c:1-2x3"), coloured(0x23, 0x01, 0));
    EXPECT_EQ(runsOf(parseMarkup("[c:00FF00]go[/c:00FF00]")), (Runs{{"go", coloured(0, 255, 0)}}));
}

TEST(Markup, UnknownNamesResetTheRun) {
    EXPECT_EQ(formatForTag("B"), CharFormat{});
    EXPECT_EQ(formatForTag(""), CharFormat{});
    EXPECT_EQ(formatForTag("C:0000FF"), CharFormat{});
    EXPECT_EQ(runsOf(parseMarkup("[B]not bold[/B] x")), (Runs{{"not bold", {}}, {" x", {}}}));
    EXPECT_EQ(runsOf(parseMarkup("a[]b[/]c")), (Runs{{"a", {}}, {"b", {}}, {"c", {}}}));
}

TEST(Markup, LongLinesAreShownWhole) {
    const std::string tail(700, 'x');
    const LogLine line = parseMarkup("[b]head[/b]" + tail);
    EXPECT_EQ(line.text, "head" + tail);
    EXPECT_EQ(runsOf(line), (Runs{{"head", bold()}, {tail, {}}}));
}

TEST(Markup, StrayUnclosedAndNestedTagsStillGiveAFinishedLine) {
    EXPECT_EQ(parseMarkup("D:\\My [Disc\\F.EVO").text, "D:\\My [Disc\\F.EVO");
    EXPECT_EQ(parseMarkup("x]y[b]z[/b]").text, "x]yz");
    EXPECT_EQ(runsOf(parseMarkup("[b]open and never closed")),
              (Runs{{"open and never closed", {}}}));
    const LogLine nested = parseMarkup("[b]a[i]b[/i]c[/b]d");
    EXPECT_EQ(nested.text, "abcd");
    runsOf(nested);
    EXPECT_EQ(parseMarkup("[/b]x[b]").text, "x");
    EXPECT_EQ(parseMarkup("[[[").text, "[[") << "an escaped bracket, then a stray one";
    EXPECT_EQ(parseMarkup("]]][").text, "]]][");
}

TEST(Markup, EscapedNamesAreShownAsTheyAreInsideAndOutsideTags) {
    for (const std::string name : {"Movie [1080p] [b]x.vob", "[/b]", "a[[b]]", "[", "x[b"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(parseMarkup(escapeMarkup(name)).text, name);
        EXPECT_EQ(stripTags(escapeMarkup(name)), name);
        const LogLine line = parseMarkup("Opening file [b]" + escapeMarkup(name) + "[/b] ok");
        EXPECT_EQ(runsOf(line), (Runs{{"Opening file ", {}}, {name, bold()}, {" ok", {}}}));
    }
}

// A job's line in parts: every part's text is shown as it is, however it looks like a tag, and
// each role has its look.
TEST(Markup, EachRoleOfALogLineHasItsLookAndEveryTextIsShownAsItIs) {
    const auto coloured = [](Rgb colour) {
        CharFormat format;
        format.hasColour = true;
        format.colour = colour;
        return format;
    };
    CharFormat italic;
    italic.italic = true;
    const LogEvent line{"[b]plain ",    asStrong("Movie [1080p]"),
                        " = ",          asValue("48[/bl]"),
                        asTime("0001"), asAside("[i]"),
                        asValue("")};
    const LogLine shown = parseMarkup(markupOf(line));
    EXPECT_EQ(shown.text, line.text());
    EXPECT_EQ(runsOf(shown), (Runs{{"[b]plain ", {}},
                                   {"Movie [1080p]", bold()},
                                   {" = ", {}},
                                   {"48[/bl]", coloured({0, 0, 255})},
                                   {"0001", coloured({255, 0, 0})},
                                   {"[i]", italic}}));
}

TEST(Markup, ManyUnclosedTagsInAHugeLineFinishQuickly) {
    std::string text;
    for (int k = 0; k < 200000; ++k) {
        text += "[t" + std::to_string(k) + "]x";
    }
    text += "[/t5]";
    const LogLine line = parseMarkup(text);
    EXPECT_EQ(line.text.size(), 200000u);
    runsOf(line);
}

}  // namespace
}  // namespace tolvane
