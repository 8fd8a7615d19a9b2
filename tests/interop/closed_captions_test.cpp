// Closed captions in the two forms MPEG-2 video carries them, written by the test support into
// ffmpeg's pictures (no tool writes EIA-608 from text), judged by ffmpeg's own caption decoder
// (movie=...[out+subcc]) and by its Scenarist reader.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "caption_stream.h"
#include "child_process.h"
#include "temp_dir.h"

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using fixture::CaptionCarriage;
using fixture::captionWord;
using fixture::FrameCaptions;
using Json = nlohmann::json;

constexpr int kFrames = 300;  // 10 s at 29.97

// Caption words frame by frame, as a captioner sends them.
struct Script {
    std::vector<FrameCaptions> frames = std::vector<FrameCaptions>(kFrames);

    fixture::CaptionPair& at(int field, int frame) {
        FrameCaptions& words = frames.at(static_cast<size_t>(frame));
        return field == 1 ? words.field1 : words.field2;
    }
    // A command in `frame`, and its copy in the next unless `once`.
    void command(int field, int frame, uint8_t hi, uint8_t lo, bool once = false) {
        at(field, frame) = captionWord(hi, lo);
        if (!once) {
            at(field, frame + 1) = captionWord(hi, lo);
        }
    }
    // Characters two a frame from `frame`; returns the frame after them.
    int text(int field, int frame, const std::string& chars) {
        for (size_t k = 0; k < chars.size(); k += 2, ++frame) {
            at(field, frame) =
                captionWord(static_cast<uint8_t>(chars[k]),
                            k + 1 < chars.size() ? static_cast<uint8_t>(chars[k + 1]) : 0);
        }
        return frame;
    }
};

// Misc commands of field 1's first channel (0x14) and field 2's (0x15), and preamble codes of
// row 15 and 14, column 0.
constexpr uint8_t kRcl = 0x20, kEdm = 0x2C, kCr = 0x2D, kEnm = 0x2E, kEoc = 0x2F;
constexpr uint8_t kRu2 = 0x25, kRdc = 0x29;
constexpr uint8_t kRow15 = 0x60, kRow14 = 0x40;

// CC1: two pop-on captions (the second with a special and an extended character), roll-up
// lines, paint-on text; CC3: one pop-on caption. Each roll-up and paint-on line starts the
// frame after the erase or return before it, as ffmpeg times such text from that command.
Script atscScript() {
    Script s;
    s.command(1, 2, 0x14, kRcl);
    s.command(1, 4, 0x14, kEnm);
    s.command(1, 6, 0x14, kRow15);
    s.text(1, 8, "HELLO WORLD");
    s.command(1, 20, 0x14, kEoc);
    s.command(1, 30, 0x14, kRcl);
    s.command(1, 32, 0x14, kRow14);
    int next = s.text(1, 34, "MUSIC ");
    s.command(1, next, 0x11, 0x37);  // a musical note
    s.command(1, next + 2, 0x14, kRow15);
    next = s.text(1, next + 4, "U");
    s.command(1, next, 0x12, 0x24);  // U with diaeresis, in the place of the U
    s.text(1, next + 2, "BER ALLES");
    s.command(1, 70, 0x14, kEoc);
    s.command(1, 100, 0x14, kEdm);
    s.command(1, 110, 0x14, kRu2);
    s.command(1, 112, 0x14, kRow15);
    s.command(1, 114, 0x14, kEdm, true);
    s.text(1, 115, "FIRST LINE");
    s.command(1, 130, 0x14, kCr, true);
    s.text(1, 131, "SECOND LINE");
    s.command(1, 150, 0x14, kCr, true);
    s.command(1, 160, 0x14, kEdm);
    s.command(1, 170, 0x14, kRdc, true);
    s.command(1, 171, 0x14, kRow15, true);
    s.command(1, 172, 0x14, kEdm, true);
    s.text(1, 173, "PAINTED ON");
    s.command(1, 200, 0x14, kEdm);
    // Field 2's first channel.
    s.command(2, 40, 0x15, kRcl);
    s.command(2, 42, 0x14, kRow15);
    s.text(2, 44, "DRITTE ZEILE");
    s.command(2, 80, 0x15, kEoc);
    s.command(2, 120, 0x15, kEdm);
    return s;
}

// The DVD form is read by ffmpeg a group at a time, at the group's first picture: every command
// that changes the screen is in a group's first frame (groups of 15).
Script dvdScript() {
    Script s;
    s.command(1, 2, 0x14, kRcl);
    s.command(1, 4, 0x14, kRow15);
    s.text(1, 6, "DVD FORM");
    s.command(1, 30, 0x14, kEoc);
    s.command(1, 32, 0x14, kRcl);
    s.command(1, 34, 0x14, kRow14);
    s.text(1, 36, "SECOND CAPTION");
    s.command(1, 60, 0x14, kEoc);
    s.command(1, 90, 0x14, kEdm);
    s.command(2, 5, 0x15, kRcl);
    s.command(2, 7, 0x14, kRow15);
    s.text(2, 9, "FIELD TWO");
    s.command(2, 45, 0x15, kEoc);
    s.command(2, 75, 0x15, kEdm);
    return s;
}

