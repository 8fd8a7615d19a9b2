#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>

#include "core/file_output.h"
#include "core/platform_error.h"
#include "demux/pack_engine.h"
#include "form_fixture.h"
#include "job_engine.h"
#include "jobs/demux_job.h"
#include "jobs/read_job.h"

namespace tolvane {
namespace {

using fixture::Bytes;
using fixture::Engine;
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

// What a read of `source` labelled, with only the streams `choose` takes chosen.
std::vector<StreamBox> readBoxes(Engine& engine, const std::string& source, PassSettings settings,
                                 const std::function<bool(const StreamBox&)>& choose) {
    std::vector<StreamBox> boxes = ReadJob(engine.context).run({source, settings}).streams;
    for (StreamBox& box : boxes) {
        box.chosen = choose(box);
    }
    engine.log.clear();
    return boxes;
}

bool everyStream(const StreamBox&) {
    return true;
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
        EXPECT_EQ(first.path(), fresh.string() + ".incomplete")
            << "no file had the name: a part still never looks whole";
        EXPECT_FALSE(first.complete());
    }
    EXPECT_EQ(readFile(fresh.string() + ".incomplete"), Bytes(4, 3));
    // Names cut to fit 255 bytes can meet: the second part takes a number, and neither an older
    // part nor a whole file is replaced.
    const std::string longName = (dir.path() / std::string(250, 'n')).string();
    for (const char* tail : {"a.mpa", "b.mpa"}) {
        FileOutput cut(longName + tail);
        cut.append(Bytes(3, static_cast<uint8_t>(tail[0])).data(), 3);
    }
    EXPECT_EQ(readFile(dir.path() / (std::string(255 - 11, 'n') + ".incomplete")), Bytes(3, 'a'));
    EXPECT_EQ(readFile(dir.path() / (std::string(255 - 13, 'n') + ".2.incomplete")), Bytes(3, 'b'));
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        if (entry.path().filename().string().size() < 100) {
            names.push_back(entry.path().filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names,
              (std::vector<std::string>{"fresh.mpa.incomplete", "out.mpa", "out.mpa.incomplete"}));
    EXPECT_THROW(FileOutput((dir.path() / "missing" / "x").string()), PlatformError);
}

TEST(DemuxJob, WritesOneFilePerChosenStreamIntoTheOutputFolder) {
    Engine engine;
    fixture::TempDir dir;
    const Feature one = feature(1);
    engine.files["FEATURE_1.EVO"] = one.stream;
    engine.files["FEATURE_2.EVO"] = feature(9, 3).stream;
    const PassSettings settings{.continueOnSecondFile = false};
    const std::vector<StreamBox> boxes = readBoxes(
        engine, "FEATURE_1.EVO", settings,
        [](const StreamBox& box) { return box.kind == StreamKind::Audio && box.number == 0; });
    const std::filesystem::path out = dir.path() / "out";
    std::filesystem::create_directory(out);
    std::ofstream(out / "FEATURE_1.DD.stream.00.mpa") << "old content that must go";
    for (const std::string& folder : {out.string(), out.string() + "/"}) {
        engine.log.clear();
        const DemuxResult result = DemuxJob(engine.context)
                                       .run({.sourcePath = "FEATURE_1.EVO",
                                             .settings = settings,
                                             .boxes = boxes,
                                             .naming = {.folder = folder}});
        const std::string file = (out / "FEATURE_1.DD.stream.00.mpa").string();
        EXPECT_EQ(engine.logMarkup(),
                  (std::vector<std::string>{"Opening file FEATURE_1.EVO", "File size: 24 KiB.",
                                            "Creating " + file, "Demuxing...", "Done.", ""}));
        EXPECT_EQ(readFile(file), one.audio);
        ASSERT_EQ(result.outputs.size(), 1u);
        EXPECT_EQ(result.outputs[0].bytes, one.audio.size());
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out), {}), 1);
    EXPECT_FALSE(engine.control.writing);
    EXPECT_EQ(engine.log.panel(StatusPanel::Job).text, " Ready");
}

