#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>
#include <tuple>

#include <nlohmann/json.hpp>

#include "child_process.h"
#include "demux/pack_engine.h"
#include "form_fixture.h"

namespace tolvane {
namespace {

using fixture::Bytes;
using fixture::FormFixture;
using fixture::ProcessResult;
using fixture::ProgramStreamBuilder;

const std::string kCli = TOLVANE_CLI;

Bytes smallFeature(uint8_t seed) {
    ProgramStreamBuilder ps;
    ps.pack({fixture::copyControlPacket({.applies = 0x80, .codes = 0x40}),
             fixture::dsiPacket({.vobNumber = 1, .startPtm = 0, .endPtm = 900000})});
    for (int k = 0; k < 20; ++k) {
        const uint64_t pts = 3003u * static_cast<uint64_t>(k) + 1000;
        ps.pack({fixture::pesPacket(0xE0, {.pts = pts, .dts = pts},
                                    Bytes{0x00, 0x00, 0x01, 0x00, seed, 0x11})});
        ps.pack({fixture::privateStream1Packet(0x80, {.pts = pts}, Bytes(500, seed)),
                 fixture::privateStream1Packet(0x83, {.pts = pts}, Bytes(300, seed)),
                 fixture::privateStream1Packet(0x22, {.pts = pts}, Bytes(100, seed))});
    }
    return ps.bytes();
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> filesIn(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(Cli, ReadPrintsExactlyTheLogOfTheWindow) {
    FormFixture f;
    const std::string source = f.dir.write("FEATURE_1.EVO", smallFeature(1));
    f.dir.write("FEATURE_2.EVO", smallFeature(2));
    const ProcessResult result =
        fixture::runProcess(kCli, {"read", source, "--no-count-frames"}, f.dir.path().string());
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");

    f.form.setTicked(Control::cbCountFr, false);
    f.chooseSource(source);
    f.form.bReadEVOClick();
    std::vector<std::string> shown;
    for (const LogLine& line : f.form.messageLog().lines()) {
        shown.push_back(line.text);
    }
    EXPECT_EQ(linesOf(result.out), shown);
    EXPECT_EQ(filesIn(f.dir.path()), (std::vector<std::string>{"FEATURE_1.EVO", "FEATURE_2.EVO"}));
}

TEST(Cli, DemuxWritesEveryStreamOrTheSelectedOnes) {
    FormFixture f;
    const std::string source = f.dir.write("in/MOVIE.EVO", smallFeature(1));
    const std::filesystem::path all = f.dir.path() / "all";
    std::filesystem::create_directory(all);
    ProcessResult result =
        fixture::runProcess(kCli, {"demux", source, "-o", all.string()}, f.dir.path().string());
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(filesIn(all),
              (std::vector<std::string>{"MOVIE.DD.stream.00.mpa", "MOVIE.DD.stream.03.mpa",
                                        "MOVIE.MPEG-2.stream.0.mpv", "MOVIE.Subpicture.02.sup"}));
    EXPECT_EQ(fixture::readFile(all / "MOVIE.DD.stream.03.mpa"), Bytes(20 * 300, 1));

    // Without -o the outputs land in the current folder.
    const std::filesystem::path here = f.dir.path() / "here";
    std::filesystem::create_directory(here);
    result = fixture::runProcess(
        kCli, {"demux", source, "--select", "DD.stream.03,cbSub02", "--sub-ext", "SUP"},
        here.string());
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(filesIn(here),
              (std::vector<std::string>{"MOVIE.DD.stream.03.mpa", "MOVIE.Subpicture.02.SUP"}));
    const std::vector<std::string> out = linesOf(result.out);
    EXPECT_NE(std::find(out.begin(), out.end(), "Creating MOVIE.Subpicture.02.SUP"), out.end());
}

TEST(Cli, RebuildKeepsTheSelectedStreams) {
    FormFixture f;
    const std::string source = f.dir.write("MOVIE.EVO", smallFeature(1));
    ProcessResult result = fixture::runProcess(
        kCli, {"rebuild", source, "--select", "cbVideo0,DD.stream.03", "-o", f.dir.path().string()},
        f.dir.path().string());
    EXPECT_EQ(result.status, 0) << result.err;
    const Bytes rebuilt = fixture::readFile(f.dir.path() / "MOVIE.rebuilt.EVO");
    // Each pack goes by its first packet: the audio packs lead with the unticked 0x80.
    EXPECT_EQ(rebuilt.size(), (1 + 20) * fixture::kPackSize);

    const std::string vob = f.dir.write("VTS_01_1.VOB", smallFeature(1));
    result = fixture::runProcess(kCli, {"rebuild", vob}, f.dir.path().string());
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find("takes an .EVO source"), std::string::npos);
    EXPECT_EQ(result.out, "") << "refused before anything is read";
    result = fixture::runProcess(kCli, {"demux", vob, "--adv-packs"}, f.dir.path().string());
    EXPECT_EQ(result.status, 2);
}

TEST(Cli, XplShowsTheTitleOfTheSource) {
    FormFixture f;
    const std::string playlist =
        R"(<Playlist displayName="D"><TitleSet timeBase="60fps" tickBase="24fps">)"
        R"(<Title displayName="Main" titleDuration="00:01:00:00"><Clip src="HVDVD_TS/MOVIE.MAP">)"
        R"(<Audio track="1" streamNumber="1" mediaAttr="1" description="English"/></Clip>)"
        R"(</Title></TitleSet></Playlist>)";
    const std::string path = f.dir.write("VPLST000.XPL", Bytes(playlist.begin(), playlist.end()));
    const ProcessResult result =
        fixture::runProcess(kCli, {"xpl", path, "--source", "MOVIE.EVO"}, f.dir.path().string());
    EXPECT_EQ(result.status, 0) << result.err;
    const std::vector<std::string> out = linesOf(result.out);
    EXPECT_NE(std::find(out.begin(), out.end(), ".s00.English found!"), out.end());
    EXPECT_NE(std::find(out.begin(), out.end(), "  Name: Main"), out.end());
    EXPECT_NE(std::find(out.begin(), out.end(), "  TimeBase: 60fps"), out.end());

    // Without a source, or with one no title plays, there is no title to show: no empty
    // headings, but what would show one.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"xpl", path}, {"xpl", path, "--source", "OTHER.EVO"}}) {
        const std::string shown = fixture::runProcess(kCli, args, f.dir.path().string()).out;
        EXPECT_EQ(shown.find("\nVideo\n"), std::string::npos) << shown;
        EXPECT_NE(shown.find(args.size() == 2 ? "No title shown: --source names"
                                              : "No title of the playlist plays OTHER."),
                  std::string::npos)
            << shown;
    }
}

TEST(Cli, ReportsUsageErrorsAndPlatformErrorsWithTheirOwnStatus) {
    FormFixture f;
    const std::string cwd = f.dir.path().string();
    ProcessResult result = fixture::runProcess(kCli, {"read", "x.EVO", "--frobnicate"}, cwd);
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find("unknown option '--frobnicate'"), std::string::npos);
    EXPECT_NE(result.err.find("Try 'tolvane-cli --help'"), std::string::npos);
    EXPECT_EQ(result.out, "");

