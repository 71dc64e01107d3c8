// The instrument ports and exchanges against the simulated SBE37, Aanderaa
// 5860 and optode: the rings' limits, each reply format, every time limit
// on both sides of its edge, the faults the models inject, and the record's
// instrument columns under their header names.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "core/uartstdio.h"
#include "instrument_support.h"
#include "instruments/instrument_record.h"

namespace {

using sim::ctd_model;
using sim::optode_model;

class Instruments : public InstrumentBoard {};

// ---- the ports --------------------------------------------------------------------

std::string g_sent;
void capture(void *, uint8_t b, uint32_t) { g_sent += (char)b; }

void line_in(int uart, const std::string &bytes) {
  for (char c : bytes) {
    sim::uart_line_rx(uart, (uint8_t)c, 9600);
    sim::advance(sim::byte_time(9600));
  }
  sim::advance(5 * sim::kMs);  // the receive time-out hands over the FIFO's rest
}

TEST_F(Instruments, ReceiveRingsKeepOneLessThanTheirSize) {
  sim::uart_attach(4, sim::UartPeer{capture, nullptr});
  sim::uart_attach(3, sim::UartPeer{capture, nullptr});
  std::string many;
  for (int i = 0; i < 300; i++) many += (char)('A' + i % 26);
  line_in(4, many.substr(0, 130));
  EXPECT_EQ(ctd_rxBytesAvail(), 127);
  std::string got;
  while (ctd_rxBytesAvail()) got += (char)ctd_getc();
  EXPECT_EQ(got, many.substr(0, 127)) << "the oldest bytes stay, the newest are dropped";
  line_in(3, many);
  EXPECT_EQ(optode_rxBytesAvail(), 255);
  EXPECT_EQ(optode_peek('A'), 0);
  EXPECT_EQ(optode_peek('C'), 2);
  optode_flushRx();
  EXPECT_EQ(optode_rxBytesAvail(), 0);

  // Echo is off: a backspace and line ends are bytes like any other.
  line_in(4, "a\bb\r\n");
  EXPECT_EQ(ctd_rxBytesAvail(), 5);
  char line[8];
  EXPECT_EQ(ctd_gets(line, sizeof line), 3);
  EXPECT_STREQ(line, "a\bb");
  EXPECT_EQ(g_sent, "") << "nothing echoed";
}

TEST_F(Instruments, WriteExpandsLineFeedsPutcDoesNot) {
  g_sent.clear();
  sim::uart_attach(4, sim::UartPeer{capture, nullptr});
  sim::uart_attach(3, sim::UartPeer{capture, nullptr});
  EXPECT_EQ(ctd_write("ts\n", 3), 3);
  board.run_for(0.05);
  EXPECT_EQ(g_sent, "ts\r\n");
  g_sent.clear();
  EXPECT_EQ(optode_putc('\n'), 1);
  board.run_for(0.05);
  EXPECT_EQ(g_sent, "\n");

  // putc drops once the ring is full and says so; the free count is what
  // really fits.
  EXPECT_EQ(optode_txBytesFree(), 127);
  int taken = 0;
  IntMasterDisable();  // nothing drains meanwhile
  while (optode_putc('x') == 1 && taken < 1000) taken++;
  EXPECT_EQ(optode_txBytesFree(), 0);
  IntMasterEnable();
  EXPECT_GE(taken, 127);
  EXPECT_LE(taken, 127 + 16 + 1) << "at most the hardware FIFO and shift register besides the ring";
  board.run_for(0.3);
  EXPECT_EQ(optode_txBytesFree(), 127);
}

// ---- the exchanges ---------------------------------------------------------------------

TEST_F(Instruments, Sbe37LineGivesTemperatureAndSalinity) {
  set(ctd_model(), "reply", " 23.4567, 4.56789, 35.1234, 12.345, 08 Dec 2026, 10:00:00");
  sys_data.data_cfg[DF_CTD] = CTD_SBE37;
  Outcome r = run_ctd();
  EXPECT_EQ(r.state, 0);
  EXPECT_EQ(ctd.type, 1u);
  EXPECT_FLOAT_EQ(ctd.tempC, 23.4567f);
  EXPECT_FLOAT_EQ(ctd.salt, 35.1234f);
  EXPECT_EQ(r.buf, " 23.4567\t 4.56789\t 35.1234\t 12.345\t 08 Dec 2026\t 10:00:00");
  EXPECT_FALSE(sim::ctd_stats().powered);
  EXPECT_STREQ(sim::ctd_stats().last_command, "ts");
  float t = 0, s = 0;
  EXPECT_TRUE(ctd_take_sample(&t, &s));
  EXPECT_FLOAT_EQ(t, 23.4567f);
  EXPECT_FLOAT_EQ(s, 35.1234f);
}

TEST_F(Instruments, Aand5860ReplyGivesConductivityTemperatureSalinity) {
  set(ctd_model(), "type", "aand5860");
  set(ctd_model(), "reply", "5860\\t29\\t-0.003\\t16.892\\t0.009\\t998.802\\t1472.435");
  sys_data.data_cfg[DF_CTD] = CTD_AANDERAA_5860;
  Outcome r = run_ctd();
  EXPECT_EQ(r.state, 0);
  EXPECT_EQ(ctd.type, 2u);
  EXPECT_FLOAT_EQ(ctd.condo, -0.003f);
  EXPECT_FLOAT_EQ(ctd.tempC, 16.892f);
  EXPECT_FLOAT_EQ(ctd.salt, 0.009f);
  EXPECT_STREQ(sim::ctd_stats().last_command, "do sample");
  EXPECT_FALSE(sim::ctd_stats().powered);
  EXPECT_EQ(board.out().find("ERROR: CTD type"), std::string::npos);
}

TEST_F(Instruments, ShortRepliesPrintTheParseErrorAndStillFinish) {
  set(ctd_model(), "reply", " 23.4567, 4.56789, 35.1234");  // 3 fields, no date: 4 conversions
  ctd.tempC = ctd.salt = 9;
  Outcome r = run_ctd();
  EXPECT_EQ(r.state, 0);
  EXPECT_EQ(ctd.tempC, 0.0f);
  EXPECT_EQ(ctd.salt, 0.0f);
  EXPECT_NE(printed().find("sscanf for parsing MicroCat does not return 5 args.  ctd.state = 8."),
            std::string::npos);
  float t = 1, s = 1;
  EXPECT_FALSE(ctd_take_sample(&t, &s)) << "a reply that did not parse is no reading";
  EXPECT_EQ(t, 1.0f);

  set(ctd_model(), "type", "aand5860");
  set(ctd_model(), "reply", "5860\\t29\\t-0.003");
  EXPECT_EQ(run_ctd().state, 0);
  std::string out = printed();
  EXPECT_NE(out.find("sscanf for parsing Aanderaa 5860 does not return 7 args.  ctd.type = 0."),
            std::string::npos);
  EXPECT_NE(out.find("Check setup of Aanderaa 5860"), std::string::npos);
}

TEST_F(Instruments, TheConfiguredTypeFollowsTheInstrument) {
  sys_data.data_cfg[DF_CTD] = CTD_AANDERAA_5860;
  EXPECT_EQ(run_ctd().state, 0);
  EXPECT_NE(printed().find(crlf("\nERROR: CTD type 1, does not match data config type 2. Correcting "
                                "to 1, SBE37 MicroCat\n")),
            std::string::npos);
  EXPECT_EQ(sys_data.data_cfg[DF_CTD], CTD_SBE37);
  EXPECT_TRUE(ctd_config_corrected);

  set(ctd_model(), "type", "aand5860");
  EXPECT_EQ(run_ctd().state, 0);
  EXPECT_NE(printed().find("Correcting data config to 2, Aanderaa 5860"), std::string::npos);
  EXPECT_EQ(sys_data.data_cfg[DF_CTD], CTD_AANDERAA_5860);
  EXPECT_EQ(run_ctd().state, 0);
  EXPECT_FALSE(ctd_config_corrected);
}

TEST_F(Instruments, OptodeReplyIsKeptAsItCame) {
  set(optode_model(), "reply", "1.5\\t2.5\\t3.5");
  Outcome r = run_optode();
  EXPECT_EQ(r.state, 0);
  EXPECT_EQ(std::string(optode.buf, 14), std::string("1.5\t2.5\t3.5\0\n\0", 14));
  EXPECT_FALSE(sim::optode_stats().powered);
  EXPECT_EQ(sim::optode_stats().power_ons, 1u);
}

// Every time limit, just inside and just outside, through the models.
struct Limit {
  const char *instrument;  // sbe37, aand5860, optode
  const char *key;
  const char *inside, *outside;
  const char *text;  // in the driver's buffer after the failure
  const char *gap_at = nullptr;
};
const Limit kLimits[] = {
    {"sbe37", "announce_ms", "2400", "2600", "CTD not responding with SBE 37-SI after power up"},
    {"sbe37", "after_s_ms", "80", "130",
     "Not receiving BE 37-SI[0d][0a] and ts echo in 110msec after receiving 'S' after power up"},
    {"sbe37", "echo_ms", "400", "600", "CTD ST6, no echo of 'ts' command, ret ST0"},
    {"sbe37", "sample_ms", "4800", "5200", "SBE37 not responding in 5sec after ts"},
    {"sbe37", "gap_ms", "150", "350", "SBE37 sample line not complete in 300msec", "10"},
    {"aand5860", "announce_ms", "2400", "2600", "CTD not responding with SBE 37-SI after power up"},
    {"aand5860", "bang_ms", "50", "150", "CTD Err: did not receive ! after crlf following %"},
    {"aand5860", "sample_ms", "4800", "5200", "CTD not responding with sample string after do sample"},
    {"aand5860", "gap_ms", "30", "70",
     "CTD driver Err: inter-character delay exceeded 50msec receiving do_sample string", "10"},
    {"optode", "announce_ms", "1500", "1700", "Optode not responding with % char after power up"},
    {"optode", "bang_ms", "50", "150", "Optode not responding with % char after power up"},
    {"optode", "sample_ms", "4800", "5200", "Optode not responding with sample string after do sample"},
    {"optode", "gap_ms", "30", "70",
     "Optode Err ST4: inter-character delay exceeded 50msec receiving do_sample string", "10"},
};

TEST_F(Instruments, EveryTimeLimitHoldsAtBothSidesOfItsEdge) {
  for (const Limit &l : kLimits) {
    for (bool outside : {false, true}) {
      SCOPED_TRACE(std::string(l.instrument) + " " + l.key + "=" + (outside ? l.outside : l.inside));
      sim::instruments_defaults();
      bool is_optode = !strcmp(l.instrument, "optode");
      sim::InstrumentModel &m = is_optode ? optode_model() : ctd_model();
      if (!is_optode) set(m, "type", l.instrument);
      set(m, l.key, outside ? l.outside : l.inside);
      if (l.gap_at) set(m, "gap_at", l.gap_at);
      Outcome r = is_optode ? run_optode() : run_ctd();
      EXPECT_EQ(r.state, outside ? -1 : 0) << r.buf;
      if (outside) EXPECT_EQ(r.buf, l.text);
      else EXPECT_EQ(r.buf.find("not"), std::string::npos) << r.buf;
      EXPECT_FALSE((is_optode ? sim::optode_stats() : sim::ctd_stats()).powered)
          << "powered off after every ending";
      EXPECT_LT(r.seconds, 10.5);
    }
  }
}

TEST_F(Instruments, SilenceTimesOutAndPowersOff) {
  set(ctd_model(), "silent", "1");
  set(optode_model(), "silent", "1");
  Outcome c = run_ctd();
  EXPECT_EQ(c.state, -1);
  EXPECT_EQ(c.buf, "CTD not responding with SBE 37-SI after power up");
  EXPECT_NEAR(c.seconds, 2.5, 0.05);
  EXPECT_FALSE(sim::ctd_stats().powered) << "also after a failed announcement";
  Outcome o = run_optode();
  EXPECT_EQ(o.state, -1);
  EXPECT_EQ(o.buf, "Optode not responding with % char after power up") << "one percent sign";
  EXPECT_NEAR(o.seconds, 1.6, 0.05);
  EXPECT_FALSE(sim::optode_stats().powered);
  // An instrument on its own supply announced long ago: the same failure.
  sim::instruments_defaults();
  set(ctd_model(), "power_ignored", "1");
  EXPECT_EQ(run_ctd().buf, "CTD not responding with SBE 37-SI after power up");
}

TEST_F(Instruments, AnOptodeKeepsWaitingForItsPercentAfterAWrongByte) {
  // A "%" then "?" does not end the exchange: it waits 1.6 s from that "%"
  // (announced after 1 s) for another one.
  set(optode_model(), "bang", "?");
  Outcome o = run_optode();
  EXPECT_EQ(o.state, -1);
  EXPECT_NEAR(o.seconds, 2.6, 0.05);
  // The CTD gives up at once on the same answer, and its sensor is off.
  set(ctd_model(), "type", "aand5860");
  set(ctd_model(), "bang", "?");
  Outcome c = run_ctd();
  EXPECT_EQ(c.state, -1);
  EXPECT_LT(c.seconds, 1.3);
  EXPECT_FALSE(sim::ctd_stats().powered);
}

TEST_F(Instruments, OverlongRepliesStayInsideTheBufferTerminated) {
  set(optode_model(), "long", "1");
  Outcome o = run_optode();
  EXPECT_EQ(o.state, -1);
  EXPECT_EQ(optode.buf[127], 0);
  EXPECT_EQ(o.buf.size(), 127u) << "what came is kept, terminated";
  EXPECT_NE(printed().find("error in optode driver bufIndx exceeds buf size"), std::string::npos);

  set(ctd_model(), "type", "aand5860");
  set(ctd_model(), "long", "1");
  Outcome c = run_ctd();
  EXPECT_EQ(c.state, -1);
  EXPECT_EQ(ctd.buf[127], 0);
  EXPECT_FALSE(sim::ctd_stats().powered);

  set(ctd_model(), "type", "sbe37");
  Outcome s = run_ctd();
  EXPECT_EQ(s.state, -1);
  EXPECT_EQ(s.buf, "ST7: error in ctd driver bufIndx exceeds buf size, ctd");
}

TEST_F(Instruments, GarbledRepliesAreNoReading) {
  set(ctd_model(), "garbled", "1");
  Outcome c = run_ctd();
  EXPECT_FALSE(ctd_reading_valid) << c.buf;
  // A CTD at another rate garbles even its announcement.
  sim::instruments_defaults();
  set(ctd_model(), "baud", "19200");
  EXPECT_EQ(run_ctd().state, -1);
  EXPECT_FALSE(sim::ctd_stats().powered);
}

TEST_F(Instruments, UnknownStatesFailAndSwitchOff) {
  ctd_open();
  EXPECT_EQ(ctd_stateMachine(5), 0);
  EXPECT_EQ(ctd.state, -1);
  EXPECT_FALSE(sim::ctd_stats().powered);
  optode_open();
  EXPECT_EQ(optode_stateMachine(3), 0);
  EXPECT_FALSE(sim::optode_stats().powered);
}

// ---- the record ------------------------------------------------------------------------

TEST(ReplyColumns, AlwaysTheHeadersColumnCount) {
  struct Case {
    const char *reply;
    bool reading;
    const char *out;
  } cases[] = {
      {"\t1\t2\t3\t\0\n", true, "1\t2\t3\t"},
      {"1\t2\t3", true, "1\t2\t3\t"},
      {"1\t2", true, "1 2\t\t\t"},        // short: whole into the first column
      {"1\t2\t3\t4", true, "1 2 3 4\t\t\t"},
      {"CTD not responding", false, "CTD not responding\t\t\t"},
      {"1\t2\t3", false, "1 2 3\t\t\t"},  // a failed exchange is no reading
      {"a\x01\x1b" "b\t\x7f\tc", true, "a  b\t \tc\t"},
      {"", true, "\t\t\t"},
  };
  for (const Case &c : cases) {
    char buf[64] = "x";
    size_t len = 1;
    append_reply_columns(buf, sizeof buf, &len, c.reply, 32, 3, c.reading);
    EXPECT_EQ(std::string(buf), std::string("x") + c.out) << c.reply;
    EXPECT_EQ(len, strlen(buf));
  }
  // An unterminated 128-byte reply is read no further than its buffer.
  char reply[128];
  memset(reply, 'z', sizeof reply);
  char buf[300];
  size_t len = 0;
  append_reply_columns(buf, sizeof buf, &len, reply, sizeof reply, 2, true);
  EXPECT_EQ(len, 130u);
  // And nothing is written past the record buffer.
  char small[10];
  len = 0;
  append_reply_columns(small, sizeof small, &len, reply, sizeof reply, 2, true);
  EXPECT_EQ(len, 9u);
  EXPECT_EQ(small[9], 0);
}

class InstrumentRecord : public InstrumentBoard {
 protected:
  void sample(uint8_t ctd_type, bool optode_on) {
    sys_data.data_cfg[DF_CTD] = ctd_type;
    sys_data.data_cfg[DF_OPTODE] = optode_on;
    fast_sample(0);
    header = header_columns();
    record = columns_of(prnBuf);
  }
  std::vector<std::string> header, record;
};

TEST_F(InstrumentRecord, ColumnsStandUnderTheirHeaderNames) {
  set(ctd_model(), "T", "12.3456");
  set(optode_model(), "O2", "250.5");
  for (uint8_t type : {CTD_NONE, CTD_SBE37, CTD_AANDERAA_5860}) {
    for (bool opt : {false, true}) {
      SCOPED_TRACE(std::to_string(type) + (opt ? " with optode" : ""));
      set(ctd_model(), "type", type == CTD_AANDERAA_5860 ? "aand5860" : "sbe37");
      sample(type, opt);
      EXPECT_EQ(record.size(), header.size()) << prnBuf;
      std::map<std::string, std::string> want = {{"Moxy", "250.500"}, {"Opt_rawtemp", "300.0"},
                                                 {"TC_MCat", " 12.3456"}, {"pSal", "   35.0000"},
                                                 {"Temp", "12.346"}, {"SSpeed", "1506.700"}};
      for (const auto &[name, value] : want) {
        bool present = (opt && name[0] == 'M') || (opt && name[0] == 'O') ||
                       (type == CTD_SBE37 && (name == "TC_MCat" || name == "pSal")) ||
                       (type == CTD_AANDERAA_5860 && (name == "Temp" || name == "SSpeed"));
        EXPECT_EQ(under(header, record, name), present ? value : "<none>") << name;
      }
      // The instruments' block opens with the header's empty column.
      size_t block = (type == CTD_SBE37 ? 6u : type ? 7u : 0u) + (opt ? 12u : 0u);
      // (The last column is the empty one after the tab that ends the line.)
      if (block) {
        EXPECT_EQ(header[header.size() - block - 2], "");
        EXPECT_EQ(record[header.size() - block - 2], "");
      }
      EXPECT_EQ(header.back(), "");
      EXPECT_EQ(record.back(), "");
    }
  }
}

TEST_F(InstrumentRecord, FailuresKeepTheColumnsAndSayWhy) {
  set(ctd_model(), "silent", "1");
  set(optode_model(), "long", "1");
  sample(CTD_SBE37, true);
  EXPECT_EQ(record.size(), header.size()) << prnBuf;
  EXPECT_EQ(under(header, record, "TC_MCat"), "CTD not responding with SBE 37-SI after power up");
  EXPECT_EQ(under(header, record, "Cond"), "");
  // The overlong reply as far as it fitted (its opening tab trimmed), in one column.
  EXPECT_EQ(under(header, record, "Opt_PN").size(), 126u);
  EXPECT_NE(std::string(prnBuf).find("\t\r\n"), std::string::npos);
  EXPECT_EQ(std::string(prnBuf).find('\n'), strlen(prnBuf) - 1) << "one line";
}

TEST_F(InstrumentRecord, ACorrectedTypeWritesANewHeaderBeforeItsRecord) {
  sys_data.data_cfg[DF_CTD] = CTD_AANDERAA_5860;
  EXPECT_EQ(write_data_header(), 0);
  sample(CTD_AANDERAA_5860, false);
  EXPECT_EQ(sys_data.data_cfg[DF_CTD], CTD_SBE37);
  EXPECT_EQ(record.size(), header.size());
  std::string file = card_file("noname.txt");
  size_t second = file.find("TC_MCat");
  ASSERT_NE(second, std::string::npos) << file;
  EXPECT_LT(file.find("Cond_PN"), second);
  EXPECT_GT(file.find("#0000000"), second) << "the record follows the header naming its columns";
}

}  // namespace

