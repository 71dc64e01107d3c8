// Seeded random operation sequences against a simple model of the volume:
// every result code, every byte read and every listing must agree, step by
// step; afterwards mtools and fsck.fat must agree too.
#include <filesystem>
#include <random>
#include <set>

#include "fat_support.h"

using namespace fattest;

namespace {

using Bytes = std::vector<int>; // -1: contents not defined (gap left by a seek)

struct Handle {
    bool open = false;
    FIL f;
    std::string path;
    BYTE mode = 0;
    FSIZE_t pos = 0;
};

struct Params {
    const char* name;
    const char* mkfs;
    unsigned kb;
    unsigned seed;
    unsigned big; // largest write
};
void PrintTo(const Params& f, std::ostream* os) { *os << f.name; }


class RandomTest : public FatTest, public ::testing::WithParamInterface<Params> {
protected:
    std::mt19937 rng;
    std::map<std::string, Bytes> files; // upper-case path -> contents
    std::set<std::string> dirs;         // "" is the root
    Handle h[2];
    int step = 0;
    std::string last; // the operation under way, for failure messages

    unsigned rnd(unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(rng); }

    std::string parent(const std::string& p) { return p.substr(0, p.rfind('/')); }
    bool exists(const std::string& p) { return files.count(p) || dirs.count(p); }
    bool is_open(const std::string& p) {
        for (auto& x : h)
            if (x.open && x.path == p) return true;
        return false;
    }
    // Spelling as the caller may give it: any case.
    std::string spell(const std::string& p) {
        std::string s = p.empty() ? "/" : p;
        for (auto& c : s)
            if (rnd(2)) c = static_cast<char>(tolower(c));
        return s;
    }
    std::string pick_dir() {
        auto it = dirs.begin();
        std::advance(it, rnd(static_cast<unsigned>(dirs.size())));
        return *it;
    }
    std::string new_file_path() {
        // Enough names that a directory outgrows its first cluster.
        std::string name = "F" + std::to_string(rnd(10)) + (rnd(2) ? ".TXT" : "");
        std::string d = rnd(10) == 0 ? "/NO" : pick_dir(); // sometimes a missing directory
        return d + "/" + name;
    }
    std::string new_dir_path() {
        std::string d = pick_dir();
        if (std::count(d.begin(), d.end(), '/') >= 3) d = "";
        return d + "/D" + std::to_string(rnd(4));
    }
    std::string any_path() {
        unsigned k = rnd(3);
        if (k == 0 && !files.empty()) {
            auto it = files.begin();
            std::advance(it, rnd(static_cast<unsigned>(files.size())));
            return it->first;
        }
        if (k == 1 && dirs.size() > 1) {
            std::string d = pick_dir();
            if (!d.empty()) return d;
        }
        return rnd(2) ? new_file_path() : new_dir_path();
    }
    bool volume_full() {
        DWORD n;
        FATFS* p;
        return f_getfree("", &n, &p) == FR_OK && n == 0;
    }
    std::string where() { return "seed " + std::to_string(GetParam().seed) + " step " + std::to_string(step) + ": " + last; }

    void expect_result(FRESULT got, FRESULT want, bool full_ok = false) {
        if (full_ok && got == FR_DENIED && volume_full()) return;
        ASSERT_EQ(got, want) << where();
    }

    void op_open(Handle& x) {
        static const BYTE modes[] = {FA_READ, FA_READ | FA_OPEN_ALWAYS, FA_READ | FA_WRITE | FA_OPEN_ALWAYS,
                                     FA_WRITE | FA_OPEN_ALWAYS, FA_READ | FA_WRITE | FA_CREATE_ALWAYS,
                                     FA_WRITE | FA_CREATE_NEW, FA_READ | FA_WRITE};
        std::string p = rnd(2) && !files.empty() ? any_path() : new_file_path();
        if (is_open(p)) return;
        BYTE mode = modes[rnd(7)];
        last = "open " + p + " mode " + std::to_string(mode);
        bool create = mode & (FA_CREATE_ALWAYS | FA_OPEN_ALWAYS | FA_CREATE_NEW);
        FRESULT want;
        if (!dirs.count(parent(p))) want = FR_NO_PATH;
        else if (exists(p) && (mode & FA_CREATE_NEW)) want = FR_EXIST;
        else if (dirs.count(p)) want = create ? FR_DENIED : FR_NO_FILE;
        else if (files.count(p)) want = FR_OK;
        else want = create ? FR_OK : FR_NO_FILE;
        FRESULT r = f_open(&x.f, spell(p).c_str(), mode);
        expect_result(r, want, !files.count(p));
        if (r != FR_OK) return;
        if (!files.count(p) || (mode & FA_CREATE_ALWAYS)) files[p].clear();
        x = {true, x.f, p, mode, 0};
        ASSERT_EQ(f_size(&x.f), files[p].size()) << where();
    }

