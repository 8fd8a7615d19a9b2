// Hostile and damaged discs, as a fuzzing team would hand-make them: outputs aimed at the disc's
// own files, pipes inside a disc, UDF images whose extents loop or lie, program chains that list
// one VOB again and again, limits on descriptors and file sizes. Each ends with a clear message
// or a whole result, in bounded time and memory, with nothing of the user's changed.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include <nlohmann/json.hpp>

#include "child_process.h"
#include "temp_dir.h"
#include "udf_image.h"

namespace tolvane {
namespace {

using Json = nlohmann::json;
namespace fs = std::filesystem;

std::string bytes(const fs::path& path) {
    const std::vector<uint8_t> content = fixture::readFile(path);
    return std::string(content.begin(), content.end());
}

// Every regular file below `folder`, by path, with its bytes: what must not change.
std::map<std::string, std::string> snapshot(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            files[entry.path().string()] = bytes(entry.path());
        }
    }
    return files;
}

// The names in `folder`, none when there is no such folder.
std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    if (!fs::exists(folder)) {
        return names;
    }
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// An address-space limit in KiB, where the program can run under one: AddressSanitizer maps
// terabytes of shadow memory and keeps its own watch.
std::string memoryLimit(int kib) {
#if defined(__SANITIZE_ADDRESS__)
    static_cast<void>(kib);
    return ":";
#else
    return "ulimit -v " + std::to_string(kib);
#endif
}

struct CliRun {
    fixture::ProcessResult result;
    double seconds = 0;
};

// tolvane-cli under `limits` (shell ulimit commands), stopped after 60 s: a hang shows as 124.
CliRun cli(const std::vector<std::string>& args, const std::string& limits = "") {
    std::string command = (limits.empty() ? ":" : limits) + "; exec timeout -s KILL 60 \"$0\"";
    for (size_t k = 1; k <= args.size(); ++k) {
        command += " \"$" + std::to_string(k) + "\"";
    }
    std::vector<std::string> shellArgs = {"-c", command, TOLVANE_CLI};
    shellArgs.insert(shellArgs.end(), args.begin(), args.end());
    const auto start = std::chrono::steady_clock::now();
    CliRun run{fixture::runProcess("/bin/sh", shellArgs, "/")};
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return run;
}

using fixture::installed;

// A 4 s PAL title with AC-3 in English and English subpictures, chapters every half second
// (a cell each), and a second title in a title set of its own, in DVD; the sample HD DVD disc
// in DISC.
const char* const kAuthor = R"(set -e
export VIDEO_FORMAT=PAL
ffmpeg -v error -f lavfi -i testsrc2=size=720x576:rate=25:duration=4 \
  -f lavfi -i sine=frequency=440:sample_rate=48000:duration=4 -target pal-dvd -b:v 1M t.mpg
ffmpeg -v error -f lavfi -i \
  'color=c=black@0.0:s=720x576,format=rgba,drawbox=x=100:y=400:w=300:h=60:color=white@1:t=fill' \
  -frames:v 1 en.png
cat > en.xml <<END
<subpictures><stream><spu start="00:00:01.00" end="00:00:02.50" image="en.png"/></stream></subpictures>
END
spumux -s 0 en.xml < t.mpg > ts.mpg 2> /dev/null
dvdauthor -o DVD -t -a ac3+en -s en -c 0,0.5,1,1.5,2,2.5,3,3.5 ts.mpg 2> /dev/null
dvdauthor -o DVD -t t.mpg 2> /dev/null
dvdauthor -o DVD -T 2> /dev/null
)";

struct Discs {
    fixture::TempDir dir;
    fs::path dvd;
    fs::path hdDvd;
    std::string missing;

    Discs() : dvd(dir.path() / "DVD"), hdDvd(dir.path() / "DISC") {
        for (const char* tool : {"ffmpeg", "spumux", "dvdauthor", "timeout"}) {
            if (!installed(tool)) {
                missing = tool;
                return;
            }
        }
        fixture::ProcessResult made = fixture::runProcess("/bin/sh", {"-c", kAuthor}, dir.path());
        EXPECT_EQ(made.status, 0) << made.err;
        made = fixture::runProcess(TOLVANE_SAMPLE_DISC, {dir.path().string()}, "/");
        EXPECT_EQ(made.status, 0) << made.err;
    }

