#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "core/file_output.h"
#include "core/pack_engine.h"
#include "core/platform_error.h"
#include "form_fixture.h"

namespace tolvane {
namespace {

using fixture::Bytes;
using fixture::FormFixture;
using fixture::ProgramStreamBuilder;
using fixture::readFile;

Bytes filled(size_t size, uint8_t seed) {
    Bytes data(size);
    for (size_t k = 0; k < size; ++k) {
        data[k] = static_cast<uint8_t>(seed * 31 + k * 13);
    }
    return data;
}

// A feature file with MPEG-2 video, AC-3 on audio 0 and subpictures on 6 and 16.
struct Feature {
    Bytes stream;
    Bytes video;
    Bytes audio;
    Bytes sub6;
    Bytes sub16;
};

Feature feature(uint8_t seed, int packs = 6, size_t padTo = 0) {
    Feature f;
    ProgramStreamBuilder ps;
    for (int k = 0; k < packs; ++k) {
        const Bytes v = filled(1800, static_cast<uint8_t>(seed + k));
        const Bytes a = filled(700, static_cast<uint8_t>(seed + k + 50));
        const Bytes s = filled(300, static_cast<uint8_t>(seed + k + 100));
        ps.pack({fixture::pesPacket(0xE0, {.pts = 1000u * k + 500}, v)});
        ps.pack({fixture::privateStream1Packet(0x80, {.pts = 1000u * k + 600}, a),
                 fixture::privateStream1Packet(0x26, {}, s),
                 fixture::privateStream1Packet(0x30, {}, s)});
        f.video.insert(f.video.end(), v.begin(), v.end());
        f.audio.insert(f.audio.end(), a.begin(), a.end());
        f.sub6.insert(f.sub6.end(), s.begin(), s.end());
        f.sub16.insert(f.sub16.end(), s.begin(), s.end());
    }
    if (padTo > 0) {
        ps.fillTo(padTo);
    }
    f.stream = ps.bytes();
    return f;
}

Bytes joined(const Bytes& a, const Bytes& b) {
    Bytes all = a;
    all.insert(all.end(), b.begin(), b.end());
    return all;
}

void tickOnly(MainForm& form, std::initializer_list<Control> boxes) {
    for (size_t k = static_cast<size_t>(Control::cbVideo0); k < kControlCount; ++k) {
        form.setTicked(static_cast<Control>(k), false);
    }
    for (Control box : boxes) {
        form.setTicked(box, true);
    }
}

TEST(FileOutput, AppearsUnderItsNameOnlyWhenClosedAndReplacesWhatWasThere) {
    fixture::TempDir dir;
    const std::filesystem::path path = dir.path() / "out.mpa";
    fixture::writeFile(path, Bytes(3, 9));
    {
        FileOutput output(path.string());
        const Bytes data(5000, 1);
        const Bytes big(FileOutput::kBufferSize, 1);
        output.append(data.data(), data.size());
        output.append(big.data(), big.size());  // past the buffer: written now
        EXPECT_EQ(readFile(path), Bytes(3, 9)) << "the old file stays whole while writing";
        output.close();
    }
    EXPECT_EQ(readFile(path).size(), 5000 + FileOutput::kBufferSize);
    size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        ++entries;
    }
    EXPECT_EQ(entries, 1u) << "no part file is left behind";
    {
        FileOutput dropped(path.string());
        const Bytes data(10, 2);
        dropped.append(data.data(), data.size());
    }  // closed without close(): kept, but beside the whole file of its name
    EXPECT_EQ(readFile(path).size(), 5000 + FileOutput::kBufferSize);
    EXPECT_EQ(readFile(path.string() + ".incomplete"), Bytes(10, 2));
    { FileOutput nothing(path.string()); }  // nothing written: no file at all
    const std::filesystem::path fresh = dir.path() / "fresh.mpa";
    {
        FileOutput first(fresh.string());
        first.append(Bytes(4, 3).data(), 4);
        first.closeIncomplete();
        EXPECT_EQ(first.path(), fresh.string()) << "no file had the name: it takes it";
        EXPECT_FALSE(first.complete());
    }
    EXPECT_EQ(readFile(fresh), Bytes(4, 3));
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"fresh.mpa", "out.mpa", "out.mpa.incomplete"}));
    EXPECT_THROW(FileOutput((dir.path() / "missing" / "x").string()), PlatformError);
}

