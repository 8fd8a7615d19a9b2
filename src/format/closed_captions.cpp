#include "format/closed_captions.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tolvane {

namespace {

bool oddParity(uint8_t byte) {
    return __builtin_parity(byte) == 1;
}

// The characters where the basic set differs from ASCII.
char32_t basicCharacter(uint8_t code) {
    switch (code) {
        case 0x2A:
            return U'\u00E1';
        case 0x5C:
            return U'\u00E9';
        case 0x5E:
            return U'\u00ED';
        case 0x5F:
            return U'\u00F3';
        case 0x60:
            return U'\u00FA';
        case 0x7B:
            return U'\u00E7';
        case 0x7C:
            return U'\u00F7';
        case 0x7D:
            return U'\u00D1';
        case 0x7E:
            return U'\u00F1';
        case 0x7F:
            return U'\u2588';
        default:
            return code;
    }
}

constexpr char32_t kSpecial[16] = {U'\u00AE', U'\u00B0', U'\u00BD', U'\u00BF', U'\u2122', U'\u00A2',
                                   U'\u00A3', U'\u266A', U'\u00E0', U'\u00A0', U'\u00E8', U'\u00E2',
                                   U'\u00EA', U'\u00EE', U'\u00F4', U'\u00FB'};
// Spanish, French and miscellaneous; then Portuguese, German and Danish.
constexpr char32_t kExtended[2][32] = {
    {U'\u00C1', U'\u00C9', U'\u00D3', U'\u00DA', U'\u00DC', U'\u00FC', U'\u2018', U'\u00A1',
     U'*',      U'\u2019', U'\u2014', U'\u00A9', U'\u2120', U'\u2022', U'\u201C', U'\u201D',
     U'\u00C0', U'\u00C2', U'\u00C7', U'\u00C8', U'\u00CA', U'\u00CB', U'\u00EB', U'\u00CE',
     U'\u00CF', U'\u00EF', U'\u00D4', U'\u00D9', U'\u00F9', U'\u00DB', U'\u00AB', U'\u00BB'},
    {U'\u00C3', U'\u00E3', U'\u00CD', U'\u00CC', U'\u00EC', U'\u00D2', U'\u00F2', U'\u00D5',
     U'\u00F5', U'{',      U'}',      U'\\',     U'^',      U'_',      U'|',      U'~',
     U'\u00C4', U'\u00E4', U'\u00D6', U'\u00F6', U'\u00DF', U'\u00A5', U'\u00A4', U'\u00A6',
     U'\u00C5', U'\u00E5', U'\u00D8', U'\u00F8', U'\u250C', U'\u2510', U'\u2514', U'\u2518'}};
// The row (1 to 15) a preamble address code names, by its row bits; 0: none.
constexpr int kPreambleRows[16] = {11, 0, 1, 2, 3, 4, 12, 13, 14, 15, 5, 6, 7, 8, 9, 10};

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

CaptionForm captionWords(std::span<const uint8_t> data, std::vector<CaptionWord>& words) {
    if (data.size() >= 7 && data[0] == 'G' && data[1] == 'A' && data[2] == '9' && data[3] == '4' &&
        data[4] == 0x03) {
        if ((data[5] & 0x40) == 0) {
            return CaptionForm::None;  // its captions are not to be read
        }
        const size_t count = data[5] & 0x1F;
        for (size_t k = 0; k < count && 7 + 3 * k + 3 <= data.size(); ++k) {
            const uint8_t marker = data[7 + 3 * k];
            const int type = marker & 0x03;
            // Valid EIA-608 pairs only: types 2 and 3 are CEA-708's.
            if ((marker & 0x04) != 0 && type < 2) {
                words.push_back(
                    {static_cast<uint8_t>(type + 1), data[8 + 3 * k], data[9 + 3 * k], 0});
            }
        }
        return CaptionForm::Atsc;
    }
    if (data.size() >= 5 && data[0] == 'C' && data[1] == 'C' && data[2] == 0x01 &&
        data[3] == 0xF8) {
        // Two words a frame, the first of the field the header names; the count there is often
        // wrong, so the words are read while their markers say they are words. Some discs
        // mark both fields' words odd: the place in the frame tells them apart.
        const bool oddFirst = (data[4] & 0x80) != 0;
        for (size_t k = 0; k < 63 && 5 + 3 * k + 3 <= data.size(); ++k) {
            const uint8_t marker = data[5 + 3 * k];
            if ((marker & 0xFE) != 0xFE) {
                break;
            }
            const bool fieldOne = marker == 0xFF && (k % 2 == 0) == oddFirst;
            words.push_back({static_cast<uint8_t>(fieldOne ? 1 : 2), data[6 + 3 * k],
                             data[7 + 3 * k], static_cast<uint16_t>(k / 2)});
        }
        return CaptionForm::Dvd;
    }
    return CaptionForm::None;
}

CaptionDecoder::Memory& CaptionDecoder::writing(Channel& channel) {
    // Pop-on captions are loaded out of sight; the other modes write on screen.
    return channel.memory[channel.mode == Mode::PopOn ? 1 - channel.shown : channel.shown];
}

std::string CaptionDecoder::screenText(const Channel& channel) const {
    std::string text;
    for (const auto& row : channel.memory[channel.shown]) {
        std::string line;
        for (const char32_t c : row) {
            appendUtf8(line, c == 0 ? U' ' : c);
        }
        const size_t first = line.find_first_not_of(' ');
        if (first == std::string::npos) {
            continue;
        }
        line = line.substr(first, line.find_last_not_of(' ') - first + 1);
        text += (text.empty() ? "" : "\n") + line;
    }
    return text;
}

void CaptionDecoder::changed(Channel& channel, int64_t time) {
    const std::string text = screenText(channel);
    channel.showing = !text.empty();
    channel.since = time;
}

void CaptionDecoder::word(int field, uint8_t first, uint8_t second, int64_t time) {
    if ((field != 1 && field != 2) || !oddParity(second)) {
        return;  // a word whose second byte fails its parity is lost
    }
    Field& state = fields_[static_cast<size_t>(field - 1)];
    const uint8_t hi = oddParity(first) ? first & 0x7F : 0x7F;
    const uint8_t lo = second & 0x7F;
    if (hi == 0 && lo == 0) {
        return;  // padding
    }
    if (hi >= 0x10 && hi <= 0x1F) {
        state.extendedData = false;
        // Commands come twice, the second copy to be passed over.
        if (hi == state.lastFirst && lo == state.lastSecond) {
            state.lastFirst = 0;
            return;
        }
        state.lastFirst = hi;
        state.lastSecond = lo;
        state.channel = (hi & 0x08) != 0 ? 1 : 0;
        const int index = (field - 1) * 2 + state.channel;
        control(channels_[static_cast<size_t>(index)], index, hi & 0xF7, lo, time);
        return;
    }
    state.lastFirst = 0;
    if (hi < 0x10) {
        // Field 2's extended data service runs from a start code to its end code (0x0F).
        state.extendedData = field == 2 && hi != 0x0F && hi != 0;
        return;
    }
    if (state.extendedData) {
        return;
    }
    const int index = (field - 1) * 2 + state.channel;
    Channel& channel = channels_[static_cast<size_t>(index)];
    put(channel, index, basicCharacter(hi), time);
    if (lo >= 0x20) {
        put(channel, index, basicCharacter(lo), time);
    }
}

void CaptionDecoder::put(Channel& channel, int index, char32_t character, int64_t time) {
    if (channel.mode == Mode::Text) {
        return;  // the text service is no caption
    }
    writing(channel)[static_cast<size_t>(channel.row)][static_cast<size_t>(channel.column)] =
        character;
    channel.column = std::min(channel.column + 1, kColumns - 1);
    withText_ = static_cast<uint8_t>(withText_ | 1U << index);
    if (channel.mode != Mode::PopOn && !channel.showing) {
        channel.showing = true;  // roll-up and paint-on text shows as it comes
        channel.since = time;
    }
}

void CaptionDecoder::control(Channel& channel, int index, uint8_t hi, uint8_t lo, int64_t time) {
    const auto endCue = [&] {
        if (channel.showing && keepCues_ && time > channel.since) {
            channel.cues.push_back({channel.since, time, screenText(channel)});
        }
    };
    Memory& memory = writing(channel);
    auto& row = memory[static_cast<size_t>(channel.row)];
    if ((hi == 0x14 || hi == 0x15) && lo >= 0x20 && lo <= 0x2F) {
        switch (lo) {
            case 0x20:  // resume caption loading
                channel.mode = Mode::PopOn;
                break;
            case 0x21:  // backspace
                channel.column = std::max(channel.column - 1, 0);
                row[static_cast<size_t>(channel.column)] = 0;
                break;
            case 0x24:  // delete to the end of the row
                std::fill(row.begin() + channel.column, row.end(), 0);
                break;
            case 0x25:
            case 0x26:
            case 0x27:
                channel.rollRows = lo - 0x23;
                channel.mode = Mode::RollUp;
                break;
            case 0x29:  // resume direct captioning
                channel.mode = Mode::PaintOn;
                break;
            case 0x2A:
            case 0x2B:
                channel.mode = Mode::Text;
                break;
            case 0x2C:  // erase displayed memory
                endCue();
                channel.memory[channel.shown] = {};
                changed(channel, time);
                break;
            case 0x2D:  // carriage return: roll-up text moves up a row
                if (channel.mode == Mode::RollUp) {
                    endCue();
                    Memory& shown = channel.memory[channel.shown];
                    const int top = std::max(channel.row - channel.rollRows + 1, 0);
                    for (int r = 0; r < kRows; ++r) {
                        if (r < top || r > channel.row) {
                            shown[static_cast<size_t>(r)] = {};
                        }
                    }
                    for (int r = top; r < channel.row; ++r) {
                        shown[static_cast<size_t>(r)] = shown[static_cast<size_t>(r + 1)];
                    }
                    shown[static_cast<size_t>(channel.row)] = {};
                    changed(channel, time);
                }
                channel.column = 0;
                break;
            case 0x2E:  // erase what is being loaded
                channel.memory[1 - channel.shown] = {};
                break;
            case 0x2F:  // end of caption: what was loaded shows
                endCue();
                channel.shown = 1 - channel.shown;
                channel.mode = Mode::PopOn;
                channel.column = 0;
                changed(channel, time);
                break;
            default:
                break;  // flash on: no text of its own
        }
    } else if (hi == 0x17 && lo >= 0x21 && lo <= 0x23) {
        for (int n = 0x20; n < lo; ++n) {
            put(channel, index, U' ', time);  // tab offsets
        }
    } else if (hi == 0x11 && lo >= 0x20 && lo <= 0x2F) {
        put(channel, index, U' ', time);  // a mid-row attribute takes a column
    } else if (hi == 0x11 && lo >= 0x30 && lo <= 0x3F) {
        put(channel, index, kSpecial[lo - 0x30], time);
    } else if ((hi == 0x12 || hi == 0x13) && lo >= 0x20 && lo <= 0x3F) {
        // An extended character takes the place of the basic one sent before it.
        channel.column = std::max(channel.column - 1, 0);
        put(channel, index, kExtended[hi - 0x12][lo - 0x20], time);
    } else if (lo >= 0x40 && lo <= 0x7F) {
        const int rowNumber = kPreambleRows[((hi & 0x07) << 1) | ((lo & 0x20) >> 5)];
        if (rowNumber > 0) {
            channel.row = rowNumber - 1;
            channel.column = (lo & 0x10) != 0 ? ((lo & 0x0E) >> 1) * 4 : 0;
        }
    }
}

void CaptionDecoder::finish(int64_t time) {
    for (Channel& channel : channels_) {
        if (channel.showing && keepCues_ && time > channel.since) {
            channel.cues.push_back({channel.since, time, screenText(channel)});
        }
        channel.showing = false;
    }
}

void SccWriter::word(uint8_t first, uint8_t second, int64_t time) {
    if ((first & 0x7F) == 0 && (second & 0x7F) == 0) {
        nextFrame_ = -1;  // padding ends a line
        return;
    }
    const double rate = pal_ ? 25.0 : 30000.0 / 1001.0;
    const auto frame =
        std::max<int64_t>(std::llround(static_cast<double>(time) * rate / 90000.0), 0);
    // A line's words go one a frame; a word in a later frame than the next starts a line.
    if (nextFrame_ < 0 || frame > nextFrame_) {
        lines_ += (lines_.empty() ? "" : "\n\n") + timeCode(frame) + "\t";
        nextFrame_ = frame;
    } else {
        lines_ += ' ';
    }
    char hex[5];
    std::snprintf(hex, sizeof hex, "%02x%02x", first, second);
    lines_ += hex;
    ++nextFrame_;
}

std::string SccWriter::timeCode(int64_t frame) const {
    int64_t rate = 25;
    char separator = ':';
    if (!pal_) {
        // Drop-frame: two frame numbers are left out each minute but every tenth.
        rate = 30;
        separator = ';';
        const int64_t tens = frame / 17982;
        const int64_t rest = frame % 17982;
        frame += 18 * tens + (rest > 1 ? 2 * ((rest - 2) / 1798) : 0);
    }
    char code[64];
    std::snprintf(code, sizeof code, "%02lld:%02lld:%02lld%c%02lld",
                  static_cast<long long>(frame / (rate * 3600)),
                  static_cast<long long>(frame / (rate * 60) % 60),
                  static_cast<long long>(frame / rate % 60), separator,
                  static_cast<long long>(frame % rate));
    return code;
}

std::string SccWriter::text() const {
    return "Scenarist_SCC V1.0\n\n" + lines_ + (lines_.empty() ? "" : "\n\n");
}

std::vector<std::string> captionChannelNames(uint8_t channels) {
    std::vector<std::string> names;
    for (int channel = 0; channel < CaptionDecoder::kChannels; ++channel) {
        if ((channels >> channel & 1U) != 0) {
            names.push_back("CC" + std::to_string(channel + 1));
        }
    }
    return names;
}

std::string subRipText(const std::vector<CaptionCue>& cues, int64_t zero) {
    const auto stamp = [&](int64_t time) {
        const int64_t ms = std::max<int64_t>((time - zero + 45) / 90, 0);
        char text[64];
        std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld,%03lld",
                      static_cast<long long>(ms / 3600000), static_cast<long long>(ms / 60000 % 60),
                      static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
        return std::string(text);
    };
    std::string out;
    int number = 0;
    for (const CaptionCue& cue : cues) {
        out += std::to_string(++number) + "\n" + stamp(cue.start) + " --> " + stamp(cue.end) +
               "\n" + cue.text + "\n\n";
    }
    return out;
}

}  // namespace tolvane
