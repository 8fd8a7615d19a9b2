#include <gtest/gtest.h>

#include "analyser_fixture.h"
#include "analysers/mpeg2_analyser.h"

namespace tolvane {
namespace {

using fixture::AnalyserFixture;
using fixture::Bytes;
using Lines = std::vector<std::string>;

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

Bytes sequenceHeader(uint8_t rateByte = 0x34) {
    return {0x00, 0x00, 0x01, 0xB3, 0x78, 0x04, 0x38, rateByte, 0xFF, 0xFF, 0xE0, 0x00};
}
const Bytes kSequenceExtension = {0x00, 0x00, 0x01, 0xB5, 0x14, 0x82, 0x00, 0x01, 0x00, 0x00};
const Bytes kPictureExtension = {0x00, 0x00, 0x01, 0xB5, 0x8F, 0xFF, 0xF3, 0x41, 0x80, 0x00};
const Bytes kPicture = {0x00, 0x00, 0x01, 0x00, 0x00, 0x08, 0xFF, 0xF8};

struct Result {
    Lines lines;
    double frameRate;
};

Result mpeg2(const Bytes& payload, uint32_t pts = 0, int32_t videoNo = 1) {
    AnalyserFixture f;
    numberedStream(f.state->streams, StreamKind::Video, 1).frameRate = -5;
    const size_t at = f.place(payload, kBlockSize - payload.size());
    analyseMpeg2(f.context(), HeaderPayload{at, payload.size(), videoNo, pts});
    return {f.lines(), numberedStream(f.state->streams, StreamKind::Video, 1).frameRate};
}

TEST(AnalyseMPEG2, ReportsTheSequenceHeaderAndSetsTheFrameRate) {
    const Result r = mpeg2(sequenceHeader());
    EXPECT_EQ(r.lines,
              (Lines{"   Sequence Header found", "   size = [bl]1920[/bl]x[bl]1080[/bl]",
                     "   Aspect ratio = [bl]16:9[/bl]", "   Frame rate = [bl]29.97[/bl] fps",
                     "   Sequence header bitrate = [bl]variable[/bl]"}));
    EXPECT_EQ(r.frameRate, 30000.0 / 1001.0);
    EXPECT_EQ(mpeg2(sequenceHeader(0x37)).frameRate, 60000.0 / 1001.0);
    EXPECT_EQ(mpeg2(sequenceHeader(0x30)).frameRate, 1.0);
    const Result reserved = mpeg2(sequenceHeader(0x5B));
    EXPECT_EQ(reserved.frameRate, 1.0);
    EXPECT_EQ(reserved.lines[2], "   Aspect ratio = reserved");
    EXPECT_EQ(reserved.lines[3], "   Frame rate = reserved");
    // Cut after the fourth byte: no bitrate line.
    const Bytes header = sequenceHeader();
    EXPECT_EQ(mpeg2(Bytes(header.begin(), header.begin() + 8)).lines.size(), 4u);
}

// A sequence header whose bit_rate_value is `value`, marker and flags set as encoders write them.
Bytes withBitRate(uint32_t value) {
    Bytes header = sequenceHeader();
    header[8] = static_cast<uint8_t>(value >> 10);
    header[9] = static_cast<uint8_t>(value >> 2);
    header[10] = static_cast<uint8_t>((value & 3) << 6 | 0x20 | 0x07);
    return header;
}

TEST(AnalyseMPEG2, TakesTheBitRateExtensionAndTheMpeg1AspectFromWhatFollowsTheHeader) {
    const auto bitRateLine = [](const Bytes& payload) { return mpeg2(payload).lines.at(4); };
    // 120 Mbit/s is 300000 units of 400 bit/s: 18 bits in the header, the rest in the extension.
    Bytes extension = kSequenceExtension;
    extension[7] |= 0x02;  // bit_rate_extension = 1
    EXPECT_EQ(bitRateLine(join({withBitRate(300000 & 0x3FFFF), extension})),
              "   Sequence header bitrate = [bl]120000[/bl] kbps");
    EXPECT_EQ(bitRateLine(join({withBitRate(20000), kSequenceExtension})),
              "   Sequence header bitrate = [bl]8000[/bl] kbps");
    EXPECT_EQ(bitRateLine(join({withBitRate(0x3FFFE), kSequenceExtension})),
              "   Sequence header bitrate = [bl]104856[/bl] kbps");
    EXPECT_EQ(bitRateLine(join({withBitRate(0x3FFFF), kSequenceExtension})),
              "   Sequence header bitrate = [bl]variable[/bl]");

    // MPEG-1 goes on with a group of pictures: its aspect code is a pixel aspect ratio.
    const Bytes group = {0x00, 0x00, 0x01, 0xB8, 0x00, 0x08, 0x00, 0x00};
    Bytes mpeg1 = join({sequenceHeader(0x84), group});
    EXPECT_EQ(mpeg2(mpeg1).lines.at(2),
              "   Aspect ratio = [bl]0.9157[/bl] (pixel height/width, 4:3 625 lines)");
    mpeg1 = join({sequenceHeader(0xC4), group});
    EXPECT_EQ(mpeg2(mpeg1).lines.at(2),
              "   Aspect ratio = [bl]1.095[/bl] (pixel height/width, 4:3 525 lines)");
    EXPECT_EQ(mpeg2(join({sequenceHeader(0x34), kSequenceExtension})).lines.at(2),
              "   Aspect ratio = [bl]16:9[/bl]");
}

TEST(AnalyseMPEG2, GivesBothAspectsAndTheFieldOrderAsFfprobeNamesThem) {
    struct Case {
        uint8_t aspectAndRate;
        uint8_t fieldFlags;  // the picture coding extension's top_field_first byte
        uint8_t frameFlags;  // and its progressive_frame byte
        const char* sample;  // null: none
        const char* display;
        const char* fieldOrder;
    };
    const Case cases[] = {
        {0x04, 0x41, 0x80, nullptr, nullptr, "progressive"},  // aspect code 0 is forbidden
        {0x14, 0x41, 0x80, "1:1", "16:9", "progressive"},
        {0x24, 0xC1, 0x00, "3:4", "4:3", "tt"},
        {0x34, 0x41, 0x00, "1:1", "16:9", "bb"},
        {0x44, 0xC1, 0x00, "1989:1600", "221:100", "tt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.aspectAndRate));
        Bytes extension = kPictureExtension;
        extension[7] = c.fieldFlags;
        extension[8] = c.frameFlags;
        const Bytes payload =
            join({sequenceHeader(c.aspectAndRate), kSequenceExtension, kPicture, extension});
        const StreamHeader values = mpeg2Values(decodeMpeg2(payload.data(), 0, payload.size(), 0));
        EXPECT_EQ(values.sampleAspect.value_or("none"), c.sample ? c.sample : "none");
        EXPECT_EQ(values.displayAspect.value_or("none"), c.display ? c.display : "none");
        EXPECT_EQ(values.fieldOrder.value_or("none"), c.fieldOrder);
    }
}

TEST(AnalyseMPEG2, CountsPicturesBeforeTheFirstSequenceHeaderAndReportsTheFirstPts) {
    const Result before = mpeg2(join({kPictureExtension, kPictureExtension, sequenceHeader()}));
    EXPECT_EQ(before.lines[0], "   Sequence Header found");
    EXPECT_EQ(before.lines[1], "   2 frames before first Sequence Header");

    const Result pts = mpeg2(join({sequenceHeader(), kSequenceExtension, kPicture,
                                   kPictureExtension, kPicture, kPictureExtension}),
                             0x1ABCD);
    EXPECT_EQ(pts.lines.back(), "   First Video PTS = 0001ABCD");
    EXPECT_EQ(pts.lines[pts.lines.size() - 2], "   Progressive Sequence = 0");
}

TEST(AnalyseMPEG2, ReportsOneSequenceOnceItsExtensionIsSeen) {
    Bytes progressive = kSequenceExtension;
    progressive[5] |= 0x08;
    const Result r =
        mpeg2(join({sequenceHeader(), progressive, sequenceHeader(0x33), progressive}));
    EXPECT_EQ(r.lines.size(), 6u);
    EXPECT_EQ(r.lines.back(), "   Progressive Sequence = 1");
    EXPECT_EQ(r.frameRate, 30000.0 / 1001.0);
    // Without extensions every sequence header repeats its lines.
    EXPECT_EQ(mpeg2(join({sequenceHeader(), sequenceHeader(0x33)})).lines.size(), 9u);
}

TEST(AnalyseMPEG2, FlagsIllegalPictureCodingTypesAndLeavesTheRateAloneWithoutAHeader) {
    const Result r = mpeg2(join({kPicture,
                                 {0x00, 0x00, 0x01, 0x00, 0x00, 0x20},
                                 {0x00, 0x00, 0x01, 0x00, 0x00, 0x00},
                                 kPicture}));
    EXPECT_EQ(r.lines,
              (Lines{"   illegal picture_coding_type = 4", "   illegal picture_coding_type = 0"}));
    EXPECT_EQ(r.frameRate, -5);
    EXPECT_TRUE(mpeg2({}).lines.empty());
}

}  // namespace
}  // namespace tolvane
