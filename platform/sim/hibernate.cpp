// Hibernation module and EEPROM of the simulated chip. Both keep their
// contents through every reset: the module's registers live in
// hibernate.bin, the EEPROM in eeprom.bin, each written through.
#include <cstring>

#include "driverlib/eeprom.h"
#include "driverlib/hibernate.h"
#include "sim.h"
#include "sim_internal.h"

namespace sim {
namespace {

constexpr uint32_t kHibMagic = 0x48494231;  // "HIB1"
constexpr ns_t kWriteComplete = 92 * kUs;   // a hibernation register write

HibState h;
bool was_active;  // the module ran before this reset
uint8_t eeprom[2048];

// The EEPROM's rated endurance: a word programmed more often than this
// no longer takes a new value (it keeps the one it had).
constexpr uint32_t kEndurance = 500000;
constexpr size_t kEepromWords = sizeof eeprom / 4;
uint32_t wear[kEepromWords];  // programmings per word, in eeprom-wear.bin

// A fault set during one wake is still there at the next, as the faulty
// part is.
Faults &flt = shared_object<Faults>();

uint32_t rtc_now_of(const HibState &st) {
  if (!st.rtc_enabled) return st.rtc_sec;
  return st.rtc_sec + (uint32_t)((now() - st.rtc_ref_ns) / kSec);
}

// Stored with the count brought up to its last whole second, so that a
// later simulator run (whose virtual clock starts again) can carry on.
void save_hib() {
  if (h.rtc_enabled) {
    uint32_t sec = rtc_now_of(h);
    h.rtc_ref_ns += (ns_t)(sec - h.rtc_sec) * kSec;
    h.rtc_sec = sec;
  }
  save_file(state_dir(), "hibernate.bin", &h, sizeof h);
}

void hib_write() {
  advance(kWriteComplete);
  save_hib();
}

void update_match() {
  if (h.match_pending && h.rtc_enabled && rtc_seconds() >= h.match0) {
    h.ris |= HIBERNATE_INT_RTC_MATCH_0;
    h.match_pending = 0;
  }
}

// The module's registers as its own reset leaves them (battery fitted to
// a new board, or put back after it was removed): RTC stopped at `count`,
// no match, no wake sources, no status, no trim correction.
void registers_at_reset(uint32_t count) {
  memset(&h, 0, sizeof h);
  h.magic = kHibMagic;
  h.rtc_sec = count;
  h.rtc_ref_ns = now();
  h.match0 = 0xFFFFFFFF;
  h.match_pending = 1;
  h.trim = 0x7FFF;
}

}  // namespace

HibState &hib() { return h; }
Faults &faults() { return flt; }
uint8_t *eeprom_bytes() { return eeprom; }

uint32_t rtc_seconds() {
  return rtc_now_of(h);
}

ns_t rtc_time_of(uint32_t sec) {
  if (!h.rtc_enabled) return UINT64_MAX;
  if (sec <= h.rtc_sec) return h.rtc_ref_ns;
  return h.rtc_ref_ns + (ns_t)(sec - h.rtc_sec) * kSec;
}

// Loads the module's state at power-on. A missing file is a module that
// never ran. A power cycle that takes the module's battery too resets its
// registers. Either way its count starts at `cold_rtc`. The first power-on
// of a simulator run starts the count's phase afresh; the board was frozen
// while the simulator was not running.
void hib_power_on(bool new_run, bool power_cycle, uint32_t cold_rtc) {
  HibState loaded{};
  bool ok = load_file(state_dir(), "hibernate.bin", &loaded, sizeof loaded, 0) &&
            loaded.magic == kHibMagic;
  if (ok && new_run) loaded.rtc_ref_ns = now();
  if (!ok || power_cycle) registers_at_reset(cold_rtc);
  else h = loaded;
  was_active = h.active != 0;
  save_hib();
}

void hib_set_wake_status(uint32_t bits) {
  h.ris |= bits;
  h.hibernating = 0;
  save_hib();
}

void hib_save_now() { save_hib(); }
void hib_set_was_active(bool active) { was_active = active; }

void eeprom_reset() {
  if (!load_file(state_dir(), "eeprom.bin", eeprom, sizeof eeprom, 0xFF))
    save_file(state_dir(), "eeprom.bin", eeprom, sizeof eeprom);
  load_file(state_dir(), "eeprom-wear.bin", wear, sizeof wear, 0);
}

uint32_t eeprom_wear(uint32_t word) { return word < kEepromWords ? wear[word] : 0; }

void eeprom_set_wear(uint32_t count) {
  for (uint32_t &w : wear) w = count;
  save_file(state_dir(), "eeprom-wear.bin", wear, sizeof wear);
}


}  // namespace sim

using namespace sim;

// ---- hibernation ------------------------------------------------------------

void HibernateEnableExpClk(uint32_t) {
  op();
  if (!h.active) {
    h.active = 1;
    hib_write();
  }
}

void HibernateDisable(void) {
  op();
  h.active = 0;
  hib_write();
}

