// The simulated board: one virtual clock, a handful of scheduled events,
// an NVIC stand-in that calls the firmware's own handlers at platform-call
// boundaries, and the device models behind the chip's buses.
//
// Everything here runs on the firmware's thread. Nothing uses host time
// except the real-time console bridges, which pace the virtual clock.
#pragma once
#include <cstddef>
#include <cstdint>

namespace sim {

// ---- time -------------------------------------------------------------

using ns_t = uint64_t;
constexpr ns_t kUs = 1000;
constexpr ns_t kMs = 1000 * kUs;
constexpr ns_t kSec = 1000 * kMs;

ns_t now();
// Nanoseconds per cycle of the current system clock.
double cycle_ns();
uint32_t sysclk_hz();
void set_sysclk_hz(uint32_t hz);

// Lets virtual time pass, running due events and interrupts on the way.
void advance(ns_t dt);
void advance_to(ns_t t);
// Cost of an ordinary platform call from the firmware.
void op();
// A status read: the firmware may be spinning on it. After a few polls
// with nothing else happening, time jumps to the next event.
void poll();
// The core waits for an interrupt: time jumps to the next event.
void idle();
// As idle, but never past `deadline`; false once it has been reached. For
// the blocking operations, which give up where the chip's poll budget ends.
bool idle_until(ns_t deadline);
// The chip's poll budgets (hw.h) in time: room for a byte or frame, and a
// received byte.
constexpr ns_t kByteWait = 100 * kMs;
constexpr ns_t kLongWait = 2 * kSec;

// ---- events -----------------------------------------------------------

using EventFn = void (*)(void *ctx);
// A fixed slot per event source; re-scheduling a slot replaces its time.
int event_slot(EventFn fn, void *ctx, const char *name);
void event_at(int slot, ns_t t);
void event_cancel(int slot);
bool event_pending(int slot);
ns_t next_event_time();  // UINT64_MAX when nothing is scheduled

// ---- interrupts -------------------------------------------------------

void irq_pend(uint32_t n);              // edge-type source (SysTick)
void irq_level(uint32_t n, bool high);  // level-type source (peripherals)
void irq_enable(uint32_t n, bool on);
bool irq_enabled(uint32_t n);
bool primask();
void set_primask(bool masked);
// Runs pending, enabled, unmasked handlers (not nested).
void irq_dispatch();
bool in_handler();

// ---- GPIO -------------------------------------------------------------

int gpio_port_index(uint32_t base);  // -1 for a bad base
uint32_t gpio_port_base(int index);
// Level seen on a pin: the output latch for outputs, the driven input
// level (or the pull) for inputs.
bool gpio_level(uint32_t base, uint8_t pin_mask);
bool gpio_is_output(uint32_t base, uint8_t pin_mask);
uint8_t gpio_pctl(uint32_t base, int pin);
bool gpio_afsel(uint32_t base, uint8_t pin_mask);
// Drives an input pin from a device model.
void gpio_drive_input(uint32_t base, uint8_t pin_mask, bool high);
// Called whenever an output level changes (pin mask, new level).
using PinWatch = void (*)(uint32_t base, uint8_t pin_mask, bool level, void *ctx);
void gpio_watch(uint32_t base, uint8_t pin_mask, PinWatch fn, void *ctx);

// ---- UARTs ------------------------------------------------------------

// The far end of a UART line: a terminal, a scenario, an instrument model.
struct UartPeer {
  // A byte the UART finished sending, at the UART's configured baud rate.
  void (*on_tx)(void *ctx, uint8_t byte, uint32_t baud);
  void *ctx;
};
int uart_index(uint32_t base);
void uart_attach(int index, UartPeer peer);
// A byte from the line reaches the receiver now, sent at line_baud.
// Returns false when the UART could not take it (not running, FIFO full).
bool uart_line_rx(int index, uint8_t byte, uint32_t line_baud);
uint32_t uart_baud(int index);  // 0 while not configured
bool uart_enabled(int index);

// Frame time of one 8N1 byte.
inline ns_t byte_time(uint32_t baud) { return baud ? (ns_t)(10.0e9 / baud) : kMs; }
// A byte sent at one rate and sampled at another that differs by more
// than a few percent arrives garbled.
uint8_t line_garble(uint8_t byte, uint32_t from_baud, uint32_t to_baud);

// ---- SSI --------------------------------------------------------------

struct SpiDevice {
  // One frame exchanged while the device is selected. Returns the frame
  // clocked back to the master.
  uint32_t (*exchange)(void *ctx, uint32_t out, int bits);
  void *ctx;
};
int ssi_index(uint32_t base);
void ssi_attach(int index, SpiDevice dev);
uint32_t ssi_bitrate(int index);

// ---- I2C --------------------------------------------------------------

struct I2cDevice {
  uint8_t address;  // 7-bit
  // Start of a transfer; false = no acknowledge (device absent).
  bool (*start)(void *ctx, bool read);
  bool (*write)(void *ctx, uint8_t byte);  // false = NACK
  uint8_t (*read)(void *ctx);
  void (*stop)(void *ctx);
  void *ctx;
};
void i2c_attach(I2cDevice dev);
// The master's commands since the last clear, for tests of the driver.
struct I2cTraceEntry {
  uint32_t cmd;
  uint8_t slave;
  bool receive;
};
const I2cTraceEntry *i2c_trace(int *count);
void i2c_trace_clear();

// ---- ADC --------------------------------------------------------------

// Counts (0..4095) a channel of the on-chip ADC converts to now.
using AdcSource = uint32_t (*)(uint32_t channel, void *ctx);
void adc_set_source(AdcSource fn, void *ctx);

// ---- hibernation module -------------------------------------------------

struct HibState {
  uint32_t magic;
  uint32_t active;        // 32 kHz clock running (kept through resets)
  uint32_t rtc_enabled;
  uint32_t rtc_sec;       // RTC seconds at rtc_ref_ns
  uint64_t rtc_ref_ns;    // virtual time of the last whole RTC second
  uint32_t match0;
  uint32_t match_pending;  // match set ahead of the count, not reached yet
  uint32_t wake;           // HibernateWakeSet flags
  uint32_t ris;            // raw status
  uint32_t im;
  uint32_t trim;
  uint32_t clock_cfg;
  uint32_t hibernating;    // processor powered down
  uint32_t data[16];       // battery-backed memory
};
HibState &hib();
uint32_t rtc_seconds();
// Time at which the RTC reaches `sec` (or UINT64_MAX when it is stopped).
ns_t rtc_time_of(uint32_t sec);

// ---- persistent stores ------------------------------------------------

uint8_t *eeprom_bytes();  // 2048 bytes
// Programmings of one EEPROM word so far; a word past its endurance keeps
// its value. eeprom_set_wear puts every word's count at `count`.
uint32_t eeprom_wear(uint32_t word);
void eeprom_set_wear(uint32_t count);
uint8_t *fram_bytes();    // 256 bytes

// ---- faults -------------------------------------------------------------

struct Faults {
  bool no_fram;
  bool eeprom_write_fail;
  bool no_hibernate;  // hibernation request ignored (jumper fitted)
  uint32_t fram_write_fail;  // this many FRAM writes are not acknowledged
  uint16_t fram_write_fail_at;  // 0: any write; else 1 + the word address they go to
};
// Kept across wakes, as the device they belong to.
Faults &faults();

// ---- console line -------------------------------------------------------

// Baud rate of the terminal side of the console line.
uint32_t console_line_baud();
// Queues bytes typed on the console line, one frame apart at the line rate.
void console_type(const uint8_t *bytes, size_t n);
// Everything the console printed, as the line carries it.
void console_output_hook(void (*fn)(uint8_t byte, void *ctx), void *ctx);

// ---- the wake cycle -----------------------------------------------------

// Ends this run of the firmware: the processor hibernates (or resets).
[[noreturn]] void power_down_for_hibernation();
[[noreturn]] void system_reset();
// Restarts the processor for `cause` (SYSCTL_CAUSE_ bits): the watchdog,
// a power loss.
[[noreturn]] void chip_reset(uint32_t cause);
// The reset-cause register of this start (the runner sets it), and the
// cause of the reset that ended the run (0 until one did).
uint32_t &reset_cause_register();
uint32_t ending_reset_cause();

}  // namespace sim

namespace sim {

// ---- set-up -------------------------------------------------------------

struct BoardConfig {
  const char *state_dir;     // eeprom.bin, fram.bin, hibernate.bin, sd.img
  uint32_t console_baud;     // terminal side of the console line
  uint32_t cold_rtc = 0;     // RTC count of a hibernation module that starts cold
};
// Puts every model into its power-on state; loads the persistent stores.
void board_power_on(const BoardConfig &cfg);

// What a hibernation request or a chip reset does. The wake runner ends
// the process; unit tests throw, so that a test can catch the power-down.
struct PowerHooks {
  void (*hibernate)();
  void (*reset)();
};
void set_power_hooks(PowerHooks hooks);

// Diagnostics of the simulator itself go to standard error, never to the
// console line.
void report(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Called at every platform call: lets a watchdog see that the firmware
// still talks to the hardware.
extern volatile uint64_t g_platform_calls;

}  // namespace sim
