#include "fat_support.h"

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fattest {

Disk g_disk;

void Disk::open(const std::string& image) {
    if (fd >= 0) ::close(fd);
    *this = Disk{};
    path = image;
    fd = ::open(image.c_str(), O_RDWR);
    sectors = static_cast<LBA_t>(std::filesystem::file_size(image) / 512);
}

void Disk::arm(long cut, long fail_write, long fail_read) {
    written = read_count = 0;
    cut_after = cut;
    fail_write_at = fail_write;
    fail_read_at = fail_read;
}

void Disk::swap_file(std::map<LBA_t, Sector>& m) {
    for (auto& [s, data] : m) {
        Sector old{};
        [[maybe_unused]] ssize_t n = pread(fd, old.data(), 512, off_t(s) * 512);
        n = pwrite(fd, data.data(), 512, off_t(s) * 512);
        data = old;
    }
}

void Disk::flush() {
    auto m = overlay;
    swap_file(m);
    for (auto& [s, data] : overlay) cache[s] = data;
    overlay.clear();
}

// posix_spawn, not popen: forking a sanitizer-sized process is slow.
Cmd run(const std::string& cmd, bool touches_image) {
    if (touches_image) g_disk.cache.clear();
    Cmd r{-1, {}};
    int fds[2];
    if (pipe(fds) != 0) return r;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    posix_spawn_file_actions_addclose(&fa, fds[0]);
    std::string full = "MTOOLS_SKIP_CHECK=1 exec timeout -s KILL 60 sh -c '" + cmd + "' 2>&1";
    const char* argv[] = {"/bin/sh", "-c", full.c_str(), nullptr};
    pid_t pid;
    int err = posix_spawn(&pid, "/bin/sh", &fa, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    char buf[4096];
    ssize_t n;
    while (err == 0 && (n = read(fds[0], buf, sizeof buf)) > 0) r.out.append(buf, size_t(n));
    int st;
    if (err == 0 && waitpid(pid, &st, 0) == pid && WIFEXITED(st)) r.rc = WEXITSTATUS(st);
    close(fds[0]);
    return r;
}

std::string mtools(const std::string& tool, const std::string& image, LBA_t offset, const std::string& args) {
    std::string img = offset ? image + "@@" + std::to_string(offset * 512) : image;
    Cmd c = run("/usr/bin/" + tool + " -i " + img + " " + args);
    EXPECT_EQ(c.rc, 0) << tool << " " << args << ": " << c.out;
    return c.out;
}

Fsck fsck(const std::string& image, LBA_t offset, unsigned allow) {
    std::string target = image;
    if (offset) { // fsck.fat takes no offset: check a copy of the partition
        target += ".part";
        run("dd if=" + image + " of=" + target + " bs=512 skip=" + std::to_string(offset) + " status=none", false);
    }
    Cmd c = run("/usr/sbin/fsck.fat -n " + target, false);
    Fsck r{c.rc, c.out, {}};
    std::istringstream in(c.out);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(target + ": ", 0) == 0)
            std::sscanf(line.c_str() + target.size() + 2, "%*u files, %lu/%lu clusters", &r.used, &r.total);
    r.complaints = fsck_judge::complaints(c.out, c.rc, target, allow);
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

void FatTest::SetUp() {
    char tmpl[] = "/tmp/fattest.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
}

void FatTest::TearDown() {
    f_mount(nullptr, "", 0);
    std::filesystem::remove_all(dir);
}

void FatTest::make_image(const std::string& mkfs_opts, unsigned kb) {
    Cmd c = run("/usr/sbin/mkfs.fat -C " + mkfs_opts + " " + file("img") + " " + std::to_string(kb));
    ASSERT_EQ(c.rc, 0) << c.out;
    g_disk.open(file("img"));
    ASSERT_EQ(f_mount(&fs, "", 0), FR_OK);
}

void FatTest::remount() {
    g_disk.reset_card();
    fs = FATFS{};
    ASSERT_EQ(f_mount(&fs, "", 0), FR_OK);
}

std::string pattern(size_t n, unsigned seed) {
    std::string s(n, '\0');
    unsigned x = seed * 2654435761u + 1;
    for (auto& c : s) c = char((x = x * 1103515245u + 12345u) >> 16);
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
    UINT bw;
    ASSERT_EQ(f_open(&f, path.c_str(), FA_WRITE | FA_CREATE_ALWAYS), FR_OK) << path;
    for (size_t i = 0; i < data.size(); i += chunk) {
        UINT n = UINT(std::min<size_t>(chunk, data.size() - i));
        ASSERT_EQ(f_write(&f, data.data() + i, n, &bw), FR_OK) << path;
        ASSERT_EQ(bw, n);
    }
    ASSERT_EQ(f_close(&f), FR_OK);
}

std::string get(const std::string& path, UINT chunk) {
    FIL f;
    std::string out, buf(chunk, '\0');
    EXPECT_EQ(f_open(&f, path.c_str(), FA_READ), FR_OK) << path;
    for (UINT br = chunk; br == chunk;) {
        FRESULT r = f_read(&f, buf.data(), chunk, &br);
        EXPECT_EQ(r, FR_OK) << path;
        out.append(buf, 0, r == FR_OK ? br : 0);
    }
    EXPECT_EQ(out.size(), f_size(&f));
    f_close(&f);
    return out;
}

std::map<std::string, FILINFO> list(const std::string& path) {
    std::map<std::string, FILINFO> out;
    DIR d;
    FILINFO fi;
    EXPECT_EQ(f_opendir(&d, path.c_str()), FR_OK) << path;
    // At most 65536 entries: more would mean the walk is going round.
    for (int i = 0; i < 65536 && f_readdir(&d, &fi) == FR_OK && fi.fname[0]; i++) out[fi.fname] = fi;
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
    return (g_disk.initialized ? 0 : STA_NOINIT) | (g_disk.protect ? STA_PROTECT : 0);
}

DRESULT disk_read(BYTE pdrv, BYTE* buff, DWORD sector, UINT count) {
    if (pdrv != 0 || count == 0 || sector + count > g_disk.sectors) return RES_PARERR;
    if (!g_disk.initialized) return RES_NOTRDY;
    if (g_disk.read_count++ == g_disk.fail_read_at) return RES_ERROR;
    for (UINT i = 0; i < count; i++, g_disk.reads++) {
        auto o = g_disk.overlay.find(sector + i);
        auto c = g_disk.cache.find(sector + i);
        if (o == g_disk.overlay.end() && c == g_disk.cache.end()) {
            c = g_disk.cache.emplace(sector + i, fattest::Sector{}).first;
            [[maybe_unused]] ssize_t n = pread(g_disk.fd, c->second.data(), 512, off_t(sector + i) * 512);
        }
        std::memcpy(buff + i * 512, (o != g_disk.overlay.end() ? o->second : c->second).data(), 512);
    }
    return RES_OK;
}

DRESULT disk_write(BYTE pdrv, const BYTE* buff, DWORD sector, UINT count) {
    if (pdrv != 0 || count == 0 || sector + count > g_disk.sectors) return RES_PARERR;
    if (!g_disk.initialized) return RES_NOTRDY;
    if (g_disk.protect) return RES_WRPRT;
    for (UINT i = 0; i < count; i++) {
        long n = g_disk.written++;
        if (n == g_disk.fail_write_at) return RES_ERROR;
        g_disk.writes++;
        if (g_disk.cut_after < 0 || n < g_disk.cut_after) std::memcpy(g_disk.overlay[sector + i].data(), buff + i * 512, 512);
    }
    return RES_OK;
}

DRESULT disk_ioctl(BYTE pdrv, BYTE cmd, void* buff) {
    if (pdrv != 0) return RES_PARERR;
    if (cmd == GET_SECTOR_COUNT) *static_cast<DWORD*>(buff) = g_disk.sectors;
    if (cmd == GET_SECTOR_SIZE) *static_cast<WORD*>(buff) = 512;
    return cmd <= GET_SECTOR_SIZE ? RES_OK : RES_PARERR;
}

bool disk_note_read(BYTE pdrv, BYTE* buff, UINT count) {
    if (pdrv != 0 || g_disk.note.size() != count) return false;
    std::memcpy(buff, g_disk.note.data(), count);
    return true;
}

void disk_note_write(BYTE pdrv, const BYTE* buff, UINT count) {
    bool power_gone = g_disk.cut_after >= 0 && g_disk.written > g_disk.cut_after;
    if (pdrv == 0 && !power_gone) g_disk.note.assign(reinterpret_cast<const char*>(buff), count);
}

DWORD get_fattime(void) { return (2024u - 1980) << 25 | 5 << 21 | 6 << 16 | 12 << 11 | 34 << 5 | 28; } // 2024-05-06 12:34:56