    result = fixture::runProcess(kCli, {"demux", "missing/FEATURE_1.EVO"}, cwd);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("\"missing/FEATURE_1.EVO\". No such file or directory"),
              std::string::npos)
        << result.err;

    const std::string source = f.dir.write("A.EVO", smallFeature(1));
    result =
        fixture::runProcess(kCli, {"demux", source, "--select", "cbAudio00,DTSHD.stream.05"}, cwd);
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find("'DTSHD.stream.05'"), std::string::npos) << result.err;
    EXPECT_EQ(filesIn(f.dir.path()), std::vector<std::string>{"A.EVO"});

    result = fixture::runProcess(kCli, {"--version"}, cwd);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out.rfind("tolvane-cli ", 0), 0u);
    result = fixture::runProcess(kCli, {"--help"}, cwd);
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.out.find("--select LIST"), std::string::npos);

    // The sample-disc maker takes options for options, not for folders to create.
    result = fixture::runProcess(TOLVANE_SAMPLE_DISC, {"--help"}, cwd);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out.rfind("Usage: make_sample_disc FOLDER", 0), 0u);
    result = fixture::runProcess(TOLVANE_SAMPLE_DISC, {"-x"}, cwd);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(filesIn(f.dir.path()), std::vector<std::string>{"A.EVO"});
}

