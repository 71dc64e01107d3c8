#include "fat_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fattest {

Disk g_disk;
DWORD g_fattime = fattime(2024, 5, 6, 12, 34, 56);

DWORD fattime(int y, int mo, int d, int h, int mi, int s) {
    return static_cast<DWORD>((y - 1980) << 25 | mo << 21 | d << 16 | h << 11 | mi << 5 | s / 2);
}

void Disk::open(const std::string& image) {
    path = image;
    if (fd >= 0) ::close(fd);
    fd = ::open(image.c_str(), O_RDWR);
    sectors = static_cast<LBA_t>(std::filesystem::file_size(image) / 512);
    overlay.clear();
    cache.clear();
    initialized = protect = nodisk = false;
    reads = writes = 0;
    arm(-1, -1);
}

void Disk::arm(long cut, long fail_write, long fail_read) {
    written = 0;
    read_count = 0;
    cut_after = cut;
    fail_write_at = fail_write;
    fail_read_at = fail_read;
}

void Disk::reset_card() {
    arm(-1, -1);
    initialized = false;
}

void Disk::read_sector(LBA_t s, BYTE* buf) const {
    auto it = overlay.find(s);
    if (it != overlay.end()) {
        std::memcpy(buf, it->second.data(), 512);
        return;
    }
    auto c = cache.find(s);
    if (c == cache.end()) {
        std::array<BYTE, 512> d{};
        [[maybe_unused]] ssize_t n = pread(fd, d.data(), 512, static_cast<off_t>(s) * 512);
        c = cache.emplace(s, d).first;
    }
    std::memcpy(buf, c->second.data(), 512);
}

std::map<LBA_t, std::array<BYTE, 512>> Disk::apply_overlay() {
    std::map<LBA_t, std::array<BYTE, 512>> saved;
    for (auto& [s, data] : overlay) {
        std::array<BYTE, 512> old{};
        [[maybe_unused]] ssize_t n = pread(fd, old.data(), 512, static_cast<off_t>(s) * 512);
        saved[s] = old;
        n = pwrite(fd, data.data(), 512, static_cast<off_t>(s) * 512);
    }
    return saved;
}

void Disk::restore(const std::map<LBA_t, std::array<BYTE, 512>>& saved) {
    for (auto& [s, data] : saved)
        [[maybe_unused]] ssize_t n = pwrite(fd, data.data(), 512, static_cast<off_t>(s) * 512);
}

void Disk::flush() {
    apply_overlay();
    for (auto& [s, data] : overlay) cache[s] = data;
    overlay.clear();
}

// posix_spawn, not popen: forking a sanitizer-sized process is slow. The
// tool gets 60 s, then it is killed.
Cmd run(const std::string& cmd, bool touches_image) {
    if (touches_image) g_disk.drop_cache();
    Cmd r{-1, {}};
    int fds[2];
    if (pipe(fds) != 0) return r;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 2);
    posix_spawn_file_actions_addclose(&fa, fds[0]);
    std::string full = "MTOOLS_SKIP_CHECK=1 exec " + cmd;
    const char* argv[] = {"/bin/sh", "-c", full.c_str(), nullptr};
    pid_t pid;
    int err = posix_spawn(&pid, "/bin/sh", &fa, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    if (err == 0) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd pfd{fds[0], POLLIN, 0};
            if (left.count() <= 0 || poll(&pfd, 1, static_cast<int>(left.count())) <= 0) {
                kill(pid, SIGKILL);
                r.out += "\n(killed after 60 s)";
                break;
            }
            char buf[4096];
            ssize_t n = read(fds[0], buf, sizeof buf);
            if (n <= 0) break;
            r.out.append(buf, static_cast<size_t>(n));
        }
        int st;
        if (waitpid(pid, &st, 0) == pid && WIFEXITED(st)) r.rc = WEXITSTATUS(st);
    }
    close(fds[0]);
    return r;
}

void FatTest::SetUp() {
    char tmpl[] = "/tmp/fattest.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    g_fattime = fattime(2024, 5, 6, 12, 34, 56);
}

void FatTest::TearDown() {
    f_mount(nullptr, "", 0);
    std::filesystem::remove_all(dir);
}

void FatTest::make_image(const std::string& opts, unsigned kb, const std::string& name) {
    Cmd c = run("/usr/sbin/mkfs.fat -C " + opts + " " + file(name) + " " + std::to_string(kb));
    ASSERT_EQ(c.rc, 0) << c.out;
    g_disk.open(file(name));
    ASSERT_EQ(f_mount(&fs, "", 0), FR_OK);
}

void FatTest::remount() {
    g_disk.reset_card();
    fs = FATFS{};
    ASSERT_EQ(f_mount(&fs, "", 0), FR_OK);
}

Fsck fsck(const std::string& image, LBA_t offset) {
    std::string target = image;
    if (offset) { // fsck.fat has no offset option: check a copy of the partition
        target = image + ".part";
        run("dd if=" + image + " of=" + target + " bs=512 skip=" + std::to_string(offset) +
                " status=none",
            false);
    }
    Cmd c = run("/usr/sbin/fsck.fat -n " + target, false);
    Fsck r{c.rc, c.out, {}};
    std::istringstream in(c.out);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("fsck.fat ", 0) == 0) continue;
        if (line.rfind(target + ": ", 0) == 0) {
            std::sscanf(line.c_str() + target.size() + 2, "%*u files, %lu/%lu clusters", &r.used,
                        &r.total);
            continue;
        }
        if (!line.empty()) r.complaints.push_back(line);
    }
    if (offset) std::filesystem::remove(target);
    return r;
}

