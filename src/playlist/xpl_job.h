#pragma once

#include <optional>
#include <string>
#include <vector>

#include "discs/xpl_chapters.h"
#include "discs/xpl_scanner.h"
#include "jobs/job_context.h"
#include "playlist/xpl_title.h"

namespace tolvane {

struct XplInput {
    std::string playlistPath;
    // The source whose title is looked for; its name without extension is the key.
    std::string sourcePath;
};

// A track of the found title; one with a box gives that box its caption.
struct AnnouncedTrack {
    StreamKind kind = StreamKind::Video;
    std::optional<int> box;  // the box number
    std::string caption;
    // The caption is also the box's hint (audio and subpicture tracks).
    bool hint = false;
};

struct XplResult {
    // The playlist's tags, cut to the title when one was found.
    PlaylistMemo memo;
    bool titleFound = false;
    // The title as a tree: Info, Video, Audio, Subtitle and Chapter; without a title, the empty
    // groups of emptyTitleTree().
    std::vector<TreeNode> tree;
    std::vector<AnnouncedTrack> tracks;
    std::vector<ChapterMark> chapters;
    XplValues values;
    // The title element's displayName and titleDuration.
    std::string titleName;
    std::string titleDuration;
    // The playlist and the source it was asked about: chapters are never written over them.
    std::vector<std::string> filesRead;
};

// The playlist reader: the disc's VPLST000.XPL read as tags, and the title that plays the
// source as a tree, its tracks and chapters.
class XplJob {
public:
    // The attribute tables last from one playlist to the next, as the caller keeps them.
    XplJob(const JobContext& context, XplAttributeTables& tables)
        : context_(withDefaults(context)), tables_(tables) {}
    // Throws JobError when the playlist cannot be opened or read.
    XplResult run(const XplInput& input);

private:
    void buildTree(XplResult& result);
    // Logs a track and adds it to the tree and the result, once per track number (`seen`,
    // null for a number no stream can have).
    void announceTrack(bool* seen, StreamKind kind, std::optional<int> box, bool withHint,
                       const std::string& text, TreeNode& node, XplResult& result);

    JobContext context_;
    XplAttributeTables& tables_;
};

// The groups of a title's tree before a title was found.
std::vector<TreeNode> emptyTitleTree();

// Writes the title's chapters to `path`: Matroska chapter XML for ".xml", the OGM text
// otherwise, and says so in the log. Throws JobError, writing nothing, when there is no title or
// it has no chapters.
void saveChapters(const XplResult& playlist, const std::string& path, PathStyle style,
                  Reporter& log);
// Writes `chapters` to `path` as saveChapters does; `inputs` are the files the job read.
void saveChapterMarks(const std::vector<ChapterMark>& chapters, const std::string& path,
                      PathStyle style, const std::vector<std::string>& inputs, Reporter& log);
// The chapters of a disc's title, with their names, or named "Chapter 01" on when they have
// none.
std::vector<ChapterMark> discChapterMarks(const DiscTitle& title);

}  // namespace tolvane