// Each command's help lists its own options only, and the manual page, rendered by groff
// without a warning, describes every option the help names.
TEST(Cli, EachCommandHasItsOwnHelpAndTheManualDescribesEveryOption) {
    const std::string cwd = "/";
    const std::string all = fixture::runProcess(kCli, {"--help"}, cwd).out;
    const auto has = [](const std::string& text, const std::string& option) {
        return text.find("  " + option) != std::string::npos;
    };
    for (const auto& [command, own, other] :
         {std::tuple{"read", "--title N", "--select LIST"},
          std::tuple{"demux", "--sub-format FMT", "--adv-packs"},
          std::tuple{"rebuild", "--adv-packs", "--sub-format FMT"},
          std::tuple{"xpl", "--source SOURCE", "--title N"},
          std::tuple{"titles", "--json", "--chapters FILE"}}) {
        SCOPED_TRACE(command);
        const ProcessResult help = fixture::runProcess(kCli, {command, "--help"}, cwd);
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.out.rfind("Usage: tolvane-cli " + std::string(command) + " ", 0), 0u)
            << help.out;
        EXPECT_TRUE(has(help.out, own));
        EXPECT_FALSE(has(help.out, other));
        EXPECT_TRUE(has(all, other));
        // Its options speak of it alone: no other command's name before a colon, none of the
        // words that belong to another.
        const std::string options = help.out.substr(help.out.find("Options:"));
        for (const char* name : {"read", "demux", "mkv", "rebuild", "xpl", "titles"}) {
            for (const char* before : {" ", "("}) {
                EXPECT_EQ(options.find(before + std::string(name) + ":"), std::string::npos)
                    << name;
            }
        }
        EXPECT_NE(help.out.find("3 done but sectors"), std::string::npos) << "every exit status";
        const bool writes = std::string(command) == "demux" || std::string(command) == "rebuild";
        for (const char* foreign : {"xpl with", "demux reads", "rebuild: HD DVD"}) {
            EXPECT_EQ(options.find(foreign), std::string::npos) << foreign;
        }
        EXPECT_EQ(options.find("files written") != std::string::npos, writes);
    }

    const ProcessResult warnings = fixture::runProcess(
        "/bin/sh", {"-c", "groff -man -Tascii -ww -z '" + std::string(TOLVANE_MANUAL) + "'"}, cwd);
    ASSERT_EQ(warnings.status, 0) << "is groff installed?";
    EXPECT_EQ(warnings.err, "");
    const ProcessResult rendered = fixture::runProcess(
        "/bin/sh",
        {"-c", "groff -man -Tascii -P-cbou -rLL=400n -rHY=0 '" + std::string(TOLVANE_MANUAL) + "'"},
        cwd);
    std::string manual = rendered.out;
    manual.erase(std::remove(manual.begin(), manual.end(), '\n'), manual.end());
    EXPECT_NE(manual.find(".mlp, .mp1, .mp2, .mp3, .sup) instead of"), std::string::npos);
    for (size_t at = all.find("--"); at != std::string::npos; at = all.find("--", at + 1)) {
        const size_t end = all.find_first_of(" ,;\n)", at);
        const std::string option = all.substr(at, end - at);
        EXPECT_NE(manual.find(option), std::string::npos) << option << " is not in the manual";
        at = end;
    }
    // And the reverse: every option the manual names is one the program takes.
    const std::string& lines = rendered.out;
    for (size_t at = lines.find("--"); at != std::string::npos; at = lines.find("--", at + 1)) {
        size_t end = at + 2;
        while (end < lines.size() &&
               (std::isalnum(static_cast<unsigned char>(lines[end])) || lines[end] == '-')) {
            ++end;
        }
        const std::string option = lines.substr(at, end - at);
        if (option.size() > 2) {
            EXPECT_NE(all.find(option), std::string::npos) << option << " is not in the help";
        }
        at = end;
    }
}