TEST(DemuxJob, AppendsTheSecondFeatureFileToEveryOutput) {
    Engine engine;
    fixture::TempDir dir;
    const Feature one = feature(1);
    const Feature two = feature(9, 3);
    engine.files["FEATURE_1.EVO"] = one.stream;
    engine.files["FEATURE_2.EVO"] = two.stream;
    DemuxJob(engine.context)
        .run({.sourcePath = "FEATURE_1.EVO",
              .boxes = readBoxes(engine, "FEATURE_1.EVO", {}, everyStream),
              .naming = {.folder = dir.path().string(),
                         .videoExtension = "m2v",
                         .subpictureFormat = SubpictureFormat::Sup}});

    const std::filesystem::path base = dir.path() / "FEATURE_1_FEATURE_2";
    EXPECT_EQ(readFile(base.string() + ".MPEG-2.stream.0.m2v"), joined(one.video, two.video));
    EXPECT_EQ(readFile(base.string() + ".DD.stream.00.mpa"), joined(one.audio, two.audio));
    // Subpictures 6 and 16 go to files of their own.
    EXPECT_EQ(readFile(base.string() + ".Subpicture.06.sup"), joined(one.sub6, two.sub6));
    EXPECT_EQ(readFile(base.string() + ".Subpicture.16.sup"), joined(one.sub16, two.sub16));
    const std::vector<std::string> log = engine.logMarkup();
    EXPECT_NE(std::find(log.begin(), log.end(), "Continue on [b]FEATURE_2.EVO[/b]"), log.end());
}

// The window asks before it stops a demux, and starts no second job while one runs.
TEST(DemuxWindow, CancelInTheFirstFileSkipsTheSecondAndClosesEveryOutput) {
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
    EXPECT_EQ(log[log.size() - 4], "Cancelled.");  // where "Done." would stand
    // What was written is kept, and the log says where, whole.
    EXPECT_EQ(log[log.size() - 2], "Output folder: [b]" + f.form.outputFolder() + "[/b]");
    EXPECT_TRUE(std::filesystem::path(f.form.outputFolder()).is_absolute());
    EXPECT_EQ(std::count(log.begin(), log.end(), "Cancelled."), 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), "Done."), 0);
    const std::filesystem::path base = f.dir.path() / "FEATURE_1_FEATURE_2";
    EXPECT_EQ(readFile(base.string() + ".MPEG-2.stream.0.mpv.incomplete"), one.video);
    EXPECT_FALSE(std::filesystem::exists(base.string() + ".No audio stream.05.mpa"));
}

TEST(DemuxJob, AnOutputFolderThatCannotBeMadeEndsTheJobBeforeItReads) {
    Engine engine;
    fixture::TempDir dir;
    engine.files["FEATURE_1.EVO"] = feature(1).stream;
    const std::vector<StreamBox> boxes = readBoxes(engine, "FEATURE_1.EVO", {}, everyStream);
    // A folder under a file cannot be made.
    const std::string blocked = dir.write("FILE", Bytes(1, 0)) + "/out";
    const std::string error = fixture::jobError([&] {
        DemuxJob(engine.context)
            .run({.sourcePath = "FEATURE_1.EVO", .boxes = boxes, .naming = {.folder = blocked}});
    });
    EXPECT_NE(error.find("Cannot create folder \"" + blocked), std::string::npos);
    EXPECT_NE(error.find("Not a directory"), std::string::npos);
    EXPECT_TRUE(engine.logMarkup().empty());
    EXPECT_FALSE(engine.control.writing);
}

// Runs a demux job in a child process whose files may not grow past `limit` bytes.
TEST(DemuxJob, AFailingWriteEndsTheJobAndKeepsWhatWasWrittenBefore) {
    Engine engine;
    fixture::TempDir dir;
    const Feature big = feature(3, 1200);
    engine.files["FEATURE_1.EVO"] = big.stream;
    const std::vector<StreamBox> boxes =
        readBoxes(engine, "FEATURE_1.EVO", {},
                  [](const StreamBox& box) { return box.kind == StreamKind::Video; });
    const std::string messageFile = (dir.path() / "message.txt").string();
    constexpr rlim_t kLimit = 1536 * 1024;

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{kLimit, kLimit};
        setrlimit(RLIMIT_FSIZE, &limit);
        const std::string error = fixture::jobError([&] {
            DemuxJob(engine.context)
                .run({.sourcePath = "FEATURE_1.EVO",
                      .boxes = boxes,
                      .naming = {.folder = dir.path().string()}});
        });
        std::ofstream(messageFile) << error;
        _exit(!error.empty() && !engine.control.writing ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const Bytes message = readFile(messageFile);
    const std::string text(message.begin(), message.end());
    const std::string output = (dir.path() / "FEATURE_1.MPEG-2.stream.0.mpv").string();
    EXPECT_EQ(text, "Stream write error \"" + output + "\". File too large");
    const Bytes written = readFile(output + ".incomplete");
    ASSERT_EQ(written.size(), kLimit);
    EXPECT_TRUE(std::equal(written.begin(), written.end(), big.video.begin()));
}

}  // namespace
}  // namespace tolvane
