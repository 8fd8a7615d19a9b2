#include "discs/hddvd_disc.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <udfread/blockinput.h>
#include <udfread/udfread.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <type_traits>

#include "core/file_source.h"
#include "core/platform_error.h"
#include "core/stop_signal.h"
#include "core/text_escape.h"
#include "discs/xpl_chapters.h"
#include "discs/xpl_scanner.h"
#include "format/program_stream_layout.h"

namespace tolvane {

namespace {

constexpr const char* kPlaylistPath = "ADV_OBJ/VPLST000.XPL";
constexpr const char* kObjectFolder = "HVDVD_TS";

// The element a tag opens or closes, in upper case: "TITLE" for <Title ...> and </Title>.
std::string elementOf(std::string_view tag) {
    size_t at = tag.find('<');
    if (at == std::string_view::npos) {
        return {};
    }
    ++at;
    if (at < tag.size() && tag[at] == '/') {
        ++at;
    }
    const size_t end = tag.find_first_of(" />", at);
    return upperCase(tag.substr(at, end == std::string_view::npos ? end : end - at));
}

// What the playlist's media attribute items say of a codec: its coding and the first id of the
// streams of that coding.
struct CodecFacts {
    const char* playlist;
    StreamCoding coding;
    int firstId;
};
constexpr CodecFacts kVideoCodecs[] = {{"MPEG-2", StreamCoding::Mpeg2, layout::kVideoFirstId},
                                       {"VC-1", StreamCoding::Vc1, layout::kVc1FirstExtension},
                                       {"AVC", StreamCoding::H264, layout::kH264FirstId},
                                       {"MPEG-4 AVC", StreamCoding::H264, layout::kH264FirstId},
                                       {"H.264", StreamCoding::H264, layout::kH264FirstId}};
// Playlists name a coding by its trade name or by its standard's: "DD" or "AC-3".
constexpr CodecFacts kAudioCodecs[] = {
    {"DD", StreamCoding::Ac3, 0x80},     {"AC-3", StreamCoding::Ac3, 0x80},
    {"DD+", StreamCoding::Eac3, 0xC0},   {"E-AC-3", StreamCoding::Eac3, 0xC0},
    {"DTS", StreamCoding::Dts, 0x88},    {"DTS-HD", StreamCoding::Dts, 0x88},
    {"MLP", StreamCoding::TrueHd, 0xB0}, {"TrueHD", StreamCoding::TrueHd, 0xB0},
    {"LPCM", StreamCoding::Lpcm, 0xA0},  {"PCM", StreamCoding::Lpcm, 0xA0}};

const CodecFacts* codecFacts(const std::string& codec, StreamKind kind) {
    const auto find = [&](const auto& table) -> const CodecFacts* {
        for (const CodecFacts& facts : table) {
            if (upperCase(facts.playlist) == upperCase(codec)) {
                return &facts;
            }
        }
        return nullptr;
    };
    return kind == StreamKind::Video ? find(kVideoCodecs) : find(kAudioCodecs);
}

double seconds(const std::optional<std::string>& time, int fps) {
    const std::optional<int64_t> ns = time ? titleTimeNs(*time, fps) : std::nullopt;
    return ns ? static_cast<double>(*ns) / 1e9 : 0;
}

// A track's language: its langcode ("fr:00") up to the colon, else its description.
std::string trackLanguage(std::string_view tag) {
    if (const std::optional<std::string> code = attributeValue(tag, "langcode");
        code && !code->empty()) {
        return code->substr(0, code->find(':'));
    }
    return decodeCharacterReferences(attributeValue(tag, "description").value_or(""));
}

// The last component of a clip's src ("file:///dvddisc/HVDVD_TS/FEATURE_1.MAP").
std::string clipFileName(const std::string& src) {
    const size_t slash = src.find_last_of("/\\");
    return slash == std::string::npos ? src : src.substr(slash + 1);
}

// A disc folder on the file system, its names matched in any case.
class FolderFiles : public DiscFiles {
public:
    explicit FolderFiles(std::filesystem::path root) : root_(std::move(root)) {}

