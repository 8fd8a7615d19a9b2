#include "format/closed_captions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "caption_stream.h"

namespace tolvane {
namespace {

using fixture::captionWord;
using Bytes = std::vector<uint8_t>;

struct Sent {
    int field;
    uint8_t first;
    uint8_t second;
};

// Words sent one a frame (3003 ticks apart), parity added unless the case breaks it.
CaptionDecoder decode(const std::vector<Sent>& sent) {
    CaptionDecoder decoder;
    int64_t time = 0;
    for (const Sent& word : sent) {
        const fixture::CaptionPair pair = captionWord(word.first, word.second);
        decoder.word(word.field, word.first & 0x80 ? word.first : pair[0],
                     word.second & 0x80 ? word.second : pair[1], time);
        time += 3003;
    }
    decoder.finish(time);
    return decoder;
}

std::vector<std::string> texts(const CaptionDecoder& decoder, int channel) {
    std::vector<std::string> out;
    for (const CaptionCue& cue : decoder.cues(channel)) {
        out.push_back(cue.text);
    }
    return out;
}

// Which channel each word is for (the command before it on its field says), what the field's
// extended data hides, and what damaged words and editing commands leave on screen.
TEST(ClosedCaptions, EachChannelGetsItsOwnTextWhateverElseTheFieldsCarry) {
    struct Case {
        const char* what;
        std::vector<Sent> sent;
        std::vector<std::vector<std::string>> cues;  // CC1 to CC4
    };
    const Case cases[] = {
        {"CC1 and CC2 on field 1, each a pop-on caption",
         {{1, 0x14, 0x20},
          {1, 'A', 'B'},
          {1, 0x1C, 0x20},
          {1, 'X', 'Y'},
          {1, 0x14, 0x2F},
          {1, 0x1C, 0x2F},
          {1, 0x14, 0x2C},
          {1, 0x1C, 0x2C}},
         {{"AB"}, {"XY"}, {}, {}}},
        {"CC3 and CC4 on field 2, with field 2's own command byte",
         {{2, 0x15, 0x29},
          {2, 'C', '3'},
          {2, 0x1D, 0x29},
          {2, 'C', '4'},
          {2, 0x15, 0x2C},
          {2, 0x1D, 0x2C}},
         {{}, {}, {"C3"}, {"C4"}}},
        {"extended data on field 2 is no caption text",
         {{2, 0x15, 0x29},
          {2, 0x01, 0x03},
          {2, 'T', 'I'},
          {2, 0x0F, 0x1D},
          {2, 'O', 'K'},
          {2, 0x15, 0x2C}},
         {{}, {}, {"OK"}, {}}},
        // Bytes from 0x80 go as they are: 0xC3 and 0xC5 are C and E with the wrong parity.
        {"a second byte that fails its parity is lost; a first one shows a block",
         {{1, 0x14, 0x29}, {1, 'A', 0xC3}, {1, 0xC5, 'D'}, {1, 0x14, 0x2C}},
         {{"\u2588D"}, {}, {}, {}}},
        {"a backspace sent twice takes one character",
         {{1, 0x14, 0x29},
          {1, 'A', 'B'},
          {1, 'C', 'D'},
          {1, 0x14, 0x21},
          {1, 0x14, 0x21},
          {1, 'X', 0},
          {1, 0x14, 0x2C}},
         {{"ABCX"}, {}, {}, {}}},
        {"a row address, then delete to the row's end",
         {{1, 0x14, 0x29},
          {1, 'A', 'B'},
          {1, 'C', 'D'},
          {1, 0x14, 0x60},
          {1, 'Z', 0},
          {1, 0x14, 0x24},
          {1, 0x14, 0x2C}},
         {{"Z"}, {}, {}, {}}},
        {"a command sent twice acts once; a third time again",
         {{1, 0x14, 0x20},
          {1, 'H', 'I'},
          {1, 0x14, 0x2F},
          {1, 0x14, 0x2F},
          {1, 0x14, 0x2F},
          {1, 0x14, 0x2C}},
         {{"HI"}, {}, {}, {}}},
        {"roll-up rows scroll and keep two",
         {{1, 0x14, 0x25},
          {1, 'O', 'N'},
          {1, 0x14, 0x2D},
          {1, 'T', 'W'},
          {1, 0x14, 0x2D},
          {1, 'T', 'H'},
          {1, 0x14, 0x2C}},
         {{"ON", "ON\nTW", "TW\nTH"}, {}, {}, {}}},
        {"text mode is no caption",
         {{1, 0x14, 0x2A}, {1, 'T', 'X'}, {1, 0x14, 0x2C}},
         {{}, {}, {}, {}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const CaptionDecoder decoder = decode(c.sent);
        uint8_t withText = 0;
        for (int channel = 0; channel < 4; ++channel) {
            EXPECT_EQ(texts(decoder, channel), c.cues[static_cast<size_t>(channel)]) << channel;
            withText |= static_cast<uint8_t>(
                c.cues[static_cast<size_t>(channel)].empty() ? 0 : 1 << channel);
        }
        EXPECT_EQ(decoder.channelsWithText(), withText);
    }
}

// User data a damaged or hostile stream holds: counts past its end, markers that stop, a
// process flag that says not to read, 708 data.
TEST(ClosedCaptions, UserDataGivesOnlyTheWordsItHolds) {
    struct Case {
        const char* what;
        Bytes data;
        CaptionForm form;
        size_t words;
    };
    const Case cases[] = {
        {"A/53, 31 words said, two there",
         {'G', 'A', '9', '4', 3, 0x5F, 0xFF, 0xFC, 0x94, 0x20, 0xFD, 0x80, 0x80},
         CaptionForm::Atsc,
         2},
        {"A/53 with CEA-708 and invalid words",
         {'G', 'A', '9', '4', 3, 0x43, 0xFF, 0xFE, 1, 2, 0xF8, 3, 4, 0xFC, 0x94, 0x20},
         CaptionForm::Atsc,
         1},
        {"A/53 not to be processed",
         {'G', 'A', '9', '4', 3, 0x02, 0xFF, 0xFC, 0x94, 0x20},
         CaptionForm::None,
         0},
        {"DVD, a marker that is none ends it",
         {'C', 'C', 1, 0xF8, 0x8A, 0xFF, 0x94, 0x20, 0xFE, 0x80, 0x80, 0x00, 1, 2},
         CaptionForm::Dvd,
         2},
        {"DVD cut inside a word", {'C', 'C', 1, 0xF8, 0x8A, 0xFF, 0x94}, CaptionForm::Dvd, 0},
        {"other user data", {'G', 'A', '9', '4', 6, 0, 0}, CaptionForm::None, 0},
    };
    for (const Case& c : cases) {
        std::vector<CaptionWord> words;
        EXPECT_EQ(captionWords(c.data, words), c.form) << c.what;
        EXPECT_EQ(words.size(), c.words) << c.what;
    }
    // A DVD block's words by field and frame: odd first, then even.
    std::vector<CaptionWord> words;
    captionWords(Bytes{'C', 'C', 1, 0xF8, 0x84, 0xFF, 1, 2, 0xFE, 3, 4, 0xFF, 5, 6, 0xFE, 7, 8},
                 words);
    ASSERT_EQ(words.size(), 4U);
    EXPECT_EQ(words[2].field, 1);
    EXPECT_EQ(words[2].frame, 1);
    EXPECT_EQ(words[3].field, 2);
}

// Scenarist time codes: drop-frame at 29.97 (no frames 0 and 1 in a minute but every tenth),
// whole frames at 25; words of consecutive frames share a line.
TEST(ClosedCaptions, ScenaristTimeCodesDropFramesAsNtscDoes) {
    struct Case {
        bool pal;
        int64_t frame;
        const char* code;
    };
    for (const Case& c :
         {Case{false, 0, "00:00:00;00"}, Case{false, 1799, "00:00:59;29"},
          Case{false, 1800, "00:01:00;02"}, Case{false, 17982, "00:10:00;00"},
          Case{false, 107892, "01:00:00;00"}, Case{true, 25 * 61 + 3, "00:01:01:03"}}) {
        SccWriter writer(c.pal);
        const double rate = c.pal ? 25.0 : 30000.0 / 1001.0;
        writer.word(0x94, 0x20, static_cast<int64_t>(static_cast<double>(c.frame) * 90000 / rate));
        writer.word(0x94, 0x20,
                    static_cast<int64_t>(static_cast<double>(c.frame + 1) * 90000 / rate));
        EXPECT_EQ(writer.text(),
                  "Scenarist_SCC V1.0\n\n" + std::string(c.code) + "\t9420 9420\n\n");
    }
}

}  // namespace
}  // namespace tolvane