TEST(Cli, RendersTheMarkupAsTerminalColoursOnlyWhenAsked) {
    FormFixture f;
    const std::string source = f.dir.write("A.EVO", smallFeature(1));
    const std::string cwd = f.dir.path().string();
    const ProcessResult plain = fixture::runProcess(kCli, {"read", source}, cwd);
    EXPECT_EQ(plain.out.find('\x1b'), std::string::npos);
    const ProcessResult colour =
        fixture::runProcess(kCli, {"read", source, "--color", "always"}, cwd);
    EXPECT_NE(colour.out.find("Opening file \x1b[1mA.EVO\x1b[0m"), std::string::npos);
    EXPECT_NE(colour.out.find("\x1b[91m"), std::string::npos);  // bright red, the terminal's
}

TEST(Cli, CtrlCStopsADemuxAndKeepsWhatWasWritten) {
    FormFixture f;
    // Large enough that the demux is still running when the signal comes.
    ProgramStreamBuilder block;
    for (int k = 0; k < 2048; ++k) {
        block.pack({fixture::pesPacket(0xE0, {}, Bytes(1900, 0x47))});
    }
    const std::string source = (f.dir.path() / "BIG.EVO").string();
    constexpr int kBlocks = 96;
    {
        std::ofstream file(source, std::ios::binary);
        for (int k = 0; k < kBlocks; ++k) {
            file.write(reinterpret_cast<const char*>(block.bytes().data()),
                       static_cast<std::streamsize>(block.size()));
        }
    }
    const std::filesystem::path out = f.dir.path() / "out";
    std::filesystem::create_directory(out);
    const std::filesystem::path video = out / "BIG.MPEG-2.stream.0.mpv.incomplete";

    // Ctrl-C, a closed terminal and a shutdown all stop the job as Cancel does, the demux of
    // every stream in one pass (--full) too.
    for (const auto& [signal, full] :
         {std::pair{SIGINT, false}, {SIGTERM, false}, {SIGHUP, false}, {SIGINT, true}}) {
        SCOPED_TRACE(testing::Message() << signal << (full ? " one pass" : ""));
        std::filesystem::remove(video);
        std::vector<std::string> args = {"demux", source, "-o", out.string()};
        if (full) {
            args.push_back("--full");
        }
        fixture::ChildProcess child(kCli, args, f.dir.path().string());
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        // The output is written under a name of its own until the job ends.
        const auto partWritten = [&] {
            for (const auto& entry : std::filesystem::directory_iterator(out)) {
                if (entry.path().filename().string().find(".part-") != std::string::npos) {
                    return true;
                }
            }
            return false;
        };
        while (!partWritten() && child.running() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        child.signal(signal);
        const ProcessResult result = child.wait();
        EXPECT_EQ(result.status, 128 + signal) << result.out << result.err;
        const std::vector<std::string> lines = linesOf(result.out);
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[lines.size() - 2], "Cancelled.") << "where the demux would say Done.";
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "Cancelled."), 1);
        EXPECT_EQ(filesIn(out), std::vector<std::string>{"BIG.MPEG-2.stream.0.mpv.incomplete"})
            << "a cancelled output never looks whole";
        const auto written = std::filesystem::file_size(video);
        EXPECT_GT(written, 0u);
        EXPECT_LT(written, kBlocks * block.size() / 2) << "the demux should have stopped early";
        EXPECT_EQ(written % 1900, 0u) << "whole packets only: the buffer was flushed";
    }
}

