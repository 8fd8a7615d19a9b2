#include "discs/dvd_disc.h"

#include <dvdread/dvd_reader.h>
#include <dvdread/ifo_read.h>
#include <dvdread/ifo_types.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <map>
#include <set>
#include <span>
#include <sstream>

#include "core/platform_error.h"
#include "core/stop_signal.h"
#include "discs/block_source.h"
#include "format/navigation_packets.h"

namespace tolvane {

namespace {

// libdvdread's own messages would go to standard error between our lines; its failures are
// reported as errors of ours instead, and its words shown only when asked for.
void quiet(void* /*context*/, dvd_logger_level_t /*level*/, const char* format, va_list arguments) {
    if (libraryMessagesShown()) {
        std::fputs("libdvdread: ", stderr);
        std::vfprintf(stderr, format, arguments);
        std::fputc('\n', stderr);
    }
}
const dvd_logger_cb kQuietLogger{quiet};

constexpr int64_t kSector = DVD_VIDEO_LB_LEN;

int bcd(uint8_t value) {
    return (value >> 4) * 10 + (value & 0x0F);
}

// A program chain's or cell's playing time: BCD hours, minutes, seconds and frames, the two
// high bits of the frames byte giving the rate (1: 25 a second, 3: 29.97).
double seconds(const dvd_time_t& time) {
    const double rate = (time.frame_u >> 6) == 1 ? 25.0 : 30000.0 / 1001.0;
    return bcd(time.hour) * 3600.0 + bcd(time.minute) * 60.0 + bcd(time.second) +
           bcd(time.frame_u & 0x3F) / rate;
}

std::string language(uint16_t code) {
    const auto first = static_cast<char>(code >> 8);
    const auto second = static_cast<char>(code & 0xFF);
    if (first < 'a' || first > 'z' || second < 'a' || second > 'z') {
        return {};
    }
    return std::string{first, second};
}

std::string audioContent(uint8_t extension) {
    switch (extension) {
        case 2:
            return "visually impaired";
        case 3:
            return "commentary";
        case 4:
            return "alternate commentary";
        default:
            return {};
    }
}

std::string subpictureContent(uint8_t extension) {
    switch (extension) {
        case 2:
            return "large";
        case 3:
            return "children";
        case 5:
            return "captions";
        case 6:
            return "large captions";
        case 7:
            return "children's captions";
        case 9:
            return "forced";
        case 13:
            return "commentary";
        case 14:
            return "large commentary";
        case 15:
            return "children's commentary";
        default:
            return {};
    }
}

std::optional<StreamCoding> codingNumbered(int number) {
    if (number < 0 || number >= kStreamCodings) {
        return std::nullopt;
    }
    return static_cast<StreamCoding>(number);
}

// The audio streams the program chain makes available, with the title set's attributes.
void addAudio(const vtsi_mat_t& attributes, const pgc_t& pgc, std::vector<DiscStream>& streams) {
    const int count = std::min<int>(attributes.nr_of_vts_audio_streams, 8);
    for (int k = 0; k < count; ++k) {
        const uint16_t control = pgc.audio_control[k];
        if ((control & 0x8000) == 0) {
            continue;  // not available in this title
        }
        const int number = (control >> 8) & 7;
        const audio_attr_t& attr = attributes.vts_audio_attr[k];
        // The audio formats of DVD-Video: the coding and the first identifying byte of each.
        struct Format {
            uint8_t format;
            StreamCoding coding;
            int firstId;
        };
        static constexpr Format kFormats[] = {
            {0, StreamCoding::Ac3, 0x80},  {2, StreamCoding::Mp2, 0xC0},
            {3, StreamCoding::Mp2, 0xC0},  {4, StreamCoding::Lpcm, 0xA0},
            {5, StreamCoding::Sdds, 0x88}, {6, StreamCoding::Dts, 0x88}};
        const Format* format =
            std::find_if(std::begin(kFormats), std::end(kFormats),
                         [&](const Format& f) { return f.format == attr.audio_format; });
        if (format == std::end(kFormats)) {
            continue;  // no coding DVD-Video has
        }
        DiscStream stream{
            .kind = StreamKind::Audio, .id = format->firstId + number, .coding = format->coding};
        stream.channels = attr.channels + 1;
        stream.sampleRate = attr.sample_frequency == 1 ? 96000 : 48000;
        if (attr.lang_type == 1) {
            stream.language = language(attr.lang_code);
        }
        stream.content = audioContent(attr.code_extension);
        streams.push_back(stream);
    }
}

// The subpicture streams the program chain makes available, each under the number a player
// shows it by: the 4:3 one for 4:3 video, the wide one for 16:9.
void addSubpictures(const vtsi_mat_t& attributes, const pgc_t& pgc,
                    std::vector<DiscStream>& streams) {
    // A 16:9 title gives each stream up to three ids: wide, letterbox and pan-scan; a 4:3
    // title one.
    const bool wide = attributes.vts_video_attr.display_aspect_ratio == 3;
    struct Viewport {
        int shift;
        const char* name;
    };
    constexpr Viewport kWide[] = {{16, "wide"}, {8, "letterbox"}, {0, "pan-scan"}};
    constexpr Viewport kNarrow[] = {{24, ""}};
    const std::span<const Viewport> viewports =
        wide ? std::span<const Viewport>(kWide) : std::span<const Viewport>(kNarrow);
    const int count = std::min<int>(attributes.nr_of_vts_subp_streams, 32);
    std::vector<DiscStream> others;  // the letterbox and pan-scan ids, after every wide one
    std::set<int> taken;
    for (int k = 0; k < count; ++k) {
        const uint32_t control = pgc.subp_control[k];
        if ((control & 0x80000000u) == 0) {
            continue;
        }
        const subp_attr_t& attr = attributes.vts_subp_attr[k];
        for (const Viewport& viewport : viewports) {
            const int id = 0x20 + static_cast<int>((control >> viewport.shift) & 0x1F);
            const bool first = &viewport == viewports.data();
            if (!first && taken.contains(id)) {
                continue;  // the same pictures as a viewport already listed
            }
            taken.insert(id);
            DiscStream stream{
                .kind = StreamKind::Subpicture, .id = id, .coding = StreamCoding::Subpicture};
            if (attr.type == 1) {
                stream.language = language(attr.lang_code);
            }
            stream.content = subpictureContent(attr.code_extension);
            stream.viewport = wide && !first ? viewport.name : "";
            (first ? streams : others).push_back(stream);
        }
    }
    // An id a wide stream has is that stream's, whatever another's viewports say.
    for (const DiscStream& stream : others) {
        if (std::none_of(streams.begin(), streams.end(), [&](const DiscStream& listed) {
                return listed.kind == StreamKind::Subpicture && listed.id == stream.id;
            })) {
            streams.push_back(stream);
        }
    }
}

DiscVideo videoOf(const video_attr_t& attr) {
    const bool pal = attr.video_format == 1;
    DiscVideo video;
    static constexpr int kWidths[] = {720, 704, 352, 352};
    video.width = kWidths[attr.picture_size & 3];
    video.height = (pal ? 576 : 480) / (attr.picture_size == 3 ? 2 : 1);
    video.frameRate = pal ? 25.0 : 30000.0 / 1001.0;
    video.aspect = attr.display_aspect_ratio == 3 ? "16:9" : "4:3";
    return video;
}

// Whether a cell plays in every angle's run of the title: an angle block plays one cell of the
// block, the first one's time standing for all.
bool countsForTime(const cell_playback_t& cell) {
    return cell.block_type != BLOCK_TYPE_ANGLE_BLOCK || cell.block_mode == BLOCK_MODE_FIRST_CELL;
}

// The start of program `program` (1-based) of a program chain, in seconds from its first cell.
double programStart(const pgc_t& pgc, int program) {
    if (pgc.program_map == nullptr || pgc.cell_playback == nullptr || program < 1 ||
        program > pgc.nr_of_programs) {
        return 0;
    }
    const int firstCell = pgc.program_map[program - 1];  // 1-based
    double start = 0;
    for (int cell = 1; cell < firstCell && cell <= pgc.nr_of_cells; ++cell) {
        const cell_playback_t& playback = pgc.cell_playback[cell - 1];
        if (countsForTime(playback)) {
            start += seconds(playback.playback_time);
        }
    }
    return start;
}

}  // namespace

// libdvdread's reader of the disc, and the information files it has read.
struct DvdDisc::Reader {
    dvd_reader_t* dvd = nullptr;
    ifo_handle_t* manager = nullptr;
    // The information of each title set read so far, by number.
    std::map<int, ifo_handle_t*> titleSets;