    std::unique_ptr<InputSource> open(const std::string& path) const override {
        const std::optional<std::filesystem::path> found = resolve(path);
        return found ? std::make_unique<FileSource>(found->string()) : nullptr;
    }
    std::string where(const std::string& path) const override {
        return resolve(path).value_or(root_ / path).string();
    }
    bool has(const std::string& path) const { return resolve(path).has_value(); }

private:
    std::optional<std::filesystem::path> resolve(const std::string& path) const {
        std::filesystem::path current = root_;
        size_t start = 0;
        while (start <= path.size()) {
            const size_t end = std::min(path.find('/', start), path.size());
            const std::string wanted = upperCase(path.substr(start, end - start));
            std::error_code error;
            std::optional<std::filesystem::path> next;
            for (std::filesystem::directory_iterator entries(current, error), last;
                 !error && entries != last; entries.increment(error)) {
                if (upperCase(entries->path().filename().string()) == wanted) {
                    next = entries->path();
                    break;
                }
            }
            if (!next) {
                return std::nullopt;
            }
            current = *next;
            start = end + 1;
        }
        return current;
    }

    std::filesystem::path root_;
};

// A UDF image as libudfread reads it, through a block input of our own: whole blocks from the
// file, no more of them for one look-up (a folder, a file's entry and its allocation extents)
// than a disc's metadata can need, and none once the user asked to stop. A looping or lying
// chain of extents then ends in an error instead of reading on for ever.
class UdfImage {
public:
    // The most blocks one look-up may read: 8 MiB of metadata, where a real disc's largest
    // file needs a few extents.
    static constexpr int64_t kLookUpBlocks = 4096;

    static std::shared_ptr<UdfImage> open(const std::string& path) {
        auto image = std::shared_ptr<UdfImage>(new UdfImage);
        image->fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        struct stat info {};
        if (image->fd_ < 0 || ::fstat(image->fd_, &info) != 0 ||
            !(S_ISREG(info.st_mode) || S_ISBLK(info.st_mode))) {
            return nullptr;
        }
        ::fcntl(image->fd_, F_SETFL, ::fcntl(image->fd_, F_GETFL) & ~O_NONBLOCK);
        const off_t end = ::lseek(image->fd_, 0, SEEK_END);
        image->bytes_ = end > 0 ? end : 0;
        image->input_.image = image.get();
        image->udf_ = udfread_init();
        const LookUp lookUp(*image);
        if (image->udf_ == nullptr || udfread_open_input(image->udf_, &image->input_.input) < 0) {
            return nullptr;
        }
        return image;
    }
    ~UdfImage() {
        if (udf_ != nullptr) {
            udfread_close(udf_);
        }
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    UdfImage(const UdfImage&) = delete;
    UdfImage& operator=(const UdfImage&) = delete;

    udfread* udf() const { return udf_; }
    int64_t bytes() const { return bytes_; }

    // Bounds the reads of the library calls made while it lives to one look-up's.
    class LookUp {
    public:
        explicit LookUp(const UdfImage& image) : image_(image) { image_.budget_ = kLookUpBlocks; }
        ~LookUp() { image_.budget_ = kUnbounded; }
        LookUp(const LookUp&) = delete;
        LookUp& operator=(const LookUp&) = delete;

    private:
        const UdfImage& image_;
        QuietLibrary quiet_;  // what the library says of a damaged look-up is not the user's
    };

private:
    static constexpr int64_t kUnbounded = INT64_MAX;

    // libudfread hands back the address of `input`, the first member.
    struct Input {
        udfread_block_input input{nullptr, &Input::read, &Input::size};
        UdfImage* image = nullptr;

        static int read(udfread_block_input* self, uint32_t lba, void* data, uint32_t count,
                        int /*flags*/) {
            UdfImage& image = *reinterpret_cast<Input*>(self)->image;
            if (stopRequested() || image.budget_ < count) {
                return -1;
            }
            image.budget_ -= image.budget_ == kUnbounded ? 0 : count;
            const auto bytes = static_cast<size_t>(count) * UDF_BLOCK_SIZE;
            size_t done = 0;
            while (done < bytes) {
                const ssize_t got =
                    ::pread(image.fd_, static_cast<uint8_t*>(data) + done, bytes - done,
                            static_cast<off_t>(lba) * UDF_BLOCK_SIZE + static_cast<off_t>(done));
                if (got < 0 && errno == EINTR && !stopRequested()) {
                    continue;
                }
                if (got <= 0) {
                    break;
                }
                done += static_cast<size_t>(got);
            }
            return static_cast<int>(done / UDF_BLOCK_SIZE);
        }
        static uint32_t size(udfread_block_input* self) {
            const UdfImage& image = *reinterpret_cast<Input*>(self)->image;
            return static_cast<uint32_t>(
                std::min<int64_t>(image.bytes_ / UDF_BLOCK_SIZE, UINT32_MAX));
        }
    };
    static_assert(std::is_standard_layout_v<Input>);

    UdfImage() = default;

    int fd_ = -1;
    int64_t bytes_ = 0;
    udfread* udf_ = nullptr;
    Input input_;
    mutable int64_t budget_ = kUnbounded;
};

// A file of a UDF image, read through libudfread: whole blocks straight into the caller's
// buffer, and the data of a small file kept inside its file entry too.
class UdfFileSource : public InputSource {
public:
    UdfFileSource(std::shared_ptr<UdfImage> image, UDFFILE* file, std::string name)
        : image_(std::move(image)),
          file_(file),
          name_(std::move(name)),
          size_(std::max<int64_t>(udfread_file_size(file), 0)) {}
    ~UdfFileSource() override { udfread_file_close(file_); }
    UdfFileSource(const UdfFileSource&) = delete;
    UdfFileSource& operator=(const UdfFileSource&) = delete;

