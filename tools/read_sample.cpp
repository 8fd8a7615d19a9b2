// Writes a small two-file sample feature with the fixture builder, runs the read job of the
// window model over it and prints the message log.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "program_stream_builder.h"
#include "ui/model/main_form.h"

namespace {

using namespace tolvane;
using fixture::Bytes;

class ConsoleOs : public OsServices {
public:
    void processEvents() override {}
    void repaint() override {}
    bool askYesNo(const std::string&) override { return false; }
    void beep() override {}
    void showError(const std::string& message) override { std::cerr << message << '\n'; }
    double now() override {
        using namespace std::chrono;
        return duration<double>(system_clock::now().time_since_epoch()).count() / 86400.0;
    }
    LocaleSettings locale() override { return {}; }
};

Bytes feature(uint16_t vob, uint64_t firstPts, int packs) {
    fixture::ProgramStreamBuilder ps;
    ps.systemPack(3, 1, {fixture::copyControlPacket({.applies = 0x80, .codes = 0x40})});
    fixture::DsiFields dsi{.vobNumber = vob,
                           .startPtm = 90000,
                           .endPtm = 90000 + 3003u * static_cast<uint32_t>(packs)};
    dsi.audioSync = {1, 1, 1};
    dsi.subSync[1] = 1;
    ps.pack({fixture::dsiPacket(dsi)});
    const Bytes picture = {0x00, 0x00, 0x01, 0x00, 0x00, 0x0F, 0xFF, 0xF8};
    for (int k = 0; k < packs; ++k) {
        const uint64_t pts = firstPts + 3003u * static_cast<uint64_t>(k);
        Bytes video(1900, 0x47);
        std::copy(picture.begin(), picture.end(), video.begin());
        ps.pack({fixture::pesPacket(0xE0, {.pts = pts, .dts = pts - 3003}, video)});
        if (k % 4 == 0) {
            ps.pack({fixture::privateStream1Packet(0x80, {.pts = pts}, Bytes(1536, 0x0B)),
                     fixture::privateStream1Packet(0x21, {.pts = pts}, Bytes(200, 0x00))});
            ps.pack({fixture::privateStream1Packet(0xC1, {.pts = pts}, Bytes(1800, 0x0B))});
            ps.pack({fixture::privateStream1Packet(0x8A, {.pts = pts}, Bytes(1800, 0x7F))});
        }
    }
    return ps.bytes();
}

void writeFile(const std::filesystem::path& path, const Bytes& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

int main(int argc, char** argv) {
    const std::filesystem::path disc =
        std::filesystem::path(argc > 1 ? argv[1] : "sample") / "DISC";
    const std::filesystem::path first = disc / "HVDVD_TS" / "FEATURE_1.EVO";
    try {
        writeFile(first, feature(1, 180000, 600));
        writeFile(disc / "HVDVD_TS" / "FEATURE_2.EVO", feature(2, 90000, 300));
    } catch (const std::exception& error) {
        std::cerr << error.what() << '\n';
        return 1;
    }
    ConsoleOs os;
    MainForm form(os);
    form.FormActivate();
    form.setText(Control::eEVOfile, first.string());
    form.EVOadj();
    form.bReadEVOClick();
    for (const LogLine& line : form.messageLog().lines()) {
        std::cout << line.text << '\n';
    }
    return form.enabled(Control::bReadEVO) ? 0 : 1;
}