namespace {

// ---- the test-menu tools -----------------------------------------------------------------

TEST_F(Instruments, AnalyserAnswersAsTheEngineAndTwoCtrlXEndIt) {
  MenuKeys keys(board, {{"RX: # [0x23]", "\x18\x18"}});
  optode_serial_analyzer();
  EXPECT_TRUE(keys.done());
  std::string out = printed();
  EXPECT_EQ(out.find("optode serial analyzer, bytes and times\r\nopen\r\nRX: % [0x25]  time = "), 0u)
      << out.substr(0, 120);
  EXPECT_NE(out.find("TX: crlf \r\nRX: ! [0x21]"), std::string::npos);
  EXPECT_NE(out.find("TX: crlf do sample crlf \r\n"), std::string::npos);
  EXPECT_STREQ(sim::optode_stats().last_command, "do sample");
  EXPECT_FALSE(sim::optode_stats().powered);
}

TEST_F(Instruments, PassThroughTerminalRelaysBothWays) {
  MenuKeys keys(board, {{"BE 37-SI", "ts\r"}, {"   35.0000", "\x18"}});
  ctd_microCat_comm_test();
  EXPECT_TRUE(keys.done());
  EXPECT_STREQ(sim::ctd_stats().last_command, "ts");
  EXPECT_FALSE(sim::ctd_stats().powered);
  EXPECT_EQ(g_bDisableEcho, 0) << "console echo back on";
}

}  // namespace
