#pragma once

#include <optional>
#include <string>
#include <vector>

#include "jobs/demux_job.h"
#include "jobs/read_job.h"
#include "sinks/matroska_writer.h"

namespace tolvane {

struct MkvInput {
    std::string sourcePath;
    PassSettings settings;
    // A file ending in .mkv, or a folder (empty: the current one) where the file is named after
    // the source, as the demux names its outputs.
    std::string output;
    // The streams to write, by box name or caption in any case; none: every stream.
    std::optional<std::vector<std::string>> select;
    // Each DVD subpicture stream's forced subpictures also as a track of their own, marked
    // forced.
    bool forcedTracks = false;
    // Each MPEG video stream's closed captions as SubRip and Scenarist files beside the file.
    bool captions = false;
};

struct MkvResult {
    ReadResult read;
    // The file written, and its tracks in order; none when no stream was chosen.
    std::optional<OutputWritten> output;
    std::vector<MatroskaTrack> tracks;
    // The closed captions written beside it.
    std::vector<OutputWritten> captions;
};

// A read that writes every chosen stream of the source into one Matroska file as it goes: one
// pass, both files of a feature and every cell or clip of a title on one timeline. Tracks take
// the disc's languages and names, the first video and audio track are the default ones, and a
// disc title's chapters and name come along. HD DVD subpictures become PGS tracks.
class MkvJob : SourceJob {
public:
    explicit MkvJob(const JobContext& context) : SourceJob(context) {}

    // Throws JobError as the demux does; SelectionError, writing nothing, when `select` names a
    // box the read did not label.
    MkvResult run(const MkvInput& input);
};

}  // namespace tolvane