    int64_t size() const override { return size_; }
    int64_t position() const override { return position_; }
    void seek(int64_t position) override { position_ = std::clamp<int64_t>(position, 0, size_); }

    size_t read(uint8_t* data, size_t length) override {
        if (position_ >= size_ || length == 0) {
            return 0;
        }
        ssize_t got = -1;
        {
            const QuietLibrary quiet;  // it complains of a damaged extent itself
            if (udfread_file_seek(file_, position_, UDF_SEEK_SET) == position_) {
                got = udfread_file_read(file_, data, length);
            }
        }
        if (got <= 0) {
            throw PlatformError(stopRequested()
                                    ? "Stopped while reading \"" + name_ + "\""
                                    : "Cannot read \"" + name_ + "\" at byte " +
                                          std::to_string(position_) + ". Input/output error",
                                stopRequested() ? ErrorCode::Cancelled : ErrorCode::InputOutput);
        }
        position_ += got;
        return static_cast<size_t>(got);
    }

private:
    std::shared_ptr<UdfImage> image_;
    UDFFILE* file_;
    std::string name_;
    int64_t size_;
    int64_t position_ = 0;
};

// The files of a UDF image, its names matched in any case. Reading it never writes to it.
class UdfFiles : public DiscFiles {
public:
    UdfFiles(std::shared_ptr<UdfImage> image, std::string path)
        : image_(std::move(image)), path_(std::move(path)) {}

    // The image at `path` when libudfread can read its file system, else null.
    static std::unique_ptr<UdfFiles> openImage(const std::string& path) {
        std::shared_ptr<UdfImage> image = UdfImage::open(path);
        if (!image) {
            return nullptr;
        }
        return std::make_unique<UdfFiles>(std::move(image), path);
    }

