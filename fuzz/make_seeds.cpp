// Writes the seed corpora of the fuzz targets: small well-formed inputs of each kind, so that a
// short run starts from real structure. Usage: make_seeds FOLDER
#include <filesystem>
#include <string>

#include "program_stream_builder.h"
#include "temp_dir.h"
#include "udf_image.h"

namespace {

namespace fx = tolvane::fixture;
using fx::Bytes;

void seed(const std::filesystem::path& folder, const std::string& name, const Bytes& bytes) {
    fx::writeFile(folder / name, bytes);
}

Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// Arguments separated by NULs, as the command-line target splits them.
template <size_t N>
Bytes arguments(const char (&joined)[N]) {
    return Bytes(joined, joined + N - 1);
}

Bytes programStream() {
    fx::ProgramStreamBuilder ps;
    fx::DsiFields dsi{.vobNumber = 1, .startPtm = 90000, .endPtm = 180000};
    dsi.audioSync[0] = 1;
    ps.raw(fx::evoNavigationPack(2, 1, dsi, fx::CopyControlFields{.applies = 0xC0, .codes = 0x44}));
    const Bytes sequence = {0x00, 0x00, 0x01, 0xB3, 0x78, 0x04, 0x38, 0x33, 0x04, 0xE2,
                            0x20, 0x00, 0x00, 0x00, 0x01, 0xB5, 0x14, 0x8A, 0x00, 0x01,
                            0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x08, 0x00, 0x00};
    ps.pack({fx::pesPacket(0xE0, {.pts = 90000}, sequence)});
    ps.pack({fx::privateStream1Packet(0x80, {.pts = 90000},
                                      Bytes{0x0B, 0x77, 0x12, 0x34, 0x1E, 0x40, 0xE1, 0, 0, 0})});
    ps.pack({fx::privateStream1Packet(0xA1, {.pts = 90000}, Bytes(64, 0x10),
                                      Bytes{0x01, 0x00, 0x04, 0x00, 0x01, 0x80})});
    ps.pack({fx::privateStream1Packet(0x20, {.pts = 90000}, Bytes{0x00, 0x10, 0x00, 0x08, 1, 2})});
    ps.pack({fx::pesPacket(0xFD, {.pts = 90000, .streamIdExtension = 0x55},
                           Bytes{0x00, 0x00, 0x01, 0x0F, 0xC0, 0x00, 0x00})});
    ps.pack({fx::privateStream2Packet(0x80, Bytes(100, 0xAD))});
    return ps.bytes();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        return 2;
    }
    const std::filesystem::path root(argv[1]);
    const Bytes stream = programStream();
    Bytes passes = {0x05, 0x00};
    passes.insert(passes.end(), stream.begin(), stream.end());
    seed(root / "passes", "evo", passes);
    Bytes two = {0x00, 0x04};
    two.insert(two.end(), stream.begin(), stream.end());
    two.insert(two.end(), {0x00, 0xFF, 0x00, 0xFF});
    two.insert(two.end(), stream.begin(), stream.end());
    seed(root / "passes", "two-files", two);
    Bytes onePass = {0x00};
    onePass.insert(onePass.end(), stream.begin(), stream.end());
    seed(root / "one_pass", "evo", onePass);
    onePass[0] = 0x32;  // a VOB, delays in names, extensions by coding
    seed(root / "one_pass", "vob", onePass);

