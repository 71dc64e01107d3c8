// The isolated front end of the simulated board: a TI ADS1248 on SSI3 with
// its chip select on PH1, RESET on PN5, START on PN6, DRDY on PN3 and its
// supply on PK2; its GPIO0..GPIO3 drive the ADG1609 multiplexer and the
// bias-battery divider switch. Conversions come from the sensor model.
//
// Modelled: the registers and the WREG/RREG framing, read-data-continuous
// (power-on) and stop-read-data modes with RDATA, RESET, SYNC; continuous
// conversion while START is high, one result per data period, DRDY falling
// with each result and rising when it is read; a register write to MUX0,
// VBIAS, MUX1 or SYS0 restarts the conversion (single-cycle settling); the
// PGA and the internal 2.048 V reference, codes clipped at full scale.
// Choices of the model: 1 ms power-up, 0.6 ms after RESET, DRDY high (the
// isolator's idle level) while unpowered or unplugged.
//
// Faults (--ads-fault and the step "ads-fault", shared by every wake of a
// run): silent (converts, but DRDY never falls: a dead isolator channel),
// stuck=CODE (every result is that 24-bit code), slow=FACTOR (each
// conversion takes FACTOR data periods), off.
#include <sys/mman.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "driverlib/gpio.h"
#include "frontend.h"
#include "inc/hw_memmap.h"
#include "runner.h"
#include "sim.h"
#include "sim_internal.h"

