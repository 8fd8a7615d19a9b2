#include "playlist/xpl_job.h"

#include <cmath>
#include <cstdio>
#include <memory>

#include "demux/block_loop.h"

#include "core/file_output.h"
#include "core/platform_error.h"
#include "discs/disc.h"

namespace tolvane {

namespace {

// ".s" and the track number, with two digits when `twoDigits` asks for them. The number is a
// playlist's value minus one, taken in 64 bits so that no value can overflow.
std::string trackSuffix(int64_t number, bool twoDigits) {
    return ".s" + std::string(twoDigits && number < 10 ? "0" : "") + std::to_string(number);
}

const std::string& tableText(const std::array<std::string, 9>& table, int32_t index) {
    static const std::string none;
    return index >= 1 && index <= 8 ? table[static_cast<size_t>(index)] : none;
}

}  // namespace

void XplJob::announceTrack(bool* seen, StreamKind kind, std::optional<int> box, bool withHint,
                           const std::string& text, TreeNode& node, XplResult& result) {
    if (seen != nullptr) {
        if (*seen) {
            return;  // reported already
        }
        *seen = true;
    }
    node.children.push_back(TreeNode{text, {}});
    context_.log.log(text + " found!");
    result.tracks.push_back(AnnouncedTrack{kind, box, text, withHint});
}

void XplJob::buildTree(XplResult& result) {
    std::vector<TreeNode> tree = {
        {"Info", {}}, {"Video", {}}, {"Audio", {}}, {"Subtitle", {}}, {"Chapter", {}}};
    TreeNode& info = tree[0];
    const XplValues& values = result.values;
    if (!values.displayName.empty()) {
        info.children.push_back({"Title: " + values.displayName, {}});
    }
    // The track numbers announced, per kind: a number is announced once.
    struct Seen {
        std::array<bool, 16> video{};
        std::array<bool, 16> audio{};
        std::array<bool, 32> sub{};
    } seen;
    const PlaylistMemo& memo = result.memo;
    for (size_t k = 0; k < memo.size(); ++k) {
        const std::string_view line = memo.bare(k);
        const std::string u = upperCase(line);
        if (u.find("<TITLE ") != std::string::npos) {
            result.titleName = attributeValue(line, "displayName").value_or("");
            result.titleDuration = attributeValue(line, "titleDuration").value_or("");
            info.children.push_back({"Name: " + result.titleName, {}});
            info.children.push_back({"Duration: " + result.titleDuration, {}});
        }
        // A track number outside the stream table is shown but marks nothing.
        const auto entry = [](auto& ids, int32_t number) -> bool* {
            return number >= 1 && number <= static_cast<int32_t>(ids.size())
                       ? &ids[static_cast<size_t>(number - 1)]
                       : nullptr;
        };
        if (u.find("<VIDEO ") != std::string::npos) {
            const int32_t track = attributeInt(line, "track");
            const std::string text = tableText(tables_.video, attributeInt(line, "mediaAttr")) +
                                     trackSuffix(int64_t{track} - 1, false);
            announceTrack(entry(seen.video, track), StreamKind::Video,
                          track == 1 ? std::optional<int>(0) : std::nullopt, false, text, tree[1],
                          result);
        }
        if (u.find("<AUDIO ") != std::string::npos) {
            const int32_t n = attributeInt(line, "streamNumber");
            const std::string text = tableText(tables_.audio, attributeInt(line, "mediaAttr")) +
                                     trackSuffix(int64_t{n} - 1, true) + "." +
                                     attributeValue(line, "description").value_or("");
            bool* slot = entry(seen.audio, n);
            announceTrack(slot, StreamKind::Audio,
                          slot != nullptr ? std::optional<int>(n - 1) : std::nullopt, true, text,
                          tree[2], result);
        }
        if (u.find("<SUBTITLE ") != std::string::npos) {
            const int32_t n = attributeInt(line, "streamNumber");
            const std::string text =
                tableText(tables_.subpicture, attributeInt(line, "mediaAttr")) +
                trackSuffix(int64_t{n} - 1, true) + "." +
                attributeValue(line, "description").value_or("");
            bool* slot = entry(seen.sub, n);
            announceTrack(slot, StreamKind::Subpicture,
                          slot != nullptr ? std::optional<int>(n - 1) : std::nullopt, true, text,
                          tree[3], result);
        }
        if (u.find("<CHAPTER ") != std::string::npos) {
            tree[4].children.push_back({attributeValue(line, "titleTimeBegin").value_or("") + ": " +
                                            attributeValue(line, "displayName").value_or(""),
                                        {}});
        }
    }
    info.children.push_back({"TimeBase: " + values.timeBase, {}});
    info.children.push_back({"TickBase: " + values.tickBase, {}});
    result.tree = std::move(tree);
}

XplResult XplJob::run(const XplInput& input) {
    // A job state of its own: the playlist's source and read block.
    const auto ownState = std::make_unique<JobState>(context_.control);
    JobState& job = *ownState;
    Reporter& log = context_.log;
    const PathStyle style = context_.style;
    XplResult result;
    try {
        // The playlist's disc and the source's: chapters saved after the job keep clear of
        // every file of them.
        result.filesRead = discFilesAround(input.playlistPath);
        if (!input.sourcePath.empty()) {
            const std::vector<std::string> around = discFilesAround(input.sourcePath);
            result.filesRead.insert(result.filesRead.end(), around.begin(), around.end());
        }
        job.source.reset();
        job.source = SpanSource::single(input.playlistPath, context_.openInput(input.playlistPath));
        log.log("Open " + fileNamePart(input.playlistPath, style));
        const int64_t size = job.source->size();
        if (size > kMaxPlaylistBytes) {
            throw JobError(ErrorCode::InvalidData, "Cannot read playlist \"" + input.playlistPath +
                                                       "\": its " + std::to_string(size) +
                                                       " bytes are too large to be a playlist");
        }
        log.log("Filesize: " + std::to_string(size) + " bytes");
        XplScanner scanner(result.memo, tables_);
        // The playlist is small: its progress is shown in bytes, after every block.
        struct PlaylistBlocks : BlockConsumer {
            JobState& job;
            Reporter& log;
            XplScanner& scanner;
            PlaylistBlocks(JobState& j, Reporter& l, XplScanner& s) : job(j), log(l), scanner(s) {}
            bool block(size_t, int64_t offset, size_t length) override {
                const int64_t done = offset + static_cast<int64_t>(length);
                JobProgress progress{done, job.source->size()};
                progress.inBytes = true;
                log.progress(progress);
                scanner.scan(job.buffer.data(), length);
                return true;
            }
        } blocks(job, log, scanner);
        job.control.cancelled = false;
        readSpans(job, context_.os, log, blocks);
        job.source.reset();
        result.values = scanner.values();

        const std::string key = withoutExtension(fileNamePart(input.sourcePath, style), style);
        const int title = findTitleLine(result.memo, key);
        result.titleFound = title > 0;
        if (title > 0) {
            cutToTitle(result.memo, title);
            buildTree(result);
            // A title set without a time base counts frames at HD DVD's usual 60 a second.
            result.chapters =
                titleChapters(result.memo, framesPerSecond(result.values.timeBase).value_or(60));
        } else {
            // A playlist without the source's title shows no other title's tree.
            result.tree = emptyTitleTree();
            if (!key.empty()) {
                log.log("No title of the playlist plays " + key + ".");
            }
        }
        log.log("Done.");
        log.log("");
        log.activity(JobActivity::Ready);
    } catch (const JobError&) {
        job.source.reset();
        log.activity(JobActivity::Ready);
        throw;
    }
    return result;
}

std::vector<TreeNode> emptyTitleTree() {
    return {{"Video", {}}, {"Audio", {}}, {"Subpicture", {}}, {"Chapter", {}}};
}

void saveChapters(const XplResult& playlist, const std::string& path, PathStyle style,
                  Reporter& log) {
    if (!playlist.titleFound) {
        throw JobError(ErrorCode::NotFound,
                       "No chapters saved: no title of the playlist plays the source.");
    }
    saveChapterMarks(playlist.chapters, path, style, playlist.filesRead, log);
}

void saveChapterMarks(const std::vector<ChapterMark>& chapters, const std::string& path,
                      PathStyle style, const std::vector<std::string>& inputs, Reporter& log) {
    if (chapters.empty()) {
        throw JobError(ErrorCode::NotFound, "No chapters saved: the title has no chapters.");
    }
    checkOutputTarget(path, inputs);
    const bool matroska = upperCase(extensionOf(path, style)) == ".XML";
    FileOutput file(path);
    writeChapters(chapters, matroska, [&](std::string_view part) {
        file.append(reinterpret_cast<const uint8_t*>(part.data()), part.size());
    });
    file.close();
    log.log("Chapters saved to " + path);
}

std::vector<ChapterMark> discChapterMarks(const DiscTitle& title) {
    std::vector<ChapterMark> marks;
    for (const DiscChapter& chapter : title.chapters) {
        char name[32];
        std::snprintf(name, sizeof name, "Chapter %02d", chapter.number);
        marks.push_back(ChapterMark{std::llround(chapter.start * 1e9),
                                    chapter.name.empty() ? name : chapter.name});
    }
    return marks;
}

}  // namespace tolvane
