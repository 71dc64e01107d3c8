// Power cuts and refused writes at every block write: whatever a completed
// f_close committed survives, an interrupted append is put right by the
// next mount (fsck.fat finds nothing after the next append), and other
// interrupted changes leave at most space that no committed data uses.
#include <functional>

#include "fat_support.h"

using namespace fattest;

namespace {

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
    }
    // The image as mtools left it, and a blank note.
    void fresh() {
        g_disk.overlay.clear();
        g_disk.note.clear();
    }
    // One wake appending every record, the card faulting at block write k
    // (1: the first; 0: never); the dry run notes where each append commits.
    long run(long k, bool cut) {
        remount();
        g_disk.initialized = true;
        g_disk.arm(cut && k ? k - 1 : -1, !cut && k ? k - 1 : -1);
        if (k == 0) commit_at.clear();
        for (int i = 0; i < kRecords; i++) {
            FRESULT r = append(i);
            if (k == 0) {
                EXPECT_EQ(r, FR_OK);
                commit_at.push_back(g_disk.written);
            }
        }
        return g_disk.written;
    }
    // After the restart: the old data intact, then whole records in order,
    // every one in `must` among them; the next append lands after them,
    // and then fsck.fat finds nothing at all.
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
        ASSERT_EQ(append(kRecords - 1), FR_OK) << what;
        EXPECT_TRUE(get("/DATA/LOG.TXT", 8192) == got + record(kRecords - 1)) << what;
        Fsck r = g_disk.with_overlay([&] { return fsck(file("img")); });
        EXPECT_TRUE(r.complaints.empty()) << what << ":\n" << r.out;
    }
    void sweep(bool cut) {
        long n = fsck_judge::sweep({[&] { fresh(); }, [&](long k) { return run(k, cut); },
                                    [&](long k) {
                                        std::vector<int> must;
                                        for (int i = 0; i < kRecords; i++)
                                            if (k == 0 || commit_at[i] < k) must.push_back(i);
                                        check_restart(must, (cut ? "cut at block write " : "block write refused: ") +
                                                                std::to_string(k));
                                    },
                                    [&] { return HasFailure(); }});
        EXPECT_GE(n, 3 * kRecords);
    }
};

TEST_P(PowerCutTest, CutAtEveryBlockWriteKeepsCommittedRecordsAndIsRepaired) { sweep(true); }

// A refused write fails its append alone; the others go on.
TEST_P(PowerCutTest, RefusedBlockWriteLosesOnlyThatAppend) { sweep(false); }

// The note says where LOG.TXT ended; then a computer rewrote the file,
// shorter, in the same directory slot. The stale end is not trusted: the
// next append lands after the new content.
TEST_F(FatTest, StaleNoteOfTheFileEndIsNotTrusted) {
    make_image("-F 16 -s 1", 8000);
    g_disk.initialized = true;
    put("/LOG.TXT", pattern(5000, 1));
    ASSERT_FALSE(g_disk.note.empty());
    g_disk.flush();
    write_host_file(file("NEW"), pattern(1000, 2));
    mtools("mcopy", file("img"), 0, "-o " + file("NEW") + " ::/LOG.TXT");
    remount();
    FIL f;
    UINT bw;
    ASSERT_EQ(f_open(&f, "/LOG.TXT", FA_READ | FA_WRITE | FA_OPEN_ALWAYS), FR_OK);
    ASSERT_EQ(f_lseek(&f, f_size(&f)), FR_OK);
    ASSERT_EQ(f_write(&f, "tail", 4, &bw), FR_OK);
    ASSERT_EQ(f_close(&f), FR_OK);
    EXPECT_TRUE(get("/LOG.TXT") == pattern(1000, 2) + "tail");
    expect_clean(file("img"));
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
    fsck_judge::sweep({[&] { g_disk.overlay.clear(); g_disk.note.clear(); }, [&](long k) {
        remount();
        g_disk.initialized = true;
        g_disk.arm(k - 1, -1);
        for (auto& op : ops) op.run(); // failures expected once the power is gone
        return g_disk.written;
    }, [&](long k) {
        if (k == 0) return;
        long cut = k - 1; // writes that reached the card
        size_t n = 0;
        while (done_at[n] <= cut) n++; // the operation the cut fell into
        remount();
        State got, empty = after[n + 1];
        walk("", got);
        const State &before = after[n], &then = after[n + 1];
        std::string what = "cut at block write " + std::to_string(k) + ", in operation " + std::to_string(n);
        if (!ops[n].writes.empty()) empty[ops[n].writes] = "";
        for (auto& [p, data] : got)
            EXPECT_TRUE((before.count(p) && before.at(p) == data) || (then.count(p) && then.at(p) == data) ||
                        (p == ops[n].writes && data.empty()))
                << what << ": " << p << " is neither old nor new";
        for (auto& [p, data] : before) {
            if (then.count(p) && then.at(p) == data) {
                EXPECT_TRUE(got.count(p) && got[p] == data) << what << ": lost " << p;
            }
        }
        if (!ops[n].move) {
            EXPECT_TRUE(got == before || got == then || got == empty) << what << ": half done";
        }
        unsigned allow = fsck_judge::kInterrupted | (ops[n].move ? unsigned(fsck_judge::kMoved) : 0u);
        Fsck r = g_disk.with_overlay([&] { return fsck(file("img"), 0, allow); });
        EXPECT_TRUE(r.complaints.empty()) << what << ":\n" << r.out;
    }, [&] { return HasFailure(); }});
}

INSTANTIATE_TEST_SUITE_P(Formats, NamespaceCutTest,
                         ::testing::Values(Format{"fat32_s1", "-F 32 -s 1", 34000, 0},
                                           Format{"fat12_s1", "-F 12 -s 1", 1440, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