namespace sim {
namespace {

constexpr uint32_t kPwrPort = GPIO_PORTK_BASE;
constexpr uint8_t kPwrPin = GPIO_PIN_2;
constexpr uint32_t kCtlPort = GPIO_PORTN_BASE;
constexpr uint8_t kDrdyPin = GPIO_PIN_3;
constexpr uint8_t kResetPin = GPIO_PIN_5;
constexpr uint8_t kStartPin = GPIO_PIN_6;
constexpr uint32_t kCsPort = GPIO_PORTH_BASE;
constexpr uint8_t kCsPin = GPIO_PIN_1;
constexpr int kSsi = 3;

constexpr ns_t kPowerUp = 1 * kMs;
constexpr ns_t kResetRecovery = 600 * kUs;
constexpr uint32_t kMaxSclk = 2048000;  // tSCLK >= 488 ns
constexpr double kVref = 2.048;
constexpr int kRates[10] = {5, 10, 20, 40, 80, 160, 320, 640, 1000, 2000};

// Power-on values of MUX0 .. GPIODAT.
constexpr uint8_t kRegDefaults[15] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                      0x00, 0x40, 0x90, 0xFF, 0x00, 0xFF, 0x00};

enum Cmd : uint8_t {
  kSync = 0x04, kReset = 0x06, kRdata = 0x12, kRdatac = 0x14, kSdatac = 0x16,
  kRreg = 0x20, kWreg = 0x40, kNop = 0xFF
};

enum Parse { kIdle, kWregCount, kWregData, kRregCount, kRregData };

constexpr int kTrace = 512;
constexpr int kQueue = 256;

struct Model {
  bool present;
  bool powered, in_reset, start;
  ns_t ready_at;
  uint8_t reg[15];
  bool rdatac;
  Parse parse;
  int addr, left;
  int32_t latched;
  bool fresh;   // a result not yet read
  int out_pos;  // bytes of the result clocked out, 0 = no read going on
  bool rdata;   // an RDATA command: the next three bytes are the result
  int slot;
  int32_t queue[kQueue];
  int q_head, q_count;
  AdsTransfer trace[kTrace];
  int t_head, t_count;
  bool in_transfer;
  AdsStats stats;
};

Model m;

struct Fault {
  bool silent;
  bool stuck;
  int32_t stuck_code;
  double slow;  // 0 or 1: the data rate as configured
};

// Mapped before the wake runner forks: a step's fault holds for later wakes.
Fault &fault() { return shared_object<Fault>(); }

// "silent", "stuck=CODE", "slow=FACTOR" or "off".
bool set_fault(const char *v) {
  Fault &f = fault();
  char *end;
  if (!strcmp(v, "off")) {
    f = Fault{};
  } else if (!strcmp(v, "silent")) {
    f.silent = true;
  } else if (!strncmp(v, "stuck=", 6)) {
    long code = strtol(v + 6, &end, 0);
    if (end == v + 6 || *end || code < -8388608 || code > 0xFFFFFF) return false;
    f.stuck = true;
    f.stuck_code = (int32_t)code & 0xFFFFFF;
  } else if (!strncmp(v, "slow=", 5)) {
    double k = strtod(v + 5, &end);
    if (end == v + 5 || *end || k < 1 || k > 100000) return false;
    f.slow = k;
  } else {
    return false;
  }
  return true;
}

bool operational() { return m.present && m.powered && !m.in_reset && now() >= m.ready_at; }

void drdy(bool high) {
  gpio_drive_input(kCtlPort, kDrdyPin, (m.present && m.powered) ? high : true);
}

ns_t period() {
  int dr = m.reg[3] & 0x0F;
  ns_t p = kSec / (ns_t)kRates[dr > 9 ? 9 : dr];
  return fault().slow > 1 ? (ns_t)(p * fault().slow) : p;
}

// The digital filter starts over: the next result comes a full period on.
void restart() {
  event_cancel(m.slot);
  m.fresh = false;
  m.out_pos = 0;
  m.rdata = false;
  drdy(true);
  if (!m.present || !m.powered || m.in_reset || !m.start) return;
  ns_t from = m.ready_at > now() ? m.ready_at : now();
  event_at(m.slot, from + period());
}

void registers_to_defaults() {
  memcpy(m.reg, kRegDefaults, sizeof m.reg);
  m.rdatac = true;
  m.parse = kIdle;
}

int32_t convert() {
  if (fault().stuck) return fault().stuck_code;
  if (m.q_count) {
    int32_t c = m.queue[m.q_head];
    m.q_head = (m.q_head + 1) % kQueue;
    m.q_count--;
    return c & 0xFFFFFF;
  }
  const int vrefcon = (m.reg[2] >> 5) & 3, refselt = (m.reg[2] >> 3) & 3, muxcal = m.reg[2] & 7;
  // Without the internal reference switched on and selected, the
  // modulator sees no reference: full scale.
  if (!(vrefcon == 1 || vrefcon == 2) || !(refselt == 2 || refselt == 3)) return 0x7FFFFF;
  if (muxcal) return 0;
  const int gain = 1 << ((m.reg[3] >> 4) & 7);
  const int p = (m.reg[0] >> 3) & 7, n = m.reg[0] & 7;
  double v = sensor_ads_input(p, n, ads1248_mux(), ads1248_divider());
  double code = floor(v * gain / kVref * 8388608.0 + 0.5);
  if (code > 8388607.0) code = 8388607.0;
  if (code < -8388608.0) code = -8388608.0;
  return (int32_t)code & 0xFFFFFF;
}

void conversion_done(void *) {
  if (!operational() || !m.start) return;
  // A result being clocked out is not overwritten.
  if (!(m.in_transfer && m.out_pos > 0 && m.out_pos < 3)) {
    m.latched = convert();
    m.fresh = true;
    m.out_pos = 0;
    m.stats.conversions++;
    if (!fault().silent) drdy(false);
  }
  event_at(m.slot, now() + period());
}

void on_power(uint32_t, uint8_t, bool level, void *) {
  m.powered = level;
  registers_to_defaults();
  m.q_count = 0;
  if (level) m.ready_at = now() + kPowerUp;
  restart();
}

void on_reset(uint32_t, uint8_t, bool level, void *) {
  m.in_reset = !level;
  registers_to_defaults();
  if (level) m.ready_at = now() + kResetRecovery;
  restart();
}

void on_start(uint32_t, uint8_t, bool level, void *) {
  m.start = level;
  restart();
}

void on_cs(uint32_t, uint8_t, bool level, void *) {
  // Chip select high resets the serial interface.
  m.parse = kIdle;
  m.rdata = false;
  if (m.out_pos > 0 && m.out_pos < 3) m.out_pos = 0;
  if (!level) {
    AdsTransfer &t = m.trace[(m.t_head + m.t_count) % kTrace];
    if (m.t_count < kTrace) m.t_count++;
    else m.t_head = (m.t_head + 1) % kTrace;
    t = AdsTransfer{};
    t.t = now();
    m.in_transfer = true;
  } else {
    m.in_transfer = false;
  }
}

uint8_t result_byte(int i) { return (uint8_t)(m.latched >> (8 * (2 - i))); }

void begin_read() {
  if (!m.fresh) m.stats.stale_reads++;
  m.stats.reads++;
  m.out_pos = 0;
  drdy(true);
}

uint8_t command(uint8_t b) {
  if (b == kNop) {
    if (!m.rdatac) return 0xFF;
    begin_read();
    m.out_pos = 1;
    return result_byte(0);
  }
  if ((b & 0xF0) == kWreg) {
    m.addr = b & 0x0F;
    m.parse = kWregCount;
  } else if ((b & 0xF0) == kRreg) {
    m.addr = b & 0x0F;
    m.parse = kRregCount;
  } else if ((b & 0xFE) == kRdata) {
    begin_read();
    m.rdata = true;
  } else if ((b & 0xFE) == kRdatac) {
    m.rdatac = true;
  } else if ((b & 0xFE) == kSdatac) {
    m.rdatac = false;
  } else if ((b & 0xFE) == kReset) {
    registers_to_defaults();
    restart();
  } else if ((b & 0xFE) == kSync) {
    restart();
  } else if (b > 0x03 && !(b >= 0x60 && b <= 0x62)) {
    m.stats.unknown_commands++;  // wake-up, sleep and calibration pass
  }
  return 0xFF;
}

uint8_t byte_exchange(uint8_t b) {
  switch (m.parse) {
    case kWregCount:
      m.left = (b & 0x0F) + 1;
      m.parse = kWregData;
      return 0xFF;
    case kWregData:
      if (m.addr < 15) {
        m.reg[m.addr] = b;
        if (m.addr <= 3) restart();
      }
      m.addr++;
      if (--m.left == 0) m.parse = kIdle;
      return 0xFF;
    case kRregCount:
      m.left = (b & 0x0F) + 1;
      m.parse = kRregData;
      return 0xFF;
    case kRregData: {
      uint8_t v = m.addr < 15 ? m.reg[m.addr] : 0xFF;
      m.addr++;
      if (--m.left == 0) m.parse = kIdle;
      return v;
    }
    case kIdle:
      break;
  }
  // The rest of a result being read, whatever comes in meanwhile.
  if (m.rdata || (m.out_pos > 0 && m.out_pos < 3)) {
    uint8_t v = result_byte(m.out_pos++);
    if (m.out_pos == 3) {
      m.fresh = false;
      m.rdata = false;
    }
    return v;
  }
  return command(b);
}

uint32_t exchange(void *, uint32_t out, int bits) {
  const uint32_t all = bits >= 32 ? 0xFFFFFFFFu : ((1u << bits) - 1);
  if (gpio_level(kCsPort, kCsPin)) return all;  // not selected
  AdsTransfer &t = m.trace[(m.t_head + m.t_count + kTrace - 1) % kTrace];
  uint32_t in = all;
  if (!operational()) {
    m.stats.ignored_frames++;
  } else if (bits != 8) {
    m.stats.bad_frames++;
  } else {
    if (ssi_bitrate(kSsi) > kMaxSclk) m.stats.fast_clock++;
    in = byte_exchange((uint8_t)out);
  }
  if (m.in_transfer && m.t_count) {
    if (t.n < 32) {
      t.mosi[t.n] = (uint8_t)out;
      t.miso[t.n] = (uint8_t)in;
    }
    t.n++;
  }
  return in;
}

void init() {
  memset(&m, 0, sizeof m);
  m.present = true;
  registers_to_defaults();
  m.slot = event_slot(conversion_done, nullptr, "ads1248");
  m.powered = gpio_level(kPwrPort, kPwrPin);
  m.in_reset = !gpio_level(kCtlPort, kResetPin);
  m.start = gpio_level(kCtlPort, kStartPin);
  gpio_watch(kPwrPort, kPwrPin, on_power, nullptr);
  gpio_watch(kCtlPort, kResetPin, on_reset, nullptr);
  gpio_watch(kCtlPort, kStartPin, on_start, nullptr);
  gpio_watch(kCsPort, kCsPin, on_cs, nullptr);
  ssi_attach(kSsi, SpiDevice{exchange, nullptr});
  restart();
}

struct Registrar {
  Registrar() {
    fault();
    register_device_init(init);
    register_option("ads-fault", true, set_fault,
                    "silent|stuck=CODE|slow=FACTOR|off: the isolated ADC converts but never\n"
                    "      lowers DRDY, returns that 24-bit code every time, or takes FACTOR data\n"
                    "      periods per conversion (also the step \"ads-fault ...\")");
    scenario_register_step("ads-fault", set_fault);
  }
};
Registrar registrar;

}  // namespace

