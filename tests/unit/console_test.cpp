// The console driver and the input layer, through the simulated UART0.
#include <gtest/gtest.h>

#include <cstring>

#include "core/board_util.h"
#include "core/init.h"
#include "core/uartstdio.h"
#include "core/rtc_time.h"
#include "core/sleep.h"
#include "core/user_io.h"
#include "driverlib/hibernate.h"
#include "driverlib/interrupt.h"
#include "driverlib/sysctl.h"
#include "driverlib/uart.h"
#include "inc/hw_memmap.h"
#include "sim_board.h"

namespace {

class Console : public ::testing::Test {
 protected:
  void SetUp() override {
    init_TM4C123GH6PGE_144pin();
    sleep_handler();  // starts the RTC
    board.run_for(0.1);
    board.out().clear();
  }
  // Types a line and reads it back the way menus do.
  std::string line_after(const std::string &typed, uint32_t size = 81) {
    board.type(typed);
    unsigned char buf[256];
    int n = getUserInput(buf, (int)size);
    if (n < 0) return "(refused)";
    return std::string(reinterpret_cast<char *>(buf), (size_t)n);
  }
  SimBoard board{"console"};
};

TEST_F(Console, WriteExpandsLineFeedsAndCountsOnlyCallerBytes) {
  EXPECT_EQ(UARTwrite("a\nb", 3), 3);
  board.run_for(0.01);
  EXPECT_EQ(board.out(), "a\r\nb");
}

// Regression: a write into a nearly full ring used to drop its tail (a
// record's byte, the end of a prompt); now it waits for the line, and a
// line feed never goes in without its carriage return.
TEST_F(Console, WriteIntoNearlyFullRingWaitsAndLosesNothing) {
  IntMasterDisable();  // preset the ring before the handler can touch it
  memset(g_pcUARTTxBuffer, 'q', sizeof g_pcUARTTxBuffer);
  g_sUARTTx.write = 5;
  g_sUARTTx.read = 7;  // one byte free
  EXPECT_EQ(UARTTxBytesFree(), 1);
  IntMasterEnable();
  EXPECT_EQ(UARTwrite("\nxyz", 4), 4);
  wait_consoleTx();
  board.run_for(0.01);
  EXPECT_EQ(board.out(), std::string(2046, 'q') + "\r\nxyz");
}

TEST_F(Console, FreeSpaceIsWhatTheRingTakes) {
  EXPECT_EQ(UARTTxBytesFree(), 2047) << "the ring holds one byte less than its size";
  std::string text(5000, 'a');
  for (size_t i = 40; i < text.size(); i += 41) text[i] = '\n';
  EXPECT_EQ(UARTwrite(text.data(), (uint32_t)text.size()), 5000);
  wait_consoleTx();
  board.run_for(0.01);
  std::string want;
  for (char c : text) want += c == '\n' ? std::string("\r\n") : std::string(1, c);
  EXPECT_EQ(board.out(), want);
}

// A line that does not move (the UART stopped) must not keep the logger
// awake: the write gives up after a second or two and says how much it took.
TEST_F(Console, StoppedLineEndsTheWaitAndReportsWhatWasTaken) {
  UARTDisable(UART0_BASE);
  std::string text(3000, 'z');
  sim::ns_t t0 = sim::now();
  int taken = UARTwrite(text.data(), (uint32_t)text.size());
  EXPECT_GE(taken, 2047 - 16);
  EXPECT_LT(taken, 3000);
  EXPECT_GE(sim::now() - t0, sim::kSec);
  EXPECT_LT(sim::now() - t0, 3 * sim::kSec);
  t0 = sim::now();
  wait_consoleTx();
  EXPECT_LT(sim::now() - t0, 3 * sim::kSec);
  UARTFlushTx(true);
  UARTEnable(UART0_BASE);
}

// The receive echo and main-line output share the transmit ring; keys
// typed during a long listing are echoed between its bytes, never over one.
TEST_F(Console, EchoDuringBulkOutputLosesNoByteOfEither) {
  std::string bulk;
  for (int i = 0; i < 6000; i++) bulk += (char)('0' + i % 10);
  board.type(std::string(40, 'k'));
  EXPECT_EQ(UARTwrite(bulk.data(), (uint32_t)bulk.size()), 6000);
  wait_consoleTx();
  board.run_for(0.1);
  std::string out = board.out(), digits;
  for (char c : out)
    if (c != 'k') digits += c;
  EXPECT_EQ(digits, bulk);
  EXPECT_EQ(out.size() - digits.size(), 40u) << "every key echoed once";
}

// The fault handler's path: no interrupt runs, so it must not need one.
TEST_F(Console, PolledWriteGoesOutWithInterruptsMasked) {
  IntMasterDisable();
  EXPECT_EQ(UARTwritePolled(reinterpret_cast<const unsigned char *>("crash\nreport"), 12), 12);
  board.run_for(0.01);
  IntMasterEnable();
  EXPECT_EQ(board.out(), "crash\r\nreport");
}

TEST_F(Console, BackspaceEditsTheLineAndEchoesRubOut) {
  EXPECT_EQ(line_after("ab\bc\r"), "ac");
  board.run_for(0.01);
  EXPECT_EQ(board.out(), "ab\b \bc\r\n\r");
}

TEST_F(Console, CarriageReturnLineFeedIsOneLineEnd) {
  EXPECT_EQ(line_after("one\r\n"), "one");
  board.type("two\n");
  unsigned char buf[16];
  EXPECT_EQ(getUserInput(buf, sizeof buf), 3);
  EXPECT_EQ(UARTRxBytesAvail(), 0) << "the LF after CR must not become an empty line";
}

TEST_F(Console, EchoOffStoresBackspaceAndEchoesNothing) {
  UARTEchoSet(false);
  board.type("a\bz");
  board.run_for(0.01);
  ASSERT_EQ(UARTRxBytesAvail(), 3);
  EXPECT_EQ(UARTgetc(), 'a');
  EXPECT_EQ(UARTgetc(), '\b');
  EXPECT_EQ(board.out(), "");
  UARTEchoSet(true);
}

// A line longer than the reader takes is refused whole, not cut: the head
// of a cut line could be a different command or file name. One that just
// fits is taken.
TEST_F(Console, LongLineIsRefusedWholeAndTheNextOneTaken) {
  EXPECT_EQ(line_after("abcde\rnext\r", 5), "(refused)");
  board.run_for(0.05);
  EXPECT_NE(board.out().find("Line too long (more than 4 characters): ignored"), std::string::npos);
  unsigned char buf[5];
  EXPECT_EQ(getUserInput(buf, sizeof buf), 4);
  EXPECT_STREQ(reinterpret_cast<char *>(buf), "next");
}

// Regression: 511 bytes without a line end filled the receive ring and the
// Enter after them was dropped, so the menus waited for ever. The ring now
// keeps its last place for the line end; the rest is dropped unechoed.
TEST_F(Console, FullRingStillTakesTheLineEnd) {
  board.type(std::string(600, 'x'));
  board.run_for(0.2);
  EXPECT_EQ(UARTRxBytesAvail(), 510);
  EXPECT_EQ(board.out().size(), 510u);
  board.type("\r\b");  // a backspace never takes back an Enter already stored
  board.run_for(0.01);
  EXPECT_GE(UARTPeek('\r'), 0);
  unsigned char buf[81];
  EXPECT_EQ(getUserInput(buf, sizeof buf), -1) << "refused as too long";
  EXPECT_EQ(UARTRxBytesAvail(), 0);
}

TEST_F(Console, GetKeyAndYesNo) {
  board.type("12\r");
  EXPECT_EQ(get_key(), '1');
  board.type("\r");
  EXPECT_EQ(get_key(), 0);
  board.type("y\r");
  EXPECT_EQ(yesOrNoMenuChoice("?", 1), 1);
  board.type("N\r");
  EXPECT_EQ(yesOrNoMenuChoice("?", 1), 0);
  board.type("x\r");
  EXPECT_EQ(yesOrNoMenuChoice("?", 1), 1);
}

TEST_F(Console, TimedLineInputGivesUpAndKeepsTypedCharacters) {
  board.type("ab");
  uint32_t t0 = HibernateRTCGet();
  unsigned char buf[81];
  EXPECT_EQ(getUserInputTimeLimit(buf, 81, 5), -1);
  EXPECT_LE(HibernateRTCGet() - t0, 6u);
  EXPECT_EQ(UARTRxBytesAvail(), 2);
}

TEST_F(Console, GetcharTimedReturnsAByteOrTimesOut) {
  sim::ns_t t0 = sim::now();
  EXPECT_EQ(getchar_timed(1), -1);
  EXPECT_GE(sim::now() - t0, sim::kSec);
  board.type("k");
  EXPECT_EQ(getchar_timed(1), 'k');
}

TEST_F(Console, DateEntryValidatesAndNormalises) {
  board.type("02/30/21 10:00:00\r");
  uint32_t t = getDateAndTime();
  struct tm tm;
  rtc_to_tm(t, &tm);
  EXPECT_EQ(tm.tm_mon, 2);  // March
  EXPECT_EQ(tm.tm_mday, 2);
  EXPECT_EQ(tm.tm_year, 121);
  // Month 13, then a short line (with its message), then a good one.
  board.type("13/01/21 10:00:00\r1/1/21 10:00:00\r01/01/21 10:00:00\r");
  t = getDateAndTime();
  board.run_for(0.1);
  EXPECT_NE(board.out().find("Enter a valid time string as MM/DD/YY HH:MM:SS"), std::string::npos);
  rtc_to_tm(t, &tm);
  EXPECT_EQ(tm.tm_mon, 0);
  EXPECT_EQ(tm.tm_mday, 1);
  board.type("\r");
  EXPECT_EQ(getDateAndTime(), 0u);
}

}  // namespace
