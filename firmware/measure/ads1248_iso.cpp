#include "measure/ads1248_iso.h"

#include <cmath>

#include "config/system.h"
#include "core/board.h"
#include "core/board_util.h"
#include "core/user_io.h"
#include "driverlib/gpio.h"
#include "driverlib/pin_map.h"
#include "driverlib/ssi.h"
#include "driverlib/sysctl.h"
#include "inc/hw_memmap.h"
#include "measure/bounded_wait.h"

namespace {

// Control lines of the isolated side.
constexpr uint32_t kCtlPort = GPIO_PORTN_BASE;
constexpr uint8_t kReset = GPIO_PIN_5;
constexpr uint8_t kStart = GPIO_PIN_6;
constexpr uint8_t kDrdy = GPIO_PIN_3;
constexpr uint32_t kSsiPort = GPIO_PORTH_BASE;
constexpr uint8_t kClk = GPIO_PIN_0;
constexpr uint8_t kCs = GPIO_PIN_1;
constexpr uint8_t kDout = GPIO_PIN_2;  // data from the ADC
constexpr uint8_t kDin = GPIO_PIN_3;   // data to the ADC

constexpr uint32_t kBitRate = 1000000;

// ADS1248 commands and registers.
constexpr uint8_t kWreg = 0x40;
constexpr uint8_t kNop = 0xFF;
constexpr uint8_t kRegMux0 = 0x00;
constexpr uint8_t kRegGpioCfg = 0x0C;
constexpr uint8_t kRegGpioDat = 0x0E;
constexpr uint8_t kMux1IntRef = 0x30;  // reference always on and selected
constexpr uint8_t kGpio3 = 0x08;
// Full-scale codes, where the converter clips.
constexpr int32_t kCodeMax = 0x7FFFFF;
constexpr int32_t kCodeMin = -0x800000;

constexpr int kGains[8] = {1, 2, 4, 8, 16, 32, 64, 128};
constexpr int kRates[10] = {5, 10, 20, 40, 80, 160, 320, 640, 1000, 2000};

// A transfer of at most six bytes at 1 Mbit/s takes 48 us.
constexpr uint32_t kSsiLimitMs = 10;

constexpr uint32_t kSettleMs = 10;  // multiplexer and divider switches

float volts[ADS1248_MAX_TRIALS];

void cs(bool high) { GPIOPinWrite(kSsiPort, kCs, high ? kCs : 0); }

void drain_rx() {
  uint32_t d;
  for (int i = 0; i < 16 && SSIDataGetNonBlocking(SSI3_BASE, &d); i++) {
  }
}

// Queues the bytes and waits until they are out. A port that stays busy
// (peripheral off or broken) is reported once per transfer.
bool send(const uint8_t *bytes, int n) {
  bool queued = true;
  for (int i = 0; i < n; i++) queued = SSIDataPutNonBlocking(SSI3_BASE, bytes[i]) && queued;
  if (wait_until([] { return !SSIBusy(SSI3_BASE); }, kSsiLimitMs) && queued) return true;
  uprintf("\nADS1248_iso: SSI3 transfer not finished after %u ms\n", (unsigned)kSsiLimitMs);
  return false;
}

// The one pattern of every register write.
bool write_regs(const uint8_t *cmd, int n) {
  cs(false);
  drain_rx();
  bool ok = send(cmd, n);
  cs(true);
  return ok;
}

void write_gpiodat(uint8_t value) {
  const uint8_t cmd[3] = {kWreg | kRegGpioDat, 0x00, value};
  write_regs(cmd, 3);
}

// A conversion period, rounded up, for the data-rate code.
uint32_t period_ms(int dr_code) { return (1000u + kRates[dr_code] - 1) / kRates[dr_code]; }

// Generous: the first conversion after a register write takes a little
// more than one period.
uint32_t drdy_limit_ms(int dr_code) { return 4 * period_ms(dr_code) + 10; }

float failed_read() {
  sys_samp.AD24_std = NAN;
  return NAN;
}

struct ChannelDef {
  int8_t mux;  // ADG1609 channel, -1 none
  int8_t gpio3;  // bias divider switch, -1 none
  uint8_t pos, neg;
  uint32_t systemData::*trials;
  uint32_t systemData::*sps;
};

constexpr ChannelDef kChannels[] = {
    {3, -1, 1, 6, &systemData::Vrsi_trials, &systemData::Vrsi_sps},      // Vrsi
    {3, -1, 1, 5, &systemData::Vrsi_trials, &systemData::Vrsi_sps},      // Vrsi_B
    {0, -1, 1, 6, &systemData::Vrse_trials, &systemData::Vrse_sps},      // Vrse
    {0, -1, 1, 5, &systemData::Vrse_trials, &systemData::Vrse_sps},      // Vrse_B
    {1, -1, 1, 6, &systemData::Vk_trials, &systemData::Vk_sps},          // Vk
    {1, -1, 1, 5, &systemData::Ik_trials, &systemData::Ik_sps},          // Ik
    {2, -1, 1, 6, &systemData::Ib_trials, &systemData::Ib_sps},          // Ib
    {-1, -1, 0, 6, &systemData::Vtherm_trials, &systemData::Vtherm_sps}, // Vtherm
    {2, -1, 5, 6, &systemData::Vb_trials, &systemData::Vb_sps},          // Vb
    {-1, 0, 7, 6, &systemData::Vbias_trials, &systemData::Vbias_sps},    // BiasNeg
    {-1, 1, 7, 6, &systemData::Vbias_trials, &systemData::Vbias_sps},    // BiasPos
};

const ChannelDef &def(IsoChannel ch) { return kChannels[static_cast<int>(ch)]; }

}  // namespace

