// The Tavlo board's instruments: no CTD port is set up and no instrument
// supply is switched, so an absent instrument's exchange ends at its limits
// (the optode's after its wake time and the reply limit, since an optode on
// all along may be awake already and say nothing to our wake bytes), never
// in a hang, and the record keeps their columns with the reason.
#include <gtest/gtest.h>

#include "driverlib/gpio.h"
#include "inc/hw_memmap.h"
#include "instrument_support.h"

namespace {

using InstrumentsTavlo = InstrumentBoard;

TEST_F(InstrumentsTavlo, NoPowerPinIsSwitchedAndNoCtdPortSetUp) {
  EXPECT_FALSE(sim::uart_enabled(4)) << "UART4 is not the CTD's on this board";
  EXPECT_TRUE(sim::uart_enabled(3));
  EXPECT_EQ(sim::uart_baud(3), 9600u);
  ctd_open();
  optode_open();
  EXPECT_FALSE(sim::ctd_stats().powered);
  EXPECT_FALSE(sim::optode_stats().powered);
  EXPECT_FALSE(sim::gpio_is_output(GPIO_PORTD_BASE, GPIO_PIN_0)) << "PD0 is left alone";
}

TEST_F(InstrumentsTavlo, ExchangesEndAtTheirLimitsAndNothingIsCorrected) {
  sys_data.data_cfg[DF_CTD] = CTD_AANDERAA_5860;
  Outcome c = run_ctd();
  EXPECT_EQ(c.state, -1);
  EXPECT_EQ(c.buf, "CTD not responding with SBE 37-SI after power up");
  EXPECT_NEAR(c.seconds, 2.5, 0.05);
  EXPECT_EQ(sys_data.data_cfg[DF_CTD], CTD_AANDERAA_5860);
  Outcome o = run_optode();
  EXPECT_EQ(o.buf, "Optode not responding with sample string after do sample");
  EXPECT_NEAR(o.seconds, 0.6 + 5.0, 0.05);
}

// The optode on all along (as on the board): asleep, it is woken and answers
// at once; awake from that exchange, it says nothing to the wake bytes and
// is asked after its start-up time; one slower to start than that loses the
// command, and is asked again on its late "!".
TEST_F(InstrumentsTavlo, AnOptodeOnAllAlongGivesItsReadingAsleepAwakeOrSlowToWake) {
  set(sim::optode_model(), "power_ignored", "1");
  const std::string reading = "\t4831\t856\t286.196\t94.284\t15.000\t28.200\t30.491\t38.573\t8.082"
                              "\t621.1\t720.0\t300.0\t";
  const double reply_s = 1.5 + (reading.size() + 3) * 10.0 / 9600;
  auto expect_reading = [&](double seconds) {
    Outcome o = run_optode();
    EXPECT_EQ(o.state, 0);
    EXPECT_EQ(o.buf, reading);
    EXPECT_NEAR(o.seconds, seconds, 0.03);
  };
  expect_reading(reply_s);
  expect_reading(0.61 + reply_s);
  sim::advance(61 * sim::kSec);  // past its time-out: asleep again
  set(sim::optode_model(), "bang_ms", "800");
  expect_reading(0.8 + reply_s);
}

TEST_F(InstrumentsTavlo, RecordColumnsMatchTheHeader) {
  for (uint8_t type : {CTD_NONE, CTD_SBE37, CTD_AANDERAA_5860}) {
    for (bool opt : {false, true}) {
      SCOPED_TRACE(std::to_string(type) + (opt ? " with optode" : ""));
      sys_data.data_cfg[DF_CTD] = type;
      sys_data.data_cfg[DF_OPTODE] = opt;
      fast_sample(0);
      std::vector<std::string> header = header_columns(), record = columns_of(prnBuf);
      EXPECT_EQ(record.size(), header.size()) << prnBuf;
      if (opt) {
        EXPECT_EQ(under(header, record, "Opt_PN"),
                  "Optode not responding with sample string after do sample");
      }
      const char *first = type == CTD_SBE37 ? "TC_MCat" : "Cond_PN";
      if (type) {
        EXPECT_EQ(under(header, record, first), "CTD not responding with SBE 37-SI after power up");
      }
    }
  }
}

}  // namespace