    ~Reader() {
        for (const auto& [number, ifo] : titleSets) {
            if (ifo != nullptr) {
                ifoClose(ifo);
            }
        }
        if (manager != nullptr) {
            ifoClose(manager);
        }
        if (dvd != nullptr) {
            DVDClose(dvd);
        }
    }

    ifo_handle_t* titleSet(int number) {
        const auto found = titleSets.find(number);
        if (found != titleSets.end()) {
            return found->second;
        }
        ifo_handle_t* ifo = ifoOpen(dvd, number);
        titleSets[number] = ifo;
        return ifo;
    }
};

namespace {

// `run` less the sectors of `read`, which is sorted and joined: what of it is new, in order.
std::vector<SectorRun> unread(SectorRun run, const std::vector<SectorRun>& read) {
    std::vector<SectorRun> left;
    for (const SectorRun& done : read) {
        if (done.last < run.first || done.first > run.last) {
            continue;
        }
        if (done.first > run.first) {
            left.push_back({run.first, done.first - 1});
        }
        run.first = done.last + 1;
        if (run.first > run.last) {
            return left;
        }
    }
    left.push_back(run);
    return left;
}

// Adds `run` to the sorted, joined runs of `read`.
void markRead(std::vector<SectorRun>& read, SectorRun run) {
    std::vector<SectorRun> joined;
    for (const SectorRun& done : read) {
        if (done.last + 1 < run.first || done.first > run.last + 1) {
            joined.push_back(done);
        } else {
            run = {std::min(run.first, done.first), std::max(run.last, done.last)};
        }
    }
    joined.push_back(run);
    std::sort(joined.begin(), joined.end(),
              [](const SectorRun& a, const SectorRun& b) { return a.first < b.first; });
    read = std::move(joined);
}

// The cells each angle of a title's program chains plays, chain after chain: outside angle
// blocks every cell, inside one the angle's cell. Sectors an angle already read are not read
// again (a damaged or hostile chain can list one VOB hundreds of times); `notes` says which
// cells repeated them.
std::vector<std::vector<SectorRun>> angleCells(const std::vector<const pgc_t*>& chains, int angles,
                                               std::vector<std::string>& notes) {
    std::vector<std::vector<SectorRun>> cells(static_cast<size_t>(angles));
    for (int angle = 1; angle <= angles; ++angle) {
        std::vector<SectorRun>& runs = cells[static_cast<size_t>(angle - 1)];
        std::vector<SectorRun> read;
        int repeated = 0;
        for (const pgc_t* chain : chains) {
            const pgc_t& pgc = *chain;
            int inBlock = 0;
            for (int cell = 0; cell < pgc.nr_of_cells && pgc.cell_playback != nullptr; ++cell) {
                const cell_playback_t& playback = pgc.cell_playback[cell];
                if (playback.block_type == BLOCK_TYPE_ANGLE_BLOCK) {
                    inBlock = playback.block_mode == BLOCK_MODE_FIRST_CELL ? 1 : inBlock + 1;
                    if (inBlock != angle) {
                        continue;
                    }
                }
                const SectorRun whole{playback.first_sector, playback.last_sector};
                if (whole.last < whole.first) {
                    continue;
                }
                // An angle block's cells lie between one another's units when the disc says
                // so, and only then.
                const bool interleaved =
                    playback.block_type == BLOCK_TYPE_ANGLE_BLOCK && playback.interleaved != 0;
                std::vector<SectorRun> fresh = unread(whole, read);
                if (fresh.size() != 1 || fresh.front().first != whole.first ||
                    fresh.front().last != whole.last) {
                    ++repeated;
                }
                markRead(read, whole);
                for (SectorRun& run : fresh) {
                    run.interleaved = interleaved;
                    if (!runs.empty() && runs.back().last + 1 == run.first &&
                        !runs.back().interleaved && !interleaved) {
                        runs.back().last = run.last;  // the next cell on the disc: the same run
                    } else {
                        runs.push_back(run);
                    }
                }
            }
        }
        if (repeated > 0) {
            notes.push_back(
                std::to_string(repeated) + (repeated == 1 ? " cell" : " cells") +
                (angles > 1 ? " of angle " + std::to_string(angle) : "") +
                (chains.size() > 1 ? " of the program chains" : " of the program chain") +
                " repeat sectors read before: they are read once");
        }
    }
    return cells;
}

// Where a title's angles differ: each angle block of its program chains, with its time in the
// title (the first angle's cell standing for all) and the chapters whose time it covers.
std::vector<AngleBlock> angleBlocks(const std::vector<const pgc_t*>& chains,
                                    const std::vector<DiscChapter>& chapters, double duration) {
    std::vector<AngleBlock> blocks;
    double at = 0;
    for (const pgc_t* chain : chains) {
        for (int cell = 0; cell < chain->nr_of_cells && chain->cell_playback != nullptr; ++cell) {
            const cell_playback_t& playback = chain->cell_playback[cell];
            if (!countsForTime(playback)) {
                continue;
            }
            const double length = seconds(playback.playback_time);
            if (playback.block_type == BLOCK_TYPE_ANGLE_BLOCK) {
                blocks.push_back(AngleBlock{at, at + length});
            }
            at += length;
        }
    }
    for (AngleBlock& block : blocks) {
        for (size_t k = 0; k < chapters.size(); ++k) {
            const double end = k + 1 < chapters.size() ? chapters[k + 1].start : duration;
            if (chapters[k].start < block.end && end > block.start) {
                block.firstChapter =
                    block.firstChapter == 0 ? chapters[k].number : block.firstChapter;
                block.lastChapter = chapters[k].number;
            }
        }
    }
    return blocks;
}

// The cells of a title's first angle as its program chains list them.
std::vector<SectorRun> playOrder(const std::vector<const pgc_t*>& chains) {
    std::vector<SectorRun> cells;
    for (const pgc_t* chain : chains) {
        int inBlock = 0;
        for (int cell = 0; cell < chain->nr_of_cells && chain->cell_playback != nullptr; ++cell) {
            const cell_playback_t& playback = chain->cell_playback[cell];
            if (playback.block_type == BLOCK_TYPE_ANGLE_BLOCK) {
                inBlock = playback.block_mode == BLOCK_MODE_FIRST_CELL ? 1 : inBlock + 1;
                if (inBlock != 1) {
                    continue;
                }
            }
            cells.push_back(SectorRun{playback.first_sector, playback.last_sector});
        }
    }
    return cells;
}

// Whether VIDEO_TS.IFO's title table starts where the file cannot hold its header: libdvdread
// 6.1.3 then frees the table twice, which no process survives.
bool titleTableOutside(dvd_reader_t* dvd) {
    dvd_file_t* file = DVDOpenFile(dvd, 0, DVD_READ_INFO_FILE);
    if (file == nullptr) {
        return false;  // libdvdread goes on to the backup
    }
    uint8_t header[2048];
    const bool read = DVDReadBytes(file, header, sizeof header) == sizeof header;
    const int64_t bytes = int64_t{DVDFileSize(file)} * kSector;
    DVDCloseFile(file);
    if (!read) {
        return false;
    }
    const int64_t table =
        int64_t{header[0xC4]} << 24 | header[0xC5] << 16 | header[0xC6] << 8 | header[0xC7];
    constexpr int64_t kTableHeader = 8;
    return table > 0 && table * kSector <= bytes && table * kSector + kTableHeader > bytes;
}

// The title the disc's first-play program chain jumps to, as a player starts the disc: the
// first JumpTT among its pre-commands; 0 when it goes to a menu or does nothing.
int firstPlayTitle(const ifo_handle_t& manager) {
    const pgc_t* first = manager.first_play_pgc;
    if (first == nullptr || first->command_tbl == nullptr) {
        return 0;
    }
    const pgc_command_tbl_t& commands = *first->command_tbl;
    for (int k = 0; k < commands.nr_of_pre && commands.pre_cmds != nullptr; ++k) {
        const uint8_t* bytes = commands.pre_cmds[k].bytes;
        constexpr uint8_t kJump = 0x30;
        constexpr uint8_t kJumpTitle = 0x02;
        if (bytes[0] == kJump && (bytes[1] & 0x0F) == kJumpTitle) {
            return bytes[5] & 0x7F;
        }
        if (bytes[0] == kJump) {
            return 0;  // another jump: a menu, a part of a title set
        }
    }
    return 0;
}

// Every title of the disc at `path`, as its information files give them.
std::vector<DiscTitle> readTitles(const std::string& path) {
    DvdDisc::Reader reader;
    reader.dvd = DVDOpen2(nullptr, &kQuietLogger, path.c_str());
    if (reader.dvd != nullptr && titleTableOutside(reader.dvd)) {
        throw PlatformError(
            "Cannot read disc \"" + path +
                "\". Its VIDEO_TS.IFO is damaged: its title table lies past its end",
            ErrorCode::InvalidData);
    }
    if (reader.dvd != nullptr) {
        reader.manager = ifoOpen(reader.dvd, 0);
    }
    if (reader.manager == nullptr || reader.manager->tt_srpt == nullptr) {
        throw PlatformError("Cannot open disc \"" + path +
                                "\". It is no DVD-Video disc: its VIDEO_TS.IFO cannot be read; "
                                "and no HD DVD disc: it has no HVDVD_TS or ADV_OBJ folder",
                            ErrorCode::InvalidData);
    }
    std::vector<DiscTitle> titles;
    const tt_srpt_t& table = *reader.manager->tt_srpt;
    size_t damaged = 0;
    for (int k = 0; k < table.nr_of_srpts; ++k) {
        const title_info_t& info = table.title[k];
        ifo_handle_t* set = reader.titleSet(info.title_set_nr);
        // A damaged title is listed with what is wrong with it; the others stay readable.
        const auto damagedTitle = [&](const std::string& why) {
            DiscTitle& title = titles.emplace_back();
            title.number = k + 1;
            title.titleSet = info.title_set_nr;
            title.angleCells.resize(1);
            title.damage = why;
            ++damaged;
        };
        if (set == nullptr || set->vtsi_mat == nullptr || set->vts_ptt_srpt == nullptr ||
            set->vts_pgcit == nullptr || info.vts_ttn < 1 ||
            info.vts_ttn > set->vts_ptt_srpt->nr_of_srpts) {
            damagedTitle("The information file of title set " + std::to_string(info.title_set_nr) +
                         " is damaged");
            continue;
        }
        const ttu_t& parts = set->vts_ptt_srpt->title[info.vts_ttn - 1];
        if (parts.nr_of_ptts < 1 || parts.ptt[0].pgcn < 1 ||
            parts.ptt[0].pgcn > set->vts_pgcit->nr_of_pgci_srp ||
            set->vts_pgcit->pgci_srp[parts.ptt[0].pgcn - 1].pgc == nullptr) {
            damagedTitle("Title " + std::to_string(k + 1) + " has no program chain");
            continue;
        }
        DiscTitle title;
        title.number = k + 1;
        title.titleSet = info.title_set_nr;
        title.programChain = parts.ptt[0].pgcn;
        title.angles = std::clamp<int>(info.nr_of_angles, 1, 9);
        const pgc_t& pgc = *set->vts_pgcit->pgci_srp[title.programChain - 1].pgc;
        // A title plays each program chain its chapters name, in their order.
        std::vector<const pgc_t*> chains;
        std::vector<int> chainNumbers;
        for (int part = 0; part < parts.nr_of_ptts; ++part) {
            const int number = parts.ptt[part].pgcn;
            if (number >= 1 && number <= set->vts_pgcit->nr_of_pgci_srp &&
                set->vts_pgcit->pgci_srp[number - 1].pgc != nullptr &&
                std::find(chainNumbers.begin(), chainNumbers.end(), number) == chainNumbers.end()) {
                chainNumbers.push_back(number);
                chains.push_back(set->vts_pgcit->pgci_srp[number - 1].pgc);
                title.duration += seconds(chains.back()->playback_time);
            }
        }
        title.video = videoOf(set->vtsi_mat->vts_video_attr);
        addAudio(*set->vtsi_mat, pgc, title.streams);
        addSubpictures(*set->vtsi_mat, pgc, title.streams);
        for (size_t n = 0; n < title.palette.size(); ++n) {
            title.palette[n] = pgc.palette[n];
        }
        title.angleCells = angleCells(chains, title.angles, title.notes);
        title.playOrder = playOrder(chains);
        // Chapters in later program chains of the title start after the chains before them.
        double chainStart = 0;
        int chain = title.programChain;
        for (int part = 0; part < parts.nr_of_ptts; ++part) {
            const ptt_info_t& ptt = parts.ptt[part];
            if (ptt.pgcn < 1 || ptt.pgcn > set->vts_pgcit->nr_of_pgci_srp ||
                set->vts_pgcit->pgci_srp[ptt.pgcn - 1].pgc == nullptr) {
                continue;
            }
            const pgc_t& partChain = *set->vts_pgcit->pgci_srp[ptt.pgcn - 1].pgc;
            if (ptt.pgcn != chain) {
                chainStart += seconds(set->vts_pgcit->pgci_srp[chain - 1].pgc->playback_time);
                chain = ptt.pgcn;
            }
            title.chapters.push_back(
                DiscChapter{part + 1, chainStart + programStart(partChain, ptt.pgn)});
        }
        if (title.angles > 1) {
            title.angleBlocks = angleBlocks(chains, title.chapters, title.duration);
        }
        titles.push_back(std::move(title));
    }
    if (const int first = firstPlayTitle(*reader.manager); first >= 1) {
        for (DiscTitle& title : titles) {
            title.firstPlay = title.number == first;
        }
    }
    if (!titles.empty() && damaged == titles.size()) {
        throw PlatformError("Cannot read disc \"" + path + "\". " + titles.front().damage,
                            ErrorCode::InvalidData);
    }
    return titles;
}

// The titles as lines of tab-separated fields, for the way from the child that read them.
std::string serialized(const std::vector<DiscTitle>& titles) {
    std::ostringstream out;
    out.precision(17);
    for (const DiscTitle& t : titles) {
        out << "T\t" << t.number << '\t' << t.titleSet << '\t' << t.programChain << '\t'
            << t.duration << '\t' << t.angles << '\t' << t.video.width << '\t' << t.video.height
            << '\t' << t.video.frameRate << '\t' << t.video.aspect << '\n';
        for (const DiscChapter& chapter : t.chapters) {
            out << "C\t" << chapter.number << '\t' << chapter.start << '\n';
        }
        for (const DiscStream& stream : t.streams) {
            out << "S\t" << static_cast<int>(stream.kind) << '\t' << stream.id << '\t'
                << (stream.coding ? static_cast<int>(*stream.coding) : -1) << '\t'
                << stream.channels << '\t' << stream.sampleRate << '\t' << stream.language << '\t'
                << stream.content << '\t' << stream.viewport << '\n';
        }
        out << "P";
        for (const uint32_t entry : t.palette) {
            out << '\t' << entry;
        }
        out << '\n';
        for (const std::string& note : t.notes) {
            out << "N\t" << note << '\n';
        }
        if (!t.damage.empty()) {
            out << "D\t" << t.damage << '\n';
        }
        if (t.firstPlay) {
            out << "F\n";
        }
        for (size_t angle = 0; angle < t.angleCells.size(); ++angle) {
            for (const SectorRun& run : t.angleCells[angle]) {
                out << "R\t" << angle << '\t' << run.first << '\t' << run.last << '\t'
                    << int{run.interleaved} << '\n';
            }
        }
        for (const AngleBlock& block : t.angleBlocks) {
            out << "A\t" << block.start << '\t' << block.end << '\t' << block.firstChapter << '\t'
                << block.lastChapter << '\n';
        }
        for (const SectorRun& cell : t.playOrder) {
            out << "O\t" << cell.first << '\t' << cell.last << '\n';
        }
    }
    return out.str();
}

std::vector<DiscTitle> deserialized(const std::string& text) {
    std::vector<DiscTitle> titles;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, '\t');) {
            f.push_back(field);
        }
        // The last field, when empty, is one getline does not give.
        if (!line.empty() && line.back() == '\t') {
            f.emplace_back();
        }
        if (f.size() == 10 && f[0] == "T") {
            DiscTitle& t = titles.emplace_back();
            t.number = std::stoi(f[1]);
            t.titleSet = std::stoi(f[2]);
            t.programChain = std::stoi(f[3]);
            t.duration = std::stod(f[4]);
            t.angles = std::stoi(f[5]);
            t.video = DiscVideo{std::stoi(f[6]), std::stoi(f[7]), std::stod(f[8]), f[9]};
            t.angleCells.resize(static_cast<size_t>(t.angles));
        } else if (titles.empty()) {
            continue;
        } else if (f.size() == 3 && f[0] == "C") {
            titles.back().chapters.push_back(DiscChapter{std::stoi(f[1]), std::stod(f[2])});
        } else if (f.size() == 9 && f[0] == "S") {
            titles.back().streams.push_back(
                DiscStream{.kind = static_cast<StreamKind>(std::stoi(f[1])),
                           .id = std::stoi(f[2]),
                           .coding = codingNumbered(std::stoi(f[3])),
                           .channels = std::stoi(f[4]),
                           .sampleRate = std::stoi(f[5]),
                           .language = f[6],
                           .content = f[7],
                           .viewport = f[8]});
        } else if (f.size() == 17 && f[0] == "P") {
            for (size_t n = 0; n < 16; ++n) {
                titles.back().palette[n] = static_cast<uint32_t>(std::stoul(f[n + 1]));
            }
        } else if (f.size() == 2 && f[0] == "N") {
            titles.back().notes.push_back(f[1]);
        } else if (f.size() == 1 && f[0] == "F") {
            titles.back().firstPlay = true;
        } else if (f.size() == 2 && f[0] == "D") {
            titles.back().damage = f[1];
        } else if (f.size() == 3 && f[0] == "O") {
            titles.back().playOrder.push_back(SectorRun{std::stoll(f[1]), std::stoll(f[2])});
        } else if (f.size() == 5 && f[0] == "R") {
            const auto angle = static_cast<size_t>(std::stoul(f[1]));
            if (angle < titles.back().angleCells.size()) {
                titles.back().angleCells[angle].push_back(
                    SectorRun{std::stoll(f[2]), std::stoll(f[3]), f[4] == "1"});
            }
        } else if (f.size() == 5 && f[0] == "A") {
            titles.back().angleBlocks.push_back(
                AngleBlock{std::stod(f[1]), std::stod(f[2]), std::stoi(f[3]), std::stoi(f[4])});
        }
    }
    return titles;
}