TEST(Cli, TwoRunsIntoOneFolderNeverMixTheirOutputs) {
    FormFixture f;
    const auto feature = [&](const std::string& folder, uint8_t fill) {
        ProgramStreamBuilder ps;
        for (int k = 0; k < 6000; ++k) {
            ps.pack({fixture::pesPacket(0xE0, {}, Bytes(1900, fill))});
        }
        return f.dir.write(folder + "/MOVIE.EVO", ps.bytes());
    };
    const std::string first = feature("a", 0x11);
    const std::string second = feature("b", 0x22);
    const std::filesystem::path out = f.dir.path() / "out";
    std::filesystem::create_directory(out);
    fixture::ChildProcess one(kCli, {"demux", first, "-o", out.string()}, f.dir.path().string());
    fixture::ChildProcess two(kCli, {"demux", second, "-o", out.string()}, f.dir.path().string());
    EXPECT_EQ(one.wait().status, 0);
    EXPECT_EQ(two.wait().status, 0);
    EXPECT_EQ(filesIn(out), std::vector<std::string>{"MOVIE.MPEG-2.stream.0.mpv"});
    const Bytes video = fixture::readFile(out / "MOVIE.MPEG-2.stream.0.mpv");
    ASSERT_EQ(video.size(), 6000u * 1900u);
    // One run's output whole, never a mix of both.
    EXPECT_TRUE(std::all_of(video.begin(), video.end(), [&](uint8_t b) { return b == video[0]; }));
}

TEST(Cli, RefusesWhatItCannotReadAndValuesItCannotUse) {
    FormFixture f;
    const std::string cwd = f.dir.path().string();
    // A pipe without a writer would block the open and then read as empty: refused at once.
    const std::string fifo = (f.dir.path() / "PIPE.EVO").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ProcessResult result = fixture::runProcess(kCli, {"read", fifo}, cwd);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("not a regular file"), std::string::npos) << result.err;
    EXPECT_EQ(result.out.find("Done."), std::string::npos);

    for (const char* size : {"-5", "0", "+0", "1000000", "x"}) {
        result = fixture::runProcess(kCli, {"read", "A.EVO", "--fast-check", size}, cwd);
        EXPECT_EQ(result.status, 2) << size;
        EXPECT_NE(result.err.find("--fast-check needs"), std::string::npos) << size;
    }
    // "--" ends the options: a file may start with "-".
    f.dir.write("-odd.EVO", smallFeature(3));
    result = fixture::runProcess(kCli, {"read", "--no-details", "--", "-odd.EVO"}, cwd);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(linesOf(result.out).front(), "Opening file -odd.EVO");
}

