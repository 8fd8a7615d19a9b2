#include <gtest/gtest.h>

#include "analysers/bit_reader.h"
#include "bit_writer.h"

namespace tolvane {
namespace {

TEST(BitReader, LooksFourBytesAheadAndReadsFieldsOfAnyWidth) {
    const uint8_t block[] = {0x00, 0x00, 0x01, 0x0F, 0xA5, 0x12, 0x34, 0xFF, 0x80, 0x01};
    BitReader reader(block, sizeof block);
    reader.start(0);
    EXPECT_EQ(reader.peek(), 0x10Fu);
    EXPECT_EQ(reader.pos(), 4);
    reader.skip(32);
    EXPECT_EQ(reader.pos(), 8);
    EXPECT_EQ(reader.pending(), 0);

    reader.start(4);
    const uint32_t bits[] = {1, 0, 1, 0, 0, 1, 0, 1};
    for (uint32_t bit : bits) {
        EXPECT_EQ(reader.read(1), bit);
    }
    EXPECT_EQ(reader.read(16), 0x1234u);

    reader.start(4);
    EXPECT_EQ(reader.read(3), 5u);
    EXPECT_EQ(reader.read(5), 5u);
    reader.start(4);
    reader.read(12);
    EXPECT_EQ(reader.pos(), 9);
    EXPECT_EQ(reader.pending(), 4);

    // 32 bits after 3: spread over five bytes, none lost.
    reader.start(4);
    reader.read(3);
    EXPECT_EQ(reader.read(32), 0x2891A7FCu);
    EXPECT_EQ(reader.read(5), 0x00u);
}

TEST(BitReader, DecodesExpGolombCodes) {
    const std::vector<uint8_t> codes = fixture::BitWriter{}
                                           .bits(0b1, 1)
                                           .bits(0b010, 3)
                                           .bits(0b011, 3)
                                           .bits(0b00100, 5)
                                           .bits(0b00100, 5)
                                           .bits(0b00101, 5)
                                           .ue(65534)
                                           .se(-1000)
                                           .bytes();
    BitReader reader(codes.data(), codes.size());
    reader.start(0);
    EXPECT_EQ(reader.readUe(), 0u);
    EXPECT_EQ(reader.readUe(), 1u);
    EXPECT_EQ(reader.readUe(), 2u);
    EXPECT_EQ(reader.readUe(), 3u);
    EXPECT_EQ(reader.readSe(), 2);
    EXPECT_EQ(reader.readSe(), -2);
    EXPECT_EQ(reader.readUe(), 65534u);
    EXPECT_EQ(reader.readSe(), -1000);
}

TEST(BitReader, DeliversZerosPastTheBlockAndStopsLongRunsOfZeros) {
    const uint8_t block[] = {0xFF, 0xFF};
    BitReader reader(block, sizeof block);
    reader.start(0);
    EXPECT_EQ(reader.peek(), 0xFFFF0000u);
    EXPECT_EQ(reader.read(24), 0xFFFF00u);
    EXPECT_EQ(reader.readUe(), 0xFFFFFFFFu);  // nothing but zeros follow: the run stops
    reader.skip(255);
    EXPECT_EQ(reader.read(32), 0u);
    reader.start(-3);
    EXPECT_EQ(reader.peek(), 0x000000FFu);
}

}  // namespace
}  // namespace tolvane
