// Test disk and tool helpers for the FAT module tests.
#pragma once

#include <array>
#include <map>
#include <string>
#include <unordered_map>

#include <gtest/gtest.h>

#include "diskio.h"
#include "ff.h"
#include "fsck_judge.h"

namespace fattest {

using Sector = std::array<BYTE, 512>;

// disk_* over an image file. Writes land in an overlay (the card), so a
// test can return to the file's content at once; flush() puts them into the
// file. Faults count sector writes since arm(); after a power cut the card
// silently drops every write.
struct Disk {
    std::string path;
    int fd = -1;
    LBA_t sectors = 0;
    std::map<LBA_t, Sector> overlay;
    std::unordered_map<LBA_t, Sector> cache; // of the file
    bool initialized = false, protect = false, nodisk = false;
    unsigned long reads = 0, writes = 0;
    std::string note; // what disk_note_write stored; survives remounts, as FRAM does
    long written = 0, cut_after = -1, fail_write_at = -1, fail_read_at = -1, read_count = 0;

    void open(const std::string& image);
    void arm(long cut, long fail_write, long fail_read = -1);
    void reset_card() {
        arm(-1, -1);
        initialized = false;
    }
    void flush();
    void swap_file(std::map<LBA_t, Sector>& m); // exchanges m with the file's sectors
    template <class F> auto with_overlay(F fn) {
        auto m = overlay;
        swap_file(m);
        auto r = fn();
        swap_file(m);
        return r;
    }
};
extern Disk g_disk;

struct Cmd {
    int rc;
    std::string out;
};
// sh -c with stderr, killed after 60 s. Unless told otherwise the command
// may change the image.
Cmd run(const std::string& cmd, bool touches_image = true);
std::string mtools(const std::string& tool, const std::string& image, LBA_t offset, const std::string& args);

struct Fsck {
    int rc;
    std::string out;
    std::vector<std::string> complaints; // what the judge does not let pass
    unsigned long used = 0, total = 0;   // clusters
};
// -n; offset: partition start; allow: fsck_judge::Allow.
Fsck fsck(const std::string& image, LBA_t offset = 0, unsigned allow = fsck_judge::kClean);
// Writes the card to the image; fsck.fat must find nothing, and count the
// free clusters the module counts.
void expect_clean(const std::string& image, LBA_t offset = 0);

class FatTest : public ::testing::Test {
protected:
    std::string dir;
    FATFS fs{};
    void SetUp() override;
    void TearDown() override;
    std::string file(const std::string& name) const { return dir + "/" + name; }
    void make_image(const std::string& mkfs_opts, unsigned kb); // as "img", registered
    void remount();                                             // as after a restart
};

std::string pattern(size_t n, unsigned seed);
void write_host_file(const std::string& path, const std::string& data);
std::string read_host_file(const std::string& path);

// Through the module, failing the test on any error.
void put(const std::string& path, const std::string& data, UINT chunk = 4096);
std::string get(const std::string& path, UINT chunk = 1000);
std::map<std::string, FILINFO> list(const std::string& path);

} // namespace fattest