constexpr std::chrono::seconds kReaderPatience{60};

// Runs readTitles in a child process and takes its titles, or its error, back through a pipe.
std::vector<DiscTitle> readTitlesApart(const std::string& path) {
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) {
        throw PlatformError::fromErrno("Cannot read disc", path, errno);
    }
    std::cout.flush();
    std::cerr.flush();
    const pid_t child = ::fork();
    if (child < 0) {
        const int error = errno;
        ::close(pipeEnds[0]);
        ::close(pipeEnds[1]);
        throw PlatformError::fromErrno("Cannot read disc", path, error);
    }
    if (child == 0) {
        ::close(pipeEnds[0]);
        // What the C library says as the reader fails is not for the user: the error is ours.
        const int quietErrors = libraryMessagesShown() ? -1 : ::open("/dev/null", O_WRONLY);
        if (quietErrors >= 0) {
            ::dup2(quietErrors, STDERR_FILENO);
        }
        std::string message;
        int status = 0;
        try {
            message = "O" + serialized(readTitles(path));
        } catch (const PlatformError& error) {
            message = std::string("E") + error.what();
        } catch (...) {
            status = 2;
        }
        for (size_t done = 0; done < message.size();) {
            const ssize_t n = ::write(pipeEnds[1], message.data() + done, message.size() - done);
            if (n <= 0) {
                ::_exit(3);
            }
            done += static_cast<size_t>(n);
        }
        ::_exit(status);
    }
    ::close(pipeEnds[1]);
    std::string answer;
    char buffer[65536];
    // Information files take a moment to read; a reader still at them after this is stuck.
    const auto deadline = std::chrono::steady_clock::now() + kReaderPatience;
    bool stuck = false;
    bool stopped = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd waiting{pipeEnds[0], POLLIN, 0};
        const int ready =
            left.count() > 0 ? ::poll(&waiting, 1, static_cast<int>(left.count())) : 0;
        if (ready < 0 && errno == EINTR && !stopRequested()) {
            continue;
        }
        if (stopRequested()) {
            ::kill(child, SIGKILL);
            answer.clear();
            stopped = true;
            break;
        }
        if (ready <= 0) {
            stuck = ready == 0;
            break;
        }
        const ssize_t n = ::read(pipeEnds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        answer.append(buffer, static_cast<size_t>(n));
    }
    if (stuck) {
        ::kill(child, SIGKILL);
        answer.clear();
    }
    ::close(pipeEnds[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (stopped) {
        throw PlatformError("Stopped while reading the information files of \"" + path + "\"",
                            ErrorCode::Cancelled);
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || answer.empty()) {
        throw PlatformError("Cannot read disc \"" + path +
                                "\". Its information files are damaged: the reader stopped on them",
                            ErrorCode::InvalidData);
    }
    if (answer[0] == 'E') {
        throw PlatformError(answer.substr(1), ErrorCode::InvalidData);
    }
    return deserialized(answer.substr(1));
}

}  // namespace

