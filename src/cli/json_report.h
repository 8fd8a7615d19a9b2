#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "jobs/demux_job.h"
#include "jobs/read_job.h"
#include "playlist/xpl_job.h"

namespace tolvane::cli {

using Json = nlohmann::ordered_json;

// The report of a read: the files, the navigation data, every stream with its decoded header
// values, and the frames of each video stream. The format is described in
// docs/report-format.md.
Json readReport(const ReadResult& read);
// The files a demux or rebuild wrote, with the bytes written.
Json outputsReport(const std::vector<OutputWritten>& outputs);
// The playlist's title that plays the source: its values, tracks and chapters.
Json playlistReport(const XplResult& playlist, const std::string& playlistPath);

}  // namespace tolvane::cli