    // A copy of `disc` named `name`, for damage of its own.
    fs::path copy(const fs::path& disc, const std::string& name) const {
        const fs::path to = dir.path() / name;
        fs::copy(disc, to, fs::copy_options::recursive);
        return to;
    }
};

Discs& discs() {
    static Discs made;
    return made;
}

#define SKIP_WITHOUT_TOOLS()                                    \
    if (!discs().missing.empty()) {                             \
        GTEST_SKIP() << discs().missing << " is not installed"; \
    }

TEST(HostileDisc, NoOutputReplacesAFileOfTheDiscItReads) {
    SKIP_WITHOUT_TOOLS();
    const fs::path dvd = discs().dvd;
    const fs::path hd = discs().hdDvd;
    const fs::path out = discs().dir.path() / "out-members";
    fs::create_directories(out);
    // A hard link at the output name of the title's video: the feature's first EVO by another
    // name. And a symbolic link at the DVD title's audio output, with a whole video output
    // before it in box order.
    fs::create_hard_link(hd / "HVDVD_TS" / "FEATURE_1.EVO",
                         out / "DISC_title01.MPEG-2.stream.0.mpv");
    fs::create_symlink(dvd / "VIDEO_TS" / "VIDEO_TS.IFO", out / "DVD_title01.DD.stream.00.en.mpa");
    fs::create_symlink(hd / "ADV_OBJ" / "VPLST000.XPL", out / "playlist.xpl");
    fs::create_symlink(hd / "HVDVD_TS" / "FEATURE_1.EVO", out / "FEATURE_1.EVO");
    const std::string vts = (dvd / "VIDEO_TS").string();
    const std::string pl = (hd / "ADV_OBJ" / "VPLST000.XPL").string();
    const std::string evo = (hd / "HVDVD_TS" / "FEATURE_1.EVO").string();
    const std::vector<std::vector<std::string>> runs = {
        {"read", dvd.string(), "--title", "1", "--chapters", vts + "/VTS_01_1.VOB"},
        {"read", dvd.string(), "--title", "1", "--chapters", vts + "/VTS_01_0.IFO"},
        {"demux", dvd.string(), "--title", "1", "--chapters", vts + "/VIDEO_TS.IFO", "-o",
         out.string()},
        {"read", vts, "--title", "1", "--chapters", vts + "/VIDEO_TS.BUP"},
        {"read", hd.string(), "--title", "1", "--chapters", pl},
        {"read", hd.string(), "--title", "1", "--chapters", evo},
        {"xpl", pl, "--source", evo, "--chapters", (hd / "HVDVD_TS" / "FEATURE_2.EVO").string()},
        // A playlist and a source named through links are the disc's: so are its other files.
        {"xpl", (out / "playlist.xpl").string(), "--source", (out / "FEATURE_1.EVO").string(),
         "--chapters", (hd / "HVDVD_TS" / "TRAILER_1.EVO").string()},
        {"demux", hd.string(), "--title", "1", "-o", out.string()},
        {"demux", dvd.string(), "--title", "1", "-o", out.string()},
    };
    const auto before = snapshot(dvd);
    const auto beforeHd = snapshot(hd);
    const std::vector<std::string> outBefore = namesIn(out);
    for (const auto& args : runs) {
        SCOPED_TRACE(args[0] + " " + args.back());
        const CliRun run = cli(args);
        EXPECT_EQ(run.result.status, 1) << run.result.out << run.result.err;
        EXPECT_NE(run.result.err.find("Cannot write"), std::string::npos) << run.result.err;
        EXPECT_EQ(namesIn(out), outBefore) << "refused before the first output";
    }
    EXPECT_TRUE(snapshot(dvd) == before);
    EXPECT_TRUE(snapshot(hd) == beforeHd);
}

