#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

#include "media/media_library.h"

namespace tolvane {

namespace {

constexpr AVRational kTicks = {1, 90000};
constexpr int kIoBufferSize = 1 << 16;

// FFmpeg's codec id for a stream of `coding`; LPCM as the little-endian samples of `bits` it is
// written as.
AVCodecID codecIdOf(StreamCoding coding, int bits) {
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

std::string libraryError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

std::optional<int64_t> timeOf(int64_t value) {
    return value == AV_NOPTS_VALUE ? std::nullopt : std::optional(value);
}

class LibavParser final : public FrameParser {
public:
    explicit LibavParser(AVCodecID id)
        : parser_(av_parser_init(id)), codec_(avcodec_alloc_context3(nullptr)) {
        if (parser_ == nullptr || codec_ == nullptr) {
            release();
            throw std::bad_alloc();
        }
    }
    ~LibavParser() override { release(); }
    LibavParser(const LibavParser&) = delete;
    LibavParser& operator=(const LibavParser&) = delete;

    long parse(const uint8_t* data, size_t size, std::optional<int64_t> pts,
               std::optional<int64_t> dts, ParsedFrame& frame) override {
        uint8_t* out = nullptr;
        int outSize = 0;
        const int used =
            av_parser_parse2(parser_, codec_, &out, &outSize, data, static_cast<int>(size),
                             pts.value_or(AV_NOPTS_VALUE), dts.value_or(AV_NOPTS_VALUE), 0);
        frame = ParsedFrame{};
        if (used < 0) {
            return used;
        }
        if (outSize > 0) {
            frame.data = out;
            frame.size = static_cast<size_t>(outSize);
            frame.pts = timeOf(parser_->pts);
            frame.dts = timeOf(parser_->dts);
            frame.key = parser_->key_frame == 1 || parser_->pict_type == AV_PICTURE_TYPE_I;
            frame.bidirectional = parser_->pict_type == AV_PICTURE_TYPE_B;
            frame.repeatFields = std::max(parser_->repeat_pict, 0);
            frame.pictureOrder = parser_->output_picture_number;
            frame.samples = std::max(parser_->duration, 0);
        }
        return used;
    }
    int sampleRate() const override { return std::max(codec_->sample_rate, 0); }
    int channels() const override { return std::max(codec_->ch_layout.nb_channels, 0); }

private:
    void release() noexcept {
        av_parser_close(parser_);
        parser_ = nullptr;
        avcodec_free_context(&codec_);
    }

    AVCodecParserContext* parser_;
    AVCodecContext* codec_;
};

class LibavMatroska final : public MatroskaMuxer {
public:
    explicit LibavMatroska(ByteSink& sink) : sink_(sink) {}
    ~LibavMatroska() override {
        av_packet_free(&packet_);
        if (context_ != nullptr) {
            if (context_->pb != nullptr) {
                av_freep(&context_->pb->buffer);
            }
            avio_context_free(&context_->pb);
            avformat_free_context(context_);
        }
    }
    LibavMatroska(const LibavMatroska&) = delete;
    LibavMatroska& operator=(const LibavMatroska&) = delete;

    std::string begin(const std::vector<MatroskaTrack>& tracks,
                      const std::vector<MatroskaChapter>& chapters,
                      const std::string& title) override {
        const int made = avformat_alloc_output_context2(&context_, nullptr, "matroska", nullptr);
        if (made < 0) {
            return "muxer: " + libraryError(made);
        }
        auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
        context_->pb =
            avio_alloc_context(buffer, kIoBufferSize, 1, &sink_, nullptr, writeBytes, seekTo);
        if (context_->pb == nullptr) {
            av_free(buffer);
            return "muxer: " + libraryError(AVERROR(ENOMEM));
        }
        if (!title.empty()) {
            av_dict_set(&context_->metadata, "title", title.c_str(), 0);
        }
        for (const MatroskaTrack& track : tracks) {
            if (!addStream(track)) {
                return "a track: " + libraryError(AVERROR(ENOMEM));
            }
        }
        if (!chapters.empty()) {
            context_->chapters =
                static_cast<AVChapter**>(av_calloc(chapters.size(), sizeof(AVChapter*)));
            for (const MatroskaChapter& chapter : chapters) {
                auto* entry = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
                if (context_->chapters == nullptr || entry == nullptr) {
                    av_free(entry);
                    return "chapters: " + libraryError(AVERROR(ENOMEM));
                }
                entry->id = static_cast<int64_t>(context_->nb_chapters) + 1;
                entry->time_base = kTicks;
                entry->start = chapter.start;
                entry->end = chapter.end;
                av_dict_set(&entry->metadata, "title", chapter.name.c_str(), 0);
                context_->chapters[context_->nb_chapters++] = entry;
            }
        }
        packet_ = av_packet_alloc();
        if (packet_ == nullptr) {
            return "blocks: " + libraryError(AVERROR(ENOMEM));
        }
        lastDts_.assign(tracks.size(), AV_NOPTS_VALUE);
        // No CRC-32 element per cluster, as mkvmerge writes none: it took most of the time.
        AVDictionary* options = nullptr;
        av_dict_set(&options, "write_crc32", "0", 0);
        const int written = avformat_write_header(context_, &options);
        av_dict_free(&options);
        return written < 0 ? "header: " + libraryError(written) : std::string();
    }

    std::string write(const MatroskaBlock& block) override {
        const AVStream* stream = context_->streams[block.track];
        av_packet_unref(packet_);
        // The muxer writes the block in this call: it takes the bytes where they are.
        packet_->data = const_cast<uint8_t*>(block.data);
        packet_->size = static_cast<int>(block.size);
        packet_->stream_index = static_cast<int>(block.track);
        // The muxer orders blocks by decoding time, which must rise and never pass the showing
        // time: a time estimated a tick off is moved, not refused.
        int64_t decode = av_rescale_q(std::min(block.dts.value_or(block.pts), block.pts), kTicks,
                                      stream->time_base);
        int64_t& last = lastDts_[block.track];
        if (last != AV_NOPTS_VALUE && decode <= last) {
            decode = last + 1;
        }
        last = decode;
        packet_->dts = decode;
        packet_->pts = std::max(av_rescale_q(block.pts, kTicks, stream->time_base), decode);
        packet_->duration = av_rescale_q(block.duration, kTicks, stream->time_base);
        packet_->flags = block.key ? AV_PKT_FLAG_KEY : 0;
        // Blocks come in the source's order, interleaved as the disc has them.
        const int result = av_write_frame(context_, packet_);
        packet_->data = nullptr;
        packet_->size = 0;
        return result < 0 ? "a block: " + libraryError(result) : std::string();
    }

    std::string finish() override {
        const int result = av_write_trailer(context_);
        avio_flush(context_->pb);
        return result < 0 ? "its index: " + libraryError(result) : std::string();
    }

private:
    bool addStream(const MatroskaTrack& track) {
        AVStream* stream = avformat_new_stream(context_, nullptr);
        if (stream == nullptr) {
            return false;
        }
        AVCodecParameters& parameters = *stream->codecpar;
        parameters.codec_id = track.presentationGraphics ? AV_CODEC_ID_HDMV_PGS_SUBTITLE
                                                         : codecIdOf(track.coding, track.bits);
        parameters.codec_type = track.kind == StreamKind::Video   ? AVMEDIA_TYPE_VIDEO
                                : track.kind == StreamKind::Audio ? AVMEDIA_TYPE_AUDIO
                                                                  : AVMEDIA_TYPE_SUBTITLE;
        if (!track.codecPrivate.empty()) {
            parameters.extradata = static_cast<uint8_t*>(
                av_mallocz(track.codecPrivate.size() + AV_INPUT_BUFFER_PADDING_SIZE));
            if (parameters.extradata == nullptr) {
                return false;
            }
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
        stream->disposition = (track.isDefault ? AV_DISPOSITION_DEFAULT : 0) |
                              (track.isForced ? AV_DISPOSITION_FORCED : 0);
        return true;
    }

    static int writeBytes(void* opaque, uint8_t* data, int size) {
        return static_cast<ByteSink*>(opaque)->write(data, static_cast<size_t>(size))
                   ? size
                   : AVERROR(EIO);
    }

    static int64_t seekTo(void* opaque, int64_t offset, int whence) {
        auto& sink = *static_cast<ByteSink*>(opaque);
        switch (whence & ~AVSEEK_FORCE) {
            case AVSEEK_SIZE:
                return sink.size();
            case SEEK_SET:
                break;
            case SEEK_CUR:
                offset += sink.position();
                break;
            case SEEK_END:
                offset += sink.size();
                break;
            default:
                return AVERROR(EINVAL);
        }
        return sink.seek(offset) ? offset : AVERROR(EINVAL);
    }

    ByteSink& sink_;
    AVFormatContext* context_ = nullptr;
    AVPacket* packet_ = nullptr;
    // Each track's last decoding time, in its time base.
    std::vector<int64_t> lastDts_;
};

std::unique_ptr<FrameParser> makeParser(StreamCoding coding) {
    if (coding == StreamCoding::Lpcm || coding == StreamCoding::Subpicture ||
        coding == StreamCoding::Sdds) {
        return nullptr;
    }
    return std::make_unique<LibavParser>(codecIdOf(coding, 0));
}

std::unique_ptr<MatroskaMuxer> makeMatroska(ByteSink& sink) {
    return std::make_unique<LibavMatroska>(sink);
}

}  // namespace

}  // namespace tolvane

extern "C" __attribute__((visibility("default"))) const tolvane::MediaLibrary*
tolvane_media_library() {
    // The libraries' own remarks stay off the terminal: what fails comes back as a code, which
    // the job words.
    av_log_set_level(AV_LOG_QUIET);
    static const tolvane::MediaLibrary library{tolvane::kMediaLibraryVersion, tolvane::makeParser,
                                               tolvane::makeMatroska};
    return &library;
}
