// Hibernation module. Its registers live in the 32 kHz domain: every write
// takes effect a few RTC clocks later, paced by HIBCTL.WRC.
#include "driverlib/hibernate.h"

#include "hw.h"
#include "inc/hw_memmap.h"

namespace {

constexpr uint32_t RTCC = HIB_BASE + 0x000;
constexpr uint32_t RTCM0 = HIB_BASE + 0x004;
constexpr uint32_t RTCLD = HIB_BASE + 0x00C;
constexpr uint32_t CTL = HIB_BASE + 0x010;
constexpr uint32_t IM = HIB_BASE + 0x014;
constexpr uint32_t RIS = HIB_BASE + 0x018;
constexpr uint32_t MIS = HIB_BASE + 0x01C;
constexpr uint32_t IC = HIB_BASE + 0x020;
constexpr uint32_t RTCT = HIB_BASE + 0x024;
constexpr uint32_t RTCSS = HIB_BASE + 0x028;
constexpr uint32_t DATA = HIB_BASE + 0x030;  // 16 battery-backed words
constexpr uint32_t kDataWords = 16;

constexpr uint32_t CTL_RTCEN = 1u << 0;
constexpr uint32_t CTL_HIBREQ = 1u << 1;
constexpr uint32_t CTL_CLK32EN = 1u << 6;
constexpr uint32_t CTL_VDD3ON = 1u << 8;
constexpr uint32_t CTL_OSCBYP = 1u << 16;
constexpr uint32_t CTL_OSCDRV = 1u << 17;
constexpr uint32_t CTL_WRC = 1u << 31;
constexpr uint32_t kWakeBits = HIBERNATE_WAKE_RTC | HIBERNATE_WAKE_PIN | HIBERNATE_WAKE_LOW_BAT;
constexpr uint32_t kIntBits = HIBERNATE_INT_RTC_MATCH_0 | HIBERNATE_INT_LOW_BAT |
                              HIBERNATE_INT_PIN_WAKE | HIBERNATE_INT_WR_COMPLETE;

// With the oscillator just enabled the first write waits for it to start,
// which can take over a second.
void wait_wrc() { hw_wait(CTL, CTL_WRC, true, kPollLong); }

void hib_write(uint32_t addr, uint32_t value) {
  wait_wrc();
  hw_write(addr, value);
  wait_wrc();
}

void ctl_update(uint32_t mask, uint32_t bits) {
  hib_write(CTL, (hw_read(CTL) & ~(mask | CTL_WRC)) | (bits & mask));
}

}  // namespace

// Whether the module kept running through the last reset, taken before
// this start enables it: start-up enables the module first and then asks.
static bool g_checked;
static bool g_was_active;

void HibernateEnableExpClk(uint32_t) {
  if (!g_checked) {
    g_was_active = (hw_read(CTL) & CTL_CLK32EN) != 0;
    g_checked = true;
  }
  ctl_update(CTL_CLK32EN, CTL_CLK32EN);  // 32.768 kHz oscillator on
}

void HibernateDisable(void) {
  ctl_update(CTL_CLK32EN, 0);  // oscillator off: the module stops
}

uint32_t HibernateIsActive(void) {
  if (g_checked) return g_was_active ? 1u : 0u;
  return (hw_read(CTL) & CTL_CLK32EN) ? 1u : 0u;
}

uint32_t HibernateIntStatus(bool masked) { return hw_read(masked ? MIS : RIS) & kIntBits; }

void HibernateIntClear(uint32_t flags) {
  hib_write(IC, flags & kIntBits);  // write-one-to-clear
}

void HibernateIntEnable(uint32_t flags) {
  hib_write(IM, (hw_read(IM) | flags) & kIntBits);  // these sources raise the interrupt
}

void HibernateIntDisable(uint32_t flags) {
  hib_write(IM, hw_read(IM) & ~flags & kIntBits);  // these sources masked
}

void HibernateGPIORetentionEnable(void) {
  ctl_update(CTL_VDD3ON, CTL_VDD3ON);  // keep VDD on in hibernation: pins hold their state
}

void HibernateGPIORetentionDisable(void) {
  ctl_update(CTL_VDD3ON, 0);  // VDD off in hibernation: pins come back at reset state
}

void HibernateClockConfig(uint32_t config) {
  ctl_update(CTL_OSCBYP | CTL_OSCDRV, config);  // crystal or external clock, drive strength
}

void HibernateRTCTrimSet(uint32_t trim) {
  hib_write(RTCT, trim & 0xFFFF);  // 0x7FFF = no trim
}

uint32_t HibernateRTCTrimGet(void) { return hw_read(RTCT) & 0xFFFF; }

void HibernateRTCEnable(void) {
  ctl_update(CTL_RTCEN, CTL_RTCEN);  // seconds counter running
}

void HibernateRTCDisable(void) {
  ctl_update(CTL_RTCEN, 0);  // seconds counter stopped
}

void HibernateRTCSet(uint32_t seconds) {
  hib_write(RTCLD, seconds);  // loads the seconds counter, clears sub-seconds
}

uint32_t HibernateRTCGet(void) { return hw_read(RTCC); }

uint32_t HibernateRTCSSGet(void) { return hw_read(RTCSS) & 0x7FFF; }

void HibernateRTCMatchSet(uint32_t match, uint32_t value) {
  if (match != 0) return;  // this part has match 0 only
  hib_write(RTCM0, value);  // seconds value that raises RTCALT0
}

uint32_t HibernateRTCMatchGet(uint32_t match) { return match == 0 ? hw_read(RTCM0) : 0; }

void HibernateWakeSet(uint32_t wake_flags) {
  ctl_update(kWakeBits, wake_flags);  // RTCWEN, PINWEN, BATWKEN
}

uint32_t HibernateWakeGet(void) { return hw_read(CTL) & kWakeBits; }

void HibernateRequest(void) {
  ctl_update(CTL_HIBREQ, CTL_HIBREQ);  // power down until a wake event
}

void HibernateDataSet(const uint32_t *data, uint32_t count) {
  if (count > kDataWords) count = kDataWords;
  for (uint32_t i = 0; i < count; i++) hib_write(DATA + 4 * i, data[i]);  // paced like any module write
}

void HibernateDataGet(uint32_t *data, uint32_t count) {
  if (count > kDataWords) count = kDataWords;
  for (uint32_t i = 0; i < count; i++) data[i] = hw_read(DATA + 4 * i);
}
