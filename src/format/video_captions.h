#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "format/closed_captions.h"

namespace tolvane {

// A caption word with the time its picture shows.
struct TimedCaptionWord {
    int64_t time = 0;
    uint8_t first = 0;
    uint8_t second = 0;
};

// Finds the EIA-608 captions in an MPEG-2 video stream's user data, packet after packet, and
// times each word by the picture it belongs to: a DVD group's words a frame apart from the
// group's first shown picture, an A/53 picture's words at that picture. The words reach the
// decoder in the order the pictures show.
class VideoCaptions {
public:
    // A packet of the stream: its payload, and the time of the first picture that starts in it.
    void packet(std::span<const uint8_t> payload, std::optional<int64_t> time);
    // The stream has ended: what is on screen goes a frame after the last picture.
    void finish();

    // The form the first captions met had; the other form is passed over after it.
    CaptionForm form() const { return form_; }
    const CaptionDecoder& decoder() const { return decoder_; }
    // Field 1's words but padding, as shown: what a Scenarist file holds.
    const std::vector<TimedCaptionWord>& fieldOneWords() const { return fieldOne_; }
    // Whether the stream is shown at 25 frames a second (PAL) rather than 29.97.
    bool pal() const { return frameRateCode_ == 3 || frameRateCode_ == 6; }

private:
    struct Pending {
        int64_t time;
        uint64_t order;
        CaptionWord word;
    };

    void startCode(uint8_t code);
    void headerByte(uint8_t byte);
    void userData();
    void picture(int temporalReference, int type);
    void add(const CaptionWord& word, int64_t time);
    // Hands the decoder the words up to `upTo` (all, without it), in the order they show.
    void release(std::optional<int64_t> upTo);
    int64_t frameTicks() const;

    CaptionDecoder decoder_;
    CaptionForm form_ = CaptionForm::None;
    std::vector<TimedCaptionWord> fieldOne_;

    // The start code being read: its code, the header bytes wanted and read so far.
    uint32_t window_ = 0xFFFFFFFFu;
    std::optional<uint8_t> code_;
    uint8_t header_[4] = {};
    size_t headerBytes_ = 0;
    std::vector<uint8_t> userData_;
    std::optional<int64_t> packetTime_;

    int frameRateCode_ = 4;
    // The group being read: a picture of it with a time, and its first shown picture's time.
    bool newGroup_ = true;
    int picturesInGroup_ = 0;
    std::optional<std::pair<int64_t, int>> anchor_;
    int64_t groupStart_ = 0;
    int groupLength_ = 0;
    int64_t pictureTime_ = 0;
    int64_t lastTime_ = 0;
    std::optional<int64_t> lastAnchorShown_;
    std::vector<CaptionWord> groupWords_;  // a DVD group's words, until its first picture
    std::vector<CaptionWord> scratch_;
    std::vector<Pending> pending_;
    uint64_t order_ = 0;
};

}  // namespace tolvane