TEST(DemuxJob, WritesOneFilePerTickedBoxIntoTheOutputFolder) {
    FormFixture f;
    f.form.setTicked(Control::cbContinue, false);
    const Feature one = feature(1);
    f.chooseSource(f.dir.write("FEATURE_1.EVO", one.stream));
    f.form.bReadEVOClick();
    const std::filesystem::path out = f.dir.path() / "out";
    std::filesystem::create_directory(out);
    std::ofstream(out / "FEATURE_1.DD.stream.00.mpa") << "old content that must go";
    for (const std::string& folder : {out.string(), out.string() + "/"}) {
        f.form.messageLog().clear();
        f.form.setText(Control::eWorkdir, folder);
        tickOnly(f.form, {audioBox(0)});
        f.form.bDemuxClick();
        const std::string file = (out / "FEATURE_1.DD.stream.00.mpa").string();
        EXPECT_EQ(f.logMarkup(),
                  (std::vector<std::string>{"Opening file FEATURE_1.EVO", "File size: 0 Mbytes.",
                                            "Creating " + file, "Demuxing...", "Done.", ""}));
        EXPECT_EQ(readFile(file), one.audio);
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out), {}), 1);
    EXPECT_TRUE(f.form.enabled(Control::bDemux));
    EXPECT_TRUE(f.form.enabled(Control::bRebuild));
    EXPECT_FALSE(f.form.jobControl().writing);
    EXPECT_EQ(f.form.messageLog().panel(StatusPanel::Job).text, " Ready");
}

TEST(DemuxJob, AppendsTheSecondFeatureFileToEveryOutput) {
    FormFixture f;
    const Feature one = feature(1);
    const Feature two = feature(9, 3);
    f.chooseSource(f.dir.write("FEATURE_1.EVO", one.stream));
    f.dir.write("FEATURE_2.EVO", two.stream);
    f.form.bReadEVOClick();
    f.form.setText(Control::eWorkdir, f.dir.path().string());
    f.form.setText(Control::eVideoExt, "m2v");
    f.form.bDemuxClick();

    const std::filesystem::path base = f.dir.path() / "FEATURE_1_FEATURE_2";
    EXPECT_EQ(readFile(base.string() + ".MPEG-2.stream.0.m2v"), joined(one.video, two.video));
    EXPECT_EQ(readFile(base.string() + ".DD.stream.00.mpa"), joined(one.audio, two.audio));
    // Subpictures 6 and 16 go to files of their own.
    EXPECT_EQ(readFile(base.string() + ".Subpicture.06.sup"), joined(one.sub6, two.sub6));
    EXPECT_EQ(readFile(base.string() + ".Subpicture.16.sup"), joined(one.sub16, two.sub16));
    const std::vector<std::string> log = f.logMarkup();
    EXPECT_NE(std::find(log.begin(), log.end(), "Continue on [b]FEATURE_2.EVO[/b]"), log.end());
}

