// Power fails at every block write of the appends of records to a large
// data file, through the whole stack (appendBufferToSDCard, the FAT
// module, the driver, the simulated card). Each wake is a child process,
// so the firmware starts from its initial state as after a real power-up;
// mtools and fsck.fat judge the image afterwards.
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "config/system.h"
#include "storage/microsd.h"
#include "storage_support.h"

namespace {

using storage_test::host;
using storage_test::mtype;

constexpr size_t kRecLen = 200;
constexpr int kRecords = 3;
// Ends 100 bytes short of a cluster boundary: the first record needs a new
// cluster (FAT, FSInfo), the others only data and the directory entry.
constexpr size_t kPrefill = 4 * 1024 * 1024 - 100;

std::string record(int k) {
  char head[16];
  snprintf(head, sizeof head, "rec %05d ", k);
  std::string s = head;
  while (s.size() < kRecLen - 1) s += (char)('a' + (k * 7 + s.size()) % 26);
  return s + "\n";
}

std::string prefill() {
  std::string s(kPrefill, '.');
  for (size_t i = 63; i < s.size(); i += 64) s[i] = '\n';
  return s;
}

struct WakeResult {
  bool cut;         // the power failed during this wake
  int done;         // appends that returned (their f_close completed)
  uint32_t writes;  // block writes the card took
  char console[512];
};

class PowerCut : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/phlogger-powercut-XXXXXX";
    dir_ = mkdtemp(tmpl);
    base_ = dir_ + "/base.img";
    img_ = dir_ + "/sd.img";
    std::string data = dir_ + "/data.txt";
    FILE *f = fopen(data.c_str(), "wb");
    std::string p = prefill();
    fwrite(p.data(), 1, p.size(), f);
    fclose(f);
    storage_test::Host h = host("truncate -s 64M " + base_ + " && /usr/sbin/mkfs.fat -F 32 --invariant " +
                                base_ + " >/dev/null && mcopy -i " + base_ + " " + data + " ::/DATA.TXT");
    ASSERT_EQ(h.rc, 0) << h.out;
    result_ = static_cast<WakeResult *>(mmap(nullptr, sizeof(WakeResult), PROT_READ | PROT_WRITE,
                                             MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(result_, MAP_FAILED);
  }
  void TearDown() override {
    munmap(result_, sizeof(WakeResult));
    host("rm -rf " + dir_);
  }
  void fresh_image() { ASSERT_EQ(host("cp --sparse=always " + base_ + " " + img_).rc, 0); }

  // One wake of the board over the image: appends records first.. first+n-1,
  // with the power failing at block write `cut` of this wake (0: never).
  WakeResult wake(int first, int n, uint32_t cut) {
    memset(result_, 0, sizeof *result_);
    pid_t pid = fork();
    if (pid == 0) {
      run_wake(first, n, cut);
      _exit(0);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the wake crashed";
    return *result_;
  }

  void run_wake(int first, int n, uint32_t cut) {
    sim::SdConfig &c = sim::sd_config();
    snprintf(c.image, sizeof c.image, "%s", img_.c_str());
    c.type = sim::SdType::kSdhc;
    sim::sd_faults_clear();
    SimBoard board("powercut");
    init_TM4C123GH6PGE_144pin();
    sleep_handler();
    strcpy(sys_data.fileName, "data.txt");
    board.run_for(0.05);
    board.out().clear();
    uint32_t w0 = sim::sd_faults().writes_seen;
    if (cut) sim::sd_arm_power_cut(cut);
    try {
      for (int k = 0; k < n; k++) {
        appendBufferToSDCard(record(first + k).c_str());
        result_->done = k + 1;
        result_->writes = sim::sd_faults().writes_seen - w0;
      }
      wait_consoleTx();
      board.run_for(0.01);
    } catch (const PowerDown &) {
      result_->cut = true;
    }
    snprintf(result_->console, sizeof result_->console, "%s", board.out().c_str());
  }

  // The data file holds the prefill and then whole records in order;
  // returns how many.
  int check_records(const std::string &what) {
    std::string got = mtype(img_, "/DATA.TXT");
    EXPECT_GE(got.size(), kPrefill) << what;
    if (got.size() < kPrefill) return -1;
    EXPECT_TRUE(got.compare(0, kPrefill, prefill()) == 0) << what << ": the old data changed";
    size_t tail = got.size() - kPrefill;
    EXPECT_EQ(tail % kRecLen, 0u) << what << ": a partial record";
    int n = (int)(tail / kRecLen);
    for (int i = 0; i < n; i++)
      EXPECT_TRUE(got.compare(kPrefill + i * kRecLen, kRecLen, record(i)) == 0)
          << what << ": record " << i << " damaged";
    std::string all;
    for (const std::string &line : storage_test::fsck_complaints(img_, &all))
      ADD_FAILURE() << what << ": fsck.fat: " << line << "\n" << all;
    return n;
  }

  std::string dir_, base_, img_;
  WakeResult *result_ = nullptr;
};

TEST_F(PowerCut, CutAtEveryBlockWriteKeepsEveryClosedRecord) {
  fresh_image();
  WakeResult dry = wake(0, kRecords, 0);
  ASSERT_EQ(dry.done, kRecords) << dry.console;
  EXPECT_STREQ(dry.console, "") << "no errors without a cut";
  ASSERT_EQ(check_records("without a cut"), kRecords);
  ASSERT_GE(dry.writes, (uint32_t)(2 * kRecords));

  for (uint32_t cut = 1; cut <= dry.writes; cut++) {
    std::string what = "cut at block write " + std::to_string(cut);
    fresh_image();
    WakeResult w = wake(0, kRecords, cut);
    ASSERT_TRUE(w.cut) << what;
    int n = check_records(what);
    // Every record whose f_close returned is there; the one being written
    // may be there too, whole.
    EXPECT_TRUE(n == w.done || n == w.done + 1) << what << ": " << n << " records, "
                                                << w.done << " closed";

    // The next wake carries on after the survivors.
    WakeResult next = wake(n, 1, 0);
    EXPECT_EQ(next.done, 1) << what;
    EXPECT_STREQ(next.console, "") << what;
    EXPECT_EQ(check_records(what + ", then one more"), n + 1);
    if (HasFailure()) return;
  }
}

}  // namespace
