// Seeded random operation sequences against a simple model of the volume:
// every result code, byte read and listing must agree, step by step; then
// fsck.fat must find nothing.
#include <random>
#include <set>

#include "fat_support.h"

using namespace fattest;

namespace {

using Bytes = std::vector<int>; // -1: not defined (the gap of a seek past the end)

struct Params {
    const char* name;
    const char* mkfs;
    unsigned kb;
    unsigned seed;
    unsigned big; // largest write
};
void PrintTo(const Params& p, std::ostream* os) { *os << p.name; }

struct Handle {
    bool open = false;
    FIL f;
    std::string path;
    BYTE mode = 0;
    FSIZE_t pos = 0;
};

class RandomTest : public FatTest, public ::testing::WithParamInterface<Params> {
protected:
    std::mt19937 rng;
    std::map<std::string, Bytes> files; // upper-case path -> contents
    std::set<std::string> dirs{""};     // "" is the root
    Handle h[2];                        // two open files share the window
    int step = 0;
    std::string doing;

    unsigned rnd(size_t n) { return unsigned(std::uniform_int_distribution<size_t>(0, n - 1)(rng)); }
    std::string where() { return "step " + std::to_string(step) + ": " + doing; }
    static std::string parent(const std::string& p) { return p.substr(0, p.rfind('/')); }
    static bool under(const std::string& p, const std::string& d) { return p == d || p.rfind(d + "/", 0) == 0; }
    bool exists(const std::string& p) { return files.count(p) || dirs.count(p); }
    bool is_open(const std::string& p) { return (h[0].open && h[0].path == p) || (h[1].open && h[1].path == p); }
    std::string spell(std::string p) { // the caller may use any case
        for (auto& c : p) c = rnd(2) ? char(tolower(c)) : c;
        return p.empty() ? "/" : p;
    }
    std::string some_dir() { return *std::next(dirs.begin(), rnd(dirs.size())); }
    // Enough file names that a directory outgrows its first cluster.
    std::string new_file() { return (rnd(10) ? some_dir() : "/NO") + "/F" + std::to_string(rnd(10)) + (rnd(2) ? ".TXT" : ""); }
    std::string new_dir() {
        std::string d = some_dir();
        return (std::count(d.begin(), d.end(), '/') >= 3 ? "" : d) + "/D" + std::to_string(rnd(4));
    }
    std::string any_path() {
        if (rnd(3) == 0 && !files.empty()) return std::next(files.begin(), rnd(files.size()))->first;
        if (rnd(2) && dirs.size() > 1) return *std::next(dirs.begin(), 1 + rnd(dirs.size() - 1));
        return rnd(2) ? new_file() : new_dir();
    }
    // Directories still refuse to grow on a full volume with FR_DENIED.
    void expect(FRESULT got, FRESULT want, bool may_be_full = false) {
        DWORD n = 1;
        FATFS* p;
        if (may_be_full && got == FR_DENIED && f_getfree("", &n, &p) == FR_OK && n == 0) return;
        ASSERT_EQ(got, want) << where();
    }

