// The playlist reader: the disc's VPLST000.XPL shown as tags, the title that plays the source
// as a tree, and the stream boxes of its tracks ticked.
#include "core/file_output.h"
#include "core/platform_error.h"
#include "playlist/xpl_chapters.h"
#include "playlist/xpl_scanner.h"
#include "ui/model/main_form.h"

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

void MainForm::announceTrack(int32_t* entry, std::optional<Control> box, int32_t* boxId,
                             bool withHint, const std::string& text, TreeNode& node) {
    if (entry != nullptr) {
        if (*entry != kStreamAbsent) {
            return;  // reported already
        }
        *entry = kStreamAnnounced;
    }
    node.children.push_back(TreeNode{text, {}});
    log_.log(escapeMarkup(text) + " found!");
    if (box) {
        if (boxId != nullptr) {
            *boxId = kStreamAnnounced;  // the demux or rebuild pins it to what it meets
        }
        setEnabled(*box, true);
        setTicked(*box, true);
        setCaption(*box, text);
        if (withHint) {
            setHint(*box, text);
        }
    }
}

void MainForm::buildXplTree(const XplValues& values) {
    std::vector<TreeNode> tree = {
        {"Info", {}}, {"Video", {}}, {"Audio", {}}, {"Subtitle", {}}, {"Chapter", {}}};
    TreeNode& info = tree[0];
    if (!values.displayName.empty()) {
        info.children.push_back({"Title: " + values.displayName, {}});
    }
    StreamTable& streams = state_->streams;
    for (size_t k = 0; k < xplMemo_.size(); ++k) {
        const std::string_view line = xplMemo_.bare(k);
        const std::string u = upperCase(line);
        if (u.find("<TITLE ") != std::string::npos) {
            info.children.push_back({"Name: " + GetAttr(line, "displayName").value_or(""), {}});
            info.children.push_back(
                {"Duration: " + GetAttr(line, "titleDuration").value_or(""), {}});
        }
        // A track number outside the stream table is shown but marks nothing.
        const auto entry = [](auto& ids, int32_t number) -> int32_t* {
            return number >= 1 && number <= static_cast<int32_t>(ids.size())
                       ? &ids[static_cast<size_t>(number - 1)]
                       : nullptr;
        };
        if (u.find("<VIDEO ") != std::string::npos) {
            const int32_t track = GetAttrInt(line, "track");
            const std::string text = tableText(xplTables_.video, GetAttrInt(line, "mediaAttr")) +
                                     trackSuffix(int64_t{track} - 1, false);
            announceTrack(entry(streams.videoId, track),
                          track == 1 ? std::optional<Control>(videoBox(0)) : std::nullopt,
                          &streams.videoBoxId[0], false, text, tree[1]);
        }
        if (u.find("<AUDIO ") != std::string::npos) {
            const int32_t n = GetAttrInt(line, "streamNumber");
            const std::string text = tableText(xplTables_.audio, GetAttrInt(line, "mediaAttr")) +
                                     trackSuffix(int64_t{n} - 1, true) + "." +
                                     GetAttr(line, "description").value_or("");
            int32_t* slot = entry(streams.audioId, n);
            announceTrack(slot,
                          slot != nullptr ? std::optional<Control>(audioBox(n - 1)) : std::nullopt,
                          entry(streams.audioBoxId, n), true, text, tree[2]);
        }
        if (u.find("<SUBTITLE ") != std::string::npos) {
            const int32_t n = GetAttrInt(line, "streamNumber");
            const std::string text =
                tableText(xplTables_.subpicture, GetAttrInt(line, "mediaAttr")) +
                trackSuffix(int64_t{n} - 1, true) + "." + GetAttr(line, "description").value_or("");
            int32_t* slot = entry(streams.subId, n);
            announceTrack(slot,
                          slot != nullptr ? std::optional<Control>(subBox(n - 1)) : std::nullopt,
                          entry(streams.subBoxId, n), true, text, tree[3]);
        }
        if (u.find("<CHAPTER ") != std::string::npos) {
            tree[4].children.push_back({GetAttr(line, "titleTimeBegin").value_or("") + ": " +
                                            GetAttr(line, "displayName").value_or(""),
                                        {}});
        }
    }
    info.children.push_back({"TimeBase: " + values.timeBase, {}});
    info.children.push_back({"TickBase: " + values.tickBase, {}});
    xplTree_ = std::move(tree);
}

