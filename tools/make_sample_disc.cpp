// Makes a small HD DVD sample disc: DISC/HVDVD_TS/FEATURE_1.EVO and FEATURE_2.EVO with
// navigation packs, MPEG-2 video, Dolby Digital, Dolby Digital Plus, DTS, LPCM and TrueHD audio
// and two subpicture streams, and the playlist DISC/ADV_OBJ/VPLST000.XPL.
// Usage: make_sample_disc FOLDER
#include <filesystem>
#include <fstream>
#include <iostream>

#include "bit_writer.h"
#include "program_stream_builder.h"
#include "temp_dir.h"

namespace {

using tolvane::fixture::BitWriter;
using tolvane::fixture::Bytes;
using tolvane::fixture::writeFile;
namespace fx = tolvane::fixture;

constexpr uint64_t kFrameTicks = 3754;  // 90 kHz ticks of a 23.976 fps frame

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Sequence header (1920x1080, 16:9, 23.976 fps, 25 Mbit/s), sequence extension, GOP header,
// then one picture; later frames carry only their picture header.
Bytes mpeg2Frame(bool withSequence, size_t size) {
    Bytes frame;
    if (withSequence) {
        frame = Bytes{0x00, 0x00, 0x01, 0xB3} + BitWriter{}
                                                    .bits(1920, 12)
                                                    .bits(1080, 12)
                                                    .bits(3, 4)
                                                    .bits(1, 4)
                                                    .bits(62500, 18)
                                                    .bit(1)
                                                    .bits(597, 10)
                                                    .bit(0)
                                                    .bit(0)
                                                    .bit(0)
                                                    .bytes();
        frame = frame + Bytes{0x00, 0x00, 0x01, 0xB5} +
                BitWriter{}
                    .bits(1, 4)
                    .bits(0x44, 8)
                    .bit(1)
                    .bits(1, 2)
                    .bits(0, 2)
                    .bits(0, 2)
                    .bits(0, 12)
                    .bit(1)
                    .bits(0, 8)
                    .bit(0)
                    .bits(0, 2)
                    .bits(0, 5)
                    .bytes();
        frame = frame + Bytes{0x00, 0x00, 0x01, 0xB8, 0x00, 0x08, 0x00, 0x00};
    }
    frame = frame + Bytes{0x00, 0x00, 0x01, 0x00, 0x00, 0x0F, 0xFF, 0xF8};
    frame.resize(size, 0x55);
    return frame;
}

// Dolby Digital: 48 kHz, 448 kbit/s, 3/2 with LFE.
Bytes ac3Frame() {
    Bytes frame = Bytes{0x0B, 0x77, 0x00, 0x00} + BitWriter{}
                                                      .bits(0, 2)
                                                      .bits(30, 6)
                                                      .bits(8, 5)
                                                      .bits(0, 3)
                                                      .bits(7, 3)
                                                      .bits(0, 2)
                                                      .bits(0, 2)
                                                      .bit(1)
                                                      .bits(27, 5)
                                                      .bit(0)
                                                      .bit(0)
                                                      .bit(0)
                                                      .bit(1)
                                                      .bit(1)
                                                      .bits(0, 2)
                                                      .bit(0)
                                                      .bit(0)
                                                      .bytes();
    frame.resize(1792, 0x00);
    return frame;
}

// Dolby Digital Plus: independent substream, 48 kHz, six blocks, 3/2 with LFE.
Bytes eac3Frame() {
    Bytes frame = Bytes{0x0B, 0x77} + BitWriter{}
                                          .bits(0, 2)
                                          .bits(0, 3)
                                          .bits(767, 11)
                                          .bits(0, 2)
                                          .bits(3, 2)
                                          .bits(7, 3)
                                          .bit(1)
                                          .bits(16, 5)
                                          .bits(27, 5)
                                          .bit(0)
                                          .bytes();
    frame.resize(1536, 0x00);
    return frame;
}

// DTS core: 48 kHz, 3/2 with LFE, 1536 kbit/s, 24-bit source.
Bytes dtsFrame() {
    Bytes frame = Bytes{0x7F, 0xFE, 0x80, 0x01} + BitWriter{}
                                                      .bit(1)          // normal frame
                                                      .bits(31, 5)     // 32 core samples
                                                      .bit(0)          // no header CRC
                                                      .bits(15, 7)     // 16 sample blocks
                                                      .bits(2012, 14)  // 2013 bytes
                                                      .bits(9, 6)      // C L R Ls Rs
                                                      .bits(13, 4)     // 48 kHz
                                                      .bits(24, 5)     // 1536 kbit/s
                                                      .bits(0, 5)      // MIX .. HDCD
                                                      .bits(0, 3)      // extension id
                                                      .bit(0)          // no extension
                                                      .bit(0)          // ASPF
                                                      .bits(1, 2)      // LFE (IF:128)
                                                      .bit(0)          // HFLAG
                                                      .bit(0)          // FILTS
                                                      .bits(7, 4)      // current encoder
                                                      .bits(0, 2)      // CHIST
                                                      .bits(6, 3)      // 24-bit source
                                                      .bits(0, 6)
                                                      .bytes();
    frame.resize(2013, 0x00);
    return frame;
}

// TrueHD access unit with a major sync: 48 kHz, 5.1.
Bytes truehdUnit() {
    Bytes unit = Bytes{0x10, 0x00, 0x00, 0x00, 0xF8, 0x72, 0x6F, 0xBA} +
                 BitWriter{}
                     .bits(0, 4)    // 48 kHz
                     .bits(0, 4)    // multichannel types, reserved
                     .bits(0, 2)    // 2-channel presentation modifier
                     .bits(0, 2)    // 6-channel presentation modifier
                     .bits(15, 5)   // 6-channel assignment: L R C LFE Ls Rs
                     .bits(0, 2)    // 8-channel presentation modifier
                     .bits(15, 13)  // 8-channel assignment
                     .bits(0xB752, 16)
                     .bits(0, 16)
                     .bits(0, 16)
                     .bit(1)
                     .bits(1500, 15)
                     .bits(1, 4)
                     .bytes();
    unit.resize(1600, 0x00);
    return unit;
}

// LPCM sub-stream header after the id: frames, first access unit, then emphasis and frame
// number, 16-bit 48 kHz stereo, dynamic range.
const Bytes kLpcmHeader = {0x01, 0x00, 0x04, 0x00, 0x01, 0x80};

// A subpicture unit: size, control sequence offset, 2-bit run-length data, control sequence.
Bytes subpictureUnit() {
    Bytes unit = {0x00, 0x40, 0x00, 0x30};
    unit.resize(0x30, 0x11);
    unit = unit + Bytes{0x00, 0x00, 0x00, 0x30, 0x01, 0x03, 0x01, 0x23, 0x04, 0x45, 0x67, 0xFF};
    unit.resize(0x40, 0xFF);
    return unit;
}

Bytes feature(uint16_t vob, int frames) {
    fx::ProgramStreamBuilder ps;
    const uint64_t start = 90000;
    const uint32_t endPtm =
        static_cast<uint32_t>(start + kFrameTicks * static_cast<uint64_t>(frames));
    fx::DsiFields dsi{.vobNumber = vob, .startPtm = static_cast<uint32_t>(start), .endPtm = endPtm};
    dsi.audioSync = {1, 1, 1, 1, 1};
    dsi.subSync[0] = dsi.subSync[1] = 1;
    for (int k = 0; k < frames; ++k) {
        const uint64_t pts = start + kFrameTicks * static_cast<uint64_t>(k);
        if (k % 24 == 0) {
            ps.systemPack(
                5, 1,
                {fx::copyControlPacket({.applies = 0xC0, .codes = 0x44}), fx::dsiPacket(dsi)});
        }
        ps.pack({fx::pesPacket(0xE0, {.pts = pts + kFrameTicks, .dts = pts},
                               mpeg2Frame(k % 24 == 0, 1900))});
        if (k % 2 == 0) {
            ps.pack({fx::privateStream1Packet(0x80, {.pts = pts}, ac3Frame())});
            ps.pack({fx::privateStream1Packet(0xC1, {.pts = pts}, eac3Frame())});
        }
        if (k % 3 == 0) {
            ps.pack({fx::privateStream1Packet(0x8A, {.pts = pts}, dtsFrame())});
            ps.pack({fx::privateStream1Packet(0xB3, {.pts = pts}, truehdUnit())});
            ps.pack({fx::privateStream1Packet(0xA4, {.pts = pts}, Bytes(1920, 0x00), kLpcmHeader)});
        }
        if (k % 48 == 0) {
            ps.pack({fx::privateStream1Packet(0x20, {.pts = pts}, subpictureUnit()),
                     fx::privateStream1Packet(0x21, {.pts = pts}, subpictureUnit())});
        }
    }
    return ps.bytes();
}

const char* const kPlaylist = R"(<?xml version="1.0" encoding="UTF-8"?>
<Playlist xmlns="http://www.dvdforum.org/2005/HDDVDVideo/Playlist" majorVersion="1" minorVersion="0" displayName="Tolvane Sample">
  <!-- made by make_sample_disc -->
  <Configuration>
    <StreamingBuffer size="0"/>
  </Configuration>
  <MediaAttributeList>
    <VideoAttributeItem index="1" codec="MPEG-2" sampleAspectRatio="16:9" frameRate="24000/1001"/>
    <AudioAttributeItem index="1" codec="DD" channels="6"/>
    <AudioAttributeItem index="2" codec="DD+" channels="6"/>
    <AudioAttributeItem index="3" codec="DTS" channels="6"/>
    <AudioAttributeItem index="4" codec="MLP" channels="6"/>
    <AudioAttributeItem index="5" codec="LPCM" channels="2"/>
    <SubpictureAttributeItem index="1" codec="2bitRLE"/>
  </MediaAttributeList>
  <TitleSet timeBase="60fps" tickBase="24fps" defaultLanguage="en">
    <FirstPlayTitle titleDuration="00:00:00:00"/>
    <Title id="Title1" titleNumber="1" displayName="Sample Feature" titleDuration="00:00:25:00">
      <PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/FEATURE_1.MAP" titleTimeBegin="00:00:00:00" titleTimeEnd="00:00:15:00">
        <Video track="1" mediaAttr="1"/>
        <Audio track="1" streamNumber="1" mediaAttr="1" description="English"/>
        <Audio track="2" streamNumber="2" mediaAttr="2" description="English"/>
        <Audio track="3" streamNumber="3" mediaAttr="3" description="French"/>
        <Audio track="4" streamNumber="4" mediaAttr="4" description="German"/>
        <Audio track="5" streamNumber="5" mediaAttr="5" description="Commentary"/>
        <Subtitle track="1" streamNumber="1" mediaAttr="1" description="English"/>
        <Subtitle track="2" streamNumber="2" mediaAttr="1" description="French"/>
      </PrimaryAudioVideoClip>
      <PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/FEATURE_2.MAP" titleTimeBegin="00:00:15:00" titleTimeEnd="00:00:25:00"/>
      <ChapterList>
        <Chapter titleTimeBegin="00:00:00:00" displayName="Opening"/>
        <Chapter titleTimeBegin="00:00:15:00" displayName="Second file"/>
      </ChapterList>
    </Title>
  </TitleSet>
</Playlist>
)";

}  // namespace

