#include "discs/xpl_chapters.h"

#include <charconv>
#include <cstdio>

#include "core/text_escape.h"
#include "discs/xpl_scanner.h"

namespace tolvane {

namespace {

constexpr int64_t kNsPerSecond = 1000000000;

std::optional<int64_t> number(std::string_view digits) {
    int64_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size() || digits.empty()) {
        return std::nullopt;
    }
    return value;
}

void appendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | code >> 12);
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | code >> 18);
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

std::string escapeXml(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// HH:MM:SS followed by `fraction` digits of the second.
std::string clockText(int64_t ns, int64_t unit, int digits) {
    const int64_t seconds = ns / kNsPerSecond;
    char text[48];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%0*lld",
                  static_cast<long long>(seconds / 3600), static_cast<long long>(seconds / 60 % 60),
                  static_cast<long long>(seconds % 60), digits,
                  static_cast<long long>(ns % kNsPerSecond / unit));
    return text;
}

std::string chapterName(const ChapterMark& chapter, size_t index) {
    if (!chapter.name.empty()) {
        return chapter.name;
    }
    char name[32];
    std::snprintf(name, sizeof name, "Chapter %02zu", index + 1);
    return name;
}

}  // namespace

std::optional<int> framesPerSecond(std::string_view timeBase) {
    size_t digits = 0;
    while (digits < timeBase.size() && timeBase[digits] >= '0' && timeBase[digits] <= '9') {
        ++digits;
    }
    const std::optional<int64_t> fps = number(timeBase.substr(0, digits));
    if (!fps || *fps <= 0 || *fps > 1000) {
        return std::nullopt;
    }
    return static_cast<int>(*fps);
}

std::optional<int64_t> titleTimeNs(std::string_view time, int fps) {
    int64_t fields[4] = {};
    for (int k = 0; k < 4; ++k) {
        const size_t colon = time.find(':');
        const std::string_view field = k < 3 ? time.substr(0, colon) : time;
        const std::optional<int64_t> value = number(field);
        if (!value || *value < 0 || (k < 3 && colon == std::string_view::npos)) {
            return std::nullopt;
        }
        fields[k] = *value;
        if (k < 3) {
            time.remove_prefix(colon + 1);
        }
    }
    if (fields[1] > 59 || fields[2] > 59 || fields[3] >= fps || fields[0] > 100000) {
        return std::nullopt;
    }
    const int64_t seconds = (fields[0] * 60 + fields[1]) * 60 + fields[2];
    // Frames to nanoseconds, rounded to the nearest.
    return seconds * kNsPerSecond + (fields[3] * kNsPerSecond * 2 + fps) / (2 * fps);
}

std::string decodeCharacterReferences(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t k = 0;
    while (k < text.size()) {
        const size_t end = text[k] == '&' ? text.find(';', k) : std::string_view::npos;
        if (end == std::string_view::npos || end - k > 10) {
            out += text[k++];
            continue;
        }
        const std::string_view name = text.substr(k + 1, end - k - 1);
        std::optional<uint32_t> code;
        if (name == "amp") {
            code = '&';
        } else if (name == "lt") {
            code = '<';
        } else if (name == "gt") {
            code = '>';
        } else if (name == "quot") {
            code = '"';
        } else if (name == "apos") {
            code = '\'';
        } else if (name.size() > 1 && name[0] == '#') {
            uint32_t value = 0;
            const bool hex = name[1] == 'x' || name[1] == 'X';
            const std::string_view digits = name.substr(hex ? 2 : 1);
            const auto [at, error] =
                std::from_chars(digits.data(), digits.data() + digits.size(), value, hex ? 16 : 10);
            if (error == std::errc() && at == digits.data() + digits.size() && !digits.empty() &&
                value > 0 && value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF)) {
                code = value;
            }
        }
        if (!code) {
            out += text[k++];
            continue;
        }
        appendUtf8(out, *code);
        k = end + 1;
    }
    return out;
}

std::vector<ChapterMark> titleChapters(const PlaylistMemo& titleMemo, int fps) {
    std::vector<ChapterMark> chapters;
    for (size_t k = 0; k < titleMemo.size(); ++k) {
        const std::string_view line = titleMemo.bare(k);
        // The element's own name: a comment that mentions a chapter is no chapter.
        const size_t open = line.find('<');
        if (open == std::string_view::npos || line.substr(open + 1, 8) != "Chapter ") {
            continue;
        }
        const std::optional<std::string> begin = attributeValue(line, "titleTimeBegin");
        const std::optional<int64_t> ns = begin ? titleTimeNs(*begin, fps) : std::nullopt;
        if (!ns) {
            continue;
        }
        chapters.push_back(
            {*ns, decodeCharacterReferences(attributeValue(line, "displayName").value_or(""))});
    }
    return chapters;
}

void writeChapters(const std::vector<ChapterMark>& chapters, bool matroska,
                   const std::function<void(std::string_view)>& write) {
    if (matroska) {
        write(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<!DOCTYPE Chapters SYSTEM \"matroskachapters.dtd\">\n"
            "<Chapters>\n"
            "  <EditionEntry>\n");
    }
    // A chapter at a time: the text is never whole in memory, however many chapters there are.
    for (size_t k = 0; k < chapters.size(); ++k) {
        if (matroska) {
            write("    <ChapterAtom>\n      <ChapterTimeStart>" +
                  clockText(chapters[k].startNs, 1, 9) +
                  "</ChapterTimeStart>\n      <ChapterDisplay>\n        <ChapterString>" +
                  escapeXml(validUtf8(singleLine(chapterName(chapters[k], k)))) +
                  "</ChapterString>\n        <ChapterLanguage>und</ChapterLanguage>\n"
                  "      </ChapterDisplay>\n    </ChapterAtom>\n");
            continue;
        }
        char key[32];
        std::snprintf(key, sizeof key, "CHAPTER%02zu", k + 1);
        // Milliseconds, rounded to the nearest.
        const int64_t ns = (chapters[k].startNs + 500000) / 1000000 * 1000000;
        // A line break in a name would start a line of its own: a chapter of the text's making.
        write(std::string(key) + "=" + clockText(ns, 1000000, 3) + "\n" + key +
              "NAME=" + validUtf8(singleLine(chapterName(chapters[k], k))) + "\n");
    }
    if (matroska) {
        write("  </EditionEntry>\n</Chapters>\n");
    }
}

std::string matroskaChapterXml(const std::vector<ChapterMark>& chapters) {
    std::string xml;
    writeChapters(chapters, true, [&](std::string_view part) { xml += part; });
    return xml;
}

std::string ogmChapters(const std::vector<ChapterMark>& chapters) {
    std::string text;
    writeChapters(chapters, false, [&](std::string_view part) { text += part; });
    return text;
}

}  // namespace tolvane
