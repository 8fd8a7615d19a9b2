#pragma once

#include <cstdint>
#include <optional>

#include "analysers/analyser_context.h"

namespace tolvane {

struct H264ChromaFormat {
    uint32_t idc = 1;
    uint32_t lumaBits = 8;
    uint32_t chromaBits = 8;
};

struct H264Timing {
    int32_t unitsInTick = 0;
    int32_t timeScale = 0;
};

// The video usability information the report shows.
struct H264Vui {
    std::optional<uint32_t> aspectIdc;
    uint32_t sarWidth = 0;  // for aspect_ratio_idc 255
    uint32_t sarHeight = 0;
    std::optional<uint32_t> videoFormat;
    std::optional<H264Timing> timing;
};

// The fields of an H.264 sequence parameter set (ITU-T H.264, 7.3.2.1) that the report shows.
struct H264Sps {
    uint32_t profileIdc = 0;
    bool constraintSet3 = false;
    uint32_t levelIdc = 0;
    std::optional<H264ChromaFormat> chroma;  // in the high profiles only
    int64_t width = 0;                       // cropped
    int64_t height = 0;
    bool frameMbsOnly = false;  // no field pictures: progressive
    std::optional<H264Vui> vui;
};

// The first sequence parameter set of the payload; none when it holds none.
std::optional<H264Sps> decodeH264(const uint8_t* block, size_t blockLength, size_t offset,
                                  size_t length);
void printH264(const H264Sps& sps, const LabelTables& labels, const LocaleSettings& locale,
               Reporter& log);
// The frame rate the timing information gives: a frame lasts two ticks.
std::optional<double> h264FrameRate(const H264Sps& sps);
StreamHeader h264Values(const H264Sps& sps);

// Decodes, reports and records the first SPS of an H.264 payload, and sets the stream's frame
// rate (24000/1001 unless the SPS gives its timing).
void analyseH264(const AnalyserContext& context, const HeaderPayload& payload);

}  // namespace tolvane