std::vector<DiscTitle> readDvdTitlesInProcess(const std::string& path) {
    checkDiscMembers(path);
    return readTitles(path);
}

DvdDisc::DvdDisc(std::string path, std::shared_ptr<Reader> reader, std::vector<DiscTitle> titles)
    : Disc(std::move(path), std::move(titles)), reader_(std::move(reader)) {}

DvdDisc::~DvdDisc() = default;

std::unique_ptr<DvdDisc> DvdDisc::open(const std::string& path) {
    checkDiscMembers(path);
    std::vector<DiscTitle> titles = readTitlesApart(path);
    // This process reads the video objects only: libdvdread finds their files, in a folder or
    // an image, without the information files.
    auto reader = std::make_shared<Reader>();
    reader->dvd = DVDOpen2(nullptr, &kQuietLogger, path.c_str());
    if (reader->dvd == nullptr) {
        throw PlatformError("Cannot open disc \"" + path + "\". It is no DVD-Video disc",
                            ErrorCode::InvalidData);
    }
    return std::unique_ptr<DvdDisc>(new DvdDisc(path, std::move(reader), std::move(titles)));
}

namespace {

// The VOB files of one title set as one reader of 2048-byte sectors; the disc stays open while
// any span reads from it.
class TitleSetVobs : public BlockSource {
public:
    TitleSetVobs(std::shared_ptr<void> disc, dvd_file_t* file, std::string name)
        : BlockSource(DVDFileSize(file) * kSector),
          disc_(std::move(disc)),
          file_(file),
          name_(std::move(name)) {}
    ~TitleSetVobs() override { DVDCloseFile(file_); }
    TitleSetVobs(const TitleSetVobs&) = delete;
    TitleSetVobs& operator=(const TitleSetVobs&) = delete;

private:
    void readBlocks(int64_t sector, size_t count, uint8_t* data) override {
        // libdvdread reads across two of a title set's VOB files at most in one call: the
        // rest comes in the next.
        while (count > 0) {
            const ssize_t got = DVDReadBlocks(file_, static_cast<int>(sector), count, data);
            if (got <= 0 || static_cast<size_t>(got) > count) {
                throw PlatformError("Cannot read \"" + name_ + "\" at sector " +
                                    std::to_string(sector) + ". Input/output error");
            }
            sector += got;
            count -= static_cast<size_t>(got);
            data += got * kSector;
        }
    }