    std::unique_ptr<InputSource> open(const std::string& path) const override {
        const std::optional<std::string> found = resolve(path, UDF_DT_REG);
        if (!found) {
            return nullptr;
        }
        UDFFILE* file = nullptr;
        {
            const UdfImage::LookUp lookUp(*image_);
            file = udfread_file_open(image_->udf(), found->c_str());
        }
        if (file == nullptr) {
            return nullptr;
        }
        auto source = std::make_unique<UdfFileSource>(image_, file, where(path));
        // A file entry can claim any size: read, a lie would give zeros for hours.
        if (udfread_file_size(file) > image_->bytes()) {
            throw PlatformError("Cannot read \"" + where(path) + "\". Its file entry claims " +
                                    std::to_string(udfread_file_size(file)) +
                                    " bytes, more than the image holds: the image is damaged",
                                ErrorCode::InvalidData);
        }
        return source;
    }
    std::string where(const std::string& path) const override {
        return path_ + ":/" + resolve(path, UDF_DT_UNKNOWN).value_or(path);
    }
    bool has(const std::string& folder) const { return resolve(folder, UDF_DT_DIR).has_value(); }

private:
    // The path as the image spells it, each component found in its folder in any case; its
    // last one of `type` (UDF_DT_UNKNOWN: any).
    std::optional<std::string> resolve(const std::string& path, unsigned type) const {
        std::string current;
        size_t start = 0;
        while (start <= path.size()) {
            const size_t end = std::min(path.find('/', start), path.size());
            const std::string wanted = upperCase(path.substr(start, end - start));
            const bool last = end == path.size();
            const UdfImage::LookUp lookUp(*image_);
            UDFDIR* folder =
                udfread_opendir(image_->udf(), current.empty() ? "/" : current.c_str());
            if (folder == nullptr) {
                return std::nullopt;
            }
            std::optional<std::string> next;
            udfread_dirent entry{};
            while (udfread_readdir(folder, &entry) != nullptr) {
                const bool fits = last ? type == UDF_DT_UNKNOWN || entry.d_type == type
                                       : entry.d_type == UDF_DT_DIR;
                if (fits && entry.d_name != nullptr && upperCase(entry.d_name) == wanted) {
                    next = current + "/" + entry.d_name;
                    break;
                }
            }
            udfread_closedir(folder);
            if (!next) {
                return std::nullopt;
            }
            current = *next;
            start = end + 1;
        }
        return current;
    }

