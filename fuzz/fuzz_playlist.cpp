// The playlist scanner, title finding and cutting, and the chapter export on arbitrary bytes,
// fed in two chunks; and the disc's titles read from the same bytes, whose clips and streams
// must stay within what a playlist can say.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "discs/hddvd_disc.h"
#include "discs/xpl_chapters.h"
#include "discs/xpl_scanner.h"
#include "playlist/xpl_title.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tolvane;
    PlaylistMemo memo;
    XplAttributeTables tables;
    XplScanner scanner(memo, tables);
    const size_t half = size / 2;
    scanner.scan(data, half);
    scanner.scan(data + half, size - half);
    const int title = findTitleLine(memo, "FEATURE_1");
    if (title > 0) {
        cutToTitle(memo, title);
    }
    const std::vector<ChapterMark> chapters =
        titleChapters(memo, framesPerSecond(scanner.values().timeBase).value_or(60));
    matroskaChapterXml(chapters);
    ogmChapters(chapters);
    decodeCharacterReferences(std::string(reinterpret_cast<const char*>(data), size));
    for (const DiscTitle& found :
         playlistTitles(std::string_view(reinterpret_cast<const char*>(data), size))) {
        for (const DiscStream& stream : found.streams) {
            if (stream.number < 0 || stream.number > 31) {
                std::abort();
            }
        }
    }
    return 0;
}