TEST(Cli, RefusesWhatIsNoProgramStreamAndWhatCannotBeWrittenBeforeItReads) {
    FormFixture f;
    const std::string cwd = f.dir.path().string();
    Bytes noise(200000);
    uint32_t seed = 7;
    for (uint8_t& byte : noise) {
        seed = seed * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(seed >> 16);
    }
    // Nothing a pack header starts: an error, no "Done." and no file, whichever job.
    for (const auto& [name, bytes] : {std::pair{"EMPTY.EVO", Bytes{}},
                                      std::pair{"TEXT.EVO", Bytes{'h', 'e', 'l', 'l', 'o', '\n'}},
                                      std::pair{"NOISE.EVO", noise}}) {
        const std::string source = f.dir.write(std::string("in/") + name, bytes);
        for (const char* command : {"read", "demux"}) {
            SCOPED_TRACE(std::string(command) + " " + name);
            const std::string out = (f.dir.path() / "out" / name).string();
            const ProcessResult result =
                fixture::runProcess(kCli, {command, source, "--full", "-o", out}, cwd);
            EXPECT_EQ(result.status, 1);
            EXPECT_NE(result.err.find("No program stream found in " + source), std::string::npos)
                << result.err;
            EXPECT_EQ(result.out.find("Done."), std::string::npos);
            if (std::string(command) == "demux") {
                EXPECT_TRUE(std::filesystem::is_empty(out));
            }
        }
    }

    // A missing output folder is made; one under a file is refused before the source is read.
    const std::string source = f.dir.write("MOVIE.EVO", smallFeature(1));
    ProcessResult result = fixture::runProcess(
        kCli, {"demux", source, "-o", (f.dir.path() / "new" / "deeper").string()}, cwd);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(filesIn(f.dir.path() / "new" / "deeper").size(), 4u);
    result = fixture::runProcess(kCli, {"rebuild", source, "-o", source + "/out"}, cwd);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("Cannot create folder \"" + source + "/out\". Not a directory"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(result.out, "") << "nothing was read";

    // Names in any case; an unknown one is refused with the names the read gave.
    result = fixture::runProcess(
        kCli, {"demux", source, "-o", "sel", "--select", "dd.STREAM.03,cbsub02"}, cwd);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(filesIn(f.dir.path() / "sel"),
              (std::vector<std::string>{"MOVIE.DD.stream.03.mpa", "MOVIE.Subpicture.02.sup"}));
    result = fixture::runProcess(kCli, {"demux", source, "--select", "DD.stream.04"}, cwd);
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find("MPEG-2.stream.0 (cbVideo0), DD.stream.00 (cbAudio00), "
                              "DD.stream.03 (cbAudio03), Subpicture.02 (cbSub02)"),
              std::string::npos)
        << result.err;

    for (const char* option : {"--video-ext", "--audio-ext", "--sub-ext"}) {
        result = fixture::runProcess(kCli, {"demux", source, option, ""}, cwd);
        EXPECT_EQ(result.status, 2) << option;
        EXPECT_NE(result.err.find(std::string(option) + " needs an extension"), std::string::npos);
    }
}

