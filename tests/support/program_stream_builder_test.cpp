#include <gtest/gtest.h>

#include "program_stream_builder.h"

namespace tolvane::fixture {
namespace {

// The builder is the ground truth of most tests: check its bytes against the standard's layout.
TEST(ProgramStreamBuilder, WritesFieldsWhereTheStandardPutsThem) {
    EXPECT_EQ(timeStampField(2, 0x1C0DE1235), (Bytes{0x2F, 0x03, 0x79, 0x24, 0x6B}));
    const Bytes pes = pesPacket(0xFD, PesHeader{.pts = 0, .streamIdExtension = 0x55}, Bytes(3, 9));
    EXPECT_EQ(pes, (Bytes{0x00, 0x00, 0x01, 0xFD, 0x00, 0x0E, 0x81, 0x81, 0x08, 0x21,
                          0x00, 0x01, 0x00, 0x01, 0x0F, 0x81, 0x55, 9,    9,    9}));
    const Bytes header = systemHeader(6, 1);
    EXPECT_EQ(header[9] >> 2, 6);
    EXPECT_EQ(header[10] & 0x1F, 1);

    ProgramStreamBuilder ps;
    ps.pack({privateStream1Packet(0xA0, {}, Bytes(10, 1))}).pack({dsiPacket({.vobNumber = 3})});
    ASSERT_EQ(ps.size(), 2 * kPackSize);
    EXPECT_EQ(ps.bytes()[kPackSize + kPackHeaderSize + 3], 0xBF);
    EXPECT_EQ(ps.bytes()[kPackSize + kPackHeaderSize + 6], 0x01);
    EXPECT_EQ(ps.bytes()[kPackSize + kPackHeaderSize + 7 + 25], 3);  // VOB number, low byte
    EXPECT_THROW(ps.pack({Bytes(2100, 0)}), std::length_error);
}

}  // namespace
}  // namespace tolvane::fixture
