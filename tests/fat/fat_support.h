// Test disk and tool helpers for the FAT module tests.
#pragma once

#include <array>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include <gtest/gtest.h>

#include "diskio.h"
#include "ff.h"

namespace fattest {

// disk_* over an image file. Writes land in an overlay (the "card"), so a
// test can return to the file's content at once; flush() makes them part of
// the file. Faults count sector writes from 0 since the last arm().
struct Disk {
    std::string path;
    int fd = -1;
    LBA_t sectors = 0;
    std::map<LBA_t, std::array<BYTE, 512>> overlay;
    mutable std::unordered_map<LBA_t, std::array<BYTE, 512>> cache; // of the file
    void drop_cache() { cache.clear(); }
    bool initialized = false;
    bool protect = false;
    bool nodisk = false;
    unsigned long reads = 0, writes = 0; // sectors
    long written = 0;                    // sector writes since arm()
    long cut_after = -1;                 // later writes are dropped silently
    long fail_write_at = -1;             // this write returns RES_ERROR
    long fail_read_at = -1;
    long read_count = 0;

    void open(const std::string& image);
    void arm(long cut, long fail_write, long fail_read = -1);
    void reset_card(); // power cycle: faults off, uninitialised
    void flush();
    void read_sector(LBA_t s, BYTE* buf) const;
    // Runs fn with the overlay applied to the file, then puts the file back.
    template <class F> auto with_overlay(F fn) {
        auto saved = apply_overlay();
        auto r = fn();
        restore(saved);
        return r;
    }
    std::map<LBA_t, std::array<BYTE, 512>> apply_overlay();
    void restore(const std::map<LBA_t, std::array<BYTE, 512>>& saved);
};
extern Disk g_disk;
extern DWORD g_fattime;
DWORD fattime(int y, int mo, int d, int h, int mi, int s);

struct Cmd {
    int rc;
    std::string out;
};
// sh -c, with stderr, time limited. Unless told otherwise, the command may
// have changed the image file.
Cmd run(const std::string& cmd, bool touches_image = true);

// Fresh scratch directory per test, removed afterwards.
class FatTest : public ::testing::Test {
protected:
    std::string dir;
    FATFS fs{};
    void SetUp() override;
    void TearDown() override;
    std::string file(const std::string& name) const { return dir + "/" + name; }
    // mkfs.fat -C img kb (opts), opened as the test disk, volume registered.
    void make_image(const std::string& opts, unsigned kb, const std::string& name = "img");
    void remount(); // as after a restart
};

// fsck.fat -n on the image (or on the partition at `offset` sectors).
struct Fsck {
    int rc;
    std::string out;
    std::vector<std::string> complaints; // lines other than banner and summary
    unsigned long used = 0, total = 0;   // clusters
};
Fsck fsck(const std::string& image, LBA_t offset = 0);
// Writes the card to the image; fsck.fat must find nothing at all, and the
// module's free count must be the one fsck.fat counts.
void expect_clean(const std::string& image, LBA_t offset = 0);
std::string mtools(const std::string& tool, const std::string& image, LBA_t offset,
                   const std::string& args);

std::string pattern(size_t n, unsigned seed);
void write_host_file(const std::string& path, const std::string& data);
std::string read_host_file(const std::string& path);

// Module helpers that fail the test on any error.
void put(const std::string& path, const std::string& data, UINT chunk = 4096);
std::string get(const std::string& path, UINT chunk = 1000);
struct Entry {
    std::string name;
    FSIZE_t size;
    BYTE attr;
    WORD date, time;
};
std::map<std::string, Entry> list(const std::string& path);

} // namespace fattest
