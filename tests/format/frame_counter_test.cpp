#include <gtest/gtest.h>

#include "format/frame_counter.h"
#include "program_stream_builder.h"

namespace tolvane {
namespace {

using fixture::Bytes;

int64_t countChunks(const std::vector<Bytes>& chunks, StreamCoding type, int32_t number = 0) {
    FrameCounter counter;
    int64_t count = 0;
    for (const Bytes& chunk : chunks) {
        counter.count(chunk.data(), chunk.size(), type, number, count);
    }
    return count;
}

TEST(FrameCounter, CountsEveryCodeOnceWhereverTheChunksSplitIt) {
    const Bytes stream = {0x00, 0x00, 0x01, 0x00, 0x44, 0x00, 0x00, 0x01, 0x00, 0x00,
                          0x00, 0x01, 0x00, 0x00, 0x01, 0xB3, 0x00, 0x00, 0x01, 0x00};
    for (size_t first = 0; first <= stream.size(); ++first) {
        for (size_t second = first; second <= stream.size(); ++second) {
            const std::vector<Bytes> chunks = {
                Bytes(stream.begin(), stream.begin() + static_cast<long>(first)),
                Bytes(stream.begin() + static_cast<long>(first),
                      stream.begin() + static_cast<long>(second)),
                Bytes(stream.begin() + static_cast<long>(second), stream.end())};
            EXPECT_EQ(countChunks(chunks, StreamCoding::Mpeg2), 4) << first << "/" << second;
        }
    }
}

TEST(FrameCounter, CountsInLongChunksWhatAByteByByteSearchFinds) {
    // Bytes drawn mostly from 00, 01 and the code byte, so that near misses lie everywhere, in
    // chunks of every length up to a few lanes and at every offset.
    uint32_t seed = 12345;
    const auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 16;
    };
    for (const StreamCoding type : {StreamCoding::Mpeg2, StreamCoding::H264}) {
        const uint8_t codeByte = type == StreamCoding::Mpeg2 ? 0x00 : 0x09;
        Bytes stream(60000);
        for (uint8_t& byte : stream) {
            const uint32_t pick = next() % 8;
            // H.264 pictures too (an IDR slice), so that delimiters have pictures between.
            const uint8_t code =
                type == StreamCoding::H264 && next() % 2 == 0 ? uint8_t{0x65} : codeByte;
            byte = pick < 3 ? 0x00 : pick < 5 ? 0x01 : pick < 6 ? code : next() & 0xFF;
        }
        int64_t expected = 0;
        bool delimited = false;
        for (size_t at = 0; at + 4 <= stream.size(); ++at) {
            if (stream[at] != 0 || stream[at + 1] != 0 || stream[at + 2] != 1) {
                continue;
            }
            const int nal = stream[at + 3] & 0x1F;
            if (type == StreamCoding::Mpeg2) {
                expected += stream[at + 3] == codeByte;
            } else if (nal == 9) {
                expected += delimited ? 0 : 1;  // an access unit delimiter, once before a picture
                delimited = true;
            } else if ((nal == 1 || nal == 5) && at + 4 < stream.size() &&
                       (stream[at + 4] & 0x80) != 0) {
                expected += delimited ? 0 : 1;  // a picture's first slice
                delimited = false;
            }
        }
        ASSERT_GT(expected, 50);
        std::vector<Bytes> chunks;
        for (size_t at = 0; at < stream.size();) {
            const size_t length = std::min<size_t>(next() % 70, stream.size() - at);
            chunks.emplace_back(stream.begin() + static_cast<long>(at),
                                stream.begin() + static_cast<long>(at + length));
            at += length;
        }
        EXPECT_EQ(countChunks(chunks, type), expected);
        EXPECT_EQ(countChunks({stream}, type), expected);

        // The search inside a chunk, with the widest vectors and with those every processor
        // has, over slices a few vector steps long at every alignment.
        for (int slice = 0; slice < 400; ++slice) {
            const size_t length = next() % 300;
            const size_t at = next() % (stream.size() - length);
            const uint8_t* p = stream.data() + at;
            int64_t inSlice = 0;
            for (size_t k = 0; k + 4 <= length; ++k) {
                inSlice += p[k] == 0 && p[k + 1] == 0 && p[k + 2] == 1 && p[k + 3] == codeByte;
            }
            ASSERT_EQ(frameCodesWithin(p, length, codeByte), inSlice) << at << "+" << length;
            ASSERT_EQ(frameCodesWithin(p, length, codeByte, true), inSlice) << at << "+" << length;
        }
    }
}

TEST(FrameCounter, CountsEachCodingsOwnCodeAndKeepsStreamsApart) {
    // Delimited access units, as VLC writes them: two delimiters before the IDR pictures.
    const Bytes h264 = {0,    0,    1, 0x09, 0x10, 0,    0,    1, 0x09, 0x10, 0,    0,   1, 0x65,
                        0x88, 0,    0, 1,    0x09, 0x30, 0,    0, 1,    0x41, 0x9A, 0,   0, 1,
                        0x09, 0x10, 0, 0,    1,    0x09, 0x10, 0, 0,    1,    0x65, 0x88};
    EXPECT_EQ(countChunks({h264}, StreamCoding::H264), 3);
    // Without delimiters (x264's default) each picture's first slice starts an access unit:
    // an IDR picture of two slices, SEI and a parameter set, then a picture of one slice.
    const Bytes undelimited = {0,    0,    1, 0x06, 0x05, 0,    0,    1, 0x68, 0xCE, 0,    0,   1,
                               0x65, 0x88, 0, 0,    1,    0x65, 0x2A, 0, 0,    1,    0x41, 0x9A};
    EXPECT_EQ(countChunks({undelimited}, StreamCoding::H264), 2);
    // Two frames and a sequence header: only the frame start code counts.
    const Bytes vc1 = {0x00, 0x00, 0x01, 0x0D, 0x00, 0x00, 0x01, 0x0F, 0x00, 0x00, 0x01, 0x0D};
    EXPECT_EQ(countChunks({vc1}, StreamCoding::Vc1), 2);
    // A chunk that only begins like the end of a code counts nothing.
    EXPECT_EQ(countChunks({{0x01, 0x00, 0x33}, {0x01, 0x09}}, StreamCoding::Mpeg2), 0);

    FrameCounter counter;
    int64_t zero = 0;
    int64_t one = 0;
    const Bytes head = {0x00, 0x00};
    const Bytes tail = {0x01, 0x00};
    counter.count(head.data(), head.size(), StreamCoding::Mpeg2, 0, zero);
    counter.count(tail.data(), tail.size(), StreamCoding::Mpeg2, 1, one);
    counter.count(tail.data(), tail.size(), StreamCoding::Mpeg2, 0, zero);
    EXPECT_EQ(zero, 1);
    EXPECT_EQ(one, 0);
    counter.count(tail.data(), tail.size(), StreamCoding::Mpeg2, -1, one);
    EXPECT_EQ(one, 0);
}

}  // namespace
}  // namespace tolvane