void ads1248_plug(bool present) {
  m.present = present;
  if (present) m.ready_at = now() + kPowerUp;
  restart();
}

uint8_t ads1248_register(int addr) { return addr >= 0 && addr < 15 ? m.reg[addr] : 0; }

int ads1248_mux() {
  const uint8_t cfg = m.reg[12] & 0x0F, dir = m.reg[13] & 0x0F;
  if ((cfg & 0x07) != 0x07 || (dir & 0x07) != 0) return -1;
  switch (m.reg[14] & 0x07) {
    case 0x07: return 0;
    case 0x02: return 1;
    case 0x01: return 2;
    case 0x04: return 3;
    default: return -1;
  }
}

int ads1248_divider() {
  const uint8_t cfg = m.reg[12], dir = m.reg[13];
  if (!(cfg & 0x08) || (dir & 0x08)) return -1;
  return (m.reg[14] >> 3) & 1;
}

void ads1248_queue_codes(const int32_t *codes, int n) {
  for (int i = 0; i < n && m.q_count < kQueue; i++) {
    m.queue[(m.q_head + m.q_count) % kQueue] = codes[i];
    m.q_count++;
  }
}

int ads1248_transfer_count() { return m.t_count; }
const AdsTransfer &ads1248_transfer(int i) { return m.trace[(m.t_head + i) % kTrace]; }
void ads1248_clear_transfers() {
  m.t_head = m.t_count = 0;
  if (m.in_transfer) {
    m.t_count = 1;
    m.trace[0] = AdsTransfer{};
    m.trace[0].t = now();
  }
}
AdsStats ads1248_stats() { return m.stats; }

}  // namespace sim
