#pragma once

#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "discs/dvd_disc.h"
#include "jobs/demux_job.h"
#include "jobs/read_job.h"
#include "playlist/xpl_job.h"

namespace tolvane::cli {

using Json = nlohmann::ordered_json;

// The report format's version: raised when a key changes its meaning or goes.
inline constexpr int kReportVersion = 3;

// The report of a read: the files, the navigation data, every stream with its decoded header
// values, and the frames of each video stream. The format is described in
// docs/report-format.md.
Json readReport(const ReadResult& read);
// The files a demux or rebuild wrote, with the bytes written.
Json outputsReport(const std::vector<OutputWritten>& outputs);
// The playlist's title that plays the source: its values, tracks and chapters.
// Without `chapters`, the report leaves them out for writePlaylistReport to stream.
Json playlistReport(const XplResult& playlist, const std::string& playlistPath,
                    bool chapters = true);
// The playlist report as printed: the chapters are written one at a time, so that a playlist of
// many chapters takes no more memory for its document than for its own lines. Names that are not
// UTF-8 have their other bytes written as \xHH.
void writePlaylistReport(const XplResult& playlist, const std::string& playlistPath,
                         std::ostream& out);
// The titles of a disc: each with its duration, chapters, angles, video and streams.
// `minLength`: titles shorter than it (seconds) are marked short.
Json titlesReport(const Disc& disc, double minLength);
// Makes every text of `value` valid UTF-8, as validUtf8 does.
void makeValidUtf8(Json& value);

}  // namespace tolvane::cli