TEST(DemuxJob, CancelInTheFirstFileSkipsTheSecondAndClosesEveryOutput) {
    FormFixture f;
    const Feature one = feature(1, 6, 6 * kMebibyte);
    f.chooseSource(f.dir.write("FEATURE_1.EVO", one.stream));
    f.dir.write("FEATURE_2.EVO", feature(9, 3).stream);
    f.form.bReadEVOClick();
    f.form.setText(Control::eWorkdir, f.dir.path().string());
    f.form.messageLog().clear();

    f.os.answer = true;
    bool demuxTickedDuringJob = false;
    f.os.onEvents = [&] {
        // Ticking a box while the job runs neither adds an output nor allows a second job.
        f.form.setEnabled(audioBox(5), true);
        f.form.setTicked(audioBox(5), true);
        demuxTickedDuringJob = f.form.enabled(Control::bDemux);
        f.form.bDemuxClick();
        f.form.bCancelClick();
    };
    f.form.bDemuxClick();
    EXPECT_FALSE(demuxTickedDuringJob);
    EXPECT_EQ(f.os.questions, std::vector<std::string>{"Are you sure to stop demuxing?"});
    const std::vector<std::string> log = f.logMarkup();
    EXPECT_EQ(std::count(log.begin(), log.end(), "Continue on [b]FEATURE_2.EVO[/b]"), 0);
    EXPECT_EQ(log[log.size() - 2], "Cancelled.");  // where "Done." would stand
    EXPECT_EQ(std::count(log.begin(), log.end(), "Cancelled."), 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), "Done."), 0);
    const std::filesystem::path base = f.dir.path() / "FEATURE_1_FEATURE_2";
    EXPECT_EQ(readFile(base.string() + ".MPEG-2.stream.0.mpv"), one.video);
    EXPECT_FALSE(std::filesystem::exists(base.string() + ".No audio stream.05.mpa"));
}

TEST(DemuxJob, AnOutputThatCannotBeCreatedEndsTheJobAndGivesTheButtonsBack) {
    FormFixture f;
    f.chooseSource(f.dir.write("FEATURE_1.EVO", feature(1).stream));
    f.form.bReadEVOClick();
    // A folder under a file cannot be made: the job ends before it opens the source.
    const std::string blocked = (f.dir.path() / "FEATURE_1.EVO" / "out").string();
    f.form.setText(Control::eWorkdir, blocked);
    f.form.messageLog().clear();
    f.form.bDemuxClick();
    ASSERT_EQ(f.os.errors.size(), 1u);
    EXPECT_NE(f.os.errors[0].find("Cannot create folder \"" + blocked), std::string::npos);
    EXPECT_NE(f.os.errors[0].find("Not a directory"), std::string::npos);
    EXPECT_TRUE(f.logMarkup().empty());
    EXPECT_TRUE(f.form.enabled(Control::bDemux));
    EXPECT_FALSE(f.form.jobControl().writing);
}

// Runs a demux job in a child process whose files may not grow past `limit` bytes.
TEST(DemuxJob, AFailingWriteEndsTheJobAndKeepsWhatWasWrittenBefore) {
    FormFixture f;
    const Feature big = feature(3, 1200);
    f.form.setTicked(Control::cbContinue, false);
    f.chooseSource(f.dir.write("FEATURE_1.EVO", big.stream));
    f.form.bReadEVOClick();
    f.form.setText(Control::eWorkdir, f.dir.path().string());
    tickOnly(f.form, {Control::cbVideo0});
    const std::string messageFile = (f.dir.path() / "message.txt").string();
    constexpr rlim_t kLimit = 1536 * 1024;

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{kLimit, kLimit};
        setrlimit(RLIMIT_FSIZE, &limit);
        f.form.bDemuxClick();
        std::ofstream(messageFile) << (f.os.errors.empty() ? "" : f.os.errors[0]);
        _exit(f.os.errors.size() == 1 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const Bytes message = readFile(messageFile);
    const std::string text(message.begin(), message.end());
    const std::string output = (f.dir.path() / "FEATURE_1.MPEG-2.stream.0.mpv").string();
    EXPECT_EQ(text, "Stream write error \"" + output + "\". File too large");
    const Bytes written = readFile(output);
    ASSERT_EQ(written.size(), kLimit);
    EXPECT_TRUE(std::equal(written.begin(), written.end(), big.video.begin()));
}

}  // namespace
}  // namespace tolvane