    void op_write(Handle& x) {
        if (!(x.mode & FA_WRITE)) {
            UINT bw;
            ASSERT_EQ(f_write(&x.f, "x", 1, &bw), FR_DENIED) << where();
            return;
        }
        // Now and then a large one, so that the small volumes fill up.
        UINT len = rnd(4) == 0 ? rnd(GetParam().big) : rnd(1500);
        std::string data = pattern(len, static_cast<unsigned>(step));
        UINT bw;
        FRESULT r = f_write(&x.f, data.data(), len, &bw);
        expect_result(r, FR_OK, true);
        if (r == FR_OK) { ASSERT_EQ(bw, len) << where(); }
        ASSERT_LE(bw, len);
        Bytes& b = files[x.path];
        if (b.size() < x.pos + bw) b.resize(x.pos + bw, -1);
        for (UINT i = 0; i < bw; i++) b[x.pos + i] = static_cast<unsigned char>(data[i]);
        x.pos += bw;
    }

    void op_read(Handle& x) {
        UINT len = rnd(4) == 0 ? rnd(9000) : rnd(700);
        std::string buf(len, '\0');
        UINT br;
        FRESULT r = f_read(&x.f, buf.data(), len, &br);
        if (!(x.mode & FA_READ)) {
            ASSERT_EQ(r, FR_DENIED) << where();
            return;
        }
        ASSERT_EQ(r, FR_OK) << where();
        const Bytes& b = files[x.path];
        ASSERT_EQ(br, std::min<size_t>(len, b.size() - x.pos)) << where();
        for (UINT i = 0; i < br; i++)
            if (b[x.pos + i] >= 0) {
                ASSERT_EQ(static_cast<unsigned char>(buf[i]), b[x.pos + i]) << where() << " offset " << x.pos + i;
            }
        x.pos += br;
    }

    void op_seek(Handle& x) {
        Bytes& b = files[x.path];
        FSIZE_t to = rnd(3) == 0 ? b.size() : rnd(static_cast<unsigned>(b.size() + 4000));
        if (rnd(3) == 0) to = x.pos - rnd(static_cast<unsigned>(std::min<FSIZE_t>(x.pos, 2048) + 1)); // back a little
        if (rnd(3) == 0) to -= to % 512; // whole-sector transfers from here
        FRESULT r = f_lseek(&x.f, to);
        bool grows = to > b.size() && (x.mode & FA_WRITE);
        expect_result(r, FR_OK, grows);
        if (!(x.mode & FA_WRITE)) to = std::min<FSIZE_t>(to, b.size());
        if (r == FR_OK) { ASSERT_EQ(f_tell(&x.f), to) << where(); }
        x.pos = f_tell(&x.f);
        if (f_size(&x.f) > b.size()) b.resize(f_size(&x.f), -1);
        ASSERT_EQ(f_size(&x.f), b.size()) << where();
    }

    void op_truncate(Handle& x) {
        FRESULT r = f_truncate(&x.f);
        ASSERT_EQ(r, (x.mode & FA_WRITE) ? FR_OK : FR_DENIED) << where();
        if (r == FR_OK) files[x.path].resize(x.pos);
    }

    void op_unlink() {
        std::string p = any_path();
        if (is_open(p)) return;
        last = "unlink " + p;
        FRESULT want = FR_OK;
        if (!dirs.count(parent(p))) want = FR_NO_PATH;
        else if (!exists(p)) want = FR_NO_FILE;
        else if (dirs.count(p))
            for (auto& q : files) // a directory with anything in it stays
                if (q.first.rfind(p + "/", 0) == 0) want = FR_DENIED;
        if (dirs.count(p))
            for (auto& q : dirs)
                if (q.rfind(p + "/", 0) == 0) want = FR_DENIED;
        expect_result(f_unlink(spell(p).c_str()), want);
        if (want == FR_OK) {
            files.erase(p);
            dirs.erase(p);
        }
    }

    void op_mkdir() {
        std::string p = rnd(4) ? new_dir_path() : any_path();
        last = "mkdir " + p;
        FRESULT want = !dirs.count(parent(p)) ? FR_NO_PATH : exists(p) ? FR_EXIST : FR_OK;
        FRESULT r = f_mkdir(spell(p).c_str());
        expect_result(r, want, want == FR_OK);
        if (r == FR_OK) dirs.insert(p);
    }

