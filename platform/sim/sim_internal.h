// Glue between the simulated chip's parts; not seen by the firmware.
#pragma once
#include <sys/mman.h>

#include <cstdint>
#include <new>

#include "sim.h"

namespace sim {

void core_reset();
void gpio_reset();
void uart_reset();
void i2c_reset();
void ssi_reset();
void adc_reset();
void eeprom_reset();

void periph_reset(uint32_t periph);
bool periph_is_enabled(uint32_t periph);
PowerHooks &power_hooks();

// Real-time pacing: called with the virtual time about to be reached;
// returns the virtual time actually reached (earlier when host input
// arrived first).
void core_set_pacer(ns_t (*pacer)(ns_t target));

// One object in memory shared by the simulator's process and every wake's
// process, so that what a wake sets (a fault, a count) is there at the
// next. Mapped at first use, which must come before the wake runner forks
// (a static initialiser).
template <class T>
T &shared_object() {
  static T *p = [] {
    void *m = mmap(nullptr, sizeof(T), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (m == MAP_FAILED) {
      static T local;
      return &local;
    }
    return new (m) T{};
  }();
  return *p;
}

// Persistent store files.
bool load_file(const char *dir, const char *name, void *buf, size_t size, int fill);
void save_file(const char *dir, const char *name, const void *buf, size_t size);
const char *state_dir();

}  // namespace sim

namespace sim {
// As if the hibernation module had (or had not) kept running through the
// last reset; unit tests use it to reach the warm-start decoding.
void hib_set_was_active(bool active);
// Stores the module's registers with the RTC count as it stands now.
void hib_save_now();
}  // namespace sim