TEST(HostileDisc, PipesInADiscAreRefusedUnopened) {
    SKIP_WITHOUT_TOOLS();
    const fs::path vob = discs().copy(discs().dvd, "FIFO-VOB");
    fs::remove(vob / "VIDEO_TS" / "VTS_01_1.VOB");
    ASSERT_EQ(mkfifo((vob / "VIDEO_TS" / "VTS_01_1.VOB").c_str(), 0644), 0);
    const fs::path ifo = discs().copy(discs().dvd, "FIFO-IFO");
    fs::remove(ifo / "VIDEO_TS" / "VIDEO_TS.IFO");
    ASSERT_EQ(mkfifo((ifo / "VIDEO_TS" / "VIDEO_TS.IFO").c_str(), 0644), 0);
    const fs::path evo = discs().copy(discs().hdDvd, "FIFO-EVO");
    fs::remove(evo / "HVDVD_TS" / "FEATURE_1.EVO");
    ASSERT_EQ(mkfifo((evo / "HVDVD_TS" / "FEATURE_1.EVO").c_str(), 0644), 0);
    const fs::path image = discs().dir.path() / "x.iso";
    ASSERT_EQ(mkfifo(image.c_str(), 0644), 0);
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"read", vob.string(), "--title", "1"}, "VTS_01_1.VOB\" is not a regular file"},
        {{"titles", ifo.string()}, "VIDEO_TS.IFO\" is not a regular file"},
        {{"demux", evo.string(), "--title", "1", "-o", discs().dir.path() / "out-fifo"},
         "FEATURE_1.EVO\" is not a regular file"},
        {{"titles", image.string()}, "It is not a folder, an image or a drive"},
    };
    for (const auto& [args, message] : cases) {
        SCOPED_TRACE(args[1]);
        const CliRun run = cli(args);
        EXPECT_EQ(run.result.status, 1) << run.result.err;
        EXPECT_NE(run.result.err.find(message), std::string::npos) << run.result.err;
        EXPECT_LT(run.seconds, 10);
    }
}

Json readTitle(const std::vector<std::string>& args, const std::string& limits = "") {
    const CliRun run = cli(args, limits);
    EXPECT_EQ(run.result.status, 0) << run.result.err;
    return run.result.status == 0 ? Json::parse(run.result.out) : Json();
}

TEST(HostileDisc, ImagesWhoseExtentsLoopOrLieEndInBoundedTimeAndMemory) {
    SKIP_WITHOUT_TOOLS();
    const fs::path looping = discs().dir.path() / "looping.iso";
    fixture::writeUdf250Image(discs().hdDvd, looping, 1024,
                              {.file = "FEATURE_1.EVO", .loopingExtents = true});
    const fs::path lying = discs().dir.path() / "lying.iso";
    fixture::writeUdf250Image(discs().hdDvd, lying, 1024,
                              {.file = "FEATURE_1.EVO", .claimedSize = uint64_t{1} << 40});
    const Json whole = readTitle({"read", discs().hdDvd.string(), "--title", "1", "--json"});
    // 1 GiB of address space: a chain that grows without end would meet it.
    const std::string limits = memoryLimit(1 << 20);
    for (const fs::path& image : {looping, lying}) {
        SCOPED_TRACE(image.filename().string());
        const CliRun titles = cli({"titles", image.string(), "--json"}, limits);
        EXPECT_EQ(titles.result.status, 0) << titles.result.err;
        EXPECT_EQ(Json::parse(titles.result.out)["titles"].size(), 2u);
        EXPECT_EQ(titles.result.err, "") << "libudfread's messages are not the user's";
        const fs::path out = discs().dir.path() / ("out-" + image.stem().string());
        for (const char* command : {"read", "demux"}) {
            const CliRun run =
                cli({command, image.string(), "--title", "1", "-o", out, "--json"}, limits);
            EXPECT_LT(run.seconds, 30);
            if (image == lying) {
                EXPECT_EQ(run.result.status, 1) << run.result.err;
                EXPECT_NE(run.result.err.find("FEATURE_1.EVO\". Its file entry claims"),
                          std::string::npos)
                    << run.result.err;
                continue;
            }
            // The chain's end is never read: its data, which the first extents hold whole, is.
            EXPECT_EQ(run.result.status, 0) << run.result.err;
            EXPECT_EQ(Json::parse(run.result.out)["frames"], whole["frames"]);
        }
    }
    EXPECT_TRUE(namesIn(discs().dir.path() / "out-lying").empty())
        << "a refused title writes nothing";
}