uint32_t HibernateIsActive(void) {
  op();
  return was_active ? 1u : 0u;
}

uint32_t HibernateIntStatus(bool masked) {
  poll();
  update_match();
  return masked ? (h.ris & h.im) : h.ris;
}

void HibernateIntClear(uint32_t flags) {
  op();
  h.ris &= ~flags;
  hib_write();
}

void HibernateIntEnable(uint32_t flags) {
  op();
  h.im |= flags;
  hib_write();
}

void HibernateIntDisable(uint32_t flags) {
  op();
  h.im &= ~flags;
  hib_write();
}

void HibernateGPIORetentionEnable(void) { op(); }
void HibernateGPIORetentionDisable(void) { op(); }

void HibernateClockConfig(uint32_t config) {
  op();
  h.clock_cfg = config;
  hib_write();
}

void HibernateRTCTrimSet(uint32_t trim) {
  op();
  h.trim = trim;
  hib_write();
}

uint32_t HibernateRTCTrimGet(void) {
  op();
  return h.trim;
}

void HibernateRTCEnable(void) {
  op();
  if (!h.rtc_enabled) {
    h.rtc_enabled = 1;
    h.rtc_ref_ns = now();
  }
  hib_write();
}

void HibernateRTCDisable(void) {
  op();
  if (h.rtc_enabled) {
    h.rtc_sec = rtc_seconds();
    h.rtc_enabled = 0;
  }
  hib_write();
}

void HibernateRTCSet(uint32_t seconds) {
  op();
  h.rtc_sec = seconds;
  h.rtc_ref_ns = now();
  h.match_pending = h.match0 > seconds;
  hib_write();
}

uint32_t HibernateRTCGet(void) {
  poll();
  update_match();
  return rtc_seconds();
}

uint32_t HibernateRTCSSGet(void) {
  poll();
  if (!h.rtc_enabled) return 0;
  ns_t into = (now() - h.rtc_ref_ns) % kSec;
  return (uint32_t)(into * 32768 / kSec);
}

void HibernateRTCMatchSet(uint32_t match, uint32_t value) {
  op();
  if (match != 0) return;
  h.match0 = value;
  h.match_pending = value > rtc_seconds();
  hib_write();
}

uint32_t HibernateRTCMatchGet(uint32_t match) {
  op();
  return match == 0 ? h.match0 : 0;
}

void HibernateWakeSet(uint32_t wake_flags) {
  op();
  h.wake = wake_flags;
  hib_write();
}

uint32_t HibernateWakeGet(void) {
  op();
  return h.wake;
}

void HibernateRequest(void) {
  op();
  // Without its clock, or with the hibernation jumper fitted, the module
  // ignores the request and the processor keeps running.
  if (!h.active || flt.no_hibernate) return;
  update_match();
  h.hibernating = 1;
  save_hib();
  power_down_for_hibernation();
}

// Battery-backed memory: it lives in the module's state, so it goes with
// the module's battery and stays through everything else.
void HibernateDataSet(const uint32_t *data, uint32_t count) {
  op();
  if (count > 16) count = 16;
  memcpy(h.data, data, count * 4);
  advance((count - (count ? 1 : 0)) * kWriteComplete);
  hib_write();
}

void HibernateDataGet(uint32_t *data, uint32_t count) {
  op();
  if (count > 16) count = 16;
  memcpy(data, h.data, count * 4);
}

// ---- EEPROM -------------------------------------------------------------------

uint32_t EEPROMInit(void) {
  op();
  advance(10 * kUs);
  return EEPROM_INIT_OK;
}

uint32_t EEPROMSizeGet(void) {
  op();
  return sizeof eeprom;
}

void EEPROMRead(uint32_t *data, uint32_t address, uint32_t count) {
  op();
  address &= ~3u;
  count &= ~3u;
  if (address >= sizeof eeprom) return;
  if (count > sizeof eeprom - address) count = sizeof eeprom - address;
  memcpy(data, eeprom + address, count);
  advance((count / 4) * 1 * kUs);
}

uint32_t EEPROMProgram(uint32_t *data, uint32_t address, uint32_t count) {
  op();
  address &= ~3u;
  count &= ~3u;
  if (flt.eeprom_write_fail) {
    advance(110 * kUs);
    return EEPROM_RC_WRBUSY;
  }
  if (address >= sizeof eeprom) return EEPROM_RC_NOPERM;
  if (count > sizeof eeprom - address) count = sizeof eeprom - address;
  for (uint32_t i = 0; i < count / 4; i++) {
    uint32_t word = address / 4 + i;
    // A worn word is programmed as any other, but keeps its old value.
    if (++wear[word] <= kEndurance) memcpy(eeprom + 4 * word, data + i, 4);
  }
  save_file(state_dir(), "eeprom.bin", eeprom, sizeof eeprom);
  save_file(state_dir(), "eeprom-wear.bin", wear, sizeof wear);
  // About 110 us per programmed word.
  advance((count / 4) * 110 * kUs);
  return 0;
}
