#include "format/video_captions.h"

#include <algorithm>

namespace tolvane {

namespace {

constexpr uint8_t kPictureStart = 0x00;
constexpr uint8_t kUserDataStart = 0xB2;
constexpr uint8_t kSequenceHeader = 0xB3;
constexpr uint8_t kGroupStart = 0xB8;
// No caption user data runs longer: a longer one is no caption data.
constexpr size_t kLargestUserData = 4096;

}  // namespace

int64_t VideoCaptions::frameTicks() const {
    // 90 kHz ticks of a frame by the sequence header's rate code (24000/1001 rounded).
    constexpr int64_t kTicks[] = {3003, 3754, 3750, 3600, 3003, 3000, 1800, 1502, 1500};
    return frameRateCode_ >= 1 && frameRateCode_ <= 8 ? kTicks[frameRateCode_] : 3003;
}

void VideoCaptions::packet(std::span<const uint8_t> payload, std::optional<int64_t> time) {
    packetTime_ = time;
    for (const uint8_t byte : payload) {
        window_ = window_ << 8 | byte;
        if ((window_ & 0xFFFFFF00u) == 0x00000100u) {
            startCode(byte);
            continue;
        }
        if (!code_) {
            continue;
        }
        if (*code_ == kUserDataStart) {
            if (userData_.size() < kLargestUserData) {
                userData_.push_back(byte);
            }
        } else {
            headerByte(byte);
        }
    }
}

void VideoCaptions::startCode(uint8_t code) {
    if (code_ == kUserDataStart && userData_.size() >= 2) {
        userData_.resize(userData_.size() - 2);  // the 00 00 of this code
        userData();
    }
    userData_.clear();
    headerBytes_ = 0;
    code_.reset();
    if (code == kGroupStart) {
        newGroup_ = true;
        picturesInGroup_ = 0;  // the group's user data waits for its first picture
    }
    if (code == kPictureStart || code == kSequenceHeader || code == kUserDataStart) {
        code_ = code;
    }
}

void VideoCaptions::headerByte(uint8_t byte) {
    header_[headerBytes_++] = byte;
    if (*code_ == kPictureStart && headerBytes_ == 2) {
        picture(header_[0] << 2 | header_[1] >> 6, (header_[1] >> 3) & 0x07);
        code_.reset();
    } else if (*code_ == kSequenceHeader && headerBytes_ == 4) {
        frameRateCode_ = header_[3] & 0x0F;
        code_.reset();
    }
}

void VideoCaptions::picture(int temporalReference, int type) {
    const int64_t frame = frameTicks();
    if (newGroup_) {
        // What the group before showed tells where this one starts, when no time does.
        groupStart_ += static_cast<int64_t>(groupLength_) * frame;
        groupLength_ = 0;
        anchor_.reset();
        newGroup_ = false;
    }
    if (packetTime_) {
        anchor_ = {*packetTime_, temporalReference};
        packetTime_.reset();  // a packet's time is its first picture's
    }
    if (anchor_) {
        groupStart_ = anchor_->first - static_cast<int64_t>(anchor_->second) * frame;
    }
    pictureTime_ = groupStart_ + static_cast<int64_t>(temporalReference) * frame;
    lastTime_ = std::max(lastTime_, pictureTime_);
    groupLength_ = std::max(groupLength_, temporalReference + 1);
    ++picturesInGroup_;
    // A DVD group's words begin with its first shown picture.
    const int64_t block = pal() ? 3600 : 3003;
    for (const CaptionWord& word : groupWords_) {
        add(word, groupStart_ + static_cast<int64_t>(word.frame) * block);
    }
    groupWords_.clear();
    // An I- or P-picture shows after the B-pictures that follow it: every word up to the one
    // before it is in order.
    if ((type == 1 || type == 2) && lastAnchorShown_) {
        release(lastAnchorShown_);
    }
    if (type == 1 || type == 2) {
        lastAnchorShown_ = pictureTime_;
    }
}

void VideoCaptions::userData() {
    scratch_.clear();
    const CaptionForm form = captionWords(userData_, scratch_);
    if (form == CaptionForm::None || (form_ != CaptionForm::None && form != form_)) {
        return;
    }
    form_ = form;
    if (form == CaptionForm::Dvd && picturesInGroup_ == 0) {
        groupWords_.insert(groupWords_.end(), scratch_.begin(), scratch_.end());
        return;
    }
    const int64_t block = pal() ? 3600 : 3003;
    for (const CaptionWord& word : scratch_) {
        add(word, form == CaptionForm::Dvd ? groupStart_ + static_cast<int64_t>(word.frame) * block
                                           : pictureTime_);
    }
}

void VideoCaptions::add(const CaptionWord& word, int64_t time) {
    pending_.push_back({time, order_++, word});
}

void VideoCaptions::release(std::optional<int64_t> upTo) {
    const auto later =
        std::stable_partition(pending_.begin(), pending_.end(),
                              [&](const Pending& p) { return !upTo || p.time <= *upTo; });
    std::sort(pending_.begin(), later, [](const Pending& a, const Pending& b) {
        return a.time != b.time ? a.time < b.time : a.order < b.order;
    });
    for (auto it = pending_.begin(); it != later; ++it) {
        decoder_.word(it->word.field, it->word.first, it->word.second, it->time);
        if (it->word.field == 1 &&
            ((it->word.first & 0x7F) != 0 || (it->word.second & 0x7F) != 0)) {
            fieldOne_.push_back({it->time, it->word.first, it->word.second});
        }
    }
    pending_.erase(pending_.begin(), later);
}

void VideoCaptions::finish() {
    if (code_ == kUserDataStart) {
        userData();
        code_.reset();
    }
    for (const CaptionWord& word : groupWords_) {
        add(word, groupStart_ + static_cast<int64_t>(word.frame) * (pal() ? 3600 : 3003));
    }
    groupWords_.clear();
    release(std::nullopt);
    decoder_.finish(lastTime_ + frameTicks());
}

}  // namespace tolvane
