// Interoperability: volumes made by mkfs.fat and filled by mtools read back
// exactly; what the module writes reads back exactly through mtools and
// passes fsck.fat.
#include <filesystem>
#include <fstream>

#include "fat_support.h"

using namespace fattest;
namespace fsys = std::filesystem;

namespace {

using Tree = std::map<std::string, std::string>; // path -> contents, "<dir>" for a directory

struct Format {
    const char* name;
    const char* mkfs;
    unsigned kb;
    BYTE type;      // FS_FAT*
    BYTE part_type; // type in a partition table at sector 2048; 0: none
};
void PrintTo(const Format& f, std::ostream* os) { *os << f.name; }

class FormatTest : public FatTest, public ::testing::WithParamInterface<Format> {
protected:
    LBA_t offset = 0;
    DWORD bpc = 0; // bytes per cluster

    void SetUp() override {
        FatTest::SetUp();
        const Format& f = GetParam();
        if (f.part_type == 0) {
            make_image(f.mkfs, f.kb);
        } else {
            offset = 2048;
            std::string mbr(512, '\0');
            mbr[446 + 4] = char(f.part_type);
            for (int i = 0; i < 4; i++) {
                mbr[446 + 8 + i] = char(offset >> (8 * i));
                mbr[446 + 12 + i] = char((f.kb * 2) >> (8 * i));
            }
            mbr[510] = 0x55, mbr[511] = char(0xAA);
            std::ofstream(file("img"), std::ios::binary) << mbr;
            fsys::resize_file(file("img"), (offset + f.kb * 2ull) * 512);
            Cmd c = run(std::string("/usr/sbin/mkfs.fat ") + f.mkfs + " --offset 2048 " + file("img") + " " +
                        std::to_string(f.kb));
            ASSERT_EQ(c.rc, 0) << c.out;
            g_disk.open(file("img"));
        }
        ASSERT_EQ(f_mount(&fs, "", 1), FR_OK);
        ASSERT_EQ(fs.fs_type, f.type);
        bpc = fs.csize * 512u;
    }
};

void walk(const std::string& dir, Tree& t) {
    for (auto& [name, e] : list(dir.empty() ? "/" : dir)) {
        std::string p = dir + "/" + name;
        t[p] = (e.fattrib & AM_DIR) ? "<dir>" : get(p, 1000);
        if (e.fattrib & AM_DIR) walk(p, t);
        else EXPECT_EQ(t[p].size(), e.fsize) << p;
    }
}

Tree host_tree(const std::string& root) {
    Tree t;
    for (auto& e : fsys::recursive_directory_iterator(root)) {
        std::string p = e.path().string().substr(root.size());
        for (auto& c : p) c = char(toupper(c));
        t[p] = e.is_directory() ? "<dir>" : read_host_file(e.path());
    }
    return t;
}

TEST_P(FormatTest, MtoolsContentReadsBackExactly) {
    Tree want;
    int seed = 0;
    for (auto [p, n] : std::initializer_list<std::pair<const char*, size_t>>{
             {"/EMPTY.TXT", 0}, {"/ONE.BIN", 1}, {"/S511.BIN", 511}, {"/S512.BIN", 512}, {"/S513.BIN", 513},
             {"/CM1.DAT", bpc - 1}, {"/C.DAT", bpc}, {"/CP1.DAT", bpc + 1}, {"/BIG.BIN", 70000 + 3 * bpc},
             {"/D1/X.TXT", 10}, {"/D1/D2/D3/DEEP.TXT", 5000}})
        want[p] = pattern(n, seed++);
    for (int i = 0; i < 40; i++) want["/MANY/F" + std::to_string(10 + i) + ".TXT"] = pattern(33 + i, seed++);
    std::string stage = file("stage");
    for (auto& [p, data] : want) {
        fsys::create_directories(fsys::path(stage + p).parent_path());
        write_host_file(stage + p, data);
    }
    fsys::create_directories(stage + "/EMPTYDIR");
    write_host_file(stage + "/Long File Name.txt", "long"); // stored with a long name: we see the short one
    write_host_file(stage + "/lower.txt", "lower");
    mtools("mcopy", file("img"), offset, "-s -Q " + stage + "/* ::/");
    for (const char* d : {"/D1", "/D1/D2", "/D1/D2/D3", "/MANY", "/EMPTYDIR"}) want[d] = "<dir>";
    want["/LONGFI~1.TXT"] = "long";
    want["/LOWER.TXT"] = "lower";

    remount();
    Tree got;
    walk("", got);
    EXPECT_TRUE(got == want);

    // Whole-cluster reads, and seeks back and forth along a long chain.
    const std::string& big = want["/BIG.BIN"];
    EXPECT_TRUE(get("/BIG.BIN", 3 * bpc + 512) == big);
    FIL f;
    ASSERT_EQ(f_open(&f, "/big.bin", FA_READ), FR_OK);
    for (FSIZE_t pos : {FSIZE_t(60000), bpc, FSIZE_t(0), FSIZE_t(big.size() - 7), 2 * bpc - 1, FSIZE_t(big.size() + 9)}) {
        char buf[300];
        UINT br;
        ASSERT_EQ(f_lseek(&f, pos), FR_OK);
        ASSERT_EQ(f_read(&f, buf, sizeof buf, &br), FR_OK);
        EXPECT_EQ(std::string(buf, br), big.substr(std::min<size_t>(pos, big.size()), 300)) << "at " << pos;
    }
    f_close(&f);
}

TEST_P(FormatTest, WrittenVolumeReadsBackThroughMtoolsAndPassesFsck) {
    Tree want;
    for (const char* p : {"/A", "/A/B", "/A/B/C", "/A/B/C/D", "/A/B/C/D/E", "/A/LOTS", "/GONE"}) {
        ASSERT_EQ(f_mkdir(p), FR_OK) << p;
        want[p] = "<dir>";
    }
    auto add = [&](const std::string& p, const std::string& data, UINT chunk) {
        put(p, data, chunk);
        want[p] = data;
    };
    auto move = [&](const std::string& from, const std::string& to) {
        ASSERT_EQ(f_rename(from.c_str(), to.c_str()), FR_OK) << from;
        Tree moved;
        for (auto& [p, data] : want)
            moved[p.rfind(from, 0) == 0 && (p.size() == from.size() || p[from.size()] == '/') ? to + p.substr(from.size()) : p] = data;
        want.swap(moved);
    };
    add("/EMPTY.TXT", "", 1);
    add("/ONE.CLU", pattern(bpc, 1), 512);
    add("/MANY.CLU", pattern(37 * bpc + 100, 2), 777);
    add("/A/B/C/D/E/DEEP.TXT", pattern(3000, 3), 4096);
    for (int i = 0; i < 40; i++) add("/A/LOTS/F" + std::to_string(10 + i) + ".TXT", pattern(i * 50, 10 + i), 100);
    add("/TRUNC.BIN", pattern(5 * bpc + 10, 4), 4096);
    add("/TRUNC0.BIN", pattern(2 * bpc, 5), 4096);
    for (int i = 0; i < 30; i++) { // appends the way the logger makes them
        std::string rec = pattern(200, 100 + i);
        FIL f;
        UINT bw;
        ASSERT_EQ(f_open(&f, "/APPEND.LOG", FA_READ | FA_WRITE | FA_OPEN_ALWAYS), FR_OK);
        ASSERT_EQ(f_lseek(&f, f_size(&f)), FR_OK);
        ASSERT_EQ(f_write(&f, rec.data(), 200, &bw), FR_OK);
        ASSERT_EQ(f_close(&f), FR_OK);
        want["/APPEND.LOG"] += rec;
    }
    move("/ONE.CLU", "/A/B/ONE.CLU");        // into another directory
    move("/A/LOTS/F15.TXT", "/A/LOTS/G15.TXT"); // in place
    move("/A/B/C/D", "/D2");                 // a directory, up to the root
    add("/D2/E/NEW.TXT", "after the move", 10);
    for (const char* p : {"/A/LOTS/F17.TXT", "/GONE"}) {
        ASSERT_EQ(f_unlink(p), FR_OK) << p;
        want.erase(p);
    }
    for (auto [p, at] : {std::pair<const char*, DWORD>{"/TRUNC.BIN", 2 * bpc + 3}, {"/TRUNC0.BIN", 0}}) {
        FIL f;
        ASSERT_EQ(f_open(&f, p, FA_READ | FA_WRITE), FR_OK);
        ASSERT_EQ(f_lseek(&f, at), FR_OK);
        ASSERT_EQ(f_truncate(&f), FR_OK);
        ASSERT_EQ(f_close(&f), FR_OK);
        want[p].resize(at);
    }

    expect_clean(file("img"), offset);
    fsys::create_directories(file("out"));
    mtools("mcopy", file("img"), offset, "-s -n -Q ::/* " + file("out"));
    EXPECT_TRUE(host_tree(file("out")) == want);
    std::string md = mtools("mdir", file("img"), offset, "::/A/B");
    EXPECT_NE(md.find("ONE      CLU"), std::string::npos) << md;
    EXPECT_NE(md.find("2024-05-06  12:34"), std::string::npos) << md;
}

const Format kFormats[] = {
    {"fat12_s1", "-F 12 -s 1", 1440, FS_FAT12, 0},
    {"fat12_s4", "-F 12 -s 4", 8000, FS_FAT12, 0},
    {"fat16_s4", "-F 16 -s 4 -n PHLOGGER", 16384, FS_FAT16, 0}, // with a volume label
    {"fat16_s32", "-F 16 -s 32", 82000, FS_FAT16, 0},
    {"fat16_bootmbr", "-F 16 -s 2 --mbr=y", 16384, FS_FAT16, 0},
    {"fat32_s1", "-F 32 -s 1", 34000, FS_FAT32, 0},
    {"fat32_s8", "-F 32 -s 8", 270000, FS_FAT32, 0},
    {"fat16_part", "-F 16 -s 2", 20000, FS_FAT16, 0x06},
    {"fat32_part", "-F 32 -s 1", 34000, FS_FAT32, 0x0C},
};
INSTANTIATE_TEST_SUITE_P(Formats, FormatTest, ::testing::ValuesIn(kFormats),
                         [](const auto& info) { return std::string(info.param.name); });

// A full volume takes what fits and says so by the count, as FAT modules
// do (FR_OK, a short count), and stays consistent.
class FullVolumeTest : public FatTest, public ::testing::WithParamInterface<Format> {};

TEST_P(FullVolumeTest, WriteUntilFullThenFree) {
    make_image(GetParam().mkfs, GetParam().kb);
    DWORD free0, nfree;
    FATFS* pfs;
    ASSERT_EQ(f_getfree("", &free0, &pfs), FR_OK);
    ASSERT_EQ(f_mkdir("/SUB"), FR_OK);
    std::string data;
    FIL f;
    UINT bw = 7001;
    FRESULT r = FR_OK;
    ASSERT_EQ(f_open(&f, "/SUB/FILL.BIN", FA_WRITE | FA_CREATE_NEW), FR_OK);
    for (int i = 0; i < 10000 && r == FR_OK && bw == 7001; i++) { // bounded: far more than fits
        std::string chunk = pattern(7001, i);
        r = f_write(&f, chunk.data(), 7001, &bw);
        data += chunk.substr(0, bw);
    }
    EXPECT_EQ(r, FR_OK);
    EXPECT_LT(bw, 7001u);
    EXPECT_EQ(f_size(&f), data.size());
    ASSERT_EQ(f_close(&f), FR_OK);
    ASSERT_EQ(f_getfree("", &nfree, &pfs), FR_OK);
    EXPECT_EQ(nfree, 0u);

    // Nothing more fits: not data, not a directory.
    ASSERT_EQ(f_open(&f, "/MORE.TXT", FA_WRITE | FA_CREATE_NEW), FR_OK);
    EXPECT_EQ(f_write(&f, "x", 1, &bw), FR_OK);
    EXPECT_EQ(bw, 0u);
    EXPECT_EQ(f_lseek(&f, 5000), FR_OK);
    EXPECT_EQ(f_tell(&f), 0u);
    EXPECT_EQ(f_size(&f), 0u);
    ASSERT_EQ(f_close(&f), FR_OK);
    EXPECT_EQ(f_mkdir("/NODIR"), FR_DENIED);
    expect_clean(file("img"));
    EXPECT_TRUE(mtools("mtype", file("img"), 0, "::/SUB/FILL.BIN") == data);

    for (const char* p : {"/SUB/FILL.BIN", "/MORE.TXT", "/SUB"}) ASSERT_EQ(f_unlink(p), FR_OK);
    remount();
    ASSERT_EQ(f_getfree("", &nfree, &pfs), FR_OK);
    EXPECT_EQ(nfree, free0);
    expect_clean(file("img"));
}

const Format kSmall[] = {{"fat12", "-F 12 -s 1", 400, FS_FAT12, 0}, {"fat16", "-F 16 -s 1", 2400, FS_FAT16, 0}};
INSTANTIATE_TEST_SUITE_P(Small, FullVolumeTest, ::testing::ValuesIn(kSmall),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