    void op_open(Handle& x) {
        static const BYTE modes[] = {FA_READ, FA_READ | FA_OPEN_ALWAYS, FA_READ | FA_WRITE | FA_OPEN_ALWAYS,
                                     FA_WRITE | FA_OPEN_ALWAYS, FA_READ | FA_WRITE | FA_CREATE_ALWAYS,
                                     FA_WRITE | FA_CREATE_NEW, FA_READ | FA_WRITE};
        std::string p = rnd(2) ? any_path() : new_file();
        BYTE mode = modes[rnd(7)];
        if (is_open(p)) return;
        doing = "open " + p + " " + std::to_string(mode);
        bool create = mode & (FA_CREATE_ALWAYS | FA_OPEN_ALWAYS | FA_CREATE_NEW);
        FRESULT want = !dirs.count(parent(p))                 ? FR_NO_PATH
                       : exists(p) && (mode & FA_CREATE_NEW) ? FR_EXIST
                       : dirs.count(p)                       ? (create ? FR_DENIED : FR_NO_FILE)
                       : files.count(p) || create            ? FR_OK
                                                             : FR_NO_FILE;
        FRESULT r = f_open(&x.f, spell(p).c_str(), mode);
        expect(r, want, !files.count(p));
        if (r != FR_OK) return;
        if (!files.count(p) || (mode & FA_CREATE_ALWAYS)) files[p].clear();
        x = {true, x.f, p, mode, 0};
        ASSERT_EQ(f_size(&x.f), files[p].size()) << where();
    }
    void op_write(Handle& x) {
        UINT len = rnd(4) == 0 ? rnd(GetParam().big) : rnd(1500), bw;
        std::string data = pattern(len, unsigned(step));
        FRESULT r = f_write(&x.f, data.data(), len, &bw);
        if (!(x.mode & FA_WRITE)) return expect(r, FR_DENIED);
        expect(r, FR_OK);
        DWORD n = 1;
        FATFS* p;
        ASSERT_TRUE(bw == len || (bw < len && f_getfree("", &n, &p) == FR_OK && n == 0)) << where(); // short only when full
        Bytes& b = files[x.path];
        b.resize(std::max<size_t>(b.size(), x.pos + bw), -1);
        for (UINT i = 0; i < bw; i++) b[x.pos + i] = static_cast<unsigned char>(data[i]);
        x.pos += bw;
    }
    void op_read(Handle& x) {
        UINT len = rnd(4) == 0 ? rnd(9000) : rnd(700), br;
        std::string buf(len, '\0');
        FRESULT r = f_read(&x.f, buf.data(), len, &br);
        if (!(x.mode & FA_READ)) return expect(r, FR_DENIED);
        const Bytes& b = files[x.path];
        ASSERT_TRUE(r == FR_OK && br == std::min<size_t>(len, b.size() - x.pos)) << where();
        for (UINT i = 0; i < br; i++)
            ASSERT_TRUE(b[x.pos + i] < 0 || static_cast<unsigned char>(buf[i]) == b[x.pos + i]) << where() << " +" << i;
        x.pos += br;
    }
    void op_seek(Handle& x) {
        Bytes& b = files[x.path];
        FSIZE_t to = rnd(3) == 0 ? b.size() : rnd(b.size() + 4000);
        if (rnd(3) == 0) to = x.pos - rnd(std::min<FSIZE_t>(x.pos, 2048) + 1); // back a little
        if (rnd(3) == 0) to -= to % 512;                                        // whole sectors from here
        FRESULT r = f_lseek(&x.f, to);
        expect(r, FR_OK);
        DWORD n = 1;
        FATFS* p;
        FSIZE_t want = (x.mode & FA_WRITE) ? to : std::min<FSIZE_t>(to, b.size());
        ASSERT_TRUE(f_tell(&x.f) == want || (f_tell(&x.f) < want && f_getfree("", &n, &p) == FR_OK && n == 0))
            << where(); // short only when full
        x.pos = f_tell(&x.f);
        b.resize(std::max<size_t>(b.size(), f_size(&x.f)), -1);
        ASSERT_EQ(f_size(&x.f), b.size()) << where();
    }
    void op_unlink() {
        std::string p = any_path();
        if (is_open(p)) return;
        doing = "unlink " + p;
        bool full = false;
        for (auto& q : files) full |= q.first.rfind(p + "/", 0) == 0;
        for (auto& q : dirs) full |= q != p && under(q, p);
        FRESULT want = !dirs.count(parent(p)) ? FR_NO_PATH : !exists(p) ? FR_NO_FILE : full ? FR_DENIED : FR_OK;
        expect(f_unlink(spell(p).c_str()), want);
        if (want == FR_OK) files.erase(p), dirs.erase(p);
    }
    void op_mkdir() {
        std::string p = rnd(4) ? new_dir() : any_path();
        doing = "mkdir " + p;
        FRESULT want = !dirs.count(parent(p)) ? FR_NO_PATH : exists(p) ? FR_EXIST : FR_OK, r = f_mkdir(spell(p).c_str());
        expect(r, want, want == FR_OK);
        if (r == FR_OK) dirs.insert(p);
    }
    void op_rename() {
        std::string from = any_path(), to = rnd(2) ? new_file() : new_dir();
        if (is_open(from)) return;
        doing = "rename " + from + " " + to;
        FRESULT want = !dirs.count(parent(from))            ? FR_NO_PATH
                       : !exists(from)                      ? FR_NO_FILE
                       : !dirs.count(parent(to))            ? FR_NO_PATH
                       : exists(to)                         ? FR_EXIST
                       : dirs.count(from) && under(to, from) ? FR_DENIED
                                                            : FR_OK;
        FRESULT r = f_rename(spell(from).c_str(), spell(to).c_str());
        expect(r, want, want == FR_OK);
        if (r != FR_OK) return;
        auto moved = [&](const std::string& p) { return under(p, from) ? to + p.substr(from.size()) : p; };
        std::map<std::string, Bytes> nf;
        std::set<std::string> nd;
        for (auto& [p, b] : files) nf[moved(p)] = b;
        for (auto& p : dirs) nd.insert(moved(p));
        files.swap(nf), dirs.swap(nd);
        for (auto& x : h) x.path = moved(x.path);
    }
    void op_list() {
        std::string d = some_dir();
        doing = "list " + d;
        std::map<std::string, long> want; // name -> size; -1 directory, -2 open (size not committed)
        for (auto& [p, b] : files)
            if (parent(p) == d) want[p.substr(d.size() + 1)] = is_open(p) ? -2 : long(b.size());
        for (auto& p : dirs)
            if (!p.empty() && parent(p) == d) want[p.substr(d.size() + 1)] = -1;
        auto got = list(spell(d));
        ASSERT_EQ(got.size(), want.size()) << where();
        for (auto& [name, size] : want) {
            ASSERT_TRUE(got.count(name)) << where() << " " << name;
            ASSERT_EQ((got[name].fattrib & AM_DIR) != 0, size == -1) << where() << " " << name;
            if (size >= 0) {
                ASSERT_EQ(got[name].fsize, FSIZE_t(size)) << where() << " " << name;
            }
        }
    }
    void close(Handle& x) {
        ASSERT_EQ(f_close(&x.f), FR_OK) << where();
        x.open = false;
    }
    void one_step() {
        Handle& x = h[rnd(2)];
        unsigned k = rnd(100);
        doing = x.path;
        if (!x.open) {
            if (k < 40) op_open(x);
            else if (k < 55) op_unlink();
            else if (k < 70) op_mkdir();
            else if (k < 85) op_rename();
            else if (k < 97) op_list();
            else {
                for (auto& y : h)
                    if (y.open) close(y);
                remount(); // as after a wake
            }
        } else if (k < 35) op_write(x);
        else if (k < 60) op_read(x);
        else if (k < 75) op_seek(x);
        else if (k < 80) {
            ASSERT_EQ(f_truncate(&x.f), (x.mode & FA_WRITE) ? FR_OK : FR_DENIED) << where();
            if (x.mode & FA_WRITE) files[x.path].resize(x.pos);
        } else if (k < 85) {
            ASSERT_EQ(f_sync(&x.f), FR_OK) << where();
        } else {
            close(x);
        }
    }
};

TEST_P(RandomTest, AgreesWithModelStepByStep) {
    rng.seed(GetParam().seed);
    make_image(GetParam().mkfs, GetParam().kb);
    for (step = 0; step < 3000 && !HasFatalFailure(); step++) one_step();
    for (auto& x : h)
        if (x.open) close(x);
    remount();
    for (auto& [p, b] : files) {
        std::string got = get(p, 4096);
        ASSERT_EQ(got.size(), b.size()) << p;
        for (size_t i = 0; i < b.size(); i++)
            ASSERT_TRUE(b[i] < 0 || static_cast<unsigned char>(got[i]) == b[i]) << p << " at " << i;
    }
    expect_clean(file("img"));
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomTest,
                         ::testing::Values(Params{"fat12_full", "-F 12 -s 1", 500, 1, 40000},
                                           Params{"fat16_full", "-F 16 -s 1", 2100, 2, 170000},
                                           Params{"fat32", "-F 32 -s 1", 34000, 3, 32000}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