struct Cue {
    double start = 0;
    double end = 0;
    std::string text;
};

// The cues of a SubRip file, their text without markup ({...} and <...>) and each line trimmed.
std::vector<Cue> cuesOf(const std::string& srt) {
    std::vector<Cue> cues;
    std::istringstream in(srt);
    std::string line;
    while (std::getline(in, line)) {
        int h1 = 0, m1 = 0, s1 = 0, ms1 = 0, h2 = 0, m2 = 0, s2 = 0, ms2 = 0;
        if (std::sscanf(line.c_str(), "%d:%d:%d,%d --> %d:%d:%d,%d", &h1, &m1, &s1, &ms1, &h2, &m2,
                        &s2, &ms2) != 8) {
            continue;
        }
        Cue cue{h1 * 3600.0 + m1 * 60 + s1 + ms1 / 1000.0,
                h2 * 3600.0 + m2 * 60 + s2 + ms2 / 1000.0, ""};
        while (std::getline(in, line) && !line.empty() && line != "\r") {
            std::string plain;
            for (size_t k = 0; k < line.size(); ++k) {
                const char close = line[k] == '{' ? '}' : line[k] == '<' ? '>' : 0;
                if (close != 0 && line.find(close, k) != std::string::npos) {
                    k = line.find(close, k);
                } else if (line.compare(k, 2, "\\h") == 0) {
                    plain += ' ';
                    ++k;
                } else if (line[k] != '\r') {
                    plain += line[k];
                }
            }
            const size_t first = plain.find_first_not_of(' ');
            if (first != std::string::npos) {
                plain = plain.substr(first, plain.find_last_not_of(' ') - first + 1);
                cue.text += (cue.text.empty() ? "" : "\n") + plain;
            }
        }
        cues.push_back(cue);
    }
    return cues;
}

std::string fileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Each word of a Scenarist file at its frame: its drop-frame time code counted back to frames,
// a frame a word along its line.
std::map<int, std::string> sccWords(const std::string& scc) {
    std::map<int, std::string> words;
    std::istringstream in(scc);
    std::string line;
    while (std::getline(in, line)) {
        int hours = 0, mins = 0, secs = 0, frames = 0;
        if (line.size() < 12 || line[11] != '\t' ||
            std::sscanf(line.c_str(), "%2d:%2d:%2d;%2d", &hours, &mins, &secs, &frames) != 4) {
            continue;
        }
        const int minutes = hours * 60 + mins;
        int frame = (minutes * 60 + secs) * 30 + frames - 2 * (minutes - minutes / 10);
        std::istringstream list(line.substr(12));
        for (std::string word; list >> word; ++frame) {
            words[frame] = word;
        }
    }
    return words;
}

fixture::ProcessResult sh(const std::string& command, const fs::path& dir) {
    return fixture::runProcess("/bin/sh", {"-c", command}, dir.string());
}

