// Power cuts and refused writes at every block write: whatever a completed
// f_close committed survives, and fsck.fat finds at most space that no
// committed data uses.
#include <functional>

#include "fat_support.h"

using namespace fattest;

namespace {

// '#' in pat stands for a run of digits, '*' for anything.
bool like(const char* s, const char* pat) {
    if (*pat == '*') return like(s, pat + 1) || (*s && like(s + 1, pat));
    if (*pat == '#' && isdigit(static_cast<unsigned char>(*s)))
        return like(s + 1, isdigit(static_cast<unsigned char>(s[1])) ? pat : pat + 1);
    return *pat == *s && (*s == 0 || like(s + 1, pat + 1));
}

bool like_any(const std::string& line, std::initializer_list<const char*> pats) {
    for (const char* pat : pats)
        if (like(line.c_str(), pat)) return true;
    return false;
}

// What a cut between two block writes may leave: clusters allocated that no
// committed data uses, a FAT copy one step behind, an unknown free count.
// A bare path names the file of the next line.
bool harmless(const std::string& line) {
    return (line[0] == '/' && line.find(' ') == std::string::npos) ||
           like_any(line, {"Reclaimed # unused cluster* (# bytes).", "Free cluster summary uninitialized (should be #)",
                           "FATs differ but appear to be intact.", "  Using first FAT.",
                           "  File size is # bytes, cluster chain length is > # bytes.",
                           "  Truncating file to # bytes.", "Leaving filesystem unchanged."});
}

// During a move the object is briefly under both names (fsck.fat keeps the first).
bool shared_by_a_move(const std::string& line) {
    return like_any(line, {"/*  and", "  share clusters.", "  Truncating second to 0 bytes.",
                           "  File size is # bytes, cluster chain length is 0 bytes.",
                           "  Invalid '..' entry in the second slot. Fixing."});
}

struct Format {
    const char* name;
    const char* mkfs;
    unsigned kb;
    size_t prefix; // the large file, written by mtools
};
void PrintTo(const Format& f, std::ostream* os) { *os << f.name; }

constexpr int kRecords = 14;

std::string record(int i) { return "REC" + std::to_string(10000 + i) + pattern(192, 1000 + i); } // 200 bytes

FRESULT append(int i) {
    std::string r = record(i);
    FIL f;
    UINT bw;
    FRESULT res = f_open(&f, "/DATA/LOG.TXT", FA_READ | FA_WRITE | FA_OPEN_ALWAYS);
    if (res != FR_OK) return res;
    res = f_lseek(&f, f_size(&f));
    if (res == FR_OK) res = f_write(&f, r.data(), 200, &bw);
    FRESULT rc = f_close(&f);
    return res != FR_OK ? res : rc;
}

class PowerCutTest : public FatTest, public ::testing::WithParamInterface<Format> {
protected:
    std::string prefix;
    std::vector<long> commit_at; // writes done when append i's close returned