TEST(Cli, NeverWritesOverWhatItReadsNorOverWhatIsNoRegularFile) {
    FormFixture f;
    const std::string cwd = f.dir.path().string();
    const std::string playlist =
        R"(<Playlist displayName="D"><TitleSet timeBase="60fps" tickBase="24fps">)"
        R"(<Title displayName="Main" titleDuration="00:01:00:00"><Clip src="HVDVD_TS/MOVIE.MAP">)"
        R"(<Chapter titleTimeBegin="00:00:10:00" displayName="One"/></Clip></Title>)"
        R"(</TitleSet></Playlist>)";
    const std::string xpl = f.dir.write("VPLST000.XPL", Bytes(playlist.begin(), playlist.end()));
    const Bytes movie = smallFeature(1);
    const std::string source = f.dir.write("MOVIE.EVO", movie);
    const std::filesystem::path dir = f.dir.path();
    std::filesystem::create_directories(dir / "out" / "MOVIE.DD.stream.00.mpa");  // a folder
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    std::filesystem::create_symlink(dir / "elsewhere.txt", dir / "link.xml");
    // The source again under the name of an output: a hard link, the same inode.
    std::filesystem::create_directories(dir / "linked");
    std::filesystem::create_hard_link(source, dir / "linked" / "MOVIE.rebuilt.EVO");
    const bool device = mknod((dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;

    struct Case {
        std::vector<std::string> args;
        std::string refused;  // the path named in the refusal
        std::string why;
    };
    std::vector<Case> cases = {
        {{"xpl", xpl, "--source", source, "--chapters", source}, source, "which this job reads"},
        {{"xpl", xpl, "--source", source, "--chapters", xpl}, xpl, "which this job reads"},
        {{"xpl", xpl, "--source", source, "--chapters", (dir / "fifo").string()},
         (dir / "fifo").string(),
         "not a regular file"},
        {{"xpl", xpl, "--source", source, "--chapters", (dir / "link.xml").string()},
         (dir / "link.xml").string(),
         "symbolic link"},
        {{"xpl", xpl, "--source", source, "--chapters", dir.string()}, dir.string(), "folder"},
        {{"demux", source, "-o", (dir / "out").string(), "--select", "cbAudio00"},
         (dir / "out" / "MOVIE.DD.stream.00.mpa").string(),
         "folder"},
        {{"rebuild", source, "-o", (dir / "linked").string()},
         (dir / "linked" / "MOVIE.rebuilt.EVO").string(),
         "which this job reads"},
    };
    if (device) {
        cases.push_back({{"xpl", xpl, "--source", source, "--chapters", (dir / "null").string()},
                         (dir / "null").string(),
                         "not a regular file"});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.refused);
        const ProcessResult result = fixture::runProcess(kCli, c.args, cwd);
        EXPECT_EQ(result.status, 1);
        EXPECT_NE(result.err.find("Cannot write \"" + c.refused + "\": "), std::string::npos)
            << result.err;
        EXPECT_NE(result.err.find(c.why), std::string::npos) << result.err;
    }
    // All as it was: the source, the playlist, the FIFO, the link, the device; no part file.
    EXPECT_EQ(fixture::readFile(source), movie);
    EXPECT_EQ(fixture::readFile(xpl), Bytes(playlist.begin(), playlist.end()));
    EXPECT_TRUE(std::filesystem::is_fifo(dir / "fifo"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.xml"));
    EXPECT_TRUE(!device || std::filesystem::is_character_file(dir / "null"));
    EXPECT_TRUE(std::filesystem::is_empty(dir / "out" / "MOVIE.DD.stream.00.mpa"));
    EXPECT_EQ(filesIn(dir / "linked"), std::vector<std::string>{"MOVIE.rebuilt.EVO"});
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
        EXPECT_EQ(entry.path().filename().string().find(".part-"), std::string::npos)
            << entry.path();
    }
}

TEST(Cli, TextThatLeavesTheProgramCannotActOnTheTerminalOrBreakADocument) {
    FormFixture f;
    const std::string cwd = f.dir.path().string();
    // A name that would retitle the terminal and clear it, and one that is not UTF-8.
    const std::string hostile = f.dir.write("a\x1b]0;owned\x07\x1b[2J_1.EVO", smallFeature(1));
    const std::string latin1 = f.dir.write("caf\xe9\xff_1.EVO", smallFeature(2));
    for (const char* color : {"never", "always"}) {
        const ProcessResult result =
            fixture::runProcess(kCli, {"read", hostile, "--color", color}, cwd);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_NE(result.out.find("a\\x1b]0;owned\\x07\\x1b[2J_1.EVO"), std::string::npos);
        if (std::string(color) == "never") {
            EXPECT_EQ(result.out.find('\x1b'), std::string::npos) << "no escape byte at all";
        } else {
            EXPECT_EQ(result.out.find("\x1b]"), std::string::npos);
            EXPECT_EQ(result.out.find("\x1b[2J"), std::string::npos);
        }
    }
    ProcessResult result = fixture::runProcess(kCli, {"demux", hostile, "-o", "x\x1b[2J"}, cwd);
    EXPECT_EQ(result.err.find('\x1b'), std::string::npos) << "nor in an error";

    result = fixture::runProcess(kCli, {"read", latin1, "--json"}, cwd);
    ASSERT_EQ(result.status, 0) << result.err;
    const nlohmann::json report = nlohmann::json::parse(result.out);
    EXPECT_NE(report["files"][0]["path"].get<std::string>().find("caf\\xe9\\xff_1.EVO"),
              std::string::npos);

    // A chapter name cannot add lines of its own to the OGM text, nor break the XML.
    const std::string playlist =
        R"(<Playlist><TitleSet timeBase="60fps"><Title displayName="T" titleDuration="00:01:00:00">)"
        R"(<Clip src="HVDVD_TS/MOVIE.MAP"/>)"
        R"(<Chapter titleTimeBegin="00:00:10:00" displayName="One&#10;CHAPTER99=00:00:00.000"/>)"
        "<Chapter titleTimeBegin=\"00:00:20:00\" displayName=\"Two\x01\xff\"/>"
        R"(</Title></TitleSet></Playlist>)";
    const std::string xpl = f.dir.write("VPLST000.XPL", Bytes(playlist.begin(), playlist.end()));
    for (const char* name : {"chapters.txt", "chapters.xml"}) {
        result = fixture::runProcess(
            kCli, {"xpl", xpl, "--source", "MOVIE.EVO", "--chapters", name}, cwd);
        ASSERT_EQ(result.status, 0) << result.err;
    }
    const Bytes ogm = fixture::readFile(f.dir.path() / "chapters.txt");
    EXPECT_EQ(std::string(ogm.begin(), ogm.end()),
              "CHAPTER01=00:00:10.000\nCHAPTER01NAME=One CHAPTER99=00:00:00.000\n"
              "CHAPTER02=00:00:20.000\nCHAPTER02NAME=Two \\xff\n")
        << "the text is UTF-8, its other bytes written out";
    const Bytes xml = fixture::readFile(f.dir.path() / "chapters.xml");
    EXPECT_NE(std::string(xml.begin(), xml.end()).find("<ChapterString>Two \\xff</ChapterString>"),
              std::string::npos);
}

TEST(Cli, ARunThatFailsOrIsRefusedNeverReplacesTheWholeOutputsOfAnEarlierOne) {
    FormFixture f;
    const std::string cwd = f.dir.path().string();
    ProgramStreamBuilder ps;
    for (int k = 0; k < 1500; ++k) {
        ps.pack({fixture::pesPacket(0xE0, {.pts = 9000}, Bytes(1800, 0x22)),
                 fixture::privateStream1Packet(0x80, {.pts = 9000}, Bytes(100, 0x33))});
    }
    const std::string source = f.dir.write("BIG.EVO", ps.bytes());
    const std::filesystem::path out = f.dir.path() / "out";
    ProcessResult result = fixture::runProcess(kCli, {"demux", source, "-o", out.string()}, cwd);
    ASSERT_EQ(result.status, 0) << result.err;
    const std::vector<std::string> whole = filesIn(out);
    const Bytes video = fixture::readFile(out / "BIG.MPEG-2.stream.0.mpv");
    ASSERT_EQ(video.size(), 1500u * 1800u);

    // Files may not grow past 1 MiB: the write fails with its message (no SIGXFSZ), and what
    // was written lies beside the whole file, not over it.
    result = fixture::runProcess(
        "/bin/sh",
        {"-c", "ulimit -f 1024; exec \"$0\" demux \"$1\" -o \"$2\"", kCli, source, out.string()},
        cwd);
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_NE(result.err.find("File too large"), std::string::npos) << result.err;
    EXPECT_EQ(fixture::readFile(out / "BIG.MPEG-2.stream.0.mpv"), video);
    const auto cut = std::filesystem::file_size(out / "BIG.MPEG-2.stream.0.mpv.incomplete");
    EXPECT_GT(cut, 0u);
    EXPECT_LE(cut, 1024u * 1024u);

    // Every name the file system takes is taken, though the hidden part name is longer: a
    // rebuild of a source whose name is 235 bytes long.
    const std::string longName = std::string(231, 'L') + ".EVO";
    const std::string longSource = f.dir.write(longName, smallFeature(1));
    result = fixture::runProcess(kCli, {"rebuild", longSource, "-o", "long"}, cwd);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(filesIn(f.dir.path() / "long"),
              std::vector<std::string>{std::string(231, 'L') + ".rebuilt.EVO"});

    // A name the file system refuses ends the run before any file is touched.
    result = fixture::runProcess(
        kCli, {"demux", source, "-o", out.string(), "--audio-ext", std::string(250, 'a')}, cwd);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(fixture::readFile(out / "BIG.MPEG-2.stream.0.mpv"), video);
    EXPECT_EQ(std::filesystem::file_size(out / "BIG.DD.stream.00.mpa"), 1500u * 100u);
    std::vector<std::string> expected = whole;
    expected.push_back("BIG.MPEG-2.stream.0.mpv.incomplete");
    expected.push_back("BIG.DD.stream.00.mpa.incomplete");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(filesIn(out), expected) << "no part file outlives a run";
}

}  // namespace
}  // namespace tolvane
