#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/input_source.h"
#include "discs/disc.h"

namespace tolvane {

// The files of a disc: a folder's, or an image's.
class DiscFiles {
public:
    virtual ~DiscFiles() = default;
    // The file at `path` below the disc's root ("ADV_OBJ/VPLST000.XPL"), every name matched in
    // any case; null when there is none.
    virtual std::unique_ptr<InputSource> open(const std::string& path) const = 0;
    // What messages and logs call the file at `path`.
    virtual std::string where(const std::string& path) const = 0;
};

// The titles of an HD DVD playlist (VPLST000.XPL): each title's number, name, duration, clips,
// tracks and chapters. Bytes that are no playlist give no titles.
std::vector<DiscTitle> playlistTitles(std::string_view playlist);

// How long the video of a program stream plays, in seconds: its last video time stamp (in
// the last `window` bytes) minus its first (in the first ones), plus one frame; none without
// video time stamps.
std::optional<double> measuredVideoSeconds(InputSource& stream, int64_t window = 4 << 20);

// Whether `path` is an HD DVD disc (its folders, or an image holding them), its playlist not
// read: the layout of its navigation packs, which a DVD's differ from.
bool isHdDvdDisc(const std::string& path);

// An HD DVD disc: a folder holding HVDVD_TS (the .EVO and .MAP files) and ADV_OBJ (the playlist
// VPLST000.XPL), or either of those folders. Its titles are the playlist's; each is read as its
// clips' .EVO files, in playlist order.
class HdDvdDisc : public Disc {
public:
    // The disc at `path` when it is an HD DVD one, else null. Throws PlatformError naming the
    // path when it is one but its playlist cannot be read.
    static std::unique_ptr<HdDvdDisc> openIfOne(const std::string& path);
    // `files` are the disc's; `path` is what messages call it.
    HdDvdDisc(std::string path, std::unique_ptr<DiscFiles> files);

    const char* kind() const override { return "hddvd"; }
    // The title's clips' .EVO files, one span each. Throws PlatformError when the title does not
    // exist, has another angle than 1 or a clip's .EVO is missing.
    std::unique_ptr<SpanSource> titleSource(int title, int angle = 1) const override;
    // Each title's measured duration, from its clips' first and last video time stamps.
    void measure() override;

private:
    std::unique_ptr<DiscFiles> files_;
};

}  // namespace tolvane