    void SetUp() override {
        FatTest::SetUp();
        make_image(GetParam().mkfs, GetParam().kb);
        prefix = pattern(GetParam().prefix, 5);
        write_host_file(file("LOG.TXT"), prefix);
        mtools("mmd", file("img"), 0, "::/DATA");
        mtools("mcopy", file("img"), 0, file("LOG.TXT") + " ::/DATA/LOG.TXT");
        start(-1, -1);
        for (int i = 0; i < kRecords; i++) {
            ASSERT_EQ(append(i), FR_OK);
            commit_at.push_back(g_disk.written);
        }
    }
    void start(long cut, long fail) { // from the image, as the logger wakes
        g_disk.overlay.clear();
        remount();
        g_disk.initialized = true;
        g_disk.arm(cut, fail);
    }
    // After the restart: the old data intact, then whole records in order,
    // every one in `must` among them; and the volume still takes appends.
    void check_restart(const std::vector<int>& must, const std::string& what) {
        remount();
        std::string got = get("/DATA/LOG.TXT", 8192);
        ASSERT_TRUE(got.size() >= prefix.size() && got.compare(0, prefix.size(), prefix) == 0) << what;
        ASSERT_EQ((got.size() - prefix.size()) % 200, 0u) << what << ": partial record";
        std::vector<int> seen;
        for (size_t at = prefix.size(); at < got.size(); at += 200) {
            int idx = std::atoi(got.substr(at + 3, 5).c_str()) - 10000;
            ASSERT_TRUE(idx >= 0 && idx < kRecords && got.compare(at, 200, record(idx)) == 0) << what << " at " << at;
            ASSERT_TRUE(seen.empty() || idx > seen.back()) << what << ": out of order";
            seen.push_back(idx);
        }
        for (int m : must) ASSERT_NE(std::find(seen.begin(), seen.end(), m), seen.end()) << what << ": lost " << m;
        Fsck r = g_disk.with_overlay([&] { return fsck(file("img")); });
        for (auto& line : r.complaints) EXPECT_TRUE(harmless(line)) << what << ":\n" << r.out;
        ASSERT_EQ(append(kRecords - 1), FR_OK) << what;
        EXPECT_TRUE(get("/DATA/LOG.TXT", 8192) == got + record(kRecords - 1)) << what;
    }
};

TEST_P(PowerCutTest, CutAtEveryBlockWriteKeepsCommittedRecords) {
    for (long cut = 0; cut <= commit_at.back() && !HasFailure(); cut++) {
        start(cut, -1);
        for (int i = 0; i < kRecords; i++) append(i); // no error shows: the card just stops
        std::vector<int> must;
        for (int i = 0; i < kRecords; i++)
            if (commit_at[i] <= cut) must.push_back(i);
        check_restart(must, "cut after " + std::to_string(cut) + " writes");
    }
}

TEST_P(PowerCutTest, RefusedBlockWriteLosesOnlyThatAppend) {
    for (long fail = 0; fail < commit_at.back() && !HasFailure(); fail++) {
        start(-1, fail);
        std::vector<int> must;
        std::vector<FRESULT> errors;
        for (int i = 0; i < kRecords; i++) {
            FRESULT r = append(i);
            if (r == FR_OK) must.push_back(i);
            else errors.push_back(r);
        }
        EXPECT_EQ(errors, std::vector<FRESULT>{FR_DISK_ERR}) << "write " << fail;
        check_restart(must, "write " + std::to_string(fail) + " refused");
    }
}

// About 1 MB, ending 100 bytes short of cluster 2047 (FAT32: root 2, /DATA
// 3, the file from 4; FAT16: /DATA 2, the file from 3): the first append
// takes cluster 2048, whose FAT entry is in the next sector.
INSTANTIATE_TEST_SUITE_P(Formats, PowerCutTest,
                         ::testing::Values(Format{"fat32_s1", "-F 32 -s 1", 34000, 2044 * 512 - 100},
                                           Format{"fat16_s1", "-F 16 -s 1", 8000, 2045 * 512 - 100}),
                         [](const auto& info) { return std::string(info.param.name); });

// Every kind of change to the name space, cut at every block write. After
// the restart the volume holds what it held before the operation under way
// or after it; in between, a file being written may show up empty (its
// entry comes first), and a move may show the object under both names.
// Regression: truncation and deletion once left a valid free count on the
// disk while their clusters were already cut loose from the entry, which
// fsck.fat reports as a wrong free count.
using State = std::map<std::string, std::string>; // path -> contents, "<dir>" for a directory

void walk(const std::string& dir, State& s) {
    for (auto& [name, e] : list(dir.empty() ? "/" : dir)) {
        std::string p = dir + "/" + name;
        s[p] = (e.fattrib & AM_DIR) ? "<dir>" : get(p, 4096);
        if (e.fattrib & AM_DIR) walk(p, s);
    }
}

struct Op {
    Op(std::function<FRESULT()> r, bool m = false, std::string w = "") : run(std::move(r)), move(m), writes(std::move(w)) {}
    std::function<FRESULT()> run;
    bool move;
    std::string writes; // the file it (re)writes
};

FRESULT save(const std::string& p, const std::string& data) {
    FIL f;
    UINT bw;
    FRESULT r = f_open(&f, p.c_str(), FA_WRITE | FA_CREATE_ALWAYS);
    if (r == FR_OK) r = f_write(&f, data.data(), UINT(data.size()), &bw);
    FRESULT c = f_close(&f);
    return r != FR_OK ? r : c;
}

class NamespaceCutTest : public FatTest, public ::testing::WithParamInterface<Format> {};

TEST_P(NamespaceCutTest, EveryOperationIsAllOrNothing) {
    make_image(GetParam().mkfs, GetParam().kb);
    std::vector<Op> ops = {
        {[] { return f_mkdir("/A"); }},
        {[] { return save("/A/F1.TXT", pattern(1500, 1)); }, false, "/A/F1.TXT"},
        {[] { return f_mkdir("/A/B"); }},
        {[] { return save("/A/B/F2.TXT", pattern(2600, 2)); }, false, "/A/B/F2.TXT"},
    };
    for (int i = 0; i < 15; i++) { // enough for /A/B to grow by a cluster
        std::string p = "/A/B/X" + std::to_string(10 + i) + ".TXT";
        ops.push_back({[p, i] { return save(p, pattern(100 + i, 10 + i)); }, false, p});
    }
    ops.push_back({[] { return f_rename("/A/F1.TXT", "/A/G1.TXT"); }});
    ops.push_back({[] { return f_rename("/A/G1.TXT", "/A/B/G1.TXT"); }, true});
    ops.push_back({[] { return f_rename("/A/B", "/B"); }, true});
    ops.push_back({[] {
        FIL f;
        FRESULT r = f_open(&f, "/B/F2.TXT", FA_WRITE);
        if (r == FR_OK) r = f_lseek(&f, 700);
        if (r == FR_OK) r = f_truncate(&f);
        FRESULT c = f_close(&f);
        return r != FR_OK ? r : c;
    }});
    ops.push_back({[] { return save("/B/G1.TXT", pattern(900, 3)); }, false, "/B/G1.TXT"}); // replaces it
    for (const char* p : {"/B/F2.TXT", "/B/X12.TXT", "/A"}) ops.push_back({[p] { return f_unlink(p); }});

    // A clean run: the state after each operation, and where it is committed.
    std::vector<State> after(1);
    std::vector<long> done_at;
    g_disk.initialized = true;
    walk("", after[0]);
    for (auto& op : ops) {
        ASSERT_EQ(op.run(), FR_OK) << "operation " << done_at.size();
        done_at.push_back(g_disk.written);
        walk("", after.emplace_back());
    }
    for (long cut = 0; cut < done_at.back() && !HasFailure(); cut++) {
        g_disk.overlay.clear();
        remount();
        g_disk.initialized = true;
        g_disk.arm(cut, -1);
        for (auto& op : ops) op.run(); // failures expected once the power is gone
        size_t k = 0;
        while (done_at[k] <= cut) k++; // the operation the cut fell into
        remount();
        State got, empty = after[k + 1];
        walk("", got);
        const State &before = after[k], &then = after[k + 1];
        std::string what = "cut after " + std::to_string(cut) + " writes, in operation " + std::to_string(k);
        if (!ops[k].writes.empty()) empty[ops[k].writes] = "";
        for (auto& [p, data] : got)
            EXPECT_TRUE((before.count(p) && before.at(p) == data) || (then.count(p) && then.at(p) == data) ||
                        (p == ops[k].writes && data.empty()))
                << what << ": " << p << " is neither old nor new";
        for (auto& [p, data] : before) {
            if (then.count(p) && then.at(p) == data) {
                EXPECT_TRUE(got.count(p) && got[p] == data) << what << ": lost " << p;
            }
        }
        if (!ops[k].move) {
            EXPECT_TRUE(got == before || got == then || got == empty) << what << ": half done";
        }
        Fsck r = g_disk.with_overlay([&] { return fsck(file("img")); });
        for (auto& line : r.complaints)
            EXPECT_TRUE(harmless(line) || (ops[k].move && shared_by_a_move(line))) << what << ":\n" << r.out;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, NamespaceCutTest,
                         ::testing::Values(Format{"fat32_s1", "-F 32 -s 1", 34000, 0},
                                           Format{"fat12_s1", "-F 12 -s 1", 1440, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