    std::shared_ptr<void> disc_;
    dvd_file_t* file_;
    std::string name_;
};

// Whether a sector's packets say their payload is scrambled: CSS sets the two scrambling bits
// of every video and audio packet it encrypts, and leaves the navigation packs clear.
bool scrambledSector(const uint8_t* sector) {
    if (sector[0] != 0 || sector[1] != 0 || sector[2] != 1 || sector[3] != 0xBA) {
        return false;
    }
    size_t at = 14 + (sector[13] & 0x07);
    while (at + 7 <= static_cast<size_t>(kSector)) {
        if (sector[at] != 0 || sector[at + 1] != 0 || sector[at + 2] != 1) {
            return false;
        }
        const uint8_t id = sector[at + 3];
        const bool payload = id == 0xBD || (id >= 0xC0 && id <= 0xEF);
        if (payload && (sector[at + 6] & 0xC0) == 0x80 && (sector[at + 6] & 0x30) != 0) {
            return true;
        }
        at += 6 + static_cast<size_t>(sector[at + 4] << 8 | sector[at + 5]);
    }
    return false;
}

// Whether the first sectors of a run of cells are encrypted.
bool encrypted(InputSource& vobs, const SectorRun& run) {
    constexpr int64_t kSectorsLooked = 64;
    std::vector<uint8_t> sectors(static_cast<size_t>(kSectorsLooked * kSector));
    vobs.seek(run.first * kSector);
    const size_t got = readBlock(
        vobs, sectors.data(),
        static_cast<size_t>(std::min(kSectorsLooked, run.last - run.first + 1) * kSector));
    for (size_t at = 0; at + static_cast<size_t>(kSector) <= got; at += kSector) {
        if (scrambledSector(sectors.data() + at)) {
            return true;
        }
    }
    return false;
}

constexpr uint32_t kCellEnds = 0x3FFFFFFF;
constexpr uint16_t kInterleavedLastUnit = 0x5000;  // in an interleaved block, its unit's last VOBU

// Angle `angle`'s units of an interleaved cell, as a player follows them: VOBU after VOBU by the
// navigation packs' next-VOBU links, and from the last VOBU of an interleaved unit to the
// angle's next unit by its angle link (the PCI's for a non-seamless block, else the DSI's).
// Only links that lead forward within the cell are taken, so a damaged pack cannot loop;
// where the links end early, `why` says so and the units found so far are kept.
std::vector<SectorRun> angleUnits(InputSource& vobs, const SectorRun& cell, int angle,
                                  std::string& why) {
    std::vector<SectorRun> units;
    std::array<uint8_t, kSector> pack{};
    const auto angleLink = [&](uint32_t link) -> int64_t {
        return (link & 0x80000000U) != 0 && link != 0x7FFFFFFF ? -int64_t{link & kCellEnds}
                                                               : int64_t{link & kCellEnds};
    };
    for (int64_t at = cell.first; at <= cell.last;) {
        vobs.seek(at * kSector);
        std::optional<UnitLinks> links;
        try {
            if (readBlock(vobs, pack.data(), pack.size()) == pack.size()) {
                links = decodeUnitLinks(pack.data());
            }
        } catch (const PlatformError& error) {
            why = error.what();
            return units;
        }
        if (!links) {
            why = "sector " + std::to_string(at) + " holds no navigation pack";
            return units;
        }
        int64_t end = at + links->unitEnd;
        bool cellEnds = (links->nextUnit & kCellEnds) == kCellEnds;
        int64_t step = links->nextUnit & kCellEnds;
        if ((links->seamlessCategory & 0xF000) == kInterleavedLastUnit) {
            const auto index = static_cast<size_t>(angle - 1);
            if (const uint32_t link = links->nonSeamlessAngleLinks[index]; link != 0) {
                if ((link & kCellEnds) != 0) {
                    cellEnds = false;
                    step = angleLink(link);
                }
            } else if (const uint32_t seamless = links->seamlessAngleLinks[index]; seamless != 0) {
                end = at + links->interleavedEnd;
                cellEnds = (seamless & kCellEnds) == kCellEnds;
                step = angleLink(seamless);
            }
        }
        end = std::min(end, cell.last);
        if (!units.empty() && units.back().last + 1 == at) {
            units.back().last = end;
        } else {
            units.push_back(SectorRun{at, end});
        }
        if (cellEnds) {
            return units;
        }
        if (at + step <= end) {
            why = "the link at sector " + std::to_string(at) + " leads back";
            return units;
        }
        at += step;
    }
    return units;
}

}  // namespace

