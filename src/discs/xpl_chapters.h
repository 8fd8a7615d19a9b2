#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "discs/xpl_scanner.h"

namespace tolvane {

// One chapter of a title, as muxing tools take it.
struct ChapterMark {
    int64_t startNs;   // from the title's start
    std::string name;  // UTF-8, character references decoded
};

// The frames per second of a title set's timeBase ("60fps", "50fps", "24fps"); none when the
// text names no positive rate.
std::optional<int> framesPerSecond(std::string_view timeBase);

// "HH:MM:SS:FF" with FF counted in frames at `fps`, in nanoseconds; none when malformed.
std::optional<int64_t> titleTimeNs(std::string_view time, int fps);

// The text of an attribute value with its character references decoded (&amp; &lt; &gt; &quot;
// &apos; &#NNN; &#xHH;), numeric ones written as UTF-8; an unknown reference stays as it is.
std::string decodeCharacterReferences(std::string_view text);

// The chapters of the title cut out of a playlist's memo (its <Chapter> elements, comments
// passed over), in memo order.
std::vector<ChapterMark> titleChapters(const PlaylistMemo& titleMemo, int fps);

// Matroska chapter XML, as mkvmerge --chapters reads it.
std::string matroskaChapterXml(const std::vector<ChapterMark>& chapters);
// Either form, handed to `write` a piece at a time.
void writeChapters(const std::vector<ChapterMark>& chapters, bool matroska,
                   const std::function<void(std::string_view)>& write);
// The simple OGM chapter format: CHAPTER01=00:05:30.500 and CHAPTER01NAME=...
std::string ogmChapters(const std::vector<ChapterMark>& chapters);

}  // namespace tolvane
