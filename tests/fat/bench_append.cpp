// Sector reads and writes for one 200-byte record appended the logger's way
// (open FA_READ|FA_WRITE|FA_OPEN_ALWAYS, seek to the end, write, close) to
// files of 1 KB, 1 MB and 100 MB on FAT32 volumes of three cluster sizes.
// Prints a table.
//   cold: first access after a restart (includes the mount)
//   warm: volume already mounted; typical and worst of 64 appends (the
//         worst one takes a new cluster)
#include <stdlib.h>

#include <cstdio>
#include <filesystem>

#include "fat_support.h"

using namespace fattest;

namespace {

struct Count {
    unsigned long reads, writes;
};

Count append(const char* path) {
    static const std::string rec = pattern(200, 42);
    unsigned long r0 = g_disk.reads, w0 = g_disk.writes;
    FIL f;
    UINT bw;
    if (f_open(&f, path, FA_READ | FA_WRITE | FA_OPEN_ALWAYS) != FR_OK || f_lseek(&f, f_size(&f)) != FR_OK ||
        f_write(&f, rec.data(), 200, &bw) != FR_OK || f_close(&f) != FR_OK) {
        std::fprintf(stderr, "append to %s failed\n", path);
        std::exit(1);
    }
    return {g_disk.reads - r0, g_disk.writes - w0};
}

bool sh(const std::string& cmd) {
    Cmd c = run(cmd);
    if (c.rc != 0) std::fprintf(stderr, "%s: %s\n", cmd.c_str(), c.out.c_str());
    return c.rc == 0;
}

} // namespace

int main() {
    char tmpl[] = "/tmp/fatbench.XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    std::string dir = tmpl;
    struct Size {
        const char* label;
        const char* name;
        unsigned long bytes;
    } sizes[] = {{"1 KB", "K1.TXT", 1024}, {"1 MB", "M1.TXT", 1ul << 20}, {"100 MB", "M100.TXT", 100ul << 20}};

    std::printf("append of one 200-byte record, FAT32, sectors of 512 bytes\n\n");
    std::printf("%-8s %-7s | %11s | %11s | %11s\n", "cluster", "file", "cold r/w", "warm r/w", "worst r/w");
    std::printf("-----------------+-------------+-------------+------------\n");
    for (unsigned spc : {1u, 8u, 64u}) {
        std::string img = dir + "/img";
        std::filesystem::remove(img);
        // FAT32 needs 65525 clusters: large clusters need a large (sparse) volume.
        unsigned long kb = std::max(163840ul, 66000ul * spc / 2 + 4096);
        if (!sh("/usr/sbin/mkfs.fat -C -F 32 -s " + std::to_string(spc) + " " + img + " " + std::to_string(kb)))
            return 1;
        for (auto& s : sizes) {
            std::string host = dir + "/" + s.name;
            write_host_file(host, pattern(s.bytes < 4096 ? s.bytes : 4096, 1));
            std::filesystem::resize_file(host, s.bytes);
            if (!sh("/usr/bin/mcopy -i " + img + " " + host + " ::/")) return 1;
            std::filesystem::remove(host);
        }
        g_disk.open(img);
        FATFS fs{};
        for (auto& s : sizes) {
            std::string path = std::string("/") + s.name;
            g_disk.reset_card();
            f_mount(&fs, "", 0);
            Count cold = append(path.c_str());
            Count typical{~0ul, ~0ul}, worst{0, 0};
            for (int i = 0; i < 64; i++) {
                Count c = append(path.c_str());
                if (c.reads + c.writes < typical.reads + typical.writes) typical = c;
                if (c.reads + c.writes > worst.reads + worst.writes) worst = c;
            }
            std::printf("%5u B  %-7s | %5lu/%-5lu | %5lu/%-5lu | %5lu/%-5lu\n", spc * 512, s.label, cold.reads,
                        cold.writes, typical.reads, typical.writes, worst.reads, worst.writes);
        }
        f_mount(nullptr, "", 0);
    }
    std::filesystem::remove_all(dir);
    return 0;
}
