// Power fails at every block write of a deployment's start on the card (the
// metadata and data headers) and of its first records, through the whole
// stack (the header writers, append_record, the FAT module, the driver,
// the simulated card), on FAT12, FAT16 and FAT32. Each wake is a child
// process, so the firmware starts from its initial state, and the FRAM goes
// from one wake to the next as on the board. After the cut every committed
// piece is on the card byte for byte (the one being written may be there
// too, whole); after the next sample fsck.fat finds nothing at all and the
// new record follows the survivors.
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "config/config.h"
#include "config/system.h"
#include "fsck_judge.h"
#include "storage/microsd.h"
#include "storage_support.h"

namespace {

using storage_test::host;
using storage_test::mtype;

constexpr int kRecords = 3;
constexpr int kUnits = 2 + kRecords;  // the two headers, then the records

std::string record(int k) {
  char head[24];
  snprintf(head, sizeof head, "#%07d\trec\t", k);
  std::string s = head;
  while (s.size() < 198) s += (char)('a' + (k * 7 + s.size()) % 26);
  return s + "\r\n";
}

// What one wake saw, and the FRAM it leaves for the next.
struct Wake {
  bool cut;
  int done;             // pieces whose writer returned
  uint32_t writes;      // block writes the card took
  uint32_t end[kUnits]; // the data file's size after each piece (run without a cut)
  uint8_t fram[256];
  char console[1024];
};

struct Format {
  const char *name;
  const char *mkfs;
  unsigned kb;
  size_t prefill;  // ends 100 bytes short of the last entry of a FAT sector
};
void PrintTo(const Format &f, std::ostream *os) { *os << f.name; }

class PowerCut : public ::testing::TestWithParam<Format> {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/phlogger-powercut-XXXXXX";
    dir_ = mkdtemp(tmpl);
    base_ = dir_ + "/base.img";
    img_ = dir_ + "/sd.img";
    prefill_.assign(GetParam().prefill, '.');
    for (size_t i = 63; i < prefill_.size(); i += 64) prefill_[i] = '\n';
    std::string data = dir_ + "/data.txt";
    FILE *f = fopen(data.c_str(), "wb");
    fwrite(prefill_.data(), 1, prefill_.size(), f);
    fclose(f);
    storage_test::Host h = host("/usr/sbin/mkfs.fat -C " + std::string(GetParam().mkfs) + " --invariant " +
                                base_ + " " + std::to_string(GetParam().kb) + " >/dev/null && mcopy -i " +
                                base_ + " " + data + " ::/DATA.TXT");
    ASSERT_EQ(h.rc, 0) << h.out;
    wake_ = static_cast<Wake *>(
        mmap(nullptr, sizeof(Wake), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(wake_, MAP_FAILED);
  }
  void TearDown() override {
    munmap(wake_, sizeof(Wake));
    host("rm -rf " + dir_);
  }

  // One wake over the image, the power failing at block write `cut` (0:
  // never). start: the deployment's headers and first records; otherwise
  // the next sample's record.
  void wake(bool start, uint32_t cut) {
    wake_->cut = false;
    wake_->done = 0;
    wake_->writes = 0;
    wake_->console[0] = 0;
    fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
      run_wake(start, cut);
      _exit(0);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the wake crashed";
  }

  void run_wake(bool start, uint32_t cut) {
    sim::SdConfig &c = sim::sd_config();
    snprintf(c.image, sizeof c.image, "%s", img_.c_str());
    c.type = sim::SdType::kSdhc;
    sim::sd_faults_clear();
    SimBoard board("powercut");
    memcpy(sim::fram_bytes(), wake_->fram, sizeof wake_->fram);
    init_TM4C123GH6PGE_144pin();
    sleep_handler();
    HibernateRTCSet(storage_test::rtc_of(2026, 5, 6, 12, 0, 0));
    strcpy(sys_data.fileName, "data.txt");
    board.run_for(0.05);
    board.out().clear();
    uint32_t w0 = sim::sd_faults().writes_seen;
    if (cut) sim::sd_arm_power_cut(cut);
    auto piece_done = [&] {
      wake_->writes = sim::sd_faults().writes_seen - w0;
      FIL f;
      if (!cut && f_open(&f, "data.txt", FA_READ) == FR_OK) {
        wake_->end[wake_->done] = f_size(&f);
        f_close(&f);
      }
      wake_->done++;
    };
    try {
      if (start) {
        write_metadata_header(HibernateRTCGet());
        piece_done();
        write_data_header();
        piece_done();
        for (int k = 0; k < kRecords; k++) {
          append_record(record(k).c_str());
          piece_done();
        }
      } else {
        append_record(record(99).c_str());
        piece_done();
      }
      wait_consoleTx();
      board.run_for(0.01);
    } catch (const PowerDown &) {
      wake_->cut = true;
    }
    memcpy(wake_->fram, sim::fram_bytes(), sizeof wake_->fram);
    snprintf(wake_->console, sizeof wake_->console, "%s", board.out().c_str());
  }

  std::string dir_, base_, img_, prefill_;
  Wake *wake_ = nullptr;
};

TEST_P(PowerCut, CutAtEveryBlockWriteKeepsWhatWasCommittedAndTheNextSampleLeavesACleanCard) {
  std::string whole;            // the data file after a run without a cut
  std::vector<size_t> bounds;   // where each piece ends in it (0: the prefill)
  int unclean = 0;
  long cuts = fsck_judge::sweep(
      {[&] {
         ASSERT_EQ(host("cp --sparse=always " + base_ + " " + img_).rc, 0);
         memset(wake_->fram, 0, sizeof wake_->fram);
       },
       [&](long k) {
         wake(true, (uint32_t)k);
         return (long)wake_->writes;
       },
       [&](long k) {
         std::string what = "cut at block write " + std::to_string(k);
         if (k == 0) {
           ASSERT_EQ(wake_->done, kUnits) << wake_->console;
           EXPECT_EQ(std::string(wake_->console).find("error"), std::string::npos) << wake_->console;
           whole = mtype(img_, "/DATA.TXT");
           bounds = {prefill_.size()};
           for (uint32_t e : wake_->end) bounds.push_back(e);
           ASSERT_EQ(whole.size(), bounds.back());
           ASSERT_EQ(whole.compare(0, prefill_.size(), prefill_), 0);
           for (int r = 0; r < kRecords; r++)
             ASSERT_EQ(whole.substr(bounds[2 + r], bounds[3 + r] - bounds[2 + r]), record(r));
         } else {
           EXPECT_TRUE(wake_->cut) << what;
         }
         std::string got = mtype(img_, "/DATA.TXT");
         int n = wake_->done;
         bool committed = got == whole.substr(0, bounds[n]);
         bool and_next = n < kUnits && got == whole.substr(0, bounds[n + 1]);
         ASSERT_TRUE(committed || and_next) << what << ": " << n << " pieces done, the file holds "
                                            << got.size() << " bytes";
         fsck_judge::Verdict after_cut = fsck_judge::check(img_, fsck_judge::kInterrupted);
         EXPECT_TRUE(after_cut.ok()) << what << ":\n" << after_cut.out;

         wake(false, 0);
         EXPECT_EQ(wake_->done, 1) << what;
         EXPECT_STREQ(wake_->console, "") << what;
         EXPECT_TRUE(mtype(img_, "/DATA.TXT") == got + record(99)) << what << ": the next record";
         fsck_judge::Verdict next = fsck_judge::check(img_, fsck_judge::kClean);
         if (!next.ok()) unclean++;
         EXPECT_TRUE(next.ok()) << what << ", then the next sample:\n" << next.out;
       },
       [&] { return HasFailure(); }});
  printf("%s: %ld block writes cut, %d cards unclean after the next sample\n", GetParam().name, cuts, unclean);
}

// FAT12: the file from cluster 2 ends in cluster 340, whose successor's
// entry straddles two FAT sectors. FAT16: it ends in cluster 255, the last
// entry of the first FAT sector. FAT32 (root in cluster 2): in cluster 127.
INSTANTIATE_TEST_SUITE_P(Formats, PowerCut,
                         ::testing::Values(Format{"fat12", "-F 12 -s 1", 2048, 339 * 512 - 100},
                                           Format{"fat16", "-F 16 -s 1", 16384, 254 * 512 - 100},
                                           Format{"fat32", "-F 32 -s 1", 65536, 125 * 512 - 100}),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
