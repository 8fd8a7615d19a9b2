// A multi-angle DVD title: dvdauthor authors its cells, and the test turns two of them into an
// interleaved angle block as discs sold with angles have them (what no authoring tool on Debian
// writes). Each angle the reader gives is judged frame for frame against the streams the test
// encoded and against what libdvdnav plays for that angle.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "child_process.h"
#include "form_fixture.h"
#include "temp_dir.h"

namespace tolvane {
namespace {

using Json = nlohmann::json;
using fixture::Bytes;

// One title of four cells: a.mpg, then b1.mpg and b2.mpg (the two angles, 3 s each, of other
// pictures and tones), then c.mpg; b2 starts no chapter, so the chapters are at 0, 2 and 5 s.
const char* const kAuthor = R"(set -e
export VIDEO_FORMAT=PAL
part() {
  ffmpeg -v error -f lavfi -i $2=size=720x576:rate=25:duration=$3 \
    -f lavfi -i sine=frequency=$4:sample_rate=48000:duration=$3 -target pal-dvd -b:v 800k $1.mpg
}
part a testsrc2 2 440
part b1 testsrc 3 550
part b2 smptebars 3 660
part c rgbtestsrc 2 770
cat > disc.xml <<END
<dvdauthor dest="DISC"><vmgm/><titleset><titles><pgc>
<vob file="a.mpg"><cell start="0" chapter="1"/></vob>
<vob file="b1.mpg"><cell start="0" chapter="1"/></vob>
<vob file="b2.mpg"><cell start="0" chapter="0" program="0"/></vob>
<vob file="c.mpg"><cell start="0" chapter="1"/></vob>
</pgc></titles></titleset></dvdauthor>
END
dvdauthor -x disc.xml 2> /dev/null
)";

uint32_t get(const Bytes& bytes, size_t at, size_t size) {
    uint32_t value = 0;
    for (size_t k = 0; k < size; ++k) {
        value = value << 8 | bytes[at + k];
    }
    return value;
}

void put(Bytes& bytes, size_t at, size_t size, uint32_t value) {
    for (size_t k = size; k-- > 0; value >>= 8) {
        bytes[at + k] = static_cast<uint8_t>(value & 0xFF);
    }
}

constexpr size_t kSector = 2048;
constexpr size_t kPci = 0x2D;   // the PCI's data in a navigation pack
constexpr size_t kDsi = 0x407;  // the DSI's

// A VOBU of the title set's VOB: where its navigation pack is and how many sectors it has.
struct Vobu {
    size_t sector = 0;
    size_t sectors = 0;
    int vob = 0;
};

std::vector<Vobu> vobus(const Bytes& vob) {
    std::vector<Vobu> found;
    for (size_t sector = 0; (sector + 1) * kSector <= vob.size(); ++sector) {
        const size_t at = sector * kSector;
        if (get(vob, at + 0x26, 4) == 0x1BF && vob[at + 0x2C] == 0 &&
            get(vob, at + 0x400, 4) == 0x1BF && vob[at + 0x406] == 1) {
            found.push_back(Vobu{sector, get(vob, at + kDsi + 8, 4) + 1U,
                                 static_cast<int>(get(vob, at + kDsi + 24, 2))});
        }
    }
    return found;
}

// BCD hours, minutes, seconds and frames at 25 a second, as frames; and back.
int frames(const Bytes& b, size_t at) {
    const auto bcd = [](uint8_t v) { return (v >> 4) * 10 + (v & 0x0F); };
    return ((bcd(b[at]) * 60 + bcd(b[at + 1])) * 60 + bcd(b[at + 2])) * 25 + bcd(b[at + 3] & 0x3F);
}

void putFrames(Bytes& b, size_t at, int count) {
    const auto bcd = [](int v) { return static_cast<uint8_t>((v / 10) << 4 | (v % 10)); };
    b[at] = bcd(count / 90000);
    b[at + 1] = bcd(count / 1500 % 60);
    b[at + 2] = bcd(count / 25 % 60);
    b[at + 3] = static_cast<uint8_t>(0x40 | bcd(count % 25));
}

// Turns cells 2 and 3 of the title (VOBs 2 and 3 of VTS_01_1.VOB) into an interleaved, seamless
// angle block of two angles: their VOBUs two by two into interleaved units, angle 1's before
// angle 2's; each navigation pack's address, seamless category, unit end and links to the next
// unit of every angle; the cells' block flags and sectors, the chain's time (the block counts
// once), the title's angle count and the VOBU address map.
void interleaveAngles(const std::filesystem::path& folder) {
    Bytes vob = fixture::readFile(folder / "VTS_01_1.VOB");
    const std::vector<Vobu> all = vobus(vob);
    std::vector<Vobu> angle[2];
    for (const Vobu& unit : all) {
        if (unit.vob == 2 || unit.vob == 3) {
            angle[unit.vob - 2].push_back(unit);
        }
    }
    ASSERT_EQ(angle[0].size(), angle[1].size());
    ASSERT_GE(angle[0].size(), 3U);
    const size_t regionStart = angle[0].front().sector;
    const size_t unitsPerAngle = (angle[0].size() + 1) / 2;
    // Where each VOBU goes: unit u of angle a holds VOBUs 2u and 2u + 1.
    std::map<std::pair<int, size_t>, size_t> placed;   // (angle, VOBU) -> new sector
    std::vector<std::pair<size_t, size_t>> unitAt[2];  // per angle: first and last sector
    Bytes region;
    for (size_t u = 0; u < unitsPerAngle; ++u) {
        for (int a = 0; a < 2; ++a) {
            const size_t first = regionStart + region.size() / kSector;
            for (size_t v = 2 * u; v < std::min(2 * u + 2, angle[a].size()); ++v) {
                placed[{a, v}] = regionStart + region.size() / kSector;
                const auto from = vob.begin() + static_cast<long>(angle[a][v].sector * kSector);
                region.insert(region.end(), from,
                              from + static_cast<long>(angle[a][v].sectors * kSector));
            }
            unitAt[a].emplace_back(first, regionStart + region.size() / kSector - 1);
        }
    }
    std::copy(region.begin(), region.end(), vob.begin() + static_cast<long>(regionStart * kSector));
    for (int a = 0; a < 2; ++a) {
        for (size_t v = 0; v < angle[a].size(); ++v) {
            const size_t s = placed[{a, v}];
            const size_t u = v / 2;
            const bool firstInUnit = v % 2 == 0;
            const bool lastInUnit = v % 2 == 1 || v + 1 == angle[a].size();
            const bool lastUnit = u + 1 == unitsPerAngle;
            const size_t at = s * kSector;
            const auto relative = [&](size_t to) { return static_cast<uint32_t>(to - s); };
            put(vob, at + kPci, 4, static_cast<uint32_t>(s));
            put(vob, at + kDsi + 4, 4, static_cast<uint32_t>(s));
            put(vob, at + kDsi + 32, 2,
                0x4000 | (firstInUnit ? 0x2000 : 0) | (lastInUnit ? 0x1000 : 0));
            put(vob, at + kDsi + 34, 4, relative(unitAt[a][u].second));
            put(vob, at + kDsi + 38, 4, lastUnit ? 0 : relative(unitAt[a][u + 1].first));
            put(vob, at + kDsi + 42, 2,
                lastUnit
                    ? 0
                    : static_cast<uint32_t>(unitAt[a][u + 1].second - unitAt[a][u + 1].first + 1));
            for (int other = 0; other < 2; ++other) {
                const size_t link = kDsi + 180 + 6 * static_cast<size_t>(other);
                put(vob, at + link, 4,
                    lastUnit ? 0x7FFFFFFF : relative(unitAt[other][u + 1].first));
                put(vob, at + link + 4, 2,
                    lastUnit ? 0
                             : static_cast<uint32_t>(unitAt[other][u + 1].second -
                                                     unitAt[other][u + 1].first + 1));
            }
            if (lastInUnit && !lastUnit) {
                const uint32_t next = 0x80000000U | relative(placed[{a, v + 1}]);
                put(vob, at + kDsi + 234, 4, next);  // the next VOBU with video
                put(vob, at + kDsi + 314, 4, next);
            }
            if (firstInUnit && v > 0) {
                const uint32_t back = 0x80000000U | static_cast<uint32_t>(s - placed[{a, v - 1}]);
                put(vob, at + kDsi + 318, 4, back);
                put(vob, at + kDsi + 398, 4, back);
            }
        }
    }
    fixture::writeFile(folder / "VTS_01_1.VOB", vob);

    Bytes ifo = fixture::readFile(folder / "VTS_01_0.IFO");
    const size_t table = get(ifo, 0xCC, 4) * kSector;
    const size_t chain = table + get(ifo, table + 12, 4);
    ASSERT_EQ(ifo[chain + 3], 4) << "cells of the title's chain";
    const size_t cells = chain + get(ifo, chain + 0xE8, 2);
    for (int a = 0; a < 2; ++a) {
        const size_t cell = cells + 24 * static_cast<size_t>(a + 1);
        // Block mode first or last, angle block, interleaved, seamless angle.
        ifo[cell] =
            static_cast<uint8_t>((a == 0 ? 0x40 : 0xC0) | 0x10 | 0x04 | 0x01 | (ifo[cell] & 0x0A));
        put(ifo, cell + 8, 4, static_cast<uint32_t>(unitAt[a].front().first));
        put(ifo, cell + 12, 4, static_cast<uint32_t>(unitAt[a].front().second));
        put(ifo, cell + 16, 4, static_cast<uint32_t>(placed[{a, angle[a].size() - 1}]));
        put(ifo, cell + 20, 4, static_cast<uint32_t>(unitAt[a].back().second));
    }
    putFrames(ifo, chain + 4,
              frames(ifo, cells + 4) + frames(ifo, cells + 24 + 4) + frames(ifo, cells + 72 + 4));
    // The VOBU address map: every VOBU's sector, in order.
    const size_t map = get(ifo, 0xE4, 4) * kSector;
    std::vector<size_t> starts;
    for (const Vobu& unit : vobus(vob)) {
        starts.push_back(unit.sector);
    }
    ASSERT_EQ((get(ifo, map, 4) + 1 - 4) / 4, starts.size());
    for (size_t k = 0; k < starts.size(); ++k) {
        put(ifo, map + 4 + 4 * k, 4, static_cast<uint32_t>(starts[k]));
    }
    fixture::writeFile(folder / "VTS_01_0.IFO", ifo);
    fixture::writeFile(folder / "VTS_01_0.BUP", ifo);

    Bytes manager = fixture::readFile(folder / "VIDEO_TS.IFO");
    manager[get(manager, 0xC4, 4) * kSector + 8 + 1] = 2;  // title 1's angles
    fixture::writeFile(folder / "VIDEO_TS.IFO", manager);
    fixture::writeFile(folder / "VIDEO_TS.BUP", manager);
}

// The MD5 of each decoded picture of a file's first video stream, in order.
std::vector<std::string> pictures(const std::string& file) {
    const fixture::ProcessResult decoded = fixture::runProcess(
        "/bin/sh",
        {"-c", "ffmpeg -v error -i '" + file + "' -map 0:v:0 -fps_mode passthrough -f framemd5 -"},
        "/");
    std::vector<std::string> hashes;
    std::istringstream lines(decoded.out);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line[0] != '#') {
            hashes.push_back(line.substr(line.rfind(',') + 2));
        }
    }
    return hashes;
}

