#include "core/text_escape.h"

#include <cstdint>

namespace tolvane {

namespace {

// The length of the valid UTF-8 sequence at `at` and its code point; 0 for an invalid byte.
size_t sequenceAt(std::string_view text, size_t at, uint32_t& codePoint) {
    const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
    const uint8_t lead = byte(at);
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    size_t length = 0;
    uint32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        codePoint = lead & 0x1F;
        minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        codePoint = lead & 0x0F;
        minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        codePoint = lead & 0x07;
        minimum = 0x10000;
    } else {
        return 0;
    }
    if (at + length > text.size()) {
        return 0;
    }
    for (size_t k = 1; k < length; ++k) {
        if ((byte(at + k) & 0xC0) != 0x80) {
            return 0;
        }
        codePoint = codePoint << 6 | (byte(at + k) & 0x3F);
    }
    // Overlong forms, UTF-16 surrogates and values past Unicode are not UTF-8.
    if (codePoint < minimum || (codePoint >= 0xD800 && codePoint <= 0xDFFF) ||
        codePoint > 0x10FFFF) {
        return 0;
    }
    return length;
}

void appendHex(std::string& out, uint8_t byte) {
    static constexpr char kDigits[] = "0123456789abcdef";
    out += "\\x";
    out += kDigits[byte >> 4];
    out += kDigits[byte & 15];
}

bool isControl(uint32_t codePoint) {
    return codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F);
}

template <typename Keep>
std::string escaped(std::string_view text, Keep keep) {
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        uint32_t codePoint = 0;
        const size_t length = sequenceAt(text, at, codePoint);
        if (length > 0 && keep(codePoint)) {
            out.append(text.substr(at, length));
            at += length;
            continue;
        }
        for (size_t k = 0; k < (length > 0 ? length : 1); ++k) {
            appendHex(out, static_cast<uint8_t>(text[at + k]));
        }
        at += length > 0 ? length : 1;
    }
    return out;
}

}  // namespace

std::string validUtf8(std::string_view text) {
    return escaped(text, [](uint32_t) { return true; });
}

std::string terminalSafe(std::string_view text) {
    return escaped(text, [](uint32_t codePoint) { return !isControl(codePoint); });
}

std::string singleLine(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (static_cast<uint8_t>(c) < 0x20 || c == 0x7F) {
            c = ' ';
        }
    }
    return out;
}

std::string upperCase(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

}  // namespace tolvane