void expect_clean(const std::string& image, LBA_t offset) {
    g_disk.flush();
    Fsck r = fsck(image, offset);
    EXPECT_EQ(r.rc, 0) << r.out;
    EXPECT_TRUE(r.complaints.empty()) << r.out;
    DWORD nfree;
    FATFS* pfs;
    ASSERT_EQ(f_getfree("", &nfree, &pfs), FR_OK);
    EXPECT_EQ(nfree, r.total - r.used) << "free count disagrees with fsck.fat";
}

std::string mtools(const std::string& tool, const std::string& image, LBA_t offset,
                   const std::string& args) {
    std::string img = image;
    if (offset) img += "@@" + std::to_string(offset * 512);
    Cmd c = run("/usr/bin/" + tool + " -i " + img + " " + args);
    EXPECT_EQ(c.rc, 0) << tool << " " << args << ": " << c.out;
    return c.out;
}

std::string pattern(size_t n, unsigned seed) {
    std::string s(n, '\0');
    unsigned x = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; i++) {
        x = x * 1103515245u + 12345u;
        s[i] = static_cast<char>(x >> 16);
    }
    return s;
}

void write_host_file(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary) << data;
}

std::string read_host_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void put(const std::string& path, const std::string& data, UINT chunk) {
    FIL f;
    ASSERT_EQ(f_open(&f, path.c_str(), FA_WRITE | FA_CREATE_ALWAYS), FR_OK) << path;
    for (size_t i = 0; i < data.size(); i += chunk) {
        UINT n = static_cast<UINT>(std::min<size_t>(chunk, data.size() - i)), bw;
        ASSERT_EQ(f_write(&f, data.data() + i, n, &bw), FR_OK) << path;
        ASSERT_EQ(bw, n);
    }
    ASSERT_EQ(f_close(&f), FR_OK);
}

std::string get(const std::string& path, UINT chunk) {
    FIL f;
    std::string out;
    EXPECT_EQ(f_open(&f, path.c_str(), FA_READ), FR_OK) << path;
    std::vector<char> buf(chunk);
    for (;;) {
        UINT br = 0;
        FRESULT r = f_read(&f, buf.data(), chunk, &br);
        EXPECT_EQ(r, FR_OK) << path;
        out.append(buf.data(), br);
        if (r != FR_OK || br < chunk) break;
    }
    EXPECT_EQ(out.size(), f_size(&f));
    f_close(&f);
    return out;
}

std::map<std::string, Entry> list(const std::string& path) {
    std::map<std::string, Entry> out;
    DIR d;
    FILINFO fi;
    EXPECT_EQ(f_opendir(&d, path.c_str()), FR_OK) << path;
    // A directory holds at most 65536 entries: more means the walk is looping.
    for (int guard = 0; guard < 65536; guard++) {
        FRESULT r = f_readdir(&d, &fi);
        EXPECT_EQ(r, FR_OK);
        if (r != FR_OK || fi.fname[0] == 0) break;
        out[fi.fname] = {fi.fname, fi.fsize, fi.fattrib, fi.fdate, fi.ftime};
    }
    f_closedir(&d);
    return out;
}

} // namespace fattest

using fattest::g_disk;

DSTATUS disk_initialize(BYTE pdrv) {
    if (pdrv != 0 || g_disk.nodisk) return STA_NOINIT | STA_NODISK;
    g_disk.initialized = true;
    return disk_status(pdrv);
}

DSTATUS disk_status(BYTE pdrv) {
    if (pdrv != 0) return STA_NOINIT;
    DSTATUS s = g_disk.initialized ? 0 : STA_NOINIT;
    if (g_disk.protect) s |= STA_PROTECT;
    return s;
}

DRESULT disk_read(BYTE pdrv, BYTE* buff, DWORD sector, UINT count) {
    if (pdrv != 0 || count == 0) return RES_PARERR;
    if (!g_disk.initialized) return RES_NOTRDY;
    if (g_disk.read_count++ == g_disk.fail_read_at) return RES_ERROR;
    for (UINT i = 0; i < count; i++) {
        if (sector + i >= g_disk.sectors) return RES_PARERR;
        g_disk.read_sector(sector + i, buff + i * 512);
        g_disk.reads++;
    }
    return RES_OK;
}

DRESULT disk_write(BYTE pdrv, const BYTE* buff, DWORD sector, UINT count) {
    if (pdrv != 0 || count == 0) return RES_PARERR;
    if (!g_disk.initialized) return RES_NOTRDY;
    if (g_disk.protect) return RES_WRPRT;
    for (UINT i = 0; i < count; i++) {
        if (sector + i >= g_disk.sectors) return RES_PARERR;
        long n = g_disk.written++;
        if (n == g_disk.fail_write_at) return RES_ERROR;
        g_disk.writes++;
        if (g_disk.cut_after >= 0 && n >= g_disk.cut_after) continue; // power is gone
        std::memcpy(g_disk.overlay[sector + i].data(), buff + i * 512, 512);
    }
    return RES_OK;
}

DRESULT disk_ioctl(BYTE pdrv, BYTE cmd, void* buff) {
    if (pdrv != 0) return RES_PARERR;
    switch (cmd) {
    case CTRL_SYNC: return RES_OK;
    case GET_SECTOR_COUNT: *static_cast<DWORD*>(buff) = g_disk.sectors; return RES_OK;
    case GET_SECTOR_SIZE: *static_cast<WORD*>(buff) = 512; return RES_OK;
    case GET_BLOCK_SIZE: *static_cast<DWORD*>(buff) = 1; return RES_OK;
    default: return RES_PARERR;
    }
}

DWORD get_fattime(void) { return fattest::g_fattime; }
