// A small UDF 2.50 writer: just what a reader needs to find and read the files, laid out as
// ECMA-167 3rd edition and UDF 2.50 say (volume recognition, anchor, volume descriptors, a
// type 1 and a metadata partition map, metadata file and mirror, file set, directories and
// extended file entries).
#include "udf_image.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace tolvane::fixture {

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kBlock = 2048;
constexpr uint32_t kPartitionStart = 272;    // past the anchor at 256
constexpr uint32_t kMaxExtent = 0x3FFFF800;  // 30-bit lengths, whole blocks

using Block = std::array<uint8_t, kBlock>;

void put16(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}
void put32(uint8_t* p, uint32_t value) {
    put16(p, value);
    put16(p + 2, value >> 16);
}
void put64(uint8_t* p, uint64_t value) {
    put32(p, static_cast<uint32_t>(value));
    put32(p + 4, static_cast<uint32_t>(value >> 32));
}

// An entity identifier: flags 0, the identifier, and the UDF revision as its suffix.
void putRegid(uint8_t* p, const char* identifier) {
    std::memcpy(p + 1, identifier, std::strlen(identifier));
    put16(p + 24, 0x0250);
}

void putCharspec(uint8_t* p) {
    const char* name = "OSTA Compressed Unicode";
    std::memcpy(p + 1, name, std::strlen(name));
}

// A d-string of `size` bytes: compression id 8, the text, its length in the last byte.
void putDstring(uint8_t* p, size_t size, const std::string& text) {
    p[0] = 8;
    std::memcpy(p + 1, text.data(), text.size());
    p[size - 1] = static_cast<uint8_t>(text.size() + 1);
}

void putLongAd(uint8_t* p, uint32_t length, uint32_t block, uint16_t partition) {
    put32(p, length);
    put32(p + 4, block);
    put16(p + 8, partition);
}

uint16_t crc(const uint8_t* data, size_t length) {
    uint16_t value = 0;
    for (size_t k = 0; k < length; ++k) {
        value = static_cast<uint16_t>(value ^ (data[k] << 8));
        for (int bit = 0; bit < 8; ++bit) {
            value = static_cast<uint16_t>(value & 0x8000 ? (value << 1) ^ 0x1021 : value << 1);
        }
    }
    return value;
}

// Fills in the descriptor tag of a descriptor of `length` bytes at `p`, recorded at `location`.
void tag(uint8_t* p, uint16_t identifier, uint32_t location, size_t length) {
    put16(p, identifier);
    put16(p + 2, 3);
    put32(p + 12, location);
    put16(p + 10, static_cast<uint32_t>(length - 16));
    put16(p + 8, crc(p + 16, length - 16));
    uint8_t sum = 0;
    for (int k = 0; k < 16; ++k) {
        sum = static_cast<uint8_t>(k == 4 ? sum : sum + p[k]);
    }
    p[4] = sum;
}

// An extended file entry at metadata block `location`: `type` 4 a directory, 5 a file, 250
// and 251 the metadata file and its mirror. Its data is `inline` when given, else `extents`
// (long allocation descriptors, or short ones for the metadata files).
Block fileEntry(uint32_t location, uint8_t type, uint64_t length,
                const std::vector<uint8_t>* inlineData,
                const std::vector<std::array<uint32_t, 3>>& extents, bool shortAds) {
    Block b{};
    uint8_t* p = b.data();
    put16(p + 20, 4);  // strategy 4
    put16(p + 24, 1);
    p[27] = type;
    put16(p + 34, inlineData ? 3 : shortAds ? 0 : 1);
    put32(p + 36, 0xFFFFFFFF);  // uid
    put32(p + 40, 0xFFFFFFFF);  // gid
    put32(p + 44, 0x14A5);      // read and execute for all
    put16(p + 48, 1);
    put64(p + 56, length);
    put64(p + 64, length);
    putRegid(p + 168, "*Tolvane test");
    put64(p + 200, location + 16);
    size_t ads = 0;
    if (inlineData) {
        std::copy(inlineData->begin(), inlineData->end(), p + 216);
        ads = inlineData->size();
    } else {
        uint64_t blocks = 0;
        for (const auto& [bytes, block, partition] : extents) {
            if (shortAds) {
                put32(p + 216 + ads, bytes);
                put32(p + 216 + ads + 4, block);
                ads += 8;
            } else {
                putLongAd(p + 216 + ads, bytes, block, static_cast<uint16_t>(partition));
                ads += 16;
            }
            blocks += ((bytes & 0x3FFFFFFFu) + kBlock - 1) / kBlock;
        }
        put64(p + 72, blocks);
    }
    put32(p + 212, static_cast<uint32_t>(ads));
    tag(p, 266, location, 216 + ads);
    return b;
}