void MainForm::readXplJob(bool& readEvoWasEnabled) {
    Resetcbs();
    setEnabled(Control::bReadXPL, false);
    readEvoWasEnabled = enabled(Control::bReadEVO);
    setEnabled(Control::bReadEVO, false);
    setEnabled(Control::bbEVO, false);
    setEnabled(Control::bbXPL, false);
    showPage(4);

    JobState& job = state_->job;
    openSource(text(Control::eXPLfile));
    log_.log("Open " + escapeMarkup(paths_.playlistName));
    const int64_t size = job.source->size();
    log_.log("Filesize: " + std::to_string(size) + " bytes");
    xplMemo_.clear();
    memoVisible_ = false;
    XplScanner scanner(xplMemo_, xplTables_);
    while (job.source->position() < size) {
        const size_t read = job.source->read(job.buffer.data(), job.buffer.size());
        job.bufferLength = read;
        if (read == 0) {
            break;
        }
        log_.slog(std::to_string(job.source->position()) + "/" + std::to_string(size) + " bytes",
                  StatusPanel::Progress);
        scanner.scan(job.buffer.data(), read);
    }
    job.source.reset();
    StreamTable& streams = state_->streams;
    streams.videoId.fill(kStreamAbsent);
    streams.audioId.fill(kStreamAbsent);
    streams.subId.fill(kStreamAbsent);

    const std::string key = CutExt(fileNamePart(text(Control::eEVOfile), style_), style_);
    const int title = findTitleLine(xplMemo_, key);
    xplTitleFound_ = title > 0;
    xplTimeBase_ = scanner.values().timeBase;
    if (title > 0) {
        cutToTitle(xplMemo_, title);
        buildXplTree(scanner.values());
    } else if (!key.empty()) {
        log_.log("No title of the playlist plays " + escapeMarkup(key) + ".");
    }
    memoVisible_ = true;
    if (view_ != nullptr) {
        view_->playlistChanged();
    }
    logDone();
}

std::vector<ChapterMark> MainForm::xplChapters() const {
    if (!xplTitleFound_) {
        return {};
    }
    // A title set without a time base counts frames at HD DVD's usual 60 a second.
    return titleChapters(xplMemo_, framesPerSecond(xplTimeBase_).value_or(60));
}

void MainForm::saveChapters(const std::string& path) {
    if (!xplTitleFound_) {
        throw JobError("No chapters saved: no title of the playlist plays the source.");
    }
    const std::vector<ChapterMark> chapters = xplChapters();
    if (chapters.empty()) {
        throw JobError("No chapters saved: the title has no chapters.");
    }
    const bool matroska = upperCase(extensionOf(path, style_)) == ".XML";
    const std::string text = matroska ? matroskaChapterXml(chapters) : ogmChapters(chapters);
    FileOutput file(path);
    file.append(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    file.close();
    log_.log("Chapters saved to " + escapeMarkup(path));
}

void MainForm::bReadXPLClick() {
    bool readEvoWasEnabled = enabled(Control::bReadEVO);
    if (runJob([&] { readXplJob(readEvoWasEnabled); }, [this] { memoVisible_ = true; })) {
        setEnabled(Control::bReadXPL, true);
        setEnabled(Control::bbEVO, true);
        setEnabled(Control::bbXPL, true);
        setEnabled(Control::bReadEVO, readEvoWasEnabled);
    }
}

}  // namespace tolvane
