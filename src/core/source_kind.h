#pragma once

#include <cstdint>

namespace tolvane {

// What a job's source is, settled once when the job opens it: the navigation packs' layout,
// the subpicture format and the report's format name follow from it.
enum class SourceKind : uint8_t {
    ProgramStream,  // a plain MPEG program stream
    HdDvdFile,      // an .EVO file
    DvdFile,        // a DVD-Video .VOB file
    DvdAudioFile,   // a DVD-Audio .AOB file
    DvdTitle,       // a title of a DVD disc, folder or image
    HdDvdTitle,     // a title of an HD DVD disc, folder or image
};

// DVD-Video navigation packs: their DSI layout, not HD DVD's.
inline bool hasDvdNavigation(SourceKind kind) {
    return kind == SourceKind::DvdFile || kind == SourceKind::DvdTitle;
}

inline bool isHdDvd(SourceKind kind) {
    return kind == SourceKind::HdDvdFile || kind == SourceKind::HdDvdTitle;
}

}  // namespace tolvane
