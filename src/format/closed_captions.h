#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tolvane {

// How an MPEG-2 video stream carries EIA-608 captions in its user data: a DVD's "CC" block
// after each group header, or ATSC A/53's "GA94" data after each picture header.
enum class CaptionForm : uint8_t { None, Dvd, Atsc };

// One caption byte pair as the video carries it, parity bits and all.
struct CaptionWord {
    uint8_t field = 1;  // 1: CC1 and CC2; 2: CC3 and CC4
    uint8_t first = 0;
    uint8_t second = 0;
    // DVD form: the frame after the group's first shown picture it belongs to.
    uint16_t frame = 0;
};

// Appends the caption words of a user-data payload (the bytes after 00 00 01 B2) to `words`
// and returns its form; None, with nothing appended, when it holds no captions.
CaptionForm captionWords(std::span<const uint8_t> userData, std::vector<CaptionWord>& words);

// A caption as one channel shows it: its text (UTF-8, the rows joined by line feeds) from
// `start` until `end`, 90 kHz ticks.
struct CaptionCue {
    int64_t start = 0;
    int64_t end = 0;
    std::string text;
};

// Decodes the EIA-608 words of a video stream's two fields, in the order they are shown, into
// the cues of channels CC1 to CC4: pop-on captions from the end-of-caption command until
// they are erased or replaced; roll-up and paint-on text from its first character until the
// next carriage return, erase or end of caption. The basic, special and extended characters
// become UTF-8; field 2's extended data service is passed over.
class CaptionDecoder {
public:
    static constexpr int kChannels = 4;

    // `keepCues` false: only which channels hold text is noted.
    explicit CaptionDecoder(bool keepCues = true) : keepCues_(keepCues) {}

    void word(int field, uint8_t first, uint8_t second, int64_t time);
    // Ends what is on screen at `time`.
    void finish(int64_t time);
    // The channels that showed text: bit 0 for CC1 to bit 3 for CC4.
    uint8_t channelsWithText() const { return withText_; }
    const std::vector<CaptionCue>& cues(int channel) const {
        return channels_[static_cast<size_t>(channel)].cues;
    }

private:
    static constexpr int kRows = 15;
    static constexpr int kColumns = 32;
    using Memory = std::array<std::array<char32_t, kColumns>, kRows>;
    enum class Mode : uint8_t { PopOn, RollUp, PaintOn, Text };

    struct Channel {
        Memory memory[2]{};  // shown, and being loaded (pop-on)
        int shown = 0;
        Mode mode = Mode::PopOn;
        int rollRows = 2;
        int row = kRows - 1;
        int column = 0;
        // What is on screen since when; a cue opens when text first shows.
        bool showing = false;
        int64_t since = 0;
        std::vector<CaptionCue> cues;
    };
    struct Field {
        int channel = 0;  // of the field's two, as its last command chose
        uint8_t lastFirst = 0;
        uint8_t lastSecond = 0;
        bool extendedData = false;
    };

    void control(Channel& channel, int index, uint8_t first, uint8_t second, int64_t time);
    void put(Channel& channel, int index, char32_t character, int64_t time);
    Memory& writing(Channel& channel);
    // The screen changed at `time` (its last cue ended): what it shows now opens the next.
    void changed(Channel& channel, int64_t time);
    std::string screenText(const Channel& channel) const;

    bool keepCues_;
    std::array<Channel, kChannels> channels_{};
    std::array<Field, 2> fields_{};
    uint8_t withText_ = 0;
};

// Writes a stream's field-1 words as a Scenarist (.scc) file: a line for each run of words in
// consecutive frames, behind its 29.97 fps drop-frame time code (25 fps where `pal`).
class SccWriter {
public:
    explicit SccWriter(bool pal) : pal_(pal) {}
    // `time` counts from the file's start, 90 kHz.
    void word(uint8_t first, uint8_t second, int64_t time);
    std::string text() const;

private:
    std::string timeCode(int64_t frame) const;

    bool pal_;
    std::string lines_;
    int64_t nextFrame_ = -1;  // the frame a word must be in to join the line
};

// "CC1" to "CC4" for the channels set in `channels` (bit 0 for CC1).
std::vector<std::string> captionChannelNames(uint8_t channels);

// The cues as a SubRip file, their times counted from `zero`.
std::string subRipText(const std::vector<CaptionCue>& cues, int64_t zero);

}  // namespace tolvane