// A file identifier of `name` (empty: the parent) whose entry is metadata block `entry`.
void addIdentifier(std::vector<uint8_t>& out, uint32_t location, const std::string& name,
                   uint32_t entry, bool directory) {
    const size_t nameLength = name.empty() ? 0 : name.size() + 1;
    const size_t size = (38 + nameLength + 3) / 4 * 4;
    std::vector<uint8_t> fid(size, 0);
    put16(fid.data() + 16, 1);
    fid[18] = static_cast<uint8_t>((directory ? 0x02 : 0) | (name.empty() ? 0x08 : 0));
    fid[19] = static_cast<uint8_t>(nameLength);
    putLongAd(fid.data() + 20, kBlock, entry, 1);
    if (!name.empty()) {
        fid[38] = 8;
        std::memcpy(fid.data() + 39, name.data(), name.size());
    }
    tag(fid.data(), 257, location, size);
    out.insert(out.end(), fid.begin(), fid.end());
}

struct Entry {
    fs::path path;
    std::string name;
    bool directory = false;
    uint32_t metaBlock = 0;        // its file entry in the metadata partition
    std::vector<size_t> children;  // directories: entries in `entries`
    uint64_t size = 0;
    uint32_t dataBlock = 0;  // files: first block in the physical partition
};

}  // namespace