// Rewrites each cell of the DVD title's program chain (in VTS_01_0.IFO and its backup) through
// `change`, which takes the cells' sector runs in playing order.
void rewriteCells(const fs::path& disc,
                  const std::function<void(std::vector<std::pair<uint32_t, uint32_t>>&)>& change) {
    const auto be32 = [](const std::string& data, size_t at) {
        return uint32_t{static_cast<uint8_t>(data[at])} << 24 |
               uint32_t{static_cast<uint8_t>(data[at + 1])} << 16 |
               uint32_t{static_cast<uint8_t>(data[at + 2])} << 8 |
               uint32_t{static_cast<uint8_t>(data[at + 3])};
    };
    const auto put32 = [](std::string& data, size_t at, uint32_t value) {
        for (int k = 0; k < 4; ++k) {
            data[at + static_cast<size_t>(k)] = static_cast<char>(value >> (24 - 8 * k));
        }
    };
    std::string ifo = bytes(disc / "VIDEO_TS" / "VTS_01_0.IFO");
    const size_t pgcit = size_t{be32(ifo, 0xCC)} * 2048;
    const size_t pgc = pgcit + be32(ifo, pgcit + 12);
    const auto cells = static_cast<size_t>(static_cast<uint8_t>(ifo[pgc + 3]));
    const size_t table =
        pgc + (static_cast<uint8_t>(ifo[pgc + 0xE8]) << 8 | static_cast<uint8_t>(ifo[pgc + 0xE9]));
    std::vector<std::pair<uint32_t, uint32_t>> runs;
    for (size_t k = 0; k < cells; ++k) {
        runs.emplace_back(be32(ifo, table + 24 * k + 8), be32(ifo, table + 24 * k + 20));
    }
    change(runs);
    for (size_t k = 0; k < cells; ++k) {
        put32(ifo, table + 24 * k + 8, runs[k].first);
        put32(ifo, table + 24 * k + 20, runs[k].second);
    }
    std::ofstream(disc / "VIDEO_TS" / "VTS_01_0.IFO", std::ios::binary) << ifo;
    std::ofstream(disc / "VIDEO_TS" / "VTS_01_0.BUP", std::ios::binary) << ifo;
}

TEST(HostileDisc, RepeatedCellsAndClipsAreReadOnceWithFewDescriptors) {
    SKIP_WITHOUT_TOOLS();
    const Json plain = readTitle({"read", discs().dvd.string(), "--title", "1", "--json"});
    ASSERT_FALSE(plain.is_null());
    const int64_t frames = plain["frames"][0]["counted"].get<int64_t>();

    // Every cell lists the whole VOB: read once, and said.
    const fs::path whole = discs().copy(discs().dvd, "WHOLE-CELLS");
    rewriteCells(whole, [](auto& runs) {
        for (auto& run : runs) {
            run = {runs.front().first, runs.back().second};
        }
    });
    const Json repeated = readTitle({"read", whole.string(), "--title", "1", "--json"});
    EXPECT_EQ(repeated["frames"][0]["counted"], frames);
    EXPECT_NE(repeated["warnings"].dump().find("cells of the program chain repeat sectors"),
              std::string::npos)
        << repeated["warnings"];

    // The cells in reverse, each a run of its own, over a title set cut into nine VOB files:
    // one reader holds them all, whatever the number of runs.
    const fs::path reversed = discs().copy(discs().dvd, "REVERSED");
    rewriteCells(reversed, [](auto& runs) { std::reverse(runs.begin(), runs.end()); });
    const std::string vob = bytes(reversed / "VIDEO_TS" / "VTS_01_1.VOB");
    const size_t part = vob.size() / 2048 / 9 * 2048;
    for (size_t k = 0; k < 9; ++k) {
        std::ofstream(reversed / "VIDEO_TS" / ("VTS_01_" + std::to_string(k + 1) + ".VOB"),
                      std::ios::binary)
            << vob.substr(k * part, k == 8 ? std::string::npos : part);
    }
    const Json cut =
        readTitle({"read", reversed.string(), "--title", "1", "--json"}, "ulimit -n 24");
    EXPECT_EQ(cut["frames"][0]["counted"], frames);

    // An HD DVD title of 300 clips, each a file of its own, under 64 descriptors; and one
    // clip played twice, read once.
    const fs::path many = discs().copy(discs().hdDvd, "MANY-CLIPS");
    std::ostringstream playlist;
    playlist << R"(<?xml version="1.0"?><Playlist><MediaAttributeList>)"
             << R"(<VideoAttributeItem index="1" codec="MPEG-2"/></MediaAttributeList>)"
             << R"(<TitleSet timeBase="60fps"><Title titleNumber="1" displayName="Many">)";
    for (int k = 0; k < 300; ++k) {
        const std::string name = "CLIP_" + std::to_string(k);
        fs::copy_file(many / "HVDVD_TS" / "TRAILER_1.EVO", many / "HVDVD_TS" / (name + ".EVO"));
        playlist << R"(<PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/)" << name
                 << R"(.MAP" titleTimeBegin="00:00:00:00" titleTimeEnd="00:10:00:00"/>)";
    }
    playlist << R"(</Title><Title titleNumber="2" displayName="Twice">)"
             << R"(<PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/TRAILER_1.MAP"/>)"
             << R"(<PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/trailer_1.map"/>)"
             << R"(</Title></TitleSet></Playlist>)";
    std::ofstream(many / "ADV_OBJ" / "VPLST000.XPL") << playlist.str();
    const Json trailer =
        readTitle({"read", (discs().hdDvd / "HVDVD_TS" / "TRAILER_1.EVO").string(), "--json"});
    const int64_t trailerFrames = trailer["frames"][0]["counted"].get<int64_t>();
    const Json clips =
        readTitle({"read", many.string(), "--title", "1", "--json", "--full"}, "ulimit -n 64");
    EXPECT_EQ(clips["frames"][0]["counted"], 300 * trailerFrames);
    const Json twice = readTitle({"read", many.string(), "--title", "2", "--json"});
    EXPECT_EQ(twice["frames"][0]["counted"], trailerFrames);
    EXPECT_NE(twice["warnings"].dump().find("1 clip plays an .EVO file the title played before"),
              std::string::npos);
}

