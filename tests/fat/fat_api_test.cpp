// Result codes and the rules of names, paths and mounting.
#include "fat_support.h"

using namespace fattest;

namespace {

class ApiTest : public FatTest {
protected:
    void SetUp() override {
        FatTest::SetUp();
        make_image("-F 16 -s 1", 4096);
    }
};

FRESULT open(const char* path, BYTE mode) {
    FIL f;
    FRESULT r = f_open(&f, path, mode);
    return r == FR_OK ? f_close(&f) : r;
}
FRESULT create(const char* path) { return open(path, FA_WRITE | FA_CREATE_NEW); }

TEST_F(ApiTest, NamesAreEightDotThreeCaseInsensitive) {
    for (const char* bad : {"/TOOLONGNAME.TXT", "/A.TOOL", "/A.B.C", "/BAD*.TXT", "/SP ACE.TXT", "/.HIDDEN", "/A+B",
                            "/A[1]", "/Q?", "/A:B", "/X\"Y", "/", "", "/.."})
        EXPECT_EQ(create(bad), FR_INVALID_NAME) << bad;
    for (const char* good : {"/12345678.123", "/~$#%&!.@^_", "/NAME.", "/lower.txt", "/X"})
        EXPECT_EQ(create(good), FR_OK) << good;
    EXPECT_EQ(create("/LOWER.TXT"), FR_EXIST);
    EXPECT_EQ(create("/name"), FR_EXIST) << "a trailing dot names the same file";
    auto root = list("/");
    EXPECT_EQ(root.size(), 5u);
    EXPECT_TRUE(root.count("LOWER.TXT") && root.count("12345678.123") && root.count("NAME"));
    expect_clean(file("img"));
}

TEST_F(ApiTest, ResultCodesTellWhatIsWrong) {
    ASSERT_EQ(f_mkdir("/D"), FR_OK);
    ASSERT_EQ(f_mkdir("/D/SUB"), FR_OK);
    put("/D/F.TXT", "x");
    put("/G.TXT", "y");
    g_disk.flush();
    run("/usr/bin/mattrib -i " + file("img") + " +r ::/G.TXT");
    remount();
    FIL f;
    DIR d;
    const std::pair<FRESULT, FRESULT> cases[] = {
        {open("/D/NONE.TXT", FA_READ), FR_NO_FILE},
        {open("/NODIR/F.TXT", FA_READ), FR_NO_PATH},
        {open("/NODIR/F.TXT", FA_WRITE | FA_OPEN_ALWAYS), FR_NO_PATH},
        {open("/D/F.TXT/G", FA_READ), FR_NO_PATH}, // a file is no directory
        {open("/D", FA_READ), FR_NO_FILE},         // a directory is no file
        {open("/D", FA_WRITE | FA_CREATE_ALWAYS), FR_DENIED},
        {open("/D/F.TXT", FA_WRITE | FA_CREATE_NEW), FR_EXIST},
        {open("/G.TXT", FA_WRITE), FR_DENIED}, // read-only
        {open("/G.TXT", FA_WRITE | FA_CREATE_ALWAYS), FR_DENIED},
        {open("/G.TXT", FA_READ), FR_OK},
        {f_opendir(&d, "/NODIR"), FR_NO_PATH},
        {f_opendir(&d, "/D/F.TXT"), FR_NO_PATH},
        {f_unlink("/D/NONE.TXT"), FR_NO_FILE},
        {f_unlink("/NODIR/X"), FR_NO_PATH},
        {f_unlink("/D"), FR_DENIED}, // not empty
        {f_unlink("/G.TXT"), FR_DENIED},
        {f_mkdir("/NODIR/X"), FR_NO_PATH},
        {f_mkdir("/D"), FR_EXIST},
        {f_mkdir("/d/f.txt"), FR_EXIST},
        {f_rename("/D/NONE.TXT", "/Y"), FR_NO_FILE},
        {f_rename("/D/F.TXT", "/NODIR/Y"), FR_NO_PATH},
        {f_rename("/G.TXT", "/D/F.TXT"), FR_EXIST},
        {f_rename("/G.TXT", "/D/SUB"), FR_EXIST},
        {f_rename("/D", "/D/SUB/X"), FR_DENIED}, // into its own subdirectory
        {f_unlink("/D/SUB"), FR_OK},
        {f_rename("/D", "/D/X"), FR_DENIED}, // into itself
    };
    for (size_t i = 0; i < std::size(cases); i++) EXPECT_EQ(cases[i].first, cases[i].second) << "case " << i;

    // Transfers against the open mode.
    char c;
    UINT n;
    ASSERT_EQ(f_open(&f, "/G.TXT", FA_READ), FR_OK);
    EXPECT_EQ(f_write(&f, "z", 1, &n), FR_DENIED);
    EXPECT_EQ(f_truncate(&f), FR_DENIED);
    f_close(&f);
    ASSERT_EQ(f_open(&f, "/D/F.TXT", FA_WRITE), FR_OK);
    EXPECT_EQ(f_read(&f, &c, 1, &n), FR_DENIED);
    f_close(&f);
    expect_clean(file("img"));
}

TEST_F(ApiTest, DotComponentsFollowTheEntriesOnDisk) {
    ASSERT_EQ(f_mkdir("/A"), FR_OK);
    ASSERT_EQ(f_mkdir("/A/B"), FR_OK);
    put("/A/B/F.TXT", "deep");
    put("/TOP.TXT", "top");
    EXPECT_EQ(get("/A/./B/../B/F.TXT"), "deep");
    EXPECT_EQ(get("a\\b\\f.txt"), "deep") << "no leading separator, backslashes";
    EXPECT_EQ(get("/A/B/../../TOP.TXT"), "top");
    EXPECT_EQ(get("/../TOP.TXT"), "top") << "the root is its own parent";
    EXPECT_EQ(list("/A/B/../..").size(), 2u);
    EXPECT_EQ(list("").size(), 2u) << "the empty path is the root";
    EXPECT_EQ(list("/A").size(), 1u) << "dot entries are not listed";
    EXPECT_EQ(f_unlink("/A/B/.."), FR_INVALID_NAME);
    EXPECT_EQ(f_mkdir("/A/B/."), FR_EXIST);
}

TEST_F(ApiTest, SeekPastTheEndExtendsInWriteModeOnly) {
    DWORD free0, free1;
    FATFS* pfs;
    ASSERT_EQ(f_getfree("", &free0, &pfs), FR_OK);
    FIL f;
    UINT n;
    ASSERT_EQ(f_open(&f, "/SPARSE.BIN", FA_READ | FA_WRITE | FA_CREATE_NEW), FR_OK);
    ASSERT_EQ(f_lseek(&f, 5000), FR_OK);
    EXPECT_TRUE(f_size(&f) == 5000 && f_tell(&f) == 5000 && f_eof(&f));
    ASSERT_EQ(f_write(&f, "END", 3, &n), FR_OK);
    ASSERT_EQ(f_lseek(&f, 6144), FR_OK); // a cluster-aligned end, then the next write
    ASSERT_EQ(f_write(&f, "Z", 1, &n), FR_OK);
    ASSERT_EQ(f_close(&f), FR_OK);
    ASSERT_EQ(f_getfree("", &free1, &pfs), FR_OK);
    EXPECT_EQ(free0 - free1, 13u); // 6145 bytes in 512-byte clusters

    char buf[4];
    ASSERT_EQ(f_open(&f, "/SPARSE.BIN", FA_READ), FR_OK);
    ASSERT_EQ(f_lseek(&f, 99999), FR_OK);
    EXPECT_EQ(f_tell(&f), 6145u) << "read only: stops at the end";
    ASSERT_EQ(f_lseek(&f, 5000), FR_OK);
    ASSERT_EQ(f_read(&f, buf, 3, &n), FR_OK);
    EXPECT_EQ(std::string(buf, n), "END");
    f_close(&f);
    expect_clean(file("img"));
    EXPECT_EQ(mtools("mtype", file("img"), 0, "::/SPARSE.BIN").substr(6144), "Z");
}

TEST_F(ApiTest, MountIsDeferredAndFollowsTheCard) {
    remount();
    EXPECT_TRUE(g_disk.reads == 0 && !g_disk.initialized) << "registering touches nothing";
    put("/A.TXT", "a");
    EXPECT_TRUE(fs.csize == 1 && fs.fs_type == FS_FAT16);
    FIL f;
    DIR d;
    FILINFO fi;
    char c;
    UINT n;
    EXPECT_EQ(f_open(&f, "1:/A.TXT", FA_READ), FR_INVALID_DRIVE);
    EXPECT_EQ(f_mount(&fs, "2:", 0), FR_INVALID_DRIVE);
    ASSERT_EQ(f_open(&f, "0:/A.TXT", FA_READ), FR_OK);
    ASSERT_EQ(f_opendir(&d, "0:"), FR_OK);

    g_disk.initialized = false; // the card was reset: mounted again, old objects are void
    EXPECT_EQ(f_read(&f, &c, 1, &n), FR_INVALID_OBJECT);
    EXPECT_EQ(get("/A.TXT"), "a");
    EXPECT_EQ(f_read(&f, &c, 1, &n), FR_INVALID_OBJECT);
    EXPECT_EQ(f_readdir(&d, &fi), FR_INVALID_OBJECT);

    g_disk.protect = true;
    EXPECT_EQ(create("/B.TXT"), FR_WRITE_PROTECTED);
    EXPECT_EQ(f_mkdir("/B"), FR_WRITE_PROTECTED);
    EXPECT_EQ(get("/A.TXT"), "a");
    g_disk.protect = false;

    ASSERT_EQ(f_mount(nullptr, "", 0), FR_OK);
    EXPECT_EQ(f_open(&f, "/A.TXT", FA_READ), FR_NOT_ENABLED);
    g_disk.nodisk = true;
    g_disk.initialized = false;
    ASSERT_EQ(f_mount(&fs, "", 0), FR_OK);
    EXPECT_EQ(f_open(&f, "/A.TXT", FA_READ), FR_NOT_READY);
    g_disk.nodisk = false;

    // A partition table whose partition holds no FAT, then a blank card.
    Sector mbr{};
    mbr[446 + 4] = 0x0C, mbr[446 + 8] = 8, mbr[446 + 12] = 100, mbr[510] = 0x55, mbr[511] = 0xAA;
    g_disk.overlay[0] = mbr;
    g_disk.overlay[8] = Sector{};
    remount();
    EXPECT_EQ(f_mount(&fs, "", 1), FR_NO_FILESYSTEM);
    g_disk.overlay[0] = Sector{};
    remount();
    EXPECT_EQ(f_mkdir("/X"), FR_NO_FILESYSTEM);
}

TEST_F(ApiTest, ReadErrorsAreReportedAndStick) {
    put("/A.TXT", pattern(3000, 1));
    remount();
    FIL f;
    char buf[600];
    UINT n;
    g_disk.initialized = true;
    g_disk.arm(-1, -1, 0);
    EXPECT_EQ(f_open(&f, "/A.TXT", FA_READ), FR_DISK_ERR) << "boot sector unreadable";
    g_disk.arm(-1, -1);
    ASSERT_EQ(f_open(&f, "/A.TXT", FA_READ), FR_OK);
    g_disk.arm(-1, -1, 0);
    EXPECT_EQ(f_read(&f, buf, 600, &n), FR_DISK_ERR);
    g_disk.arm(-1, -1);
    EXPECT_EQ(f_read(&f, buf, 600, &n), FR_DISK_ERR) << "the error sticks to the file";
    EXPECT_EQ(f_close(&f), FR_DISK_ERR);
    EXPECT_EQ(f_read(&f, buf, 600, &n), FR_INVALID_OBJECT) << "closed even so";
}

// Regression: a whole-sector write straight from the caller's buffer left
// an older copy of that sector in the window, which a later partial read
// returned and a later flush wrote back over the new data.
TEST_F(ApiTest, WholeSectorWriteOverTheWindowedSector) {
    FIL f;
    UINT n;
    char buf[8];
    std::string blocks = pattern(1024, 9);
    ASSERT_EQ(f_open(&f, "/W.BIN", FA_READ | FA_WRITE | FA_CREATE_NEW), FR_OK);
    ASSERT_EQ(f_write(&f, "old!", 4, &n), FR_OK); // sector 0 now in the window
    ASSERT_EQ(f_lseek(&f, 0), FR_OK);
    ASSERT_EQ(f_write(&f, blocks.data(), 1024, &n), FR_OK); // past the window
    ASSERT_EQ(f_lseek(&f, 2), FR_OK);
    ASSERT_EQ(f_read(&f, buf, 8, &n), FR_OK);
    EXPECT_EQ(std::string(buf, 8), blocks.substr(2, 8));
    ASSERT_EQ(f_close(&f), FR_OK);
    EXPECT_TRUE(get("/W.BIN") == blocks);
}

// Regression: a directory that grew into a cluster freed by a file showed
// the file's old bytes as entries; the new cluster must be zeroed first.
TEST_F(ApiTest, DirectoryGrowsIntoAReusedClusterCleanly) {
    DWORD nfree;
    FATFS* pfs;
    ASSERT_EQ(f_getfree("", &nfree, &pfs), FR_OK);
    put("/JUNK.BIN", std::string(nfree * 512, 'J'), 65536); // every free cluster
    ASSERT_EQ(f_mkdir("/D"), FR_DENIED);
    ASSERT_EQ(f_unlink("/JUNK.BIN"), FR_OK);
    ASSERT_EQ(f_mkdir("/D"), FR_OK);
    for (int i = 0; i < 40; i++) put("/D/F" + std::to_string(i), "x");
    EXPECT_EQ(list("/D").size(), 40u);
    expect_clean(file("img"));
}

// Long names made by mtools go with their short entry.
TEST_F(ApiTest, LongNameEntriesGoWithTheirFile) {
    std::string names[] = {"Long Name Number One.txt", "Long Name Number Two.txt", "Third Long Name.txt"};
    std::string args;
    for (auto& n : names) {
        write_host_file(file(n), n);
        args += "\"" + file(n) + "\" ";
    }
    g_disk.flush();
    mtools("mmd", file("img"), 0, "::/SUB");
    mtools("mcopy", file("img"), 0, args + "::/");
    remount();
    EXPECT_EQ(f_unlink("/LONGNA~1.TXT"), FR_OK);
    EXPECT_EQ(f_rename("/LONGNA~2.TXT", "/TWO.TXT"), FR_OK);
    EXPECT_EQ(f_rename("/THIRDL~1.TXT", "/SUB/THREE.TXT"), FR_OK);
    expect_clean(file("img"));
    EXPECT_EQ(mtools("mdir", file("img"), 0, "-b ::/").find("Long"), std::string::npos);
    EXPECT_EQ(mtools("mtype", file("img"), 0, "::/SUB/THREE.TXT"), names[2]);
    EXPECT_EQ(mtools("mtype", file("img"), 0, "::/TWO.TXT"), names[1]);
}

} // namespace
