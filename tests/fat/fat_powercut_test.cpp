// Power cut and refused writes at every block write of a run of record
// appends to a large file: whatever a completed f_close committed survives,
// in order, and fsck.fat finds at most space that no file uses.
#include <functional>

#include "fat_support.h"

using namespace fattest;

namespace {

constexpr int kRecords = 14;
constexpr UINT kRecLen = 200;

std::string record(int i) {
    std::string r = pattern(kRecLen, 1000 + i);
    r.replace(0, 8, "REC" + std::to_string(10000 + i)); // its index, to check the order
    return r;
}

FRESULT append(int i) {
    std::string r = record(i);
    FIL f;
    UINT bw;
    FRESULT res = f_open(&f, "/DATA/LOG.TXT", FA_READ | FA_WRITE | FA_OPEN_ALWAYS);
    if (res != FR_OK) return res;
    res = f_lseek(&f, f_size(&f));
    if (res == FR_OK) res = f_write(&f, r.data(), kRecLen, &bw);
    FRESULT rc = f_close(&f);
    return res != FR_OK ? res : rc;
}

// '#' in pat stands for a run of digits, '*' for anything.
bool like(const char* s, const char* pat) {
    if (*pat == 0) return *s == 0;
    if (*pat == '*') return like(s, pat + 1) || (*s && like(s + 1, pat));
    if (*pat == '#') {
        if (!isdigit(static_cast<unsigned char>(*s))) return false;
        while (isdigit(static_cast<unsigned char>(s[1]))) s++;
        return like(s + 1, pat + 1);
    }
    return *s == *pat && like(s + 1, pat + 1);
}

bool like_any(const std::string& line, std::initializer_list<const char*> pats) {
    for (const char* pat : pats)
        if (like(line.c_str(), pat)) return true;
    return false;
}

// Only the harm a cut between two block writes may do: clusters allocated
// but used by no committed data, a FAT copy one step behind, or an unknown
// free count. A bare path names the file of the next line.
bool harmless(const std::string& line) {
    return (line[0] == '/' && line.find(' ') == std::string::npos) ||
           like_any(line, {"Reclaimed # unused cluster* (# bytes).",
                           "Free cluster summary uninitialized (should be #)",
                           "FATs differ but appear to be intact.", "  Using first FAT.",
                           "  File size is # bytes, cluster chain length is > # bytes.",
                           "  Truncating file to # bytes.", "Leaving filesystem unchanged."});
}

// During a move the object is briefly under both names (fsck.fat would
// keep the first).
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

class PowerCutTest : public FatTest, public ::testing::WithParamInterface<Format> {
protected:
    std::string prefix;
    std::vector<long> commit_at; // writes done when append i's close returned

    void SetUp() override {
        FatTest::SetUp();
        make_image(GetParam().mkfs, GetParam().kb);
        prefix = pattern(GetParam().prefix, 5);
        write_host_file(file("LOG.TXT"), prefix);
        run("/usr/bin/mmd -i " + file("img") + " ::/DATA");
        mtools("mcopy", file("img"), 0, file("LOG.TXT") + " ::/DATA/LOG.TXT");
        remount();
        // A clean run tells where each append is committed.
        g_disk.initialized = true;
        g_disk.arm(-1, -1);
        for (int i = 0; i < kRecords; i++) {
            ASSERT_EQ(append(i), FR_OK);
            commit_at.push_back(g_disk.written);
        }
        g_disk.overlay.clear();
    }