void writeUdf250Image(const fs::path& folder, const fs::path& image, size_t inlineLimit,
                      const UdfDamage& damage) {
    // Metadata block 0 is the file set descriptor; every entry takes one block after it.
    std::vector<Entry> entries{{folder, "", true}};
    for (size_t k = 0; k < entries.size(); ++k) {
        entries[k].metaBlock = static_cast<uint32_t>(k + 1);
        if (!entries[k].directory) {
            continue;
        }
        std::vector<fs::path> names;
        for (const auto& item : fs::directory_iterator(entries[k].path)) {
            names.push_back(item.path());
        }
        std::sort(names.begin(), names.end());
        for (const fs::path& path : names) {
            Entry child{path, path.filename().string(), fs::is_directory(path)};
            if (child.directory && k != 0) {
                throw std::runtime_error("only one level of folders: " + path.string());
            }
            child.size = child.directory ? 0 : fs::file_size(path);
            entries[k].children.push_back(entries.size());
            entries.push_back(child);
        }
    }
    // A looping chain's allocation extent takes the block after the entries.
    const auto loopBlock = static_cast<uint32_t>(entries.size() + 1);
    const auto metaBlocks = loopBlock + (damage.loopingExtents ? 1 : 0);
    // Physical partition: the metadata file's entry, its mirror's, the metadata, the data.
    uint32_t next = 2 + metaBlocks;
    for (Entry& entry : entries) {
        if (!entry.directory && (entry.size > inlineLimit || entry.size > kBlock - 216)) {
            entry.dataBlock = next;
            next += static_cast<uint32_t>((entry.size + kBlock - 1) / kBlock);
        }
    }
    const uint32_t partitionBlocks = next;
    const uint32_t total = kPartitionStart + partitionBlocks + 1;

    std::fstream out(image, std::ios::out | std::ios::binary | std::ios::trunc);
    const auto write = [&](uint32_t sector, const Block& block) {
        out.seekp(static_cast<std::streamoff>(sector) * kBlock);
        out.write(reinterpret_cast<const char*>(block.data()), kBlock);
    };

    for (const auto& [sector, identifier] :
         {std::pair{16u, "BEA01"}, std::pair{17u, "NSR03"}, std::pair{18u, "TEA01"}}) {
        Block b{};
        std::memcpy(b.data() + 1, identifier, 5);
        b[6] = 1;
        write(sector, b);
    }
    // The volume descriptor sequence, at 32 and again at 48.
    for (const uint32_t start : {32u, 48u}) {
        Block pvd{};
        put32(pvd.data() + 16, 0);
        putDstring(pvd.data() + 24, 32, "TOLVANE_UDF250");
        put16(pvd.data() + 56, 1);
        put16(pvd.data() + 58, 1);
        put16(pvd.data() + 60, 2);
        put16(pvd.data() + 62, 3);
        put32(pvd.data() + 64, 1);
        put32(pvd.data() + 68, 1);
        putDstring(pvd.data() + 72, 128, "TOLVANE_UDF250");
        putCharspec(pvd.data() + 200);
        putCharspec(pvd.data() + 264);
        tag(pvd.data(), 1, start, 512);
        write(start, pvd);

        Block pd{};
        put32(pd.data() + 16, 1);
        put16(pd.data() + 20, 1);  // allocated
        putRegid(pd.data() + 24, "+NSR03");
        put32(pd.data() + 184, 1);  // read only
        put32(pd.data() + 188, kPartitionStart);
        put32(pd.data() + 192, partitionBlocks);
        tag(pd.data(), 5, start + 1, 512);
        write(start + 1, pd);

        Block lvd{};
        put32(lvd.data() + 16, 2);
        putCharspec(lvd.data() + 20);
        putDstring(lvd.data() + 84, 128, "TOLVANE_UDF250");
        put32(lvd.data() + 212, kBlock);
        putRegid(lvd.data() + 216, "*OSTA UDF Compliant");
        putLongAd(lvd.data() + 248, kBlock, 0, 1);  // the file set, in the metadata partition
        put32(lvd.data() + 264, 6 + 64);
        put32(lvd.data() + 268, 2);
        uint8_t* map = lvd.data() + 440;
        map[0] = 1;
        map[1] = 6;
        put16(map + 2, 1);
        put16(map + 4, 0);
        map += 6;
        map[0] = 2;
        map[1] = 64;
        putRegid(map + 4, "*UDF Metadata Partition");
        put16(map + 36, 1);
        put16(map + 38, 0);
        put32(map + 40, 0);           // the metadata file's entry
        put32(map + 44, 1);           // its mirror's
        put32(map + 48, 0xFFFFFFFF);  // no bitmap
        put32(map + 52, 32);
        put16(map + 56, 1);
        tag(lvd.data(), 6, start + 2, 440 + 70);
        write(start + 2, lvd);

        Block usd{};
        put32(usd.data() + 16, 3);
        tag(usd.data(), 7, start + 3, 24);
        write(start + 3, usd);

        Block td{};
        tag(td.data(), 8, start + 4, 512);
        write(start + 4, td);
    }
    Block anchor{};
    put32(anchor.data() + 16, 16 * kBlock);
    put32(anchor.data() + 20, 32);
    put32(anchor.data() + 24, 16 * kBlock);
    put32(anchor.data() + 28, 48);
    tag(anchor.data(), 2, 256, 512);
    write(256, anchor);

    // The metadata file and its mirror: both the metadata blocks, from physical block 2 on.
    for (const auto& [block, type] : {std::pair{0u, uint8_t{250}}, std::pair{1u, uint8_t{251}}}) {
        write(kPartitionStart + block, fileEntry(block, type, uint64_t{metaBlocks} * kBlock,
                                                 nullptr, {{metaBlocks * kBlock, 2, 0}}, true));
    }
    const auto writeMeta = [&](uint32_t metaBlock, const Block& block) {
        write(kPartitionStart + 2 + metaBlock, block);
    };
    Block fsd{};
    putCharspec(fsd.data() + 48);
    putDstring(fsd.data() + 112, 128, "TOLVANE_UDF250");
    putCharspec(fsd.data() + 240);
    putDstring(fsd.data() + 304, 32, "TOLVANE_UDF250");
    put16(fsd.data() + 28, 3);
    put16(fsd.data() + 30, 3);
    put32(fsd.data() + 32, 1);
    put32(fsd.data() + 36, 1);
    putLongAd(fsd.data() + 400, kBlock, entries[0].metaBlock, 1);
    putRegid(fsd.data() + 416, "*OSTA UDF Compliant");
    tag(fsd.data(), 256, 0, 512);
    writeMeta(0, fsd);

    for (size_t k = 0; k < entries.size(); ++k) {
        const Entry& entry = entries[k];
        if (entry.directory) {
            std::vector<uint8_t> identifiers;
            const uint32_t parent = k == 0 ? entry.metaBlock : entries[0].metaBlock;
            addIdentifier(identifiers, entry.metaBlock, "", parent, true);
            for (const size_t child : entry.children) {
                addIdentifier(identifiers, entry.metaBlock, entries[child].name,
                              entries[child].metaBlock, entries[child].directory);
            }
            if (identifiers.size() > kBlock - 216) {
                throw std::runtime_error("too many names in " + entry.path.string());
            }
            writeMeta(entry.metaBlock,
                      fileEntry(entry.metaBlock, 4, identifiers.size(), &identifiers, {}, false));
            continue;
        }
        std::vector<uint8_t> content(entry.size);
        std::ifstream(entry.path, std::ios::binary)
            .read(reinterpret_cast<char*>(content.data()),
                  static_cast<std::streamsize>(content.size()));
        if (entry.dataBlock == 0) {
            writeMeta(entry.metaBlock,
                      fileEntry(entry.metaBlock, 5, entry.size, &content, {}, false));
            continue;
        }
        std::vector<std::array<uint32_t, 3>> extents;
        for (uint64_t done = 0; done < entry.size; done += kMaxExtent) {
            extents.push_back(
                {static_cast<uint32_t>(std::min<uint64_t>(kMaxExtent, entry.size - done)),
                 entry.dataBlock + static_cast<uint32_t>(done / kBlock), 0});
        }
        const bool damaged = entry.name == damage.file;
        if (damaged && damage.loopingExtents) {
            // Type 3: the descriptors go on in an allocation extent, which holds one more
            // block of data and goes on in itself.
            constexpr uint32_t kNextExtent = 3u << 30;
            extents.push_back({kNextExtent | kBlock, loopBlock, 1});
            Block aed{};
            put32(aed.data() + 20, 32);
            putLongAd(aed.data() + 24, kBlock, entry.dataBlock, 0);
            putLongAd(aed.data() + 40, kNextExtent | kBlock, loopBlock, 1);
            tag(aed.data(), 258, loopBlock, 24 + 32);
            writeMeta(loopBlock, aed);
        }
        const uint64_t claimed =
            damaged && damage.claimedSize > 0 ? damage.claimedSize : entry.size;
        writeMeta(entry.metaBlock, fileEntry(entry.metaBlock, 5, claimed, nullptr, extents, false));
        out.seekp(static_cast<std::streamoff>(kPartitionStart + entry.dataBlock) * kBlock);
        out.write(reinterpret_cast<const char*>(content.data()),
                  static_cast<std::streamsize>(content.size()));
    }
    // The last block: the image ends whole.
    write(total - 1, Block{});
    if (!out) {
        throw std::runtime_error("cannot write " + image.string());
    }
}

}  // namespace tolvane::fixture