    std::shared_ptr<UdfImage> image_;
    std::string path_;
};

// The video time stamps of the PES packets in `data`: a video stream id, or the extended one
// VC-1 uses, with the header's marker bits where they must be.
void videoTimes(const std::vector<uint8_t>& data, std::vector<uint32_t>& times) {
    for (size_t k = 0; k + 14 <= data.size(); ++k) {
        if (data[k] != 0 || data[k + 1] != 0 || data[k + 2] != 1) {
            continue;
        }
        const uint8_t id = data[k + 3];
        const uint8_t* header = data.data() + k + 6;
        const bool video = (id >= layout::kVideoFirstId && id <= layout::kVideoLastId) ||
                           id == layout::kExtendedStreamId;
        if (!video || (header[0] & 0xC0) != 0x80 || (header[1] & 0x80) == 0 ||
            (header[3] & 0xE1) != 0x21 || (header[5] & 0x01) == 0 || (header[7] & 0x01) == 0) {
            continue;
        }
        const uint8_t* pts = header + 3;
        const uint64_t time = uint64_t{pts[0] & 0x0Eu} << 29 | uint64_t{pts[1]} << 22 |
                              uint64_t{pts[2] & 0xFEu} << 14 | uint64_t{pts[3]} << 7 |
                              uint64_t{pts[4]} >> 1;
        times.push_back(static_cast<uint32_t>(time));  // 32 bits, as the engine keeps them
    }
}

// Whether a video PES payload begins a unit a decoder can start at: an MPEG-2 sequence or GOP
// header, an H.264 sequence parameter set or IDR picture, a VC-1 sequence header or entry point.
bool startsDecoding(const uint8_t* payload, size_t size) {
    for (size_t k = 0; k + 3 < size; ++k) {
        if (payload[k] != 0 || payload[k + 1] != 0 || payload[k + 2] != 1) {
            continue;
        }
        const uint8_t code = payload[k + 3];
        const uint8_t nal = code & 0x1F;
        if (code == 0xB3 || code == 0xB8 || code == 0x0F || code == 0x0E ||
            ((code & 0x80) == 0 && (nal == 7 || nal == 5))) {
            return true;
        }
    }
    return false;
}

// The pack of `input` where a decoder starts showing the video `seconds` after its first
// video time: the first pack at or after that time that starts a video PES whose payload a
// decoder can start at. The search narrows by halves on the video times, then walks packs.
std::optional<int64_t> packAtVideoTime(InputSource& input, double seconds) {
    constexpr int64_t kPack = 2048;
    constexpr int64_t kWindow = 256 * kPack;
    const auto timesAt = [&](int64_t from) {
        std::vector<uint8_t> data(static_cast<size_t>(std::min(kWindow, input.size() - from)));
        input.seek(from);
        data.resize(readBlock(input, data.data(), data.size()));
        std::vector<uint32_t> times;
        videoTimes(data, times);
        return times;
    };
    const std::vector<uint32_t> first = timesAt(0);
    if (first.empty()) {
        return std::nullopt;
    }
    const uint32_t target =
        *std::min_element(first.begin(), first.end()) + static_cast<uint32_t>(seconds * 90000);
    // Times go round at 2^32 as the engine keeps them: compared as distances.
    const auto before = [&](uint32_t time) { return static_cast<int32_t>(time - target) < 0; };
    int64_t low = 0;
    int64_t high = input.size() / kPack;
    while (high - low > kWindow / kPack) {
        const int64_t middle = low + (high - low) / 2;
        const std::vector<uint32_t> times = timesAt(middle * kPack);
        if (times.empty() || before(times.front())) {
            low = middle;
        } else {
            high = middle;
        }
    }
    // The packs from a window before the narrowed place on, one by one, as far as a group of
    // pictures at any rate a disc holds can reach.
    constexpr int64_t kWalk = int64_t{64} << 20;
    std::vector<uint8_t> pack(static_cast<size_t>(kPack));
    const int64_t from = std::max<int64_t>(0, low - kWindow / kPack) * kPack;
    for (int64_t at = from; at < input.size() && at < from + kWalk; at += kPack) {
        input.seek(at);
        if (readBlock(input, pack.data(), pack.size()) < pack.size()) {
            break;
        }
        std::vector<uint32_t> times;
        videoTimes(pack, times);
        if (times.empty() || before(times.front())) {
            continue;
        }
        for (size_t k = 0; k + 9 < pack.size(); ++k) {
            if (pack[k] != 0 || pack[k + 1] != 0 || pack[k + 2] != 1 ||
                !((pack[k + 3] >= layout::kVideoFirstId && pack[k + 3] <= layout::kVideoLastId) ||
                  pack[k + 3] == layout::kExtendedStreamId)) {
                continue;
            }
            const size_t payload = k + 9 + pack[k + 8];
            if (payload < pack.size() &&
                startsDecoding(pack.data() + payload, pack.size() - payload)) {
                return at;
            }
            break;
        }
    }
    return std::nullopt;
}

std::vector<DiscTitle> readTitles(const DiscFiles& files, const std::string& discPath) {
    std::unique_ptr<InputSource> playlist = files.open(kPlaylistPath);
    if (!playlist) {
        throw PlatformError(
            "Cannot open disc \"" + discPath + "\". It has no playlist " + kPlaylistPath,
            ErrorCode::InvalidData);
    }
    if (playlist->size() > kMaxPlaylistBytes) {
        throw PlatformError("Cannot read disc \"" + discPath + "\". Its playlist " +
                                files.where(kPlaylistPath) + " is too large to be one",
                            ErrorCode::InvalidData);
    }
    std::string text(static_cast<size_t>(playlist->size()), '\0');
    text.resize(readBlock(*playlist, reinterpret_cast<uint8_t*>(text.data()), text.size()));
    std::vector<DiscTitle> titles = playlistTitles(text);
    if (titles.empty()) {
        throw PlatformError("Cannot read disc \"" + discPath + "\". Its playlist " +
                                files.where(kPlaylistPath) + " has no title",
                            ErrorCode::InvalidData);
    }
    return titles;
}

}  // namespace

std::optional<double> measuredVideoSeconds(InputSource& stream, int64_t window) {
    const int64_t size = stream.size();
    const auto read = [&](int64_t from) {
        std::vector<uint8_t> data(static_cast<size_t>(std::min(window, size - from)));
        stream.seek(from);
        data.resize(readBlock(stream, data.data(), data.size()));
        return data;
    };
    std::vector<uint32_t> first;
    videoTimes(read(0), first);
    std::vector<uint32_t> last;
    videoTimes(read(std::max<int64_t>(0, size - window)), last);
    if (first.empty() || last.empty()) {
        return std::nullopt;
    }
    // One frame: the smallest step between the last times, which come out of display order.
    std::sort(last.begin(), last.end());
    uint32_t frame = 0;
    for (size_t k = 1; k < last.size(); ++k) {
        const uint32_t step = last[k] - last[k - 1];
        frame = step > 0 && (frame == 0 || step < frame) ? step : frame;
    }
    const uint32_t start = *std::min_element(first.begin(), first.end());
    const uint32_t end = last.back() + frame;  // wraps modulo 2^32 as the time stamps do
    return static_cast<double>(end - start) / 90000.0;
}

std::vector<DiscTitle> playlistTitles(std::string_view playlist) {
    PlaylistMemo memo;
    XplAttributeTables tables;
    XplScanner scanner(memo, tables);
    scanner.scan(reinterpret_cast<const uint8_t*>(playlist.data()), playlist.size());

    struct Attribute {
        std::string codec;
        int channels = 0;
    };
    std::map<int, Attribute> video;
    std::map<int, Attribute> audio;
    std::vector<DiscTitle> titles;
    int fps = 60;
    bool inTitle = false;
    for (size_t k = 0; k < memo.size(); ++k) {
        const std::string_view tag = memo.bare(k);
        const std::string element = elementOf(tag);
        const bool closing = tag.find("</") != std::string_view::npos;
        if (element == "VIDEOATTRIBUTEITEM" || element == "AUDIOATTRIBUTEITEM") {
            (element == "VIDEOATTRIBUTEITEM" ? video : audio)[attributeInt(tag, "index")] =
                Attribute{attributeValue(tag, "codec").value_or(""), attributeInt(tag, "channels")};
        } else if (element == "TITLESET" && !closing) {
            fps = framesPerSecond(attributeValue(tag, "timeBase").value_or("")).value_or(60);
        } else if (element == "TITLE") {
            inTitle = !closing;
            if (inTitle) {
                DiscTitle& title = titles.emplace_back();
                const int32_t number = attributeInt(tag, "titleNumber");
                title.number = number > 0 ? number : static_cast<int>(titles.size());
                title.name =
                    decodeCharacterReferences(attributeValue(tag, "displayName").value_or(""));
                title.duration = seconds(attributeValue(tag, "titleDuration"), fps);
                inTitle = tag.find("/>") == std::string_view::npos;
            }
        } else if (!inTitle || closing) {
            continue;
        } else if (element == "PRIMARYAUDIOVIDEOCLIP") {
            const std::string map = clipFileName(attributeValue(tag, "src").value_or(""));
            const size_t dot = map.rfind('.');
            titles.back().clips.push_back(
                DiscClip{map, (dot == std::string::npos ? map : map.substr(0, dot)) + ".EVO",
                         seconds(attributeValue(tag, "titleTimeBegin"), fps),
                         seconds(attributeValue(tag, "titleTimeEnd"), fps),
                         seconds(attributeValue(tag, "clipTimeBegin"), fps)});
        } else if (element == "VIDEO" || element == "AUDIO" || element == "SUBTITLE") {
            const StreamKind kind = element == "VIDEO"   ? StreamKind::Video
                                    : element == "AUDIO" ? StreamKind::Audio
                                                         : StreamKind::Subpicture;
            const int32_t given =
                attributeInt(tag, kind == StreamKind::Video ? "track" : "streamNumber");
            std::vector<DiscStream>& streams = titles.back().streams;
            // Each clip may list the title's tracks again.
            if (given < 1 || given > 32 ||
                std::any_of(streams.begin(), streams.end(), [&](const DiscStream& stream) {
                    return stream.kind == kind && stream.number == given - 1;
                })) {
                continue;
            }
            DiscStream stream{.kind = kind, .number = given - 1};
            if (kind == StreamKind::Subpicture) {
                stream.id = 0x20 + given - 1;
                stream.coding = StreamCoding::Subpicture;
            } else {
                const auto& table = kind == StreamKind::Video ? video : audio;
                const auto item = table.find(attributeInt(tag, "mediaAttr"));
                if (item != table.end()) {
                    if (const CodecFacts* facts = codecFacts(item->second.codec, kind)) {
                        stream.id = facts->firstId + given - 1;
                        stream.coding = facts->coding;
                    }
                    stream.channels = item->second.channels;
                }
            }
            if (kind != StreamKind::Video) {
                stream.language = trackLanguage(tag);
            }
            stream.description =
                decodeCharacterReferences(attributeValue(tag, "description").value_or(""));
            streams.push_back(stream);
        } else if (element == "CHAPTER") {
            std::vector<DiscChapter>& chapters = titles.back().chapters;
            chapters.push_back(DiscChapter{
                static_cast<int>(chapters.size()) + 1,
                seconds(attributeValue(tag, "titleTimeBegin"), fps),
                decodeCharacterReferences(attributeValue(tag, "displayName").value_or(""))});
        }
    }
    // Video first, then audio and subpictures, each in its numbers' order, as DVD titles list
    // them.
    for (DiscTitle& title : titles) {
        std::set<std::string> evos;
        int repeated = 0;
        for (const DiscClip& clip : title.clips) {
            repeated += evos.insert(upperCase(clip.evo)).second ? 0 : 1;
        }
        if (repeated > 0) {
            title.notes.push_back(std::to_string(repeated) +
                                  (repeated == 1 ? " clip plays" : " clips play") +
                                  " an .EVO file the title played before: each file is read once");
        }
        std::stable_sort(title.streams.begin(), title.streams.end(),
                         [](const DiscStream& a, const DiscStream& b) {
                             return std::pair(a.kind, a.number) < std::pair(b.kind, b.number);
                         });
    }
    return titles;
}

namespace {

// The files of the HD DVD disc at `path`, or null when it is none.
std::unique_ptr<DiscFiles> hdDvdFiles(const std::string& path) {
    checkDiscMembers(path);
    std::error_code error;
    if (!std::filesystem::is_directory(path, error)) {
        // An image or a drive: HD DVD when its UDF file system holds the disc's folders.
        std::unique_ptr<UdfFiles> image =
            std::filesystem::exists(path, error) ? UdfFiles::openImage(path) : nullptr;
        if (!image || (!image->has(kObjectFolder) && !image->has("ADV_OBJ"))) {
            return nullptr;
        }
        return image;
    }
    std::filesystem::path root(path);
    const std::string name = upperCase(root.filename().string());
    if (name == kObjectFolder || name == "ADV_OBJ") {
        root = root.parent_path().empty() ? "." : root.parent_path();
    }
    auto files = std::make_unique<FolderFiles>(root);
    if (!files->has(kObjectFolder) && !files->has("ADV_OBJ")) {
        return nullptr;
    }
    return files;
}

}  // namespace

std::unique_ptr<HdDvdDisc> HdDvdDisc::openIfOne(const std::string& path) {
    std::unique_ptr<DiscFiles> files = hdDvdFiles(path);
    return files ? std::make_unique<HdDvdDisc>(path, std::move(files)) : nullptr;
}

bool isHdDvdDisc(const std::string& path) {
    try {
        return hdDvdFiles(path) != nullptr;
    } catch (const PlatformError&) {
        return false;  // opening it says why it is no disc
    }
}

HdDvdDisc::HdDvdDisc(std::string path, std::unique_ptr<DiscFiles> files)
    : Disc(path, readTitles(*files, path)), files_(std::move(files)) {}

void HdDvdDisc::measure() {
    // A clip's file is measured once, however many titles play it.
    std::map<std::string, std::optional<double>> measured;
    for (DiscTitle& title : titlesToMeasure()) {
        double total = 0;
        bool whole = !title.clips.empty();
        for (const DiscClip& clip : title.clips) {
            const std::string evo = std::string(kObjectFolder) + "/" + upperCase(clip.evo);
            if (!measured.contains(evo)) {
                measured[evo] = std::nullopt;
                // A clip that cannot be read leaves its title unmeasured; reading the title
                // says why.
                try {
                    if (std::unique_ptr<InputSource> input = files_->open(evo)) {
                        measured[evo] = measuredVideoSeconds(*input);
                    }
                } catch (const PlatformError&) {
                }
            }
            whole = whole && measured[evo].has_value();
            total += measured[evo].value_or(0);
        }
        if (whole) {
            title.measuredDuration = total;
        }
    }
}

std::unique_ptr<SpanSource> HdDvdDisc::titleSource(int number, int angle) const {
    const DiscTitle* found = title(number);
    if (found == nullptr) {
        noSuchTitle(number);
    }
    if (angle != 1) {
        throw PlatformError("Title " + std::to_string(number) + " of \"" + path() +
                                "\" has no angle " + std::to_string(angle) + ": it has 1.",
                            ErrorCode::NotFound);
    }
    std::vector<SourceSpan> spans;
    std::set<std::string> read;
    std::map<std::string, int> clipsOfFile;
    for (const DiscClip& clip : found->clips) {
        ++clipsOfFile[upperCase(clip.evo)];
    }
    for (const DiscClip& clip : found->clips) {
        if (!read.insert(upperCase(clip.evo)).second) {
            continue;  // said in the title's notes: a file is read once
        }
        const std::string evo = std::string(kObjectFolder) + "/" + clip.evo;
        std::unique_ptr<InputSource> input = files_->open(evo);
        if (!input) {
            throw PlatformError("Cannot open \"" + files_->where(evo) + "\", which clip " +
                                    clip.map + " of title " + std::to_string(number) +
                                    " plays. No such file or directory",
                                ErrorCode::NotFound);
        }
        // A clip that starts inside its file starts where its time shows the first picture.
        int64_t offset = 0;
        if (clip.fileBegin > 0) {
            offset = packAtVideoTime(*input, clip.fileBegin).value_or(0);
            input->seek(0);
        }
        // One that ends inside it ends before the picture its end time shows; a file other
        // clips play too is read whole from there, as those clips need it.
        // Only a file that plays longer than the clip is searched: most clips are whole files.
        int64_t length = -1;
        const double until = clip.fileBegin + clip.end - clip.begin;
        constexpr double kFrameSlack = 0.05;
        constexpr int64_t kEndProbe = 512 << 10;  // holds a few video time stamps at any rate
        if (clip.end > clip.begin && clipsOfFile[upperCase(clip.evo)] == 1 &&
            measuredVideoSeconds(*input, kEndProbe).value_or(0) > until + kFrameSlack) {
            const std::optional<int64_t> stop = packAtVideoTime(*input, until);
            if (stop && *stop > offset) {
                length = *stop - offset;
            }
        }
        input->seek(0);
        input->park();  // a title of a thousand clips holds no file open before it reads it
        spans.push_back(SourceSpan{files_->where(evo), std::move(input), offset, length});
    }
    if (spans.empty()) {
        throw PlatformError(
            "Title " + std::to_string(number) + " of \"" + path() + "\" plays no clip",
            ErrorCode::InvalidData);
    }
    auto source = std::make_unique<SpanSource>(std::move(spans));
    source->setKind(SourceKind::HdDvdTitle);
    return source;
}

}  // namespace tolvane