    seed(root / "analysers", "ac3", {0, 0, 0x0B, 0x77, 0x12, 0x34, 0x1E, 0x40, 0xE1, 0, 0, 0});
    seed(root / "analysers", "eac3", {0, 0, 0x0B, 0x77, 0x02, 0xFF, 0x7F, 0x80, 0, 0, 0});
    seed(root / "analysers", "dts",
         {1, 0, 0x7F, 0xFE, 0x80, 0x01, 0xFC, 0x3C, 0x7F, 0xF0, 0x3B, 0x60, 0x00, 0x00, 0x00, 0x00,
          0x00, 0x00});
    seed(root / "analysers", "h264",
         {2,    0,    0x00, 0x00, 0x01, 0x67, 0x64, 0x00, 0x28, 0xAC, 0xD9,
          0x40, 0x78, 0x02, 0x27, 0xE5, 0x84, 0x00, 0x00, 0x03, 0x00, 0x04,
          0x00, 0x00, 0x03, 0x00, 0xF0, 0x3C, 0x60, 0xC6, 0x58});
    seed(root / "analysers", "lpcm", {3, 7, 0xA0, 0x01, 0x00, 0x04, 0x00, 0x01, 0x80, 1, 2, 3, 4});
    seed(root / "analysers", "truehd",
         {4, 0, 0xF8, 0x72, 0x6F, 0xBA, 0x00, 0x07, 0x80, 0x4F, 0xB7, 0x52, 0, 0});
    seed(root / "analysers", "mpeg2",
         {5,    0,    0x00, 0x00, 0x01, 0xB3, 0x78, 0x04, 0x38, 0x33, 0x04, 0xE2,
          0x20, 0x00, 0x00, 0x00, 0x01, 0xB5, 0x14, 0x8A, 0x00, 0x01, 0x00, 0x00});
    seed(root / "analysers", "vc1",
         {6, 0, 0x00, 0x00, 0x01, 0x0F, 0xCA, 0x86, 0x0F, 0xE8, 0x43, 0x8A, 0x20, 0x00, 0x00, 0x00,
          0x00, 0x00});

    Bytes subpicture = {8, 0};
    const Bytes unit = fx::hdSubpictureUnit(2);
    subpicture.insert(subpicture.end(), unit.begin(), unit.end());
    seed(root / "analysers", "hd_subpicture", subpicture);
    seed(root / "analysers", "captions",
         {9,    0,    0x00, 0x00, 0x01, 0xB3, 0x2D, 0x01, 0xE0, 0x24, 0x00, 0x00, 0x01,
          0xB8, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x01, 0xB2, 'C',  'C',  0x01, 0xF8,
          0x84, 0xFF, 0x94, 0x20, 0xFE, 0x80, 0x80, 0xFF, 0xC1, 0xC2, 0xFE, 0x80, 0x80,
          0x00, 0x00, 0x01, 0x00, 0x00, 0x0F, 0xFF, 0xF8, 0x00, 0x00, 0x01, 0xB2, 'G',
          'A',  '9',  '4',  0x03, 0x42, 0xFF, 0xFC, 0x94, 0x2F, 0xFD, 0x80, 0x80, 0xFF});

    seed(root / "playlist", "xpl", text(R"(<?xml version="1.0"?>
<Playlist displayName="D"><!-- c --><TitleSet timeBase="60fps" tickBase="24fps">
<Title displayName="Main" titleDuration="00:10:00:00">
<PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/FEATURE_1.MAP">
<Video track="1" mediaAttr="1"/><Audio track="1" streamNumber="2" mediaAttr="1" description="E"/>
</PrimaryAudioVideoClip><ChapterList><Chapter titleTimeBegin="00:01:00:30" displayName="Caf&#233;"/>
</ChapterList></Title></TitleSet></Playlist>)"));
    seed(root / "markup", "line",
         text("Opening file [b]F[[1].EVO[/b] [bl]48[/bl] [c:0000FF]x[/c:0000FF]"));
    seed(root / "cli", "demux",
         arguments("demux\0x.EVO\0--select\0cbAudio00,DD.stream.01\0-o\0out"));
    seed(root / "cli", "xpl", arguments("xpl\0V.XPL\0--source\0F.EVO\0--chapters\0c.xml\0--"));

    // UDF 2.50 images of a small HD DVD disc whose clip's entry lies: its chain of allocation
    // extents goes on in itself, or it claims a terabyte.
    const std::filesystem::path disc = root / "udf-disc";
    std::filesystem::create_directories(disc / "HVDVD_TS");
    std::filesystem::create_directories(disc / "ADV_OBJ");
    std::filesystem::create_directories(root / "udf");
    seed(disc / "HVDVD_TS", "FEATURE_1.EVO", programStream());
    seed(disc / "ADV_OBJ", "VPLST000.XPL", text(R"(<Playlist><TitleSet><Title titleNumber="1">
<PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/FEATURE_1.MAP"/></Title></TitleSet></Playlist>)"));
    fx::writeUdf250Image(disc, root / "udf" / "looping.iso", 1024,
                         {.file = "FEATURE_1.EVO", .loopingExtents = true});
    fx::writeUdf250Image(disc, root / "udf" / "lying.iso", 1024,
                         {.file = "FEATURE_1.EVO", .claimedSize = uint64_t{1} << 40});
    std::filesystem::remove_all(disc);
    return 0;
}