    // After the restart: the prefix intact, then whole records in order,
    // every one in `must` among them.
    void check_restart(const std::vector<int>& must, const std::string& what) {
        remount();
        std::string got = get("/DATA/LOG.TXT", 8192);
        ASSERT_GE(got.size(), prefix.size()) << what;
        ASSERT_TRUE(got.compare(0, prefix.size(), prefix) == 0) << what << ": old data damaged";
        ASSERT_EQ((got.size() - prefix.size()) % kRecLen, 0u) << what << ": partial record";
        std::vector<int> seen;
        for (size_t at = prefix.size(); at < got.size(); at += kRecLen) {
            int idx = std::atoi(got.substr(at + 3, 5).c_str()) - 10000;
            ASSERT_TRUE(idx >= 0 && idx < kRecords && got.compare(at, kRecLen, record(idx)) == 0)
                << what << ": damaged record at " << at;
            ASSERT_TRUE(seen.empty() || idx > seen.back()) << what << ": out of order";
            seen.push_back(idx);
        }
        for (int m : must)
            ASSERT_TRUE(std::find(seen.begin(), seen.end(), m) != seen.end())
                << what << ": committed record " << m << " lost";

        Fsck r = g_disk.with_overlay([&] { return fsck(file("img")); });
        for (auto& line : r.complaints) EXPECT_TRUE(harmless(line)) << what << ":\n" << r.out;

        // The volume stays usable: one more append lands after the rest.
        ASSERT_EQ(append(kRecords - 1), FR_OK) << what;
        std::string again = get("/DATA/LOG.TXT", 8192);
        ASSERT_EQ(again.size(), got.size() + kRecLen) << what;
        EXPECT_TRUE(again.compare(got.size(), kRecLen, record(kRecords - 1)) == 0) << what;
    }
};

TEST_P(PowerCutTest, CutAtEveryBlockWriteKeepsCommittedRecords) {
    long total = commit_at.back();
    ASSERT_GT(total, 2 * kRecords);
    for (long cut = 0; cut <= total; cut++) {
        g_disk.overlay.clear();
        remount();
        g_disk.initialized = true;
        g_disk.arm(cut, -1);
        for (int i = 0; i < kRecords; i++) append(i); // no error shows: the card just stops
        std::vector<int> must;
        for (int i = 0; i < kRecords; i++)
            if (commit_at[i] <= cut) must.push_back(i);
        check_restart(must, "cut after " + std::to_string(cut) + " writes");
        if (HasFatalFailure()) return;
    }
}

TEST_P(PowerCutTest, RefusedBlockWriteLosesOnlyThatAppend) {
    long total = commit_at.back();
    for (long fail = 0; fail < total; fail++) {
        g_disk.overlay.clear();
        remount();
        g_disk.initialized = true;
        g_disk.arm(-1, fail);
        std::vector<int> must;
        int errors = 0;
        for (int i = 0; i < kRecords; i++) {
            FRESULT r = append(i);
            if (r == FR_OK) {
                must.push_back(i);
            } else {
                EXPECT_EQ(r, FR_DISK_ERR);
                errors++;
            }
        }
        EXPECT_EQ(errors, 1) << "write " << fail;
        check_restart(must, "write " + std::to_string(fail) + " refused");
        if (HasFatalFailure()) return;
    }
}

// Every change of the name space, cut at every block write. After the
// restart the volume holds what it held before the operation under way or
// what it holds after it: nothing a finished operation made is lost. In
// between, a file being written may show up empty (its entry is made
// first), and a move may show the object under both names.
class NamespaceCutTest : public FatTest, public ::testing::WithParamInterface<Format> {
protected:
    using State = std::map<std::string, std::string>; // path -> contents, "<dir>" for directories
    std::vector<std::function<FRESULT()>> ops;
    std::vector<bool> moves;         // the operation moves an object between directories
    std::vector<std::string> writes; // the file it (re)writes: may show up empty