TEST(HostileDisc, ADamagedTitleLeavesTheOthersReadable) {
    SKIP_WITHOUT_TOOLS();
    const fs::path disc = discs().copy(discs().dvd, "DAMAGED-SET");
    for (const char* name : {"VTS_02_0.IFO", "VTS_02_0.BUP"}) {
        std::ofstream(disc / "VIDEO_TS" / name, std::ios::binary) << std::string(2048, '\x5a');
    }
    const CliRun titles = cli({"titles", disc.string(), "--json"});
    ASSERT_EQ(titles.result.status, 0) << titles.result.err;
    const Json listed = Json::parse(titles.result.out)["titles"];
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_FALSE(listed[0].contains("damage"));
    EXPECT_EQ(listed[1]["damage"], "The information file of title set 2 is damaged");
    EXPECT_EQ(readTitle({"read", disc.string(), "--title", "1", "--json"})["frames"][0]["counted"],
              100);
    const CliRun second = cli({"read", disc.string(), "--title", "2"});
    EXPECT_EQ(second.result.status, 1);
    EXPECT_NE(second.result.err.find("title set 2 is damaged"), std::string::npos)
        << second.result.err;
}

TEST(HostileDisc, AFailedRunLeavesNoOutputThatLooksWhole) {
    SKIP_WITHOUT_TOOLS();
    // Files may grow to 64 KiB only: the video fails first, and every file the run made,
    // the VobSub .sub with its .idx among them, says it is incomplete.
    const fs::path out = discs().dir.path() / "out-limit";
    const CliRun run =
        cli({"demux", discs().dvd.string(), "--title", "1", "-o", out.string()}, "ulimit -f 64");
    EXPECT_EQ(run.result.status, 1) << run.result.err;
    EXPECT_NE(run.result.err.find("File too large"), std::string::npos) << run.result.err;
    const std::vector<std::string> names = namesIn(out);
    ASSERT_FALSE(names.empty());
    for (const std::string& name : names) {
        EXPECT_TRUE(name.ends_with(".incomplete")) << name;
    }
    // So does the Matroska file, whose muxer writes through our output.
    const fs::path mkv = discs().dir.path() / "out-limit-mkv";
    const CliRun muxed =
        cli({"mkv", discs().dvd.string(), "--title", "1", "-o", mkv.string()}, "ulimit -f 64");
    EXPECT_EQ(muxed.result.status, 1) << muxed.result.err;
    EXPECT_NE(muxed.result.err.find("File too large"), std::string::npos) << muxed.result.err;
    EXPECT_EQ(namesIn(mkv), (std::vector<std::string>{"DVD_title01.mkv.incomplete"}));
    // A playlist too large to be one is refused before it is read.
    const fs::path big = discs().dir.path() / "BIG.XPL";
    std::ofstream(big).close();
    fs::resize_file(big, 100 << 20);
    const CliRun playlist = cli({"xpl", big.string()}, memoryLimit(256 << 10));
    EXPECT_EQ(playlist.result.status, 1);
    EXPECT_NE(playlist.result.err.find("too large to be a playlist"), std::string::npos)
        << playlist.result.err;
}

}  // namespace
}  // namespace tolvane