int main(int argc, char** argv) {
    constexpr const char* kUsage =
        "Usage: make_sample_disc FOLDER\n"
        "Writes a sample disc to FOLDER/DISC: HVDVD_TS/FEATURE_1.EVO, HVDVD_TS/FEATURE_2.EVO\n"
        "and ADV_OBJ/VPLST000.XPL.\n";
    const std::string argument = argc == 2 ? argv[1] : "";
    if (argument == "-h" || argument == "--help") {
        std::cout << kUsage;
        return 0;
    }
    // A folder name that starts with "-" is taken for a mistyped option, not created.
    if (argc != 2 || argument.empty() || argument.front() == '-') {
        std::cerr << kUsage;
        return 2;
    }
    const std::filesystem::path disc = std::filesystem::path(argv[1]) / "DISC";
    try {
        writeFile(disc / "HVDVD_TS" / "FEATURE_1.EVO", feature(1, 360));
        writeFile(disc / "HVDVD_TS" / "FEATURE_2.EVO", feature(2, 240));
        const std::string playlist = kPlaylist;
        writeFile(disc / "ADV_OBJ" / "VPLST000.XPL", Bytes(playlist.begin(), playlist.end()));
    } catch (const std::exception& error) {
        std::cerr << error.what() << '\n';
        return 1;
    }
    std::cout << "Sample disc written to " << disc.string() << '\n';
    return 0;
}