    void add(std::function<FRESULT()> op, bool move = false, std::string written = "") {
        ops.push_back(std::move(op));
        moves.push_back(move);
        writes.push_back(written);
    }
    static void walk(const std::string& dir, State& s) {
        for (auto& [name, e] : list(dir.empty() ? "/" : dir)) {
            std::string p = dir + "/" + name;
            if (e.attr & AM_DIR) {
                s[p] = "<dir>";
                walk(p, s);
            } else {
                s[p] = get(p, 4096);
            }
        }
    }
    State state() {
        State s;
        walk("", s);
        return s;
    }
};

TEST_P(NamespaceCutTest, EveryOperationIsAllOrNothing) {
    make_image(GetParam().mkfs, GetParam().kb);
    // Operations report instead of asserting: with the power gone they may
    // well fail, as they would on the logger.
    auto save = [](const std::string& p, const std::string& data) {
        FIL f;
        UINT bw;
        FRESULT r = f_open(&f, p.c_str(), FA_WRITE | FA_CREATE_ALWAYS);
        if (r == FR_OK) r = f_write(&f, data.data(), static_cast<UINT>(data.size()), &bw);
        FRESULT c = f_close(&f);
        return r != FR_OK ? r : c;
    };
    add([] { return f_mkdir("/A"); });
    add([&] { return save("/A/F1.TXT", pattern(1500, 1)); }, false, "/A/F1.TXT");
    add([] { return f_mkdir("/A/B"); });
    add([&] { return save("/A/B/F2.TXT", pattern(2600, 2)); }, false, "/A/B/F2.TXT");
    for (int i = 0; i < 15; i++) // enough to make /A/B grow by a cluster
        add([&, i] { return save("/A/B/X" + std::to_string(10 + i) + ".TXT", pattern(100 + i, 10 + i)); }, false,
            "/A/B/X" + std::to_string(10 + i) + ".TXT");
    add([] { return f_rename("/A/F1.TXT", "/A/G1.TXT"); });
    add([] { return f_rename("/A/G1.TXT", "/A/B/G1.TXT"); }, true);
    add([] { return f_rename("/A/B", "/B"); }, true);
    add([] {
        FIL f;
        FRESULT r = f_open(&f, "/B/F2.TXT", FA_WRITE);
        if (r == FR_OK) r = f_lseek(&f, 700);
        if (r == FR_OK) r = f_truncate(&f);
        FRESULT c = f_close(&f);
        return r != FR_OK ? r : c;
    });
    add([&] { return save("/B/G1.TXT", pattern(900, 3)); }, false, "/B/G1.TXT"); // replaces the old contents
    add([] { return f_unlink("/B/F2.TXT"); });
    add([] { return f_unlink("/B/X12.TXT"); });
    add([] { return f_unlink("/A"); });

    // A clean run: the state after each operation and where it is committed.
    g_disk.flush();
    remount();
    g_disk.initialized = true;
    g_disk.arm(-1, -1);
    std::vector<State> after{state()};
    std::vector<long> done_at;
    for (auto& op : ops) {
        ASSERT_EQ(op(), FR_OK) << "operation " << done_at.size();
        done_at.push_back(g_disk.written);
        after.push_back(state());
    }

    for (long cut = 0; cut < done_at.back(); cut++) {
        g_disk.overlay.clear();
        remount();
        g_disk.initialized = true;
        g_disk.arm(cut, -1);
        for (auto& op : ops) op();
        size_t k = 0;
        while (done_at[k] <= cut) k++; // the operation the cut fell into
        remount();
        State got = state();
        std::string what = "cut after " + std::to_string(cut) + " writes, in operation " + std::to_string(k);
        const State& before = after[k];
        const State& then = after[k + 1];
        State empty = then;
        if (!writes[k].empty()) empty[writes[k]] = "";
        for (auto& [p, data] : got) {
            bool known = (before.count(p) && before.at(p) == data) || (then.count(p) && then.at(p) == data) ||
                         (p == writes[k] && data.empty());
            EXPECT_TRUE(known) << what << ": " << p << " is neither old nor new";
        }
        for (auto& [p, data] : before) {
            if (then.count(p) && then.at(p) == data) {
                EXPECT_TRUE(got.count(p) && got[p] == data) << what << ": lost " << p;
            }
        }
        if (!moves[k]) {
            bool is_before = got == before, is_after = got == then, is_empty = got == empty;
            EXPECT_TRUE(is_before || is_after || is_empty) << what << ": a mixture of old and new";
        }
        Fsck r = g_disk.with_overlay([&] { return fsck(file("img")); });
        for (auto& line : r.complaints)
            EXPECT_TRUE(harmless(line) || (moves[k] && shared_by_a_move(line))) << what << ":\n" << r.out;
        if (HasFailure()) return;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, NamespaceCutTest,
                         ::testing::Values(Format{"fat32_s1", "-F 32 -s 1", 34000, 0},
                                           Format{"fat12_s1", "-F 12 -s 1", 1440, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

// About 1 MB, ending 100 bytes short of cluster 2047 (FAT32: root 2,
// /DATA 3, the file from 4; FAT16: /DATA 2, the file from 3), so that the
// first append takes cluster 2048, whose FAT entry is in the next sector.
const Format kFormats[] = {
    {"fat32_s1", "-F 32 -s 1", 34000, 2044 * 512 - 100},
    {"fat16_s1", "-F 16 -s 1", 8000, 2045 * 512 - 100},
};
INSTANTIATE_TEST_SUITE_P(Formats, PowerCutTest, ::testing::ValuesIn(kFormats),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
