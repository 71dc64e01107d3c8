// The error log on the simulated card, read back with mtools.
#include "config/error_log.h"
#include "config/system.h"
#include "core/main.h"
#include "core/sleep.h"
#include "ff.h"
#include "storage/microsd.h"
#include "storage_support.h"

namespace {

using storage_test::host;
using storage_test::mtype;
using storage_test::rtc_of;

class ErrorLog : public storage_test::CardTest {
 protected:
  void SetUp() override {
    boot();
    set_clock(rtc_of(2024, 3, 5, 10, 0, 0));
  }
};

// The first entry creates the file, the second appends to it.
TEST_F(ErrorLog, TwoEntriesMakeANewFileOfTwoStampedLines) {
  ASSERT_EQ(mtype(image(), "/ERROR.TXT"), "<missing>");
  error_store("A");
  board().run_for(5);
  error_store("B");
  EXPECT_EQ(mtype(image(), "/ERROR.TXT"), "\n2024/03/05 10:00:00 A\n2024/03/05 10:00:05 B");
  EXPECT_EQ(console(), "");
}

TEST_F(ErrorLog, DisabledCardOnlyPrints) {
  microSD_flg = 0;
  error_store("A");
  microSD_flg = 1;
  EXPECT_EQ(console(), "error_stor() not supported with microSD_flg=0 disabled\n");
  EXPECT_EQ(sim::sd_stats().frames, 0u) << "the card is left alone";
}

// After a failed open every later step fails on the unopened file and
// says so.
TEST_F(ErrorLog, EveryStepReportsWithoutACard) {
  sim::sd_faults().no_card = true;
  error_store("A");
  EXPECT_EQ(console(),
            "Error.txt f_open error: FR_NOT_READY\n"
            "Error.txt f_lseek error: FR_INVALID_OBJECT\n"
            "Error.txt f_write error: FR_INVALID_OBJECT\n"
            "Error.txt f_close error: FR_INVALID_OBJECT\n");
  sim::sd_faults().no_card = false;
  error_store("B");
  EXPECT_EQ(mtype(image(), "/ERROR.TXT"), "\n2024/03/05 10:00:00 B");
}

// The entry before, still in the same stack slot, must not be written
// through again.
TEST_F(ErrorLog, ReadOnlyLogIsLeftAsItWas) {
  error_store("A");
  ASSERT_EQ(host("mattrib -i " + image() + " +r ::/ERROR.TXT").rc, 0);
  ASSERT_EQ(f_mount(&g_sFatFs, "", 0), FR_OK);  // the volume saw the change from outside
  console();
  error_store("B");
  EXPECT_EQ(console(),
            "Error.txt f_open error: FR_DENIED\n"
            "Error.txt f_lseek error: FR_INVALID_OBJECT\n"
            "Error.txt f_write error: FR_INVALID_OBJECT\n"
            "Error.txt f_close error: FR_INVALID_OBJECT\n");
  EXPECT_EQ(mtype(image(), "/ERROR.TXT"), "\n2024/03/05 10:00:00 A");
}

// The hibernation path logs a request the module did not take.
TEST_F(ErrorLog, FailedHibernationIsLogged) {
  sim::faults().no_hibernate = true;
  bool reset = false;
  try {
    sleep(IDLE, 0);
  } catch (const PowerDown &p) {
    reset = p.reset;
  }
  EXPECT_TRUE(reset) << "ends in a chip reset";
  std::string log = mtype(image(), "/ERROR.TXT");
  EXPECT_NE(log.find(" Hibernation error.  Possible cause: remove JP1 on Tavlo board.  \n"),
            std::string::npos)
      << log;
}

}  // namespace