void openADS1248_iso() {
  pwr_iso_on();
  GPIOPinWrite(kCtlPort, kReset | kStart, kReset | kStart);
  cs(true);
  delay_msec(2);
  GPIOPinWrite(kCtlPort, kReset, 0);
  SysCtlDelay(10 * kDelayLoopsPerUs);
  GPIOPinWrite(kCtlPort, kReset, kReset);
  SysCtlPeripheralEnable(SYSCTL_PERIPH_SSI3);
  GPIOPinConfigure(GPIO_PH0_SSI3CLK);
  GPIOPinConfigure(GPIO_PH2_SSI3RX);
  GPIOPinConfigure(GPIO_PH3_SSI3TX);
  GPIOPinTypeSSI(kSsiPort, kClk | kDout | kDin);
  SSIConfigSetExpClk(SSI3_BASE, SysCtlClockGet(), SSI_FRF_MOTO_MODE_1, SSI_MODE_MASTER, kBitRate, 8);
  SSIEnable(SSI3_BASE);
  delay_msec(20);
}

void closeADS1248_iso() {
  GPIOPinWrite(kCtlPort, kReset | kStart, kReset | kStart);
  SSIDisable(SSI3_BASE);
  SysCtlPeripheralDisable(SYSCTL_PERIPH_SSI3);
  GPIOPinTypeGPIOOutput(kSsiPort, kClk);
  GPIOPinWrite(kSsiPort, kClk, 0);
  GPIOPinTypeGPIOInput(kSsiPort, kDout);
  GPIOPinTypeGPIOOutput(kSsiPort, kDin);
  GPIOPinWrite(kSsiPort, kDin, 0);
  cs(false);
  pwr_iso_off();
}

unsigned char ADS1248_gain_sps(int gain, int sps) {
  int pga = -1;
  for (int i = 0; i < 8; i++)
    if (kGains[i] == gain) pga = i;
  if (pga < 0) {
    uprintf("\n\nUnrecognized PGA gain. Setting to 1.");
    pga = 0;
  }
  int dr = -1;
  for (int i = 0; i < 10; i++)
    if (kRates[i] == sps) dr = i;
  if (dr < 0) {
    uprintf("\n\nUnrecognized data rate. Setting to 5 sps.");
    dr = 0;
  }
  return (unsigned char)((pga << 4) | dr);
}

