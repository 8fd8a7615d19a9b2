#include "jobs/stream_selection.h"

#include <algorithm>

#include "jobs/languages.h"
#include "jobs/stream_labels.h"

namespace tolvane {

std::string boxName(StreamKind kind, int number) {
    const std::string digits = std::to_string(number);
    const std::string twoDigits = (digits.size() < 2 ? "0" : "") + digits;
    switch (kind) {
        case StreamKind::Video:
            return "cbVideo" + digits;
        case StreamKind::Audio:
            return "cbAudio" + twoDigits;
        case StreamKind::Subpicture:
            break;
    }
    return "cbSub" + twoDigits;
}

namespace {

// The kind a selection word names: "video", "audio", "sub" (or "subpicture", "subtitle").
std::optional<StreamKind> kindNamed(const std::string& word) {
    const std::string upper = upperCase(word);
    if (upper == "VIDEO") {
        return StreamKind::Video;
    }
    if (upper == "AUDIO") {
        return StreamKind::Audio;
    }
    if (upper == "SUB" || upper == "SUBPICTURE" || upper == "SUBTITLE") {
        return StreamKind::Subpicture;
    }
    return std::nullopt;
}

// Whether the disc's language of a stream is `wanted`: as given ("en", "English") or as the
// same language by its code ("de" and "ger", "fr" and "French").
bool speaks(const StreamBox& box, const std::string& wanted) {
    if (box.language.empty()) {
        return false;
    }
    const std::string code = matroskaLanguage(wanted);
    return upperCase(box.language) == upperCase(wanted) ||
           (code != "und" && matroskaLanguage(box.language) == code);
}

}  // namespace

bool namesBox(const std::string& name, const StreamBox& box) {
    const std::string wanted = upperCase(name);
    if (upperCase(boxName(box.kind, box.number)) == wanted || upperCase(box.label) == wanted) {
        return true;
    }
    // A kind, a language, or a kind and a language: "audio", "en", "sub:de".
    const size_t colon = name.find(':');
    const std::string first = name.substr(0, colon);
    const std::optional<StreamKind> kind = kindNamed(first);
    if (colon == std::string::npos) {
        return kind ? box.kind == *kind : speaks(box, name);
    }
    return kind && box.kind == *kind && speaks(box, name.substr(colon + 1));
}

std::optional<std::string> applySelection(std::vector<StreamBox>& boxes,
                                          const std::vector<std::string>& names) {
    std::vector<bool> chosen(boxes.size(), false);
    for (const std::string& name : names) {
        // A box name takes one box; a kind or a language every box it names.
        bool found = false;
        for (size_t k = 0; k < boxes.size(); ++k) {
            const bool named = namesBox(name, boxes[k]);
            found = found || named;
            chosen[k] = chosen[k] || named;
        }
        if (!found) {
            return name;
        }
    }
    for (size_t k = 0; k < boxes.size(); ++k) {
        boxes[k].chosen = chosen[k];
    }
    return std::nullopt;
}

StreamBox boxMet(const StreamRegistry& streams, StreamKind kind, int32_t number, int32_t key) {
    const StreamCoding coding = numberCoding(streams, kind, number);
    return StreamBox{.kind = kind,
                     .number = number,
                     .id = key,
                     .label = streamLabel(coding, key) + streamBoxSuffix(kind, number),
                     .coding = coding};
}

bool chosenBy(const std::optional<std::vector<std::string>>& select, const StreamBox& box) {
    return !select || std::any_of(select->begin(), select->end(),
                                  [&](const std::string& name) { return namesBox(name, box); });
}

std::optional<std::string> unknownName(const std::optional<std::vector<std::string>>& select,
                                       const std::vector<StreamBox>& labelled) {
    if (!select) {
        return std::nullopt;
    }
    for (const std::string& name : *select) {
        if (std::none_of(labelled.begin(), labelled.end(),
                         [&](const StreamBox& box) { return namesBox(name, box); })) {
            return name;
        }
    }
    return std::nullopt;
}

namespace {

std::string selectionMessage(const std::string& unknown, const std::vector<StreamBox>& labelled) {
    std::string names;
    for (const StreamBox& box : labelled) {
        names +=
            (names.empty() ? "" : ", ") + box.label + " (" + boxName(box.kind, box.number) + ")";
    }
    return "--select: no stream box '" + unknown + "' was labelled; " +
           (names.empty() ? "the read labelled none" : "the read labelled " + names);
}

}  // namespace

SelectionError::SelectionError(const std::string& unknown, const std::vector<StreamBox>& labelled)
    : JobError(ErrorCode::Usage, selectionMessage(unknown, labelled)) {}

}  // namespace tolvane
