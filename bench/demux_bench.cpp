// Throughput of the demux job over a generated file of at least 1 GiB, as a ratio to copying
// the same file with cp in the same run. Usage: demux_bench [folder] [MiB]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "program_stream_builder.h"
#include "test_doubles.h"
#include "ui/model/main_form.h"

namespace {

using namespace tolvane;
using fixture::Bytes;

// 4 MiB of packs: navigation, video, three audio codings and a subpicture stream.
Bytes pattern() {
    fixture::ProgramStreamBuilder ps;
    const Bytes video(2048 - 14 - 19, 0x47);
    int k = 0;
    while (ps.size() < 4 * 1048576) {
        const uint64_t pts = 3003u * static_cast<uint64_t>(k++);
        if (k % 64 == 1) {
            ps.pack({fixture::dsiPacket({.startPtm = 0, .endPtm = 90000})});
        } else if (k % 8 == 2) {
            ps.pack({fixture::privateStream1Packet(0x80, {.pts = pts}, Bytes(1536, 0x0B))});
        } else if (k % 8 == 4) {
            ps.pack({fixture::privateStream1Packet(0xC1, {.pts = pts}, Bytes(1900, 0x0B))});
        } else if (k % 16 == 6) {
            ps.pack({fixture::privateStream1Packet(0x21, {.pts = pts}, Bytes(1500, 0x00))});
        } else {
            ps.pack({fixture::pesPacket(0xE0, {.pts = pts, .dts = pts}, video)});
        }
    }
    return ps.bytes();
}

double seconds(const std::chrono::steady_clock::time_point& start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    const std::filesystem::path folder = argc > 1 ? argv[1] : "bench-data";
    const size_t mebibytes = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 1024;
    std::filesystem::create_directories(folder / "out");
    const std::filesystem::path source = folder / "BENCH.EVO";
    {
        const Bytes block = pattern();
        std::ofstream out(source, std::ios::binary);
        for (size_t written = 0; written < mebibytes * 1048576; written += block.size()) {
            out.write(reinterpret_cast<const char*>(block.data()),
                      static_cast<std::streamsize>(block.size()));
        }
    }
    const std::string copy = (folder / "copy.bin").string();
    const std::string command = "cp '" + source.string() + "' '" + copy + "'";
    // Warm the page cache so that both measurements read the same way.
    if (std::system(command.c_str()) != 0) {
        return 1;
    }
    double cpBest = 1e9;
    double demuxBest = 1e9;
    fixture::FakeOs os;
    MainForm form(os);
    form.FormActivate();
    form.setText(Control::eEVOfile, source.string());
    form.EVOadj();
    form.bReadEVOClick();
    form.setText(Control::eWorkdir, (folder / "out").string());
    for (int round = 0; round < 3; ++round) {
        std::filesystem::remove(copy);
        auto start = std::chrono::steady_clock::now();
        if (std::system(command.c_str()) != 0) {
            return 1;
        }
        cpBest = std::min(cpBest, seconds(start));
        std::filesystem::remove(copy);

        std::filesystem::remove_all(folder / "out");
        std::filesystem::create_directories(folder / "out");
        start = std::chrono::steady_clock::now();
        form.bDemuxClick();
        demuxBest = std::min(demuxBest, seconds(start));
    }
    if (!os.errors.empty()) {
        std::cerr << os.errors.front() << '\n';
        return 1;
    }
    const double size = static_cast<double>(std::filesystem::file_size(source)) / 1048576.0;
    std::printf("file: %.0f MiB, streams written: ", size);
    for (const auto& entry : std::filesystem::directory_iterator(folder / "out")) {
        std::printf("%s ", entry.path().filename().c_str());
    }
    std::printf("\ncp         : %7.0f MiB/s\n", size / cpBest);
    std::printf("demux job  : %7.0f MiB/s  ratio to cp %.2f\n", size / demuxBest,
                cpBest / demuxBest);
    std::filesystem::remove_all(folder);
    return 0;
}