    void op_rename() {
        std::string from = any_path(), to = rnd(2) ? new_file_path() : new_dir_path();
        if (is_open(from)) return;
        last = "rename " + from + " -> " + to;
        FRESULT want = FR_OK;
        if (!dirs.count(parent(from))) want = FR_NO_PATH;
        else if (!exists(from)) want = FR_NO_FILE;
        else if (!dirs.count(parent(to))) want = FR_NO_PATH;
        else if (exists(to)) want = FR_EXIST;
        else if (dirs.count(from) && to.rfind(from + "/", 0) == 0) want = FR_DENIED;
        FRESULT r = f_rename(spell(from).c_str(), spell(to).c_str());
        expect_result(r, want, want == FR_OK);
        if (r != FR_OK) return;
        auto move = [&](const std::string& p) { return to + p.substr(from.size()); };
        std::map<std::string, Bytes> nf;
        for (auto& [p, b] : files) nf[p == from || p.rfind(from + "/", 0) == 0 ? move(p) : p] = b;
        files.swap(nf);
        std::set<std::string> nd;
        for (auto& p : dirs) nd.insert(p == from || p.rfind(from + "/", 0) == 0 ? move(p) : p);
        dirs.swap(nd);
        for (auto& x : h)
            if (x.open && x.path.rfind(from + "/", 0) == 0) x.path = move(x.path);
    }

    void op_list() {
        std::string d = pick_dir();
        auto got = list(spell(d));
        std::map<std::string, long> want; // name -> size, -1 for a directory
        for (auto& [p, b] : files)
            if (parent(p) == d) want[p.substr(d.size() + 1)] = is_open(p) ? -2 : static_cast<long>(b.size());
        for (auto& p : dirs)
            if (!p.empty() && parent(p) == d) want[p.substr(d.size() + 1)] = -1;
        ASSERT_EQ(got.size(), want.size()) << where() << " in " << d;
        for (auto& [name, size] : want) {
            ASSERT_TRUE(got.count(name)) << where() << " " << d << "/" << name;
            const Entry& e = got[name];
            ASSERT_EQ((e.attr & AM_DIR) != 0, size == -1) << where();
            if (size >= 0) { ASSERT_EQ(e.size, static_cast<FSIZE_t>(size)) << where() << " " << name; }
        }
    }

    void close_all() {
        for (auto& x : h)
            if (x.open) {
                ASSERT_EQ(f_close(&x.f), FR_OK) << where();
                x.open = false;
            }
    }

    void one_step() {
        Handle& x = h[rnd(2)];
        unsigned k = rnd(100);
        if (!x.open) {
            if (k < 40) op_open(x);
            else if (k < 55) op_unlink();
            else if (k < 70) op_mkdir();
            else if (k < 85) op_rename();
            else if (k < 97) op_list();
            else {
                close_all();
                remount(); // as after a wake
            }
            return;
        }
        if (k < 35) op_write(x);
        else if (k < 60) op_read(x);
        else if (k < 75) op_seek(x);
        else if (k < 80) op_truncate(x);
        else if (k < 85) ASSERT_EQ(f_sync(&x.f), FR_OK) << where();
        else {
            ASSERT_EQ(f_close(&x.f), FR_OK) << where();
            x.open = false;
        }
    }
};

TEST_P(RandomTest, AgreesWithModelStepByStep) {
    rng.seed(GetParam().seed);
    make_image(GetParam().mkfs, GetParam().kb);
    dirs.insert("");
    for (step = 0; step < 3000; step++) {
        one_step();
        if (HasFatalFailure()) return;
    }
    close_all();
    remount();

    // Everything reads back through the module...
    for (auto& [p, b] : files) {
        std::string got = get(p, 4096);
        ASSERT_EQ(got.size(), b.size()) << p;
        for (size_t i = 0; i < b.size(); i++)
            if (b[i] >= 0) { ASSERT_EQ(static_cast<unsigned char>(got[i]), b[i]) << p << " at " << i; }
    }
    // ...and through mtools, and fsck.fat finds nothing to mend.
    expect_clean(file("img"));
    std::string out = file("out");
    std::filesystem::create_directories(out);
    if (files.size() + dirs.size() > 1) mtools("mcopy", file("img"), 0, "-s -n -Q ::/* " + out);
    size_t host_files = 0;
    for (auto& e : std::filesystem::recursive_directory_iterator(out)) {
        std::string p = e.path().string().substr(out.size());
        for (auto& c : p) c = static_cast<char>(toupper(c));
        if (e.is_directory()) {
            EXPECT_TRUE(dirs.count(p)) << p;
            continue;
        }
        host_files++;
        ASSERT_TRUE(files.count(p)) << p;
        std::string got = read_host_file(e.path());
        const Bytes& b = files[p];
        ASSERT_EQ(got.size(), b.size()) << p;
        for (size_t i = 0; i < b.size(); i++)
            if (b[i] >= 0) { ASSERT_EQ(static_cast<unsigned char>(got[i]), b[i]) << p << " at " << i; }
    }
    EXPECT_EQ(host_files, files.size());
}

const Params kParams[] = {
    {"fat12_full", "-F 12 -s 1", 500, 1, 40000},
    {"fat16_full", "-F 16 -s 1", 2100, 2, 170000},
    {"fat32", "-F 32 -s 1", 34000, 3, 32000},
};
INSTANTIATE_TEST_SUITE_P(Seeds, RandomTest, ::testing::ValuesIn(kParams),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
