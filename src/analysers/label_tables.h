#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "core/log_event.h"

namespace tolvane {

// The number and text tables that the header analysers index. Texts are stored exactly as
// they are printed, markup included; an empty entry prints as nothing.
namespace labels {

inline constexpr std::array<int32_t, 4> kAc3SampleRate = {48000, 44100, 32000, 0};

inline constexpr std::array<int32_t, 19> kAc3BitRate = {
    32000,  40000,  48000,  56000,  64000,  80000,  96000,  112000, 128000, 160000,
    192000, 224000, 256000, 320000, 384000, 448000, 512000, 576000, 640000};

// DVD-Audio channel assignments 0 to 20, named in one order whatever the assignment's
// channel groups: L, R, C, LFE, Ls, Rs, S.
inline constexpr std::array<std::string_view, 32> kChAssignText = {
    "mono",
    "L + R",
    "L + R + S",
    "L + R + Ls + Rs",
    "L + R + LFE",
    "L + R + LFE + S",
    "L + R + LFE + Ls + Rs",
    "L + R + C",
    "L + R + C + S",
    "L + R + C + Ls + Rs",
    "L + R + C + LFE",
    "L + R + C + LFE + S",
    "L + R + C + LFE + Ls + Rs",
    "L + R + C + S",
    "L + R + C + Ls + Rs",
    "L + R + C + LFE",
    "L + R + C + LFE + S",
    "L + R + C + LFE + Ls + Rs",
    "L + R + LFE + Ls + Rs",
    "L + R + C + Ls + Rs",
    "L + R + C + LFE + Ls + Rs",
};

inline constexpr std::array<std::string_view, 16> kWordLengthText = {"16", "20", "24"};

inline constexpr std::array<std::string_view, 16> kRateText = {
    "48", "96", "192", "", "", "", "", "", "44.1", "88.2", "176.4"};

inline constexpr std::array<ValueText, 16> kSarText = {{
    {"", "unspecified"},
    {"1:1", " (square samples)"},
    {"12:11", " (704x576 4:3)"},
    {"10:11", " (704x480 4:3)"},
    {"16:11", " (704x576 16:9)"},
    {"40:33", " (704x480 16:9)"},
    {"24:11", " (352x576 4:3)"},
    {"20:11", " (352x480 4:3)"},
    {"32:11", " (352x576 16:9)"},
    {"80:33", " (352x480 16:9)"},
    {"18:11", " (48$576 4:3)"},
    {"15:11", " (48$480 4:3)"},
    {"64:33", " (528x576 16:9)"},
    {"160:99", " (528x480 16:9)"},
    {"4:3", ""},
    {"3:2", "\""},
}};

// Copy-control report texts, indexed by a 3-bit code.
inline constexpr std::array<std::string_view, 8> kCgmsText = {"Copy Freely",
                                                              "",
                                                              "No More Copies",
                                                              "Encryption Plus Non-Assertion",
                                                              "Copy One Generation",
                                                              "Copy Never",
                                                              "",
                                                              ""};

inline constexpr std::array<std::string_view, 8> kApsText = {"off",
                                                             "Type 1 of APS1 is ON",
                                                             "Type 2 of APS1 is ON",
                                                             "Type 3 of APS1 is ON",
                                                             "",
                                                             "",
                                                             "APS2 is ON",
                                                             "APS2 is ON"};

}  // namespace labels

// The tables together, as the analysers and the navigation reports index them.
struct LabelTables {
    std::array<int32_t, 4> ac3SampleRate;
    std::array<int32_t, 19> ac3BitRate;
    std::array<std::string_view, 32> chAssignText;
    std::array<std::string_view, 16> wordLengthText;
    std::array<std::string_view, 16> rateText;
    std::array<ValueText, 16> sarText;
    std::array<std::string_view, 8> cgmsText;
    std::array<std::string_view, 8> apsText;
};

inline constexpr LabelTables kLabelTables{
    labels::kAc3SampleRate, labels::kAc3BitRate, labels::kChAssignText, labels::kWordLengthText,
    labels::kRateText,      labels::kSarText,    labels::kCgmsText,     labels::kApsText,
};

}  // namespace tolvane
