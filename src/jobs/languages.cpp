#include "jobs/languages.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

namespace tolvane {

namespace {

// ISO 639-1 to ISO 639-2/B, for the languages discs carry.
constexpr std::array<std::pair<std::string_view, std::string_view>, 64> kCodes = {{
    {"aa", "aar"}, {"af", "afr"}, {"ar", "ara"}, {"be", "bel"}, {"bg", "bul"}, {"bn", "ben"},
    {"bs", "bos"}, {"ca", "cat"}, {"cs", "cze"}, {"cy", "wel"}, {"da", "dan"}, {"de", "ger"},
    {"el", "gre"}, {"en", "eng"}, {"eo", "epo"}, {"es", "spa"}, {"et", "est"}, {"eu", "baq"},
    {"fa", "per"}, {"fi", "fin"}, {"fo", "fao"}, {"fr", "fre"}, {"ga", "gle"}, {"gd", "gla"},
    {"gl", "glg"}, {"he", "heb"}, {"hi", "hin"}, {"hr", "hrv"}, {"hu", "hun"}, {"hy", "arm"},
    {"id", "ind"}, {"is", "ice"}, {"it", "ita"}, {"ja", "jpn"}, {"ka", "geo"}, {"kk", "kaz"},
    {"km", "khm"}, {"ko", "kor"}, {"la", "lat"}, {"lt", "lit"}, {"lv", "lav"}, {"mk", "mac"},
    {"ms", "may"}, {"mt", "mlt"}, {"nl", "dut"}, {"no", "nor"}, {"pl", "pol"}, {"pt", "por"},
    {"ro", "rum"}, {"ru", "rus"}, {"sk", "slo"}, {"sl", "slv"}, {"sq", "alb"}, {"sr", "srp"},
    {"sv", "swe"}, {"ta", "tam"}, {"th", "tha"}, {"tr", "tur"}, {"uk", "ukr"}, {"ur", "urd"},
    {"vi", "vie"}, {"yi", "yid"}, {"zh", "chi"}, {"zu", "zul"},
}};

// The names an HD DVD track's description may give instead of a code.
constexpr std::array<std::pair<std::string_view, std::string_view>, 16> kNames = {{
    {"chinese", "chi"},
    {"danish", "dan"},
    {"dutch", "dut"},
    {"english", "eng"},
    {"finnish", "fin"},
    {"french", "fre"},
    {"german", "ger"},
    {"italian", "ita"},
    {"japanese", "jpn"},
    {"korean", "kor"},
    {"norwegian", "nor"},
    {"polish", "pol"},
    {"portuguese", "por"},
    {"russian", "rus"},
    {"spanish", "spa"},
    {"swedish", "swe"},
}};

}  // namespace

std::string matroskaLanguage(std::string_view language) {
    std::string lower(language);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower.size() == 2) {
        for (const auto& [two, three] : kCodes) {
            if (two == lower) {
                return std::string(three);
            }
        }
    }
    for (const auto& [name, three] : kNames) {
        if (name == lower) {
            return std::string(three);
        }
    }
    const bool letters = std::all_of(lower.begin(), lower.end(),
                                     [](unsigned char c) { return std::isalpha(c) != 0; });
    return lower.size() == 3 && letters ? lower : "und";
}

}  // namespace tolvane
