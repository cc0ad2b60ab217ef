// The sizes received files declare, and the room their install needs, on
// real files in a temporary working directory.
#include "install/disk_room.h"
#include "temp_dir.h"

#include <gtest/gtest.h>
#include <string>

namespace {

std::string Le32(std::uint32_t v) {
    return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
            static_cast<char>(v >> 24)};
}

// A gzip file as far as its size fields go: header, some data, trailer.
std::string GzipDeclaring(std::uint32_t plain, std::size_t size, char magic2 = '\x8b') {
    std::string head = std::string("\x1f") + magic2 + std::string(8, '\0');
    return head + std::string(size - head.size() - 8, 'd') + Le32(0xC0FFEE) + Le32(plain);
}

std::string ZipEntry(std::uint32_t plain, bool descriptor) {
    std::string h = Le32(0x04034B50) + std::string(26, '\0');
    h[6] = descriptor ? 8 : 0;
    h.replace(22, 4, descriptor ? Le32(0) : Le32(plain));
    h += std::string(100, 'd');
    if (descriptor)
        h += Le32(0x08074B50) + Le32(0xC0FFEE) + Le32(100) + Le32(plain);
    return h;
}

TEST(DiskRoom, ReadsThePlainSizeEachContainerDeclares) {
    TempWorkDir dir;
    struct Row {
        const char* what;
        std::string content;
        std::uint64_t plain;
    } rows[] = {
        {"gzip", GzipDeclaring(0x12345678, 40), 0x12345678},
        {"gzip, old signature", GzipDeclaring(77, 40, '\x9e'), 77},
        {"PKZIP entry", ZipEntry(5000, false), 5000},
        {"PKZIP entry with a data descriptor", ZipEntry(7000, true), 7000},
        {"pack: its own size", "\x1f\x1e" + std::string(98, 'p'), 100},
        {"one byte", "x", 1},
        {"empty", "", 0},
    };
    for (const Row& r : rows) {
        TempWorkDir::Write("f.gz", r.content);
        std::uint64_t plain = 0, compressed = 0;
        ASSERT_TRUE(DeclaredPlainSize("f.gz", plain, compressed)) << r.what;
        EXPECT_EQ(plain, r.plain) << r.what;
        EXPECT_EQ(compressed, r.content.size()) << r.what;
    }
    std::uint64_t plain = 0, compressed = 0;
    EXPECT_FALSE(DeclaredPlainSize("missing.gz", plain, compressed));
}

// Each output is written in full beside its compressed file; what a deleted
// compressed file frees serves the files after it, so the order matters.
TEST(DiskRoom, RoomToDecompressCountsWhatEachDeletedFileFrees) {
    TempWorkDir dir;
    TempWorkDir::Write("a.gz", GzipDeclaring(3000, 100));
    TempWorkDir::Write("b.gz", GzipDeclaring(500, 2000));
    CStringArray ab, ba, none;
    ab.Add("a.gz");
    ab.Add("b.gz");
    ab.Add("missing.gz");
    ba.Add("b.gz");
    ba.Add("a.gz");
    EXPECT_EQ(SpaceToDecompress(ab), 3000 - 100 + 500 + kDiskMargin);
    EXPECT_EQ(SpaceToDecompress(ba), 500 - 2000 + 3000 + kDiskMargin);
    EXPECT_EQ(SpaceToDecompress(none), kDiskMargin);
}

} // namespace