TEST(ClosedCaptions, BothFormsGiveTheTextAndTimesFfmpegsDecoderGives) {
    for (const char* tool : {"ffmpeg", "ffprobe"}) {
        if (!fixture::installed(tool)) {
            GTEST_SKIP() << tool << " is not installed";
        }
    }
    fixture::TempDir dir;
    const fs::path root = dir.path();
    for (const CaptionCarriage carriage : {CaptionCarriage::Atsc, CaptionCarriage::Dvd}) {
        const bool dvd = carriage == CaptionCarriage::Dvd;
        SCOPED_TRACE(dvd ? "DVD form" : "A/53 form");
        const std::string name = dvd ? "dvd" : "atsc";
        // ffmpeg's pictures: B-pictures shown out of order for A/53, groups of 15 for both.
        ASSERT_EQ(sh("ffmpeg -v error -f lavfi -i testsrc=size=720x480:rate=30000/1001 -frames:v " +
                         std::to_string(kFrames) + " -c:v mpeg2video -g 15 " +
                         (dvd ? "-bf 0" : "-bf 2") + " -f mpeg2video -y plain.m2v",
                     root)
                      .status,
                  0);
        const Script script = dvd ? dvdScript() : atscScript();
        const std::vector<uint8_t> captioned =
            fixture::withCaptions(fixture::readFile(root / "plain.m2v"), script.frames, carriage);
        std::ofstream(root / (name + ".m2v"), std::ios::binary)
            .write(reinterpret_cast<const char*>(captioned.data()),
                   static_cast<std::streamsize>(captioned.size()));
        ASSERT_EQ(sh("ffmpeg -v error -fflags +genpts -r 30000/1001 -i " + name +
                         ".m2v -c copy -f vob -y " + name + ".vob",
                     root)
                      .status,
                  0);

        // The read names the form and the channels that show text.
        const Json read =
            Json::parse(fixture::runProcess(
                            TOLVANE_CLI, {"read", (root / (name + ".vob")).string(), "--json"}, "/")
                            .out);
        const Json& captions = read["streams"][0]["closed_captions"];
        EXPECT_EQ(captions["form"], name);
        EXPECT_EQ(captions["channels"], Json::array({"CC1", "CC3"}));

        const fs::path out = root / ("out-" + name);
        const fixture::ProcessResult demuxed = fixture::runProcess(
            TOLVANE_CLI,
            {"demux", (root / (name + ".vob")).string(), "--captions", "-o", out.string()}, "/");
        ASSERT_EQ(demuxed.status, 0) << demuxed.err;
        const std::string base = (out / (name + ".MPEG-2.stream.0")).string();

        // Each channel ffmpeg decodes (field 1's first, field 2's first) gives the same cues.
        for (const auto& [channel, field] :
             {std::pair{"CC1", "first"}, std::pair{"CC3", "second"}}) {
            SCOPED_TRACE(channel);
            const fixture::ProcessResult theirs =
                sh("ffmpeg -v error -data_field " + std::string(field) +
                       " -f lavfi -i 'movie=" + name + ".m2v[out+subcc]' -map 0:1 -f srt -",
                   root);
            ASSERT_EQ(theirs.status, 0) << theirs.err;
            const std::vector<Cue> expected = cuesOf(theirs.out);
            const std::vector<Cue> ours = cuesOf(fileText(base + "." + channel + ".srt"));
            ASSERT_FALSE(expected.empty());
            ASSERT_EQ(ours.size(), expected.size()) << theirs.out << "\n---\n"
                                                    << fileText(base + "." + channel + ".srt");
            for (size_t k = 0; k < ours.size(); ++k) {
                SCOPED_TRACE(k);
                EXPECT_EQ(ours[k].text, expected[k].text);
                EXPECT_NEAR(ours[k].start, expected[k].start, 1001.0 / 30000 + 0.002);
                EXPECT_NEAR(ours[k].end, expected[k].end, 1001.0 / 30000 + 0.002);
            }
        }

        // The Scenarist file holds every word of field 1 the test put in, at its frame; ffmpeg
        // reads it back to the same captions (at its line's time: its reader takes a line at once).
        const std::string scc = fileText(base + ".scc");
        std::map<int, std::string> expectedWords;
        for (int frame = 0; frame < kFrames; ++frame) {
            const fixture::CaptionPair word = script.frames[static_cast<size_t>(frame)].field1;
            if ((word[0] & 0x7F) != 0 || (word[1] & 0x7F) != 0) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "%02x%02x", word[0], word[1]);
                expectedWords[frame] = hex;
            }
        }
        EXPECT_EQ(sccWords(scc), expectedWords) << scc;
        const std::vector<Cue> fromScc =
            cuesOf(sh("ffmpeg -v error -i '" + base + ".scc' -f srt -", root).out);
        const std::vector<Cue> ours = cuesOf(fileText(base + ".CC1.srt"));
        ASSERT_EQ(fromScc.size(), ours.size());
        for (size_t k = 0; k < ours.size(); ++k) {
            EXPECT_EQ(fromScc[k].text, ours[k].text);
            EXPECT_NEAR(fromScc[k].start, ours[k].start, 0.25);
        }

        // mkv writes the same files beside the Matroska file, on its timeline (its zero is the
        // first picture's, as the demux's is here).
        const fixture::ProcessResult made =
            fixture::runProcess(TOLVANE_CLI,
                                {"mkv", (root / (name + ".vob")).string(), "--captions", "-o",
                                 (out / "film.mkv").string()},
                                "/");
        ASSERT_EQ(made.status, 0) << made.err;
        for (const char* kind : {".CC1.srt", ".CC3.srt", ".scc"}) {
            EXPECT_EQ(fileText(out / ("film" + std::string(kind))), fileText(base + kind)) << kind;
        }

        // A disc dvdauthor makes of the DVD form: its title gives the same files.
        if (!dvd || !fixture::installed("dvdauthor")) {
            continue;
        }
        ASSERT_EQ(sh("ffmpeg -v fatal -fflags +genpts -r 30000/1001 -i dvd.m2v -c copy -f dvd -y "
                     "dvd.mpg && VIDEO_FORMAT=NTSC dvdauthor -o DISC -t dvd.mpg >/dev/null 2>&1 && "
                     "VIDEO_FORMAT=NTSC dvdauthor -o DISC -T >/dev/null 2>&1",
                     root)
                      .status,
                  0);
        ASSERT_EQ(fixture::runProcess(TOLVANE_CLI,
                                      {"demux", (root / "DISC").string(), "--title", "1",
                                       "--captions", "-o", (out / "title").string()},
                                      "/")
                      .status,
                  0);
        for (const char* kind : {".CC1.srt", ".CC3.srt", ".scc"}) {
            EXPECT_EQ(
                fileText(out / "title" / ("DISC_title01.MPEG-2.stream.0" + std::string(kind))),
                fileText(base + kind))
                << kind;
        }
    }
}

}  // namespace
}  // namespace tolvane
