#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/file_output.h"
#include "jobs/job_context.h"
#include "sinks/caption_gatherer.h"
#include "sinks/vobsub.h"
#include "sinks/wav_writer.h"

namespace tolvane {

enum class SubpictureFormat : uint8_t {
    // VobSub for the title of a DVD, PGS for HD DVD, .sup records otherwise.
    Automatic,
    Sup,
    // HD DVD subpictures as PGS display sets in a .sup file, as Blu-ray's muxers read them.
    Pgs,
    // The stream's packets as a program stream (.sub) and an index of its subtitles (.idx).
    VobSub,
};

// How LPCM audio is written.
enum class LpcmOutput : uint8_t {
    // A WAVE file of little-endian samples, as players read them.
    Wave,
    // The disc's bytes as they are.
    Raw,
};

// How the demux job names and writes its outputs.
struct OutputNaming {
    std::string folder;  // empty: the current folder
    std::string videoExtension = "mpv";
    std::string audioExtension = "mpa";
    std::string subpictureExtension = "sup";
    // Append " DELAY <n>ms" to each audio file's name, the delay to the first video stream.
    bool delayNames = false;
    // Take each file's extension from its coding instead of the three above.
    bool extensionByCoding = false;
    SubpictureFormat subpictureFormat = SubpictureFormat::Automatic;
    LpcmOutput lpcm = LpcmOutput::Wave;
    // Each DVD subpicture stream's forced subpictures also as VobSub files of their own.
    bool forcedTracks = false;
    // Each MPEG video stream's closed captions as SubRip and Scenarist files.
    bool captions = false;
};

// The naming with its subpicture format settled for a source of `kind`: VobSub by default for a
// DVD's title, PGS for HD DVD, .sup records otherwise. Throws JobError when VobSub is asked of
// HD DVD subpictures, which are no DVD subpictures, or PGS of DVD subpictures. A DVD-Audio object's
// LPCM, packed otherwise, keeps its bytes.
OutputNaming settledNaming(OutputNaming naming, SourceKind kind);

struct DemuxInput {
    std::string sourcePath;
    PassSettings settings;
    // Every labelled box; the chosen ones get a file each.
    std::vector<StreamBox> boxes;
    OutputNaming naming;
    // What the .sup times count from: the earliest first PTS the read of this source met.
    std::optional<int64_t> earliestPts;
    // The frame rates of the video streams the read found, which the frame report counts with.
    std::array<double, 2> frameRates{};
};

// One file a job wrote.
struct OutputWritten {
    // The stream's box; none for a rebuilt program stream.
    std::optional<StreamKind> kind;
    int number = 0;
    std::string path;
    uint64_t bytes = 0;
};

struct DemuxResult : PassesResult {
    std::vector<OutputWritten> outputs;
};

// The file a box's stream is demuxed to: `prefix`, the box's caption, its language, its delay
// when the naming asks for it, and the extension (.sub for a VobSub stream). `rawLpcm`: an LPCM
// stream whose samples stay as the disc has them whatever the naming asks (.lpcm).
std::string outputFileName(const StreamBox& box, const std::string& prefix,
                           const OutputNaming& naming, bool rawLpcm = false);
// Throws JobError for a name longer than file systems take.
void checkOutputFileName(const std::string& name, PathStyle style);
// Refuses, before the first output is created, a name too long for even the shortest stream
// caption, and every entry of the output folder that a demux
// with `prefix` and `naming` could write to and must not replace (a link, a folder, a device, one
// of `inputs`): a stream met late in the source cannot end the job after others were written.
void checkOutputFolder(const std::string& prefix, const OutputNaming& naming,
                       const std::vector<std::string>& inputs, PathStyle style);
// A stream's output file while a job writes it.
struct OpenOutput {
    StreamKind kind;
    int number;
    std::unique_ptr<FileOutput> file;
    // What turns an LPCM stream's bytes into the file's samples; null for other streams.
    std::unique_ptr<WavWriter> wave;
    // The stream's forced subpictures only (its name ends in .forced.sub).
    bool forced = false;
};

// The name of the file of a subpicture stream's forced subpictures beside `name`, its own.
std::string forcedFileName(const std::string& name);
// The output `name` of `box`, its stream's sink set to it (through a WAVE writer for LPCM when
// the naming asks for one).
OpenOutput openOutput(StreamRegistry& streams, const StreamBox& box, const std::string& name,
                      const OutputNaming& naming);
// Closes every output, in order, writing what is still buffered (which may fail), and tells what
// each one wrote and where it is. Every output is on disk before the first takes its name, so a
// full disk at the end names none of them. Outputs that are not `complete` (a cancelled job)
// never replace a file of their name: they are kept as FileOutput::closeIncomplete() keeps them.
std::vector<OutputWritten> closeOutputs(std::vector<OpenOutput>& outputs, bool complete);
// Adds to `outputs` the closed captions `captions` gathered of each video stream that has them:
// a SubRip file for each channel that shows text (`base(number)` + ".CC1.srt") and the
// Scenarist file of field 1's words (+ ".scc"), times counted from `zero`, logging "Creating"
// each; none may replace one of `inputs`.
void addCaptionOutputs(std::vector<OpenOutput>& outputs, const CaptionGatherer& captions,
                       const std::function<std::string(int number)>& base, int64_t zero,
                       const std::vector<std::string>& inputs, Reporter& log);

// Adds to `outputs` the .idx beside each VobSub .sub among them, written from `writers` and the
// language of its box in `boxes`, logging "Creating" each; none may replace one of `inputs`.
// They take their names with the .sub files, in closeOutputs().
void addVobSubIndexes(std::vector<OpenOutput>& outputs, const std::array<VobSubWriter, 32>& writers,
                      const std::vector<StreamBox>& boxes, VobSubIndexInfo info,
                      const std::vector<std::string>& inputs, Reporter& log,
                      const std::array<VobSubWriter, 32>* forcedWriters = nullptr);
// No stream has an output any more, and no file is left of any: nothing was worth keeping.
void discardOutputs(StreamRegistry& streams, std::vector<OpenOutput>& outputs);
// After a failure: no stream has an output any more, and each file keeps what could be written.
void closeOutputsAfterError(StreamRegistry& streams, std::vector<OpenOutput>& outputs);

// The stream table's output of a stream; null for a number outside the table.
OutputSink** outputSlot(StreamRegistry& streams, StreamKind kind, int number);
// No stream has an output any more.
void dropOutputs(StreamRegistry& streams);

// The demux job: one elementary-stream file per chosen box, filled by a demux pass over the
// source and the second feature file.
class DemuxJob : SourceJob {
public:
    explicit DemuxJob(const JobContext& context) : SourceJob(context) {}
    // Throws JobError when a file cannot be opened, created or written; what was written until
    // then is kept.
    DemuxResult run(const DemuxInput& input);

private:
    void createOutputs(const DemuxInput& input, const OutputNaming& naming,
                       const std::string& prefix, const std::vector<std::string>& inputs,
                       std::vector<OpenOutput>& outputs);
};

}  // namespace tolvane
