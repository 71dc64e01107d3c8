// Power cut and refused writes at every block write of a run of record
// appends to a large file: whatever a completed f_close committed survives,
// in order, and fsck.fat finds at most space that no file uses.
#include "fat_support.h"

using namespace fattest;

namespace {

constexpr int kRecords = 14;
constexpr UINT kRecLen = 200;
constexpr size_t kPrefix = 1 << 20; // the large file, written by mtools

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

// '#' in pat stands for a run of digits.
bool like(const std::string& s, const char* pat) {
    size_t i = 0;
    for (; *pat; pat++) {
        if (*pat == '#') {
            size_t j = i;
            while (j < s.size() && isdigit(static_cast<unsigned char>(s[j]))) j++;
            if (j == i) return false;
            i = j;
        } else if (i >= s.size() || s[i++] != *pat) {
            return false;
        }
    }
    return i == s.size();
}

// Only the harm a cut between two block writes may do: clusters allocated
// but used by no committed data, a FAT copy one step behind, or an unknown
// free count.
bool harmless(const std::string& line) {
    static const char* const ok[] = {
        "Reclaimed # unused clusters (# bytes).",
        "Reclaimed # unused cluster (# bytes).",
        "Free cluster summary uninitialized (should be #)",
        "FATs differ but appear to be intact.",
        "  Using first FAT.",
        "/DATA/LOG.TXT",
        "  File size is # bytes, cluster chain length is > # bytes.",
        "  Truncating file to # bytes.",
        "  Auto-correcting.",
        "Leaving filesystem unchanged.",
    };
    for (const char* pat : ok)
        if (like(line, pat)) return true;
    return false;
}

struct Format {
    const char* name;
    const char* mkfs;
    unsigned kb;
};

class PowerCutTest : public FatTest, public ::testing::WithParamInterface<Format> {
protected:
    std::string prefix;
    std::vector<long> commit_at; // writes done when append i's close returned

    void SetUp() override {
        FatTest::SetUp();
        make_image(GetParam().mkfs, GetParam().kb);
        prefix = pattern(kPrefix, 5);
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
        ASSERT_GE(got.size(), kPrefix) << what;
        ASSERT_TRUE(got.compare(0, kPrefix, prefix) == 0) << what << ": old data damaged";
        ASSERT_EQ((got.size() - kPrefix) % kRecLen, 0u) << what << ": partial record";
        std::vector<int> seen;
        for (size_t at = kPrefix; at < got.size(); at += kRecLen) {
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

const Format kFormats[] = {
    {"fat32_s1", "-F 32 -s 1", 34000},
    {"fat16_s1", "-F 16 -s 1", 8000},
};
INSTANTIATE_TEST_SUITE_P(Formats, PowerCutTest, ::testing::ValuesIn(kFormats),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
