#include "cli/json_report.h"

#include "discs/title_choice.h"

#include <algorithm>
#include <cmath>

#include "core/text_escape.h"
#include "sinks/job_naming.h"

namespace tolvane::cli {

namespace {

template <typename T>
void put(Json& object, const char* key, const std::optional<T>& value) {
    if (value) {
        object[key] = *value;
    }
}

Json streamReport(const StreamBox& stream) {
    Json out;
    out["kind"] = streamKindName(stream.kind);
    out["number"] = stream.number;
    out["id"] = idByteOf(stream.id);
    if (stream.coding) {
        out["coding"] = codingName(*stream.coding);
    }
    out["label"] = stream.label;
    put(out, "first_pts", stream.firstPts);
    put(out, "delay_ms", stream.delayMs);
    if (!stream.language.empty()) {
        out["language"] = stream.language;
    }
    if (!stream.viewport.empty()) {
        out["viewport"] = stream.viewport;
    }
    const StreamHeader& header = stream.header;
    put(out, "width", header.width);
    put(out, "height", header.height);
    put(out, "frame_rate", header.frameRate);
    put(out, "aspect_ratio", header.aspectRatio);
    put(out, "profile", header.profile);
    put(out, "level", header.level);
    put(out, "sample_rate", header.sampleRate);
    put(out, "channels", header.channels);
    put(out, "lfe", header.lfe);
    put(out, "bit_rate", header.bitRate);
    put(out, "bits_per_sample", header.bitsPerSample);
    put(out, "sample_aspect_ratio", header.sampleAspect);
    put(out, "display_aspect_ratio", header.displayAspect);
    put(out, "field_order", header.fieldOrder);
    if (stream.coding) {
        put(out, "channel_layout", channelLayout(*stream.coding, header));
    }
    if (stream.captionForm != CaptionForm::None) {
        out["closed_captions"] = {{"form", stream.captionForm == CaptionForm::Dvd ? "dvd" : "atsc"},
                                  {"channels", captionChannelNames(stream.captionChannels)}};
    }
    if (stream.subpictures > 0) {
        out["subpictures"] = stream.subpictures;
        out["forced_subpictures"] = stream.forcedSubpictures;
        if (stream.forcedOnly()) {
            out["forced_only"] = true;
        }
    }
    if (stream.duration) {
        out["duration"] = *stream.duration;
        if (*stream.duration > 0) {
            out["average_bit_rate"] =
                std::llround(static_cast<double>(stream.bytes) * 8 / *stream.duration);
        }
    }
    return out;
}

// The kind of program stream the job read.
std::string formatName(const ReadResult& read) {
    switch (read.sourceKind) {
        case SourceKind::DvdTitle:
            return "dvd_video";
        case SourceKind::HdDvdTitle:
        case SourceKind::HdDvdFile:
            return "hddvd_evo";
        case SourceKind::DvdFile:
            // A title set's VOB file is the disc's video as a title is.
            return read.discTitle ? "dvd_video" : "dvd_vob";
        case SourceKind::DvdAudioFile:
            return "dvd_aob";
        case SourceKind::ProgramStream:
            break;
    }
    return read.discTitle ? "dvd_video" : "mpeg_ps";
}

Json navigationReport(const NavigationSummary& navigation) {
    Json out = Json::object();
    put(out, "vob_number", navigation.vobNumber);
    put(out, "first_ptm", navigation.firstPtm);
    put(out, "last_ptm", navigation.lastPtm);
    // Packs that carry no times give no running time: left out, not 0.
    if (navigation.durationSeconds > 0) {
        out["duration"] = navigation.durationSeconds;
    }
    if (const auto& control = navigation.copyControl) {
        Json copy;
        copy["scrambled"] = control->scrambled;
        put(copy, "cgms", control->cgms);
        put(copy, "aps", control->aps);
        copy["ict"] = control->ict;
        copy["dot"] = control->dot;
        out["copy_control"] = copy;
    }
    return out;
}

}  // namespace

Json readReport(const ReadResult& read) {
    Json report;
    report["version"] = kReportVersion;
    report["format"] = formatName(read);
    Json files = Json::array();
    int64_t size = 0;
    for (const FileRead& file : read.files) {
        files.push_back(Json{{"path", file.path}, {"size", file.size}});
        size += file.size;
    }
    report["files"] = files;
    // From the earliest stream's start to the latest stream's end, as ffprobe measures it.
    double duration = 0;
    Json counts = {{"video", 0}, {"audio", 0}, {"subpicture", 0}};
    for (const StreamBox& stream : read.streams) {
        counts[streamKindName(stream.kind)] = counts[streamKindName(stream.kind)].get<int>() + 1;
        if (stream.duration) {
            const double start =
                stream.firstPts && read.earliestPts
                    ? static_cast<double>(*stream.firstPts - *read.earliestPts) / 90000.0
                    : 0;
            duration = std::max(duration, start + *stream.duration);
        }
    }
    report["stream_counts"] = counts;
    if (!read.skipped.empty()) {
        Json runs = Json::array();
        for (const SkippedBlocks& run : read.skipped) {
            Json entry = {{"path", run.path}, {"position", run.position}, {"sectors", run.count}};
            if (run.time) {
                entry["time"] =
                    static_cast<double>(*run.time - read.earliestPts.value_or(0)) / 90000.0;
            }
            runs.push_back(entry);
        }
        report["unreadable"] = runs;
    }
    if (duration > 0) {
        report["duration"] = duration;
        report["bit_rate"] = std::llround(static_cast<double>(size) * 8 / duration);
    }
    if (read.navigation) {
        report["navigation"] = navigationReport(*read.navigation);
    }
    Json streams = Json::array();
    Json frames = Json::array();
    for (const StreamBox& stream : read.streams) {
        streams.push_back(streamReport(stream));
        if (stream.kind == StreamKind::Video &&
            stream.number < static_cast<int>(read.frames.size())) {
            const FrameTally& tally = read.frames[static_cast<size_t>(stream.number)];
            Json entry{{"number", stream.number}, {"counted", tally.counted}};
            if (tally.calculated) {
                entry["calculated"] = *tally.calculated;
            }
            if (tally.partial) {
                entry["partial"] = true;
            }
            frames.push_back(entry);
        }
    }
    report["streams"] = streams;
    report["frames"] = frames;
    if (!read.seams.empty()) {
        Json seams = Json::array();
        for (const NamedSeam& named : read.seams) {
            const Seam& seam = named.seam;
            Json entry{
                {"time", static_cast<double>(seam.time - read.earliestPts.value_or(0)) / 90000.0},
                {"gap", static_cast<double>(seam.gap) / 90000.0},
                {"cause", seam.cause == Seam::Cause::Navigation ? "navigation" : "time_stamps"},
                {"span", named.span},
                {"position", seam.position}};
            put(entry, "vob_number", seam.vob);
            seams.push_back(entry);
        }
        report["seams"] = seams;
        if (read.unlistedSeams > 0) {
            report["unlisted_seams"] = read.unlistedSeams;
        }
    }
    if (!read.warnings.empty()) {
        report["warnings"] = read.warnings;
    }
    if (read.cancelled) {
        report["cancelled"] = true;
    }
    return report;
}

Json outputsReport(const std::vector<OutputWritten>& outputs) {
    Json out = Json::array();
    for (const OutputWritten& output : outputs) {
        Json entry;
        if (output.kind) {
            entry["kind"] = streamKindName(*output.kind);
            entry["number"] = output.number;
        } else {
            entry["kind"] = "program";
        }
        entry["path"] = output.path;
        entry["bytes"] = output.bytes;
        out.push_back(entry);
    }
    return out;
}

Json playlistReport(const XplResult& playlist, const std::string& playlistPath, bool chapters) {
    Json report;
    report["version"] = kReportVersion;
    report["playlist"] = playlistPath;
    report["title_found"] = playlist.titleFound;
    if (!playlist.titleFound) {
        return report;
    }
    const XplValues& values = playlist.values;
    Json title;
    title["name"] = playlist.titleName;
    if (!values.displayName.empty()) {
        title["display_name"] = values.displayName;
    }
    title["duration"] = playlist.titleDuration;
    title["time_base"] = values.timeBase;
    title["tick_base"] = values.tickBase;
    report["title"] = title;
    Json tracks = Json::array();
    for (const AnnouncedTrack& track : playlist.tracks) {
        Json entry{{"kind", streamKindName(track.kind)}};
        put(entry, "number", track.box);
        entry["caption"] = track.caption;
        tracks.push_back(entry);
    }
    report["tracks"] = tracks;
    if (chapters) {
        Json marks = Json::array();
        for (const ChapterMark& chapter : playlist.chapters) {
            marks.push_back(Json{{"start_ns", chapter.startNs}, {"name", chapter.name}});
        }
        report["chapters"] = marks;
    }
    return report;
}

Json titlesReport(const Disc& disc, double minLength) {
    const bool dvd = std::string(disc.kind()) == "dvd";
    Json titles = Json::array();
    const std::vector<TitleVerdict> verdicts = judgeTitles(disc.titles(), minLength);
    for (size_t k = 0; k < disc.titles().size(); ++k) {
        const DiscTitle& title = disc.titles()[k];
        Json entry;
        entry["number"] = title.number;
        if (!title.damage.empty()) {
            entry["damage"] = title.damage;
        }
        // What the title is among the disc's: "main", "duplicate", "decoy" or "short", and why.
        const TitleVerdict& verdict = verdicts[k];
        if (verdict.role == TitleRole::Main) {
            entry["role"] = "main";
        } else if (verdict.role != TitleRole::Plain) {
            entry["role"] = roleName(verdict.role);
            entry["reason"] = verdict.reason;
        }
        entry["duration"] = title.duration;
        if (dvd) {
            entry["title_set"] = title.titleSet;
            entry["program_chain"] = title.programChain;
            entry["angles"] = title.angles;
            if (title.firstPlay) {
                entry["first_play"] = true;
            }
            if (!title.angleBlocks.empty()) {
                Json blocks = Json::array();
                for (const AngleBlock& block : title.angleBlocks) {
                    Json chapters = Json::array();
                    for (int k = block.firstChapter; k > 0 && k <= block.lastChapter; ++k) {
                        chapters.push_back(k);
                    }
                    blocks.push_back(
                        {{"start", block.start}, {"end", block.end}, {"chapters", chapters}});
                }
                entry["angle_blocks"] = std::move(blocks);
            }
            entry["video"] = Json{{"width", title.video.width},
                                  {"height", title.video.height},
                                  {"frame_rate", title.video.frameRate},
                                  {"aspect_ratio", title.video.aspect}};
        } else {
            entry["name"] = title.name;
            if (title.measuredDuration) {
                entry["measured_duration"] = *title.measuredDuration;
            }
            entry["angles"] = 1;
            Json clips = Json::array();
            for (const DiscClip& clip : title.clips) {
                clips.push_back(Json{{"map", clip.map},
                                     {"evo", clip.evo},
                                     {"begin", clip.begin},
                                     {"end", clip.end},
                                     {"file_begin", clip.fileBegin}});
            }
            entry["clips"] = std::move(clips);
        }
        Json chapters = Json::array();
        for (const DiscChapter& chapter : title.chapters) {
            Json out{{"number", chapter.number}, {"start", chapter.start}};
            if (!chapter.name.empty()) {
                out["name"] = chapter.name;
            }
            chapters.push_back(std::move(out));
        }
        entry["chapters"] = std::move(chapters);
        Json streams = Json::array();
        for (const DiscStream& stream : title.streams) {
            Json out{{"kind", streamKindName(stream.kind)}};
            if (stream.id != 0) {
                out["id"] = stream.id;
            }
            if (stream.number >= 0) {
                out["number"] = stream.number;
            }
            if (stream.coding) {
                out["coding"] = codingName(*stream.coding);
            }
            if (stream.kind == StreamKind::Audio && stream.channels > 0) {
                out["channels"] = stream.channels;
            }
            if (stream.kind == StreamKind::Audio && stream.sampleRate > 0) {
                out["sample_rate"] = stream.sampleRate;
            }
            if (!stream.language.empty()) {
                out["language"] = stream.language;
            }
            if (!stream.viewport.empty()) {
                out["viewport"] = stream.viewport;
            }
            if (!stream.content.empty()) {
                out["content"] = stream.content;
            }
            streams.push_back(std::move(out));
        }
        entry["streams"] = std::move(streams);
        titles.push_back(std::move(entry));
    }
    return Json{{"version", kReportVersion},
                {"disc", Json{{"path", disc.path()}, {"kind", disc.kind()}}},
                {"titles", titles}};
}

void makeValidUtf8(Json& value) {
    if (value.is_string()) {
        value = validUtf8(value.get_ref<const std::string&>());
    } else if (value.is_structured()) {
        for (Json& item : value) {
            makeValidUtf8(item);
        }
    }
}

void writePlaylistReport(const XplResult& playlist, const std::string& playlistPath,
                         std::ostream& out) {
    Json report = playlistReport(playlist, playlistPath, false);
    makeValidUtf8(report);
    std::string text = report.dump(2);
    if (!playlist.titleFound) {
        out << text << '\n';
        return;
    }
    text.resize(text.rfind('\n'));  // the closing brace: the chapters go last
    out << text << ",\n  \"chapters\": [";
    for (size_t k = 0; k < playlist.chapters.size(); ++k) {
        const ChapterMark& chapter = playlist.chapters[k];
        // As dump(2) lays out an object two levels down.
        std::string entry =
            Json{{"start_ns", chapter.startNs}, {"name", validUtf8(chapter.name)}}.dump(2);
        for (size_t at = entry.find('\n'); at != std::string::npos; at = entry.find('\n', at + 1)) {
            entry.insert(at + 1, "    ");
        }
        out << (k == 0 ? "\n    " : ",\n    ") << entry;
    }
    out << (playlist.chapters.empty() ? "]\n}\n" : "\n  ]\n}\n");
}

}  // namespace tolvane::cli