std::unique_ptr<SpanSource> DvdDisc::titleSource(int number, int angle) const {
    const DiscTitle* found = title(number);
    if (found == nullptr) {
        noSuchTitle(number);
    }
    if (!found->damage.empty()) {
        throw PlatformError("Cannot read title " + std::to_string(number) + " of \"" + path() +
                                "\". " + found->damage,
                            ErrorCode::InvalidData);
    }
    if (angle < 1 || angle > found->angles ||
        static_cast<size_t>(angle) > found->angleCells.size()) {
        throw PlatformError("Title " + std::to_string(number) + " of \"" + path() +
                                "\" has no angle " + std::to_string(angle) + ": it has " +
                                std::to_string(found->angles) + ".",
                            ErrorCode::NotFound);
    }
    char name[32];
    std::snprintf(name, sizeof name, "VTS_%02d", found->titleSet);
    const std::vector<SectorRun>& runs = found->angleCells[static_cast<size_t>(angle - 1)];
    if (runs.empty()) {
        throw PlatformError("Title " + std::to_string(number) + " of \"" + path() +
                                "\" plays nothing: its program chain has no cell",
                            ErrorCode::InvalidData);
    }
    // One reader of the title set's VOB files for every run: a title of hundreds of cells
    // holds the files open once.
    dvd_file_t* file = DVDOpenFile(reader_->dvd, found->titleSet, DVD_READ_TITLE_VOBS);
    if (file == nullptr) {
        throw PlatformError("Cannot open the VOB files of title set " +
                            std::to_string(found->titleSet) + " of \"" + path() + "\"");
    }
    const auto vobs = std::make_shared<TitleSetVobs>(reader_, file, path() + " " + name);
    std::error_code error;
    const auto imageSize = std::filesystem::is_regular_file(path(), error)
                               ? static_cast<int64_t>(std::filesystem::file_size(path(), error))
                               : int64_t{-1};
    if (imageSize >= 0 && vobs->size() > imageSize) {
        throw PlatformError("Cannot read disc \"" + path() + "\". The VOB files of title set " +
                                std::to_string(found->titleSet) + " claim " +
                                std::to_string(vobs->size()) + " bytes, more than the image holds",
                            ErrorCode::InvalidData);
    }
    std::vector<SourceSpan> spans;
    std::vector<std::string> notes;
    std::vector<SectorRun> followed;
    for (const SectorRun& cell : runs) {
        if (!cell.interleaved || (cell.last + 1) * kSector > vobs->size()) {
            followed.push_back(cell);
            continue;
        }
        std::string why;
        const std::vector<SectorRun> units = angleUnits(*vobs, cell, angle, why);
        followed.insert(followed.end(), units.begin(), units.end());
        if (!why.empty()) {
            notes.push_back("Angle " + std::to_string(angle) + "'s units of sectors " +
                            std::to_string(cell.first) + " to " + std::to_string(cell.last) +
                            " end early: " + why);
        }
    }
    for (const SectorRun& run : followed) {
        if ((run.last + 1) * kSector > vobs->size()) {
            throw PlatformError("Cannot read disc \"" + path() + "\". Title " +
                                    std::to_string(number) +
                                    " has cells past the end of its VOB files",
                                ErrorCode::InvalidData);
        }
        if (spans.empty() && encrypted(*vobs, run)) {
            throw PlatformError("Cannot read title " + std::to_string(number) + " of \"" + path() +
                                    "\". This disc is encrypted: decrypt it first",
                                ErrorCode::Encrypted);
        }
        spans.push_back(SourceSpan{std::string(name) + " title " + std::to_string(number),
                                   std::make_unique<SharedInput>(vobs), run.first * kSector,
                                   (run.last - run.first + 1) * kSector});
    }
    auto source = std::make_unique<SpanSource>(std::move(spans));
    source->setKind(SourceKind::DvdTitle);
    for (std::string& note : notes) {
        source->addNote(std::move(note));
    }
    return source;
}

std::optional<DiscTitle> titleOfVobFile(const std::string& vobPath) {
    const std::filesystem::path path(vobPath);
    const std::string name = path.filename().string();
    int set = 0;
    int part = 0;
    char tail = 0;
    if (name.size() != 12 ||
        std::sscanf(name.c_str(), "VTS_%2d_%1d.VO%c", &set, &part, &tail) != 3 || tail != 'B' ||
        part < 1) {
        return std::nullopt;
    }
    const std::filesystem::path folder = path.parent_path().empty() ? "." : path.parent_path();
    std::error_code error;
    if (!std::filesystem::exists(folder / "VIDEO_TS.IFO", error)) {
        return std::nullopt;
    }
    try {
        const std::unique_ptr<DvdDisc> disc = DvdDisc::open(folder.string());
        for (const DiscTitle& title : disc->titles()) {
            if (title.titleSet == set) {
                return title;
            }
        }
    } catch (const PlatformError&) {
        // A file read on its own needs no disc: it is read without the disc's languages.
    }
    return std::nullopt;
}

}  // namespace tolvane
