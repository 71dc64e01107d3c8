// Interoperability: volumes made by mkfs.fat and filled by mtools read back
// exactly; what the module writes reads back exactly through mtools and
// passes fsck.fat.
#include <filesystem>
#include <fstream>

#include "fat_support.h"

using namespace fattest;
namespace fsys = std::filesystem;

namespace {

struct Format {
    const char* name;
    const char* mkfs;
    unsigned kb;       // volume size
    BYTE type;         // expected FS_FAT*
    BYTE part_type;    // MBR partition type, 0 for none
};
void PrintTo(const Format& f, std::ostream* os) { *os << f.name; }


constexpr LBA_t PART_START = 2048;

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

class FormatTest : public FatTest, public ::testing::WithParamInterface<Format> {
protected:
    LBA_t offset = 0;
    std::string img;
    DWORD bpc = 0;

    void SetUp() override {
        FatTest::SetUp();
        const Format& f = GetParam();
        img = file("img");
        if (f.part_type == 0) {
            make_image(f.mkfs, f.kb);
        } else {
            // A partition table by hand, the volume made inside it.
            offset = PART_START;
            std::ofstream{img};
            fsys::resize_file(img, (PART_START + f.kb * 2ull) * 512);
            std::string mbr(512, '\0');
            mbr[446 + 4] = static_cast<char>(f.part_type);
            DWORD start = PART_START, count = f.kb * 2;
            for (int i = 0; i < 4; i++) {
                mbr[446 + 8 + i] = static_cast<char>(start >> (8 * i));
                mbr[446 + 12 + i] = static_cast<char>(count >> (8 * i));
            }
            mbr[510] = 0x55;
            mbr[511] = static_cast<char>(0xAA);
            std::fstream(img, std::ios::in | std::ios::out | std::ios::binary).write(mbr.data(), 512);
            Cmd c = run(std::string("/usr/sbin/mkfs.fat ") + f.mkfs + " --offset " +
                        std::to_string(PART_START) + " " + img + " " + std::to_string(f.kb));
            ASSERT_EQ(c.rc, 0) << c.out;
            g_disk.open(img);
            ASSERT_EQ(f_mount(&fs, "", 1), FR_OK);
        }
        DWORD nfree;
        FATFS* pfs;
        ASSERT_EQ(f_getfree("", &nfree, &pfs), FR_OK);
        ASSERT_EQ(pfs->fs_type, f.type);
        bpc = pfs->csize * 512u;
    }

};

std::map<std::string, std::string> stage_tree(const std::string& root, DWORD bpc) {
    std::map<std::string, std::string> t; // path in the volume -> content
    auto add = [&](const std::string& p, size_t n) { t[p] = pattern(n, static_cast<unsigned>(t.size() + 7)); };
    add("/EMPTY.TXT", 0);
    add("/ONE.BIN", 1);
    add("/S511.BIN", 511);
    add("/S512.BIN", 512);
    add("/S513.BIN", 513);
    add("/CM1.DAT", bpc - 1);
    add("/C.DAT", bpc);
    add("/CP1.DAT", bpc + 1);
    add("/BIG.BIN", 70000 + 3 * bpc);
    add("/D1/X.TXT", 10);
    add("/D1/D2/D3/DEEP.TXT", 5000);
    for (int i = 0; i < 40; i++) add("/MANY/F" + std::to_string(10 + i) + ".TXT", 33 + i);
    for (auto& [p, data] : t) {
        fsys::create_directories(fsys::path(root + p).parent_path());
        write_host_file(root + p, data);
    }
    fsys::create_directories(root + "/EMPTYDIR");
    // Names mtools stores with a long name; the short one is what we see.
    write_host_file(root + "/Long File Name.txt", "long");
    write_host_file(root + "/lower.txt", "lower");
    t["/LONGFI~1.TXT"] = "long";
    t["/LOWER.TXT"] = "lower";
    return t;
}

// Every directory of the volume, walked through the module.
void walk(const std::string& dir, std::map<std::string, std::string>& files,
          std::vector<std::string>& dirs) {
    for (auto& [name, e] : list(dir.empty() ? "/" : dir)) {
        std::string p = dir + "/" + name;
        if (e.attr & AM_DIR) {
            dirs.push_back(p);
            walk(p, files, dirs);
        } else {
            files[p] = get(p, 1000);
            EXPECT_EQ(files[p].size(), e.size) << p;
        }
    }
}

TEST_P(FormatTest, MtoolsContentReadsBackExactly) {
    std::string stage = file("stage");
    auto tree = stage_tree(stage, bpc);
    mtools("mcopy", img, offset, "-s -Q " + stage + "/* ::/");
    remount();

    std::map<std::string, std::string> files;
    std::vector<std::string> dirs;
    walk("", files, dirs);
    EXPECT_EQ(files.size(), tree.size());
    for (auto& [p, data] : tree) {
        ASSERT_TRUE(files.count(p)) << p << " missing";
        EXPECT_TRUE(files[p] == data) << p << " differs";
    }
    std::sort(dirs.begin(), dirs.end());
    EXPECT_EQ(dirs, (std::vector<std::string>{"/D1", "/D1/D2", "/D1/D2/D3", "/EMPTYDIR", "/MANY"}));

    // Whole-cluster reads, and seeks back and forth within a long chain.
    EXPECT_TRUE(get("/BIG.BIN", 3 * bpc + 512) == tree["/BIG.BIN"]);
    FIL f;
    ASSERT_EQ(f_open(&f, "/big.bin", FA_READ), FR_OK);
    const std::string& big = tree["/BIG.BIN"];
    for (FSIZE_t pos : {FSIZE_t(60000), FSIZE_t(bpc), FSIZE_t(0), FSIZE_t(big.size() - 7),
                        FSIZE_t(2 * bpc - 1), FSIZE_t(big.size() + 100)}) {
        ASSERT_EQ(f_lseek(&f, pos), FR_OK);
        char buf[300];
        UINT br;
        ASSERT_EQ(f_read(&f, buf, sizeof buf, &br), FR_OK);
        size_t at = std::min<size_t>(pos, big.size());
        EXPECT_EQ(std::string(buf, br), big.substr(at, 300)) << "at " << pos;
    }
    f_close(&f);
}

TEST_P(FormatTest, WrittenVolumeReadsBackThroughMtoolsAndPassesFsck) {
    std::map<std::string, std::string> model;
    auto mk = [&](const char* p) { ASSERT_EQ(f_mkdir(p), FR_OK) << p; };
    for (const char* p : {"/A", "/A/B", "/A/B/C", "/A/B/C/D", "/A/B/C/D/E", "/A/LOTS", "/GONE"}) mk(p);
    auto add = [&](const std::string& p, const std::string& data, UINT chunk) {
        put(p, data, chunk);
        model[p] = data;
    };
    add("/EMPTY.TXT", "", 1);
    add("/ONE.CLU", pattern(bpc, 1), 512);
    add("/MANY.CLU", pattern(37 * bpc + 100, 2), 777);
    add("/A/B/C/D/E/DEEP.TXT", pattern(3000, 3), 4096);
    for (int i = 0; i < 40; i++) add("/A/LOTS/F" + std::to_string(10 + i) + ".TXT", pattern(i * 50, 10 + i), 100);
    add("/TRUNC.BIN", pattern(5 * bpc + 10, 4), 4096);
    add("/TRUNC0.BIN", pattern(2 * bpc, 5), 4096);

    // Appends the way the logger makes them.
    std::string log;
    for (int i = 0; i < 30; i++) {
        std::string rec = pattern(200, 100 + i);
        FIL f;
        UINT bw;
        ASSERT_EQ(f_open(&f, "/APPEND.LOG", FA_READ | FA_WRITE | FA_OPEN_ALWAYS), FR_OK);
        ASSERT_EQ(f_lseek(&f, f_size(&f)), FR_OK);
        ASSERT_EQ(f_write(&f, rec.data(), 200, &bw), FR_OK);
        ASSERT_EQ(f_close(&f), FR_OK);
        log += rec;
    }
    model["/APPEND.LOG"] = log;

    // Renames: into another directory, in place, and a directory moved up.
    ASSERT_EQ(f_rename("/ONE.CLU", "/A/B/ONE.CLU"), FR_OK);
    model["/A/B/ONE.CLU"] = model["/ONE.CLU"];
    model.erase("/ONE.CLU");
    ASSERT_EQ(f_rename("/A/LOTS/F15.TXT", "/A/LOTS/G15.TXT"), FR_OK);
    model["/A/LOTS/G15.TXT"] = model["/A/LOTS/F15.TXT"];
    model.erase("/A/LOTS/F15.TXT");
    ASSERT_EQ(f_rename("/A/B/C/D", "/D2"), FR_OK);
    model["/D2/E/DEEP.TXT"] = model["/A/B/C/D/E/DEEP.TXT"];
    model.erase("/A/B/C/D/E/DEEP.TXT");
    add("/D2/E/NEW.TXT", "after the move", 10);

    // Deletions.
    ASSERT_EQ(f_unlink("/A/LOTS/F17.TXT"), FR_OK);
    model.erase("/A/LOTS/F17.TXT");
    ASSERT_EQ(f_unlink("/GONE"), FR_OK);

    // Truncations, to the middle of a cluster and to nothing.
    FIL f;
    ASSERT_EQ(f_open(&f, "/TRUNC.BIN", FA_READ | FA_WRITE), FR_OK);
    ASSERT_EQ(f_lseek(&f, 2 * bpc + 3), FR_OK);
    ASSERT_EQ(f_truncate(&f), FR_OK);
    ASSERT_EQ(f_close(&f), FR_OK);
    model["/TRUNC.BIN"].resize(2 * bpc + 3);
    ASSERT_EQ(f_open(&f, "/TRUNC0.BIN", FA_WRITE), FR_OK);
    ASSERT_EQ(f_truncate(&f), FR_OK);
    ASSERT_EQ(f_close(&f), FR_OK);
    model["/TRUNC0.BIN"] = "";

    expect_clean(img, offset);

    std::string out = file("out");
    fsys::create_directories(out);
    mtools("mcopy", img, offset, "-s -n -Q ::/* " + out);
    std::map<std::string, std::string> got;
    for (auto& e : fsys::recursive_directory_iterator(out))
        if (e.is_regular_file()) got[e.path().string().substr(out.size())] = read_host_file(e.path());
    // mtools shows the short names we stored in lower case only if asked.
    std::map<std::string, std::string> want;
    for (auto& [p, data] : model) want[p] = data;
    std::map<std::string, std::string> got_upper;
    for (auto& [p, data] : got) {
        std::string u = p;
        for (auto& ch : u) ch = static_cast<char>(toupper(ch));
        got_upper[u] = data;
    }
    EXPECT_EQ(got_upper.size(), want.size());
    for (auto& [p, data] : want) EXPECT_TRUE(got_upper[p] == data) << p;
    EXPECT_TRUE(fsys::is_directory(out + "/A/B/C"));
    EXPECT_FALSE(fsys::exists(out + "/A/B/C/D"));

    std::string mt = mtools("mtype", img, offset, "::/D2/E/NEW.TXT");
    EXPECT_EQ(mt, "after the move");
    std::string md = mtools("mdir", img, offset, "::/A/B");
    EXPECT_NE(md.find("ONE      CLU"), std::string::npos) << md;
    EXPECT_NE(md.find("2024-05-06  12:34"), std::string::npos) << md;
}

INSTANTIATE_TEST_SUITE_P(Formats, FormatTest, ::testing::ValuesIn(kFormats),
                         [](const auto& info) { return std::string(info.param.name); });

// A full volume refuses further data with FR_DENIED and stays consistent.
class FullVolumeTest : public FatTest, public ::testing::WithParamInterface<Format> {};

TEST_P(FullVolumeTest, WriteUntilFullThenFree) {
    make_image(GetParam().mkfs, GetParam().kb);
    DWORD free0, nfree;
    FATFS* pfs;
    ASSERT_EQ(f_getfree("", &free0, &pfs), FR_OK);
    ASSERT_EQ(f_mkdir("/SUB"), FR_OK);

    std::string data;
    FIL f;
    ASSERT_EQ(f_open(&f, "/SUB/FILL.BIN", FA_WRITE | FA_CREATE_NEW), FR_OK);
    FRESULT r = FR_OK;
    // Bounded: the volume is far smaller than this many chunks.
    for (int i = 0; i < 10000 && r == FR_OK; i++) {
        std::string chunk = pattern(7001, i);
        UINT bw;
        r = f_write(&f, chunk.data(), 7001, &bw);
        data += chunk.substr(0, bw);
        if (r == FR_OK) {
            ASSERT_EQ(bw, 7001u);
        }
    }
    EXPECT_EQ(r, FR_DENIED);
    EXPECT_EQ(f_size(&f), data.size());
    ASSERT_EQ(f_close(&f), FR_OK);
    ASSERT_EQ(f_getfree("", &nfree, &pfs), FR_OK);
    EXPECT_EQ(nfree, 0u);

    // Nothing more fits: not data, not a directory.
    UINT bw;
    ASSERT_EQ(f_open(&f, "/MORE.TXT", FA_WRITE | FA_CREATE_NEW), FR_OK);
    EXPECT_EQ(f_write(&f, "x", 1, &bw), FR_DENIED);
    EXPECT_EQ(bw, 0u);
    EXPECT_EQ(f_lseek(&f, 5000), FR_DENIED);
    EXPECT_EQ(f_size(&f), 0u);
    ASSERT_EQ(f_close(&f), FR_OK);
    EXPECT_EQ(f_mkdir("/NODIR"), FR_DENIED);

    expect_clean(file("img"));
    EXPECT_TRUE(mtools("mtype", file("img"), 0, "::/SUB/FILL.BIN") == data);
    EXPECT_TRUE(get("/SUB/FILL.BIN", 4096) == data);

    ASSERT_EQ(f_unlink("/SUB/FILL.BIN"), FR_OK);
    ASSERT_EQ(f_unlink("/MORE.TXT"), FR_OK);
    ASSERT_EQ(f_unlink("/SUB"), FR_OK);
    remount();
    ASSERT_EQ(f_getfree("", &nfree, &pfs), FR_OK);
    EXPECT_EQ(nfree, free0);
    expect_clean(file("img"));
}

const Format kSmall[] = {
    {"fat12", "-F 12 -s 1", 400, FS_FAT12, 0},
    {"fat16", "-F 16 -s 1", 2400, FS_FAT16, 0},
};
INSTANTIATE_TEST_SUITE_P(Small, FullVolumeTest, ::testing::ValuesIn(kSmall),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