float pollADS1248_iso(int pos_chan, int neg_chan, int trials, int gain, int sps) {
  if (trials > ADS1248_MAX_TRIALS) {
    uprintf("MAX TRIALS is %u in ADS1248_iso, more trials (avg) than %u was requested, edit "
            "pollADS1248_iso() and recompile\n",
            (unsigned)ADS1248_MAX_TRIALS, (unsigned)ADS1248_MAX_TRIALS);
    trials = ADS1248_MAX_TRIALS;
  }

  cs(false);
  const uint8_t sys0 = ADS1248_gain_sps(gain, sps);
  gain = 1 << (sys0 >> 4);  // an unknown gain was set to 1, and is scaled so
  drain_rx();
  const uint8_t cfg[6] = {kWreg | kRegMux0, 0x03, (uint8_t)((pos_chan << 3) | neg_chan), 0x00,
                          kMux1IntRef, sys0};
  const bool configured = send(cfg, 6);
  cs(true);
  if (!configured) return failed_read();

  const uint32_t limit = drdy_limit_ms(sys0 & 0x0F);
  int32_t sum = 0;
  for (int i = 0; i < trials; i++) {
    if (!wait_until([] { return GPIOPinRead(kCtlPort, kDrdy) == 0; }, limit)) {
      uprintf("\nADS1248_iso: no conversion of AIN%d-AIN%d within %u ms, reading is nan\n",
              pos_chan, neg_chan, (unsigned)limit);
      return failed_read();
    }
    drain_rx();
    cs(false);
    const uint8_t nops[3] = {kNop, kNop, kNop};
    bool ok = send(nops, 3);
    uint32_t b[3] = {0, 0, 0};
    for (int k = 0; k < 3 && ok; k++) ok = SSIDataGetNonBlocking(SSI3_BASE, &b[k]);
    cs(true);
    if (!ok) return failed_read();
    int32_t code = (int32_t)(((b[0] & 0xFF) << 16) | ((b[1] & 0xFF) << 8) | (b[2] & 0xFF));
    if (code & 0x800000) code -= 0x1000000;
    // The converter clips at its full-scale codes: a conversion there says
    // only that the input was out of range, not what it was, and any mean
    // taken with it would be off by an unknown amount.
    if (code == kCodeMax || code == kCodeMin) {
      uprintf("\nADS1248_iso: AIN%d-AIN%d at full scale, reading is nan\n", pos_chan, neg_chan);
      return failed_read();
    }
    sum += code;
    volts[i] = (float)code / (float)gain * kAds1248VoltsPerCount;
  }

  if (trials <= 0) {
    sys_samp.AD24_std = 0.0f;
    return 0.0f;
  }
  const float mean = (float)((sum / trials) / gain) * kAds1248VoltsPerCount;
  if (trials < 2) {
    sys_samp.AD24_std = 0.0f;
  } else {
    float squares = 0.0f;
    for (int i = 0; i < trials; i++) {
      const float d = volts[i] - mean;
      squares += d * d;
    }
    sys_samp.AD24_std = (float)sqrt((double)(squares / (float)trials));
  }
  return mean;
}

void ADS1248_gpio_init() {
  // GPIO0..GPIO3 as general-purpose pins, all outputs, all low.
  const uint8_t cmd[5] = {kWreg | kRegGpioCfg, 0x02, 0x0F, 0x00, 0x00};
  write_regs(cmd, 5);
}

void ADS1248_gpio_ADG1609_mux(uint32_t chan) {
  if (chan > 3) {
    uprintf("Mux channels are 0 to 3 in ADS1248_iso, error in arg for ADS1248_gpio_ADG1609_mux\n");
    chan = 3;
  }
  // GPIO0/GPIO1 carry the inverted address; GPIO2 is high for 0 and 3.
  write_gpiodat((uint8_t)(((chan ^ 3) & 3) | ((chan == 0 || chan == 3) ? 0x04 : 0x00)));
}

void ADS1248_gpio3(uint32_t state) { write_gpiodat(state == 1 ? kGpio3 : 0x00); }

float iso_read(IsoChannel ch, int trials, int sps) {
  const ChannelDef &d = def(ch);
  if (d.mux >= 0) {
    ADS1248_gpio_ADG1609_mux((uint32_t)d.mux);
    delay_msec(kSettleMs);
  } else if (d.gpio3 >= 0) {
    ADS1248_gpio3((uint32_t)d.gpio3);
    delay_msec(kSettleMs);
  }
  return pollADS1248_iso(d.pos, d.neg, trials, 1, sps);
}

float iso_read(IsoChannel ch) {
  const ChannelDef &d = def(ch);
  return iso_read(ch, (int)(sys_data.*d.trials), (int)(sys_data.*d.sps));
}

float iso_physical(IsoChannel ch, float v) {
  switch (ch) {
    case IsoChannel::Ik:
      return (float)((double)(v - (float)sys_data.offset_Ik) * 66666.667);  // across 15 kOhm
    case IsoChannel::Ib:
      return (float)((double)v * 1000.0);  // across 1 MOhm
    case IsoChannel::BiasNeg:
    case IsoChannel::BiasPos:
      return 2.0f * v;  // the divider halves the battery
    default:
      return v;
  }
}
