#pragma once

#include <array>
#include <memory>

#include "demux/pass_hooks.h"
#include "format/video_captions.h"

namespace tolvane {

// The closed captions of a pass's MPEG-1 and MPEG-2 video streams (numbers 0 and 1), gathered
// packet after packet and timed on the title's timeline.
class CaptionGatherer {
public:
    void packet(const Packet& packet) {
        if (packet.kind != StreamKind::Video || packet.number < 0 ||
            packet.number >= static_cast<int32_t>(streams_.size()) ||
            (packet.coding != StreamCoding::Mpeg2 && packet.coding != StreamCoding::Mpeg1)) {
            return;
        }
        auto& stream = streams_[static_cast<size_t>(packet.number)];
        if (!stream) {
            stream = std::make_unique<VideoCaptions>();
        }
        stream->packet(packet.payload, packet.time);
    }
    void finish() {
        for (const auto& stream : streams_) {
            if (stream) {
                stream->finish();
            }
        }
    }
    // Video stream `number`'s captions; null when it is no MPEG video.
    const VideoCaptions* stream(int number) const {
        return number >= 0 && number < static_cast<int>(streams_.size())
                   ? streams_[static_cast<size_t>(number)].get()
                   : nullptr;
    }

private:
    std::array<std::unique_ptr<VideoCaptions>, 2> streams_;
};

}  // namespace tolvane