std::vector<std::string> joined(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const std::vector<std::string>& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

TEST(DvdDisc, EachAngleOfAnInterleavedBlockIsItsOwnPicturesAsLibdvdnavPlaysThem) {
    for (const char* tool : {"ffmpeg", "ffprobe", "dvdauthor", "lsdvd"}) {
        if (!fixture::installed(tool)) {
            GTEST_SKIP() << tool << " is not installed: no disc to author";
        }
    }
    fixture::TempDir dir;
    const std::filesystem::path root = dir.path();
    const fixture::ProcessResult made = fixture::runProcess("/bin/sh", {"-c", kAuthor}, root);
    ASSERT_EQ(made.status, 0) << made.err;
    interleaveAngles(root / "DISC" / "VIDEO_TS");
    const std::string disc = (root / "DISC").string();
    const std::string listed =
        fixture::runProcess("/bin/sh", {"-c", "lsdvd -x '" + disc + "' 2>/dev/null"}, "/").out;
    ASSERT_NE(listed.find("Number of Angles: 2"), std::string::npos) << listed;
    ASSERT_NE(listed.find("Length: 00:00:07.000"), std::string::npos) << listed;

    const Json title = Json::parse(
        fixture::runProcess(TOLVANE_CLI, {"titles", disc, "--json"}, "/").out)["titles"][0];
    EXPECT_EQ(title["angles"], 2);
    EXPECT_EQ(title["angle_blocks"],
              Json::parse(R"([{"start": 2.0, "end": 5.0, "chapters": [2]}])"));

    const std::vector<std::string> shared[2] = {pictures((root / "a.mpg").string()),
                                                pictures((root / "c.mpg").string())};
    for (const int angle : {1, 2}) {
        SCOPED_TRACE("angle " + std::to_string(angle));
        const std::vector<std::string> expected =
            joined({shared[0], pictures((root / ("b" + std::to_string(angle) + ".mpg")).string()),
                    shared[1]});
        ASSERT_EQ(expected.size(), 175U);
        const std::filesystem::path out = root / ("demux" + std::to_string(angle));
        const fixture::ProcessResult demuxed = fixture::runProcess(
            TOLVANE_CLI,
            {"demux", disc, "--title", "1", "--angle", std::to_string(angle), "-o", out.string()},
            "/");
        ASSERT_EQ(demuxed.status, 0) << demuxed.err;
        EXPECT_EQ(demuxed.out.find("end early"), std::string::npos) << demuxed.out;
        const std::string video =
            (out / ("DISC_title01" + (angle > 1 ? "_angle" + std::to_string(angle) : "") +
                    ".MPEG-2.stream.0.mpv"))
                .string();
        EXPECT_TRUE(pictures(video) == expected) << video;
#ifdef TOLVANE_DVDNAV_PLAY
        const std::string played = (root / ("played" + std::to_string(angle) + ".vob")).string();
        const fixture::ProcessResult play = fixture::runProcess(
            "/bin/sh",
            {"-c", "ASAN_OPTIONS=detect_leaks=0 '" + std::string(TOLVANE_DVDNAV_PLAY) + "' '" +
                       disc + "' 1 " + std::to_string(angle) + " '" + played + "' 2>/dev/null"},
            "/");
        ASSERT_EQ(play.status, 0);
        EXPECT_TRUE(pictures(played) == expected) << "libdvdnav's angle " << angle;
#endif
    }

    // Every angle to Matroska, one file each.
    const std::filesystem::path out = root / "mkv";
    const fixture::ProcessResult all = fixture::runProcess(
        TOLVANE_CLI, {"mkv", disc, "--title", "1", "--all-angles", "-o", out.string()}, "/");
    ASSERT_EQ(all.status, 0) << all.err;
    std::set<std::string> written;
    for (const auto& entry : std::filesystem::directory_iterator(out)) {
        written.insert(entry.path().filename().string());
    }
    EXPECT_EQ(written, (std::set<std::string>{"DISC_title01.mkv", "DISC_title01_angle2.mkv"}));
    EXPECT_TRUE(pictures((out / "DISC_title01_angle2.mkv").string()) ==
                joined({shared[0], pictures((root / "b2.mpg").string()), shared[1]}));

    // The window lists each angle of the title and demuxes the one chosen.
    fixture::FormFixture window;
    MainForm& form = window.form;
    form.setText(Control::eWorkdir, (root / "window").string());
    form.setTicked(Control::cbAutoRead, false);
    form.chooseSource(disc);
    std::vector<std::string> entries;
    for (const MainForm::TitleChoice& choice : form.titleChoices()) {
        entries.push_back(choice.entry);
    }
    EXPECT_EQ(entries,
              (std::vector<std::string>{"Title 1, angle 1: 0:00:07.000, 3 chapters, main title",
                                        "Title 1, angle 2: 0:00:07.000, 3 chapters, main title"}));
    form.chooseTitle(1, 2);
    form.bDemuxClick();
    EXPECT_TRUE(pictures((root / "window" / "DISC_title01_angle2.MPEG-2.stream.0.mpv").string()) ==
                joined({shared[0], pictures((root / "b2.mpg").string()), shared[1]}))
        << window.logMarkup().back();

    // A damaged link that leads back ends the angle's units there, said, instead of looping.
    const std::filesystem::path vobFile = root / "DISC" / "VIDEO_TS" / "VTS_01_1.VOB";
    Bytes vob = fixture::readFile(vobFile);
    std::vector<Vobu> secondAngle;
    for (const Vobu& unit : vobus(vob)) {
        if (unit.vob == 3) {
            secondAngle.push_back(unit);
        }
    }
    put(vob, secondAngle[1].sector * kSector + kDsi + 180 + 6, 4, 0x80000005);
    fixture::writeFile(vobFile, vob);
    const std::filesystem::path cut = root / "cut";
    const fixture::ProcessResult damaged = fixture::runProcess(
        TOLVANE_CLI, {"demux", disc, "--title", "1", "--angle", "2", "-o", cut.string()}, "/");
    ASSERT_EQ(damaged.status, 0) << damaged.err;
    EXPECT_NE(damaged.out.find("Angle 2's units of sectors"), std::string::npos) << damaged.out;
    EXPECT_NE(damaged.out.find("end early: the link at sector"), std::string::npos);
    const std::vector<std::string> kept =
        pictures((cut / "DISC_title01_angle2.MPEG-2.stream.0.mpv").string());
    const std::vector<std::string> b2 = pictures((root / "b2.mpg").string());
    EXPECT_TRUE(kept == joined({shared[0], {b2.begin(), b2.begin() + 30}, shared[1]}));
}

}  // namespace
}  // namespace tolvane
