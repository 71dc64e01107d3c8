// The isolated ADC driver against the simulated ADS1248 and ADG1609: the
// bytes on the bus, the pins, and the readings they give.
#include <cmath>
#include <cstdio>

#include "config/system.h"
#include "core/board_util.h"
#include "driverlib/gpio.h"
#include "driverlib/interrupt.h"
#include "driverlib/ssi.h"
#include "front_end.h"
#include "inc/hw_memmap.h"
#include "measure/ads1248_iso.h"

namespace {

constexpr float k = kAds1248VoltsPerCount;

class Iso : public FrontEnd {
 protected:
  void open() {
    openADS1248_iso();
    ADS1248_gpio_init();
    sim::ads1248_clear_transfers();
    printed();
  }
};

struct Edge {
  sim::ns_t t;
  bool level;
};
std::vector<Edge> reset_edges;

TEST_F(Iso, OpenPowersAndResetsTheAdcThenRoutesSsi3) {
  sim::gpio_watch(GPIO_PORTN_BASE, GPIO_PIN_5,
                  [](uint32_t, uint8_t, bool level, void *) { reset_edges.push_back({sim::now(), level}); },
                  nullptr);
  const sim::ns_t t0 = sim::now();
  openADS1248_iso();
  EXPECT_TRUE(sim::gpio_level(GPIO_PORTK_BASE, GPIO_PIN_2)) << "isolated supply";
  EXPECT_TRUE(sim::gpio_level(GPIO_PORTN_BASE, GPIO_PIN_6)) << "START";
  EXPECT_TRUE(sim::gpio_level(GPIO_PORTH_BASE, GPIO_PIN_1)) << "chip select idles high";
  EXPECT_TRUE(sim::gpio_is_output(GPIO_PORTH_BASE, GPIO_PIN_1)) << "chip select stays software";
  ASSERT_EQ(reset_edges.size(), 2u);
  EXPECT_FALSE(reset_edges[0].level);
  EXPECT_GE(reset_edges[0].t - t0, 2 * sim::kMs) << "2 ms of supply before the reset";
  const sim::ns_t pulse = reset_edges[1].t - reset_edges[0].t;
  EXPECT_GE(pulse, 10 * sim::kUs);
  EXPECT_LT(pulse, 50 * sim::kUs);
  EXPECT_GE(sim::now() - reset_edges[1].t, 20 * sim::kMs) << "20 ms before the first transfer";
  for (int pin : {0, 2, 3}) {
    EXPECT_TRUE(sim::gpio_afsel(GPIO_PORTH_BASE, (uint8_t)(1u << pin))) << "PH" << pin;
    EXPECT_EQ(sim::gpio_pctl(GPIO_PORTH_BASE, pin), 2) << "PH" << pin << " on SSI3";
  }
  EXPECT_EQ(sim::ssi_bitrate(3), 1000000u);

  closeADS1248_iso();
  struct {
    uint32_t port;
    uint8_t pin;
    bool output, high;
  } after[] = {{GPIO_PORTK_BASE, GPIO_PIN_2, true, false}, {GPIO_PORTH_BASE, GPIO_PIN_0, true, false},
               {GPIO_PORTH_BASE, GPIO_PIN_2, false, false}, {GPIO_PORTH_BASE, GPIO_PIN_3, true, false},
               {GPIO_PORTH_BASE, GPIO_PIN_1, true, false}, {GPIO_PORTN_BASE, GPIO_PIN_5, true, true},
               {GPIO_PORTN_BASE, GPIO_PIN_6, true, true}};
  for (auto &a : after) {
    EXPECT_EQ(sim::gpio_is_output(a.port, a.pin), a.output) << std::hex << a.port << " " << +a.pin;
    EXPECT_TRUE(!a.output || sim::gpio_level(a.port, a.pin) == a.high) << std::hex << a.port << " " << +a.pin;
  }
  EXPECT_FALSE(sim::gpio_afsel(GPIO_PORTH_BASE, GPIO_PIN_2));
}

TEST_F(Iso, GpioAndMultiplexerWritesAreOneWregEach) {
  openADS1248_iso();
  sim::ads1248_clear_transfers();
  ADS1248_gpio_init();
  ASSERT_EQ(sim::ads1248_transfer_count(), 1);
  EXPECT_EQ(sent(0), (Bytes{0x4C, 0x02, 0x0F, 0x00, 0x00}));

  const uint8_t patterns[4] = {0x07, 0x02, 0x01, 0x04};
  for (uint32_t ch = 0; ch < 4; ch++) {
    sim::ads1248_clear_transfers();
    ADS1248_gpio_ADG1609_mux(ch);
    ASSERT_EQ(sim::ads1248_transfer_count(), 1);
    EXPECT_EQ(sent(0), (Bytes{0x4E, 0x00, patterns[ch]})) << "channel " << ch;
    EXPECT_EQ(sim::ads1248_mux(), (int)ch);
    EXPECT_EQ(sim::ads1248_divider(), 0) << "a selection clears GPIO3";
  }
  EXPECT_EQ(printed(), "");

  sim::ads1248_clear_transfers();
  ADS1248_gpio_ADG1609_mux(7);
  EXPECT_EQ(printed(),
            "Mux channels are 0 to 3 in ADS1248_iso, error in arg for ADS1248_gpio_ADG1609_mux\r\n");
  EXPECT_EQ(sent(0), (Bytes{0x4E, 0x00, 0x04}));
  EXPECT_EQ(sim::ads1248_mux(), 3);

  ADS1248_gpio3(1);
  EXPECT_EQ(sim::ads1248_divider(), 1);
  EXPECT_EQ(sim::ads1248_mux(), -1) << "GPIO3 replaces the whole register";
  ADS1248_gpio3(2);  // only 1 means high
  EXPECT_EQ(sim::ads1248_divider(), 0);
  EXPECT_EQ(sent(1), (Bytes{0x4E, 0x00, 0x08}));
  EXPECT_EQ(sent(2), (Bytes{0x4E, 0x00, 0x00}));
}

TEST_F(Iso, GainAndRateCodesFollowTheTablesAndFallBack) {
  const int gains[8] = {1, 2, 4, 8, 16, 32, 64, 128};
  const int rates[10] = {5, 10, 20, 40, 80, 160, 320, 640, 1000, 2000};
  for (int g = 0; g < 8; g++)
    for (int r = 0; r < 10; r++)
      EXPECT_EQ(ADS1248_gain_sps(gains[g], rates[r]), (g << 4) | r) << gains[g] << " " << rates[r];
  EXPECT_EQ(printed(), "");

  EXPECT_EQ(ADS1248_gain_sps(3, 40), 0x03);
  EXPECT_EQ(printed(), "\r\n\r\nUnrecognized PGA gain. Setting to 1.");
  EXPECT_EQ(ADS1248_gain_sps(16, 7), 0x40);
  EXPECT_EQ(printed(), "\r\n\r\nUnrecognized data rate. Setting to 5 sps.");
  EXPECT_EQ(ADS1248_gain_sps(0, 0), 0x00);
  EXPECT_EQ(printed(),
            "\r\n\r\nUnrecognized PGA gain. Setting to 1.\r\n\r\nUnrecognized data rate. Setting to 5 sps.");
}

TEST_F(Iso, ReadWritesTheChannelThenClocksOneFreshResultPerTrial) {
  open();
  const int32_t codes[4] = {1000, 1002, 0x123456, 0xFEDCBA};
  sim::ads1248_queue_codes(codes, 4);
  float v = pollADS1248_iso(1, 5, 4, 1, 20);
  ASSERT_EQ(sim::ads1248_transfer_count(), 5);
  EXPECT_EQ(sent(0), (Bytes{0x40, 0x03, 0x0D, 0x00, 0x30, 0x02}));
  for (int i = 0; i < 4; i++) {
    EXPECT_EQ(sent(1 + i), (Bytes{0xFF, 0xFF, 0xFF}));
    uint32_t c = (uint32_t)codes[i];
    EXPECT_EQ(got(1 + i), (Bytes{(uint8_t)(c >> 16), (uint8_t)(c >> 8), (uint8_t)c}));
  }
  EXPECT_EQ(sim::ads1248_stats().stale_reads, 0u) << "each trial waits for its own conversion";
  // 1000 + 1002 + 1193046 - 74566 = 1120482; / 4 = 280120 counts.
  EXPECT_EQ(v, (float)280120 * k);
  EXPECT_EQ(printed(), "");
}

TEST_F(Iso, TrialsAreClampedTo120AndOneOrNoTrialHasNoDeviation) {
  open();
  pollADS1248_iso(0, 6, 121, 1, 2000);
  EXPECT_EQ(printed(),
            "MAX TRIALS is 120 in ADS1248_iso, more trials (avg) than 120 was requested, edit "
            "pollADS1248_iso() and recompile\r\n");
  EXPECT_EQ(sim::ads1248_transfer_count(), 1 + 120);
  EXPECT_EQ(sim::ads1248_stats().reads, 120u);

  sim::sensor_set("Vtherm", 1.2);
  sys_samp.AD24_std = 5.0f;
  EXPECT_NEAR(pollADS1248_iso(0, 6, 1, 1, 20), 1.2f, 1e-6);
  EXPECT_EQ(sys_samp.AD24_std, 0.0f);

  sim::ads1248_clear_transfers();
  sys_samp.AD24_std = 5.0f;
  EXPECT_EQ(pollADS1248_iso(0, 6, 0, 1, 20), 0.0f);
  EXPECT_EQ(sys_samp.AD24_std, 0.0f);
  EXPECT_EQ(sim::ads1248_transfer_count(), 1) << "the channel is written, nothing is read";
}

// The converter clips at its full-scale codes, so a conversion there is no
// value of the input: the reading is missing, even when only one of its
// conversions got there. The codes beside them sign-extend as any other.
TEST_F(Iso, FullScaleCodesAreNoReadingAndTheCodesBesideThemSignExtend) {
  open();
  struct {
    int32_t code;
    float volts;
  } cases[] = {{0x800001, -8388607 * k}, {0x7FFFFE, 8388606 * k}, {0xFFFFFF, -k}, {0x000001, k}};
  for (auto &c : cases) {
    sim::ads1248_queue_codes(&c.code, 1);
    EXPECT_EQ(pollADS1248_iso(0, 6, 1, 1, 2000), c.volts) << std::hex << c.code;
  }
  EXPECT_EQ(printed(), "");
  for (int32_t rail : {0x7FFFFF, 0x800000}) {
    const int32_t codes[3] = {100, 200, rail};
    sim::ads1248_queue_codes(codes, 3);
    EXPECT_TRUE(std::isnan(pollADS1248_iso(0, 6, 3, 1, 2000))) << std::hex << rail;
    EXPECT_TRUE(std::isnan(sys_samp.AD24_std));
    EXPECT_EQ(printed(), "\r\nADS1248_iso: AIN0-AIN6 at full scale, reading is nan\r\n");
  }
}

TEST_F(Iso, MeanTruncatesTowardZeroAndDeviationIsAboutThatMean) {
  open();
  const int32_t up[2] = {3, 4};
  sim::ads1248_queue_codes(up, 2);
  EXPECT_EQ(pollADS1248_iso(0, 6, 2, 1, 2000), 3 * k) << "3.5 counts truncate to 3";
  // Voltages 3k and 4k about the mean 3k: sqrt((0 + k^2) / 2).
  EXPECT_FLOAT_EQ(sys_samp.AD24_std, k / std::sqrt(2.0f));

  const int32_t down[2] = {0xFFFFFD, 0xFFFFFC};  // -3, -4
  sim::ads1248_queue_codes(down, 2);
  EXPECT_EQ(pollADS1248_iso(0, 6, 2, 1, 2000), -3 * k) << "-3.5 counts truncate to -3";

  const int32_t spread[4] = {0, 100, 200, 300};
  sim::ads1248_queue_codes(spread, 4);
  EXPECT_EQ(pollADS1248_iso(0, 6, 4, 1, 2000), 150 * k);
  EXPECT_FLOAT_EQ(sys_samp.AD24_std, (float)std::sqrt(12500.0) * k);  // population, not sample
}

TEST_F(Iso, GainScalesTheReadingAndAnUnknownGainReadsAtOne) {
  open();
  sim::sensor_set("Vtherm", 0.5);
  EXPECT_NEAR(pollADS1248_iso(0, 6, 2, 4, 20), 0.5f, 1e-6);
  EXPECT_EQ(sent(0)[5], 0x22);
  EXPECT_EQ(sim::ads1248_register(3), 0x22);

  sim::sensor_set("Vtherm", 1.2);
  sim::ads1248_clear_transfers();
  EXPECT_NEAR(pollADS1248_iso(0, 6, 2, 3, 20), 1.2f, 1e-6) << "converted and scaled at gain 1";
  EXPECT_EQ(sent(0)[5], 0x02);
  EXPECT_EQ(printed(), "\r\n\r\nUnrecognized PGA gain. Setting to 1.");

  sim::ads1248_clear_transfers();
  EXPECT_NEAR(pollADS1248_iso(0, 6, 1, 1, 15), 1.2f, 1e-6);
  EXPECT_EQ(sent(0)[5], 0x00) << "5 sps";
  EXPECT_EQ(printed(), "\r\n\r\nUnrecognized data rate. Setting to 5 sps.");

  sim::sensor_set("Vtherm", 1.5);
  EXPECT_TRUE(std::isnan(pollADS1248_iso(0, 6, 1, 2, 20))) << "over range at gain 2";
  printed();
}

// Every quantity through its selection, inputs and unit.
TEST_F(Iso, ChannelTableSelectsReadsAndScalesEachQuantity) {
  open();
  struct {
    const char *sensor;
    double value;
    IsoChannel ch;
    double expect;
  } table[] = {
      {"Vrsi", -0.91, IsoChannel::Vrsi, -0.91},
      {"Vrsi_B", 0.061, IsoChannel::Vrsi_B, 0.061},
      {"Vrse", -0.79, IsoChannel::Vrse, -0.79},
      {"Vrse_B", 0.052, IsoChannel::Vrse_B, 0.052},
      {"Vk", -1.1, IsoChannel::Vk, -1.1},
      {"Ik_V", 0.0003, IsoChannel::Ik, 0.0003 * 66666.667},
      {"Ib_V", 0.004, IsoChannel::Ib, 4.0},
      {"Vtherm", 1.15, IsoChannel::Vtherm, 1.15},
      {"Vb", 0.0012, IsoChannel::Vb, 0.0012},
      {"Vbias_neg", 3.5, IsoChannel::BiasNeg, 3.5},
      {"Vbias_pos", 3.7, IsoChannel::BiasPos, 3.7},
  };
  for (auto &row : table) sim::sensor_set(row.sensor, row.value);
  for (auto &row : table) {
    double tolerance = fabs(row.expect / row.value) * 1e-6;
    EXPECT_NEAR(iso_measure(row.ch), row.expect, tolerance) << row.sensor;
  }
  // Vtherm needs no selection: only the read's own register write.
  sim::ads1248_clear_transfers();
  iso_read(IsoChannel::Vtherm);
  EXPECT_EQ(sent(0)[0], 0x40);
  EXPECT_EQ(sim::ads1248_transfer_count(), 1 + (int)sys_data.Vtherm_trials);
  // A selection is followed by 10 ms before the read starts.
  sim::ads1248_clear_transfers();
  iso_read(IsoChannel::Vk);
  EXPECT_GE(sim::ads1248_transfer(1).t - sim::ads1248_transfer(0).t, 10 * sim::kMs);
  EXPECT_EQ(sent(1), (Bytes{0x40, 0x03, 0x0E, 0x00, 0x30, 0x02}));
  EXPECT_EQ(printed(), "");
  // The current offset is subtracted before the scaling.
  sys_data.offset_Ik = 1;
  EXPECT_NEAR(iso_measure(IsoChannel::Ik), (0.0003 - 1.0) * 66666.667, 0.05);
}

// Regression: a missing ADC used to hang the logger for ever in the DRDY wait.
TEST_F(Iso, UnpluggedAdcGivesNanWithOneLineAndTheNextReadWorks) {
  open();
  sim::ads1248_plug(false);
  const double t0 = secs();
  float v = pollADS1248_iso(1, 6, 10, 1, 20);
  EXPECT_TRUE(std::isnan(v));
  EXPECT_TRUE(std::isnan(sys_samp.AD24_std)) << "no deviation to mistake for one";
  EXPECT_LT(secs() - t0, 0.5) << "a few conversion periods, not for ever";
  std::string out = printed();
  EXPECT_EQ(count(out, "\n"), 2) << out;  // one line, started on a fresh one
  EXPECT_NE(out.find("ADS1248_iso: no conversion of AIN1-AIN6"), std::string::npos) << out;

  sim::ads1248_plug(true);
  openADS1248_iso();
  sim::sensor_set("Vrse", -0.8);
  ADS1248_gpio_init();
  ADS1248_gpio_ADG1609_mux(0);
  EXPECT_NEAR(pollADS1248_iso(1, 6, 2, 1, 20), -0.8f, 1e-6);
}

// Regression: the same hang with the isolated side left unpowered.
TEST_F(Iso, UnpoweredSideGivesNanAtEveryRate) {
  open();
  pwr_iso_off();
  for (int sps : {5, 2000}) {
    const double t0 = secs();
    EXPECT_TRUE(std::isnan(pollADS1248_iso(0, 6, 3, 1, sps)));
    EXPECT_LT(secs() - t0, 1.0) << sps;
  }
  EXPECT_EQ(count(printed(), "no conversion"), 2);
}

// Regression: a serial port that never finishes used to hang the busy wait.
TEST_F(Iso, StuckSerialPortIsReportedAndTheReadIsNan) {
  open();
  SSIDisable(SSI3_BASE);
  const double t0 = secs();
  ADS1248_gpio3(1);
  EXPECT_LT(secs() - t0, 0.1);
  EXPECT_EQ(printed(), "\r\nADS1248_iso: SSI3 transfer not finished after 10 ms\r\n");
  EXPECT_TRUE(std::isnan(pollADS1248_iso(7, 6, 1, 1, 40)));
  EXPECT_TRUE(std::isnan(sys_samp.AD24_std));

  // Regression: a wait bounded by the tick alone would never end with the
  // tick stopped; the pause of every turn bounds it too.
  printed();
  IntMasterDisable();
  const uint32_t tick = Timer_1ms(0);
  ADS1248_gpio3(0);
  EXPECT_EQ(Timer_1ms(0), tick);
  IntMasterEnable();
  EXPECT_NE(printed().find("SSI3 transfer not finished"), std::string::npos);
}

}  // namespace
