#include "sinks/matroska_writer.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

#include "core/platform_error.h"

namespace tolvane {

namespace {

constexpr AVRational kTicks = {1, 90000};
constexpr int kIoBufferSize = 1 << 16;

}  // namespace

int avCodecIdOf(StreamCoding coding, int bits) {
    switch (coding) {
        case StreamCoding::Mpeg1:
            return AV_CODEC_ID_MPEG1VIDEO;
        case StreamCoding::Mpeg2:
            return AV_CODEC_ID_MPEG2VIDEO;
        case StreamCoding::H264:
            return AV_CODEC_ID_H264;
        case StreamCoding::Vc1:
            return AV_CODEC_ID_VC1;
        case StreamCoding::Ac3:
            return AV_CODEC_ID_AC3;
        case StreamCoding::Eac3:
            return AV_CODEC_ID_EAC3;
        case StreamCoding::Dts:
            return AV_CODEC_ID_DTS;
        case StreamCoding::TrueHd:
            return AV_CODEC_ID_TRUEHD;
        case StreamCoding::Mlp:
            return AV_CODEC_ID_MLP;
        case StreamCoding::Lpcm:
            return bits > 16 ? AV_CODEC_ID_PCM_S24LE : AV_CODEC_ID_PCM_S16LE;
        case StreamCoding::Mp1:
            return AV_CODEC_ID_MP1;
        case StreamCoding::Mp2:
            return AV_CODEC_ID_MP2;
        case StreamCoding::Mp3:
            return AV_CODEC_ID_MP3;
        case StreamCoding::Subpicture:
            return AV_CODEC_ID_DVD_SUBTITLE;
        case StreamCoding::Sdds:
            break;
    }
    return AV_CODEC_ID_NONE;
}

namespace {

std::string libraryError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

int writeCallback(void* opaque, uint8_t* data, int size) {
    return static_cast<MatroskaWriter*>(opaque)->writeBytes(data, size);
}

int64_t seekCallback(void* opaque, int64_t offset, int whence) {
    return static_cast<MatroskaWriter*>(opaque)->seekTo(offset, whence);
}

}  // namespace

MatroskaWriter::MatroskaWriter(FileOutput& out, const std::vector<MatroskaTrack>& tracks,
                               const std::vector<MatroskaChapter>& chapters,
                               const std::string& title)
    : out_(out) {
    try {
        open(tracks, chapters, title);
    } catch (...) {
        release();
        throw;
    }
}

void MatroskaWriter::open(const std::vector<MatroskaTrack>& tracks,
                          const std::vector<MatroskaChapter>& chapters, const std::string& title) {
    // The muxer's own remarks stay off the terminal: what fails comes back as a code, which
    // the job words.
    av_log_set_level(AV_LOG_QUIET);
    const auto check = [&](int result, const char* what) {
        if (failure_) {
            std::rethrow_exception(failure_);
        }
        if (result < 0) {
            throw JobError(ErrorCode::InputOutput, std::string("Cannot write Matroska (") + what +
                                                       "): " + libraryError(result));
        }
    };
    check(avformat_alloc_output_context2(&context_, nullptr, "matroska", nullptr), "muxer");
    auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
    context_->pb =
        avio_alloc_context(buffer, kIoBufferSize, 1, this, nullptr, writeCallback, seekCallback);
    if (context_->pb == nullptr) {
        av_free(buffer);
        throw std::bad_alloc();
    }
    if (!title.empty()) {
        av_dict_set(&context_->metadata, "title", title.c_str(), 0);
    }
    for (const MatroskaTrack& track : tracks) {
        AVStream* stream = avformat_new_stream(context_, nullptr);
        if (stream == nullptr) {
            throw std::bad_alloc();
        }
        AVCodecParameters& parameters = *stream->codecpar;
        parameters.codec_id = static_cast<AVCodecID>(avCodecIdOf(track.coding, track.bits));
        parameters.codec_type = track.kind == StreamKind::Video   ? AVMEDIA_TYPE_VIDEO
                                : track.kind == StreamKind::Audio ? AVMEDIA_TYPE_AUDIO
                                                                  : AVMEDIA_TYPE_SUBTITLE;
        if (!track.codecPrivate.empty()) {
            parameters.extradata = static_cast<uint8_t*>(
                av_mallocz(track.codecPrivate.size() + AV_INPUT_BUFFER_PADDING_SIZE));
            std::memcpy(parameters.extradata, track.codecPrivate.data(), track.codecPrivate.size());
            parameters.extradata_size = static_cast<int>(track.codecPrivate.size());
        }
        parameters.width = track.width;
        parameters.height = track.height;
        if (track.kind == StreamKind::Audio) {
            parameters.sample_rate = track.sampleRate;
            av_channel_layout_default(&parameters.ch_layout, track.channels);
            parameters.bits_per_raw_sample = track.bits;
        }
        stream->time_base = kTicks;
        if (!track.language.empty()) {
            av_dict_set(&stream->metadata, "language", track.language.c_str(), 0);
        }
        if (!track.name.empty()) {
            av_dict_set(&stream->metadata, "title", track.name.c_str(), 0);
        }
        stream->disposition = track.isDefault ? AV_DISPOSITION_DEFAULT : 0;
    }
    if (!chapters.empty()) {
        context_->chapters =
            static_cast<AVChapter**>(av_calloc(chapters.size(), sizeof(AVChapter*)));
        for (const MatroskaChapter& chapter : chapters) {
            auto* entry = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
            entry->id = static_cast<int64_t>(context_->nb_chapters) + 1;
            entry->time_base = kTicks;
            entry->start = chapter.start;
            entry->end = chapter.end;
            av_dict_set(&entry->metadata, "title", chapter.name.c_str(), 0);
            context_->chapters[context_->nb_chapters++] = entry;
        }
    }
    packet_ = av_packet_alloc();
    lastDts_.assign(tracks.size(), AV_NOPTS_VALUE);
    // No CRC-32 element per cluster, as mkvmerge writes none: it took most of the time.
    AVDictionary* muxerOptions = nullptr;
    av_dict_set(&muxerOptions, "write_crc32", "0", 0);
    const int written = avformat_write_header(context_, &muxerOptions);
    av_dict_free(&muxerOptions);
    check(written, "header");
}

MatroskaWriter::~MatroskaWriter() {
    release();
}

void MatroskaWriter::release() noexcept {
    av_packet_free(&packet_);
    if (context_ != nullptr) {
        if (context_->pb != nullptr) {
            av_freep(&context_->pb->buffer);
        }
        avio_context_free(&context_->pb);
        avformat_free_context(context_);
        context_ = nullptr;
    }
}

void MatroskaWriter::write(size_t track, const uint8_t* data, size_t size, int64_t pts,
                           std::optional<int64_t> dts, bool key, int64_t duration) {
    const AVStream* stream = context_->streams[track];
    av_packet_unref(packet_);
    // The muxer writes the block in this call: it takes the bytes where they are.
    packet_->data = const_cast<uint8_t*>(data);
    packet_->size = static_cast<int>(size);
    packet_->stream_index = static_cast<int>(track);
    // The muxer orders blocks by decoding time, which must rise and never pass the showing
    // time: a time estimated a tick off is moved, not refused.
    int64_t decode = av_rescale_q(std::min(dts.value_or(pts), pts), kTicks, stream->time_base);
    int64_t& last = lastDts_[track];
    if (last != AV_NOPTS_VALUE && decode <= last) {
        decode = last + 1;
    }
    last = decode;
    packet_->dts = decode;
    packet_->pts = std::max(av_rescale_q(pts, kTicks, stream->time_base), decode);
    packet_->duration = av_rescale_q(duration, kTicks, stream->time_base);
    packet_->flags = key ? AV_PKT_FLAG_KEY : 0;
    // Blocks come in the source's order, interleaved as the disc has them.
    const int result = av_write_frame(context_, packet_);
    packet_->data = nullptr;
    packet_->size = 0;
    if (failure_) {
        std::rethrow_exception(failure_);
    }
    if (result < 0) {
        throw JobError(ErrorCode::InputOutput,
                       "Cannot write Matroska (a block): " + libraryError(result));
    }
}

void MatroskaWriter::finish() {
    if (finished_) {
        return;
    }
    finished_ = true;
    const int result = av_write_trailer(context_);
    avio_flush(context_->pb);
    if (failure_) {
        std::rethrow_exception(failure_);
    }
    if (result < 0) {
        throw JobError(ErrorCode::InputOutput,
                       "Cannot write Matroska (its index): " + libraryError(result));
    }
}

int MatroskaWriter::writeBytes(const uint8_t* data, int size) {
    try {
        auto length = static_cast<size_t>(size);
        const auto end = static_cast<int64_t>(out_.bytesWritten());
        if (position_ < end) {
            // The muxer went back to fill in a size or a link.
            const size_t inside = std::min(length, static_cast<size_t>(end - position_));
            out_.overwrite(static_cast<uint64_t>(position_), data, inside);
            data += inside;
            length -= inside;
            position_ += static_cast<int64_t>(inside);
        }
        if (length > 0) {
            out_.append(data, length);
            position_ += static_cast<int64_t>(length);
        }
        return size;
    } catch (...) {
        failure_ = std::current_exception();
        return AVERROR(EIO);
    }
}

int64_t MatroskaWriter::seekTo(int64_t offset, int whence) {
    const auto end = static_cast<int64_t>(out_.bytesWritten());
    switch (whence & ~AVSEEK_FORCE) {
        case AVSEEK_SIZE:
            return end;
        case SEEK_SET:
            break;
        case SEEK_CUR:
            offset += position_;
            break;
        case SEEK_END:
            offset += end;
            break;
        default:
            return AVERROR(EINVAL);
    }
    if (offset < 0 || offset > end) {
        return AVERROR(EINVAL);  // nothing is written past the end but by appending
    }
    position_ = offset;
    return offset;
}

}  // namespace tolvane
