#pragma once

#include <string>
#include <string_view>

namespace tolvane {

// The ISO 639-2 (bibliographic) code Matroska names a language by, from what a disc gives: two
// letters (ISO 639-1, a DVD's and an HD DVD playlist's langcode) or three; "und" for anything
// else, an empty text included.
std::string matroskaLanguage(std::string_view language);

}  // namespace tolvane
