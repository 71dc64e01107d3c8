// System control: main oscillator and PLL, clock readback, peripheral gating.
#include "driverlib/sysctl.h"

#include "hw.h"
#include "inc/hw_memmap.h"

namespace {

constexpr uint32_t RIS = SYSCTL_BASE + 0x050;
constexpr uint32_t MISC = SYSCTL_BASE + 0x058;
constexpr uint32_t RCC = SYSCTL_BASE + 0x060;
constexpr uint32_t RCC2 = SYSCTL_BASE + 0x070;
constexpr uint32_t PLLSTAT = SYSCTL_BASE + 0x168;
// Per-peripheral register banks; the peripheral ID holds the offset within.
constexpr uint32_t PP_BANK = SYSCTL_BASE + 0x300;
constexpr uint32_t SR_BANK = SYSCTL_BASE + 0x500;
constexpr uint32_t RCGC_BANK = SYSCTL_BASE + 0x600;
constexpr uint32_t PR_BANK = SYSCTL_BASE + 0xA00;

constexpr uint32_t RIS_PLLLRIS = 1u << 6;
constexpr uint32_t RIS_MOSCPUPRIS = 1u << 8;
constexpr uint32_t PLLSTAT_LOCK = 1u << 0;

constexpr uint32_t RCC_MOSCDIS = 1u << 0;
constexpr uint32_t RCC_OSCSRC_M = 3u << 4;
constexpr uint32_t RCC_XTAL_M = 0x1Fu << 6;
constexpr uint32_t RCC_BYPASS = 1u << 11;
constexpr uint32_t RCC_PWRDN = 1u << 13;
constexpr uint32_t RCC_USESYSDIV = 1u << 22;
constexpr uint32_t RCC_SYSDIV_M = 0xFu << 23;

constexpr uint32_t RCC2_OSCSRC2_M = 7u << 4;
constexpr uint32_t RCC2_BYPASS2 = 1u << 11;
constexpr uint32_t RCC2_PWRDN2 = 1u << 13;
constexpr uint32_t RCC2_SYSDIV2LSB = 1u << 22;
constexpr uint32_t RCC2_SYSDIV2_M = 0x3Fu << 23;
constexpr uint32_t RCC2_DIV400 = 1u << 30;
constexpr uint32_t RCC2_USERCC2 = 1u << 31;

// Crystal frequencies by RCC.XTAL value, from 0x06 (4 MHz) to 0x1A (25 MHz).
constexpr uint32_t kXtalHz[] = {
    4000000,  4096000,  4915200,  5000000,  5120000,  6000000,  6144000,
    7372800,  8000000,  8192000,  10000000, 12000000, 12288000, 13560000,
    14318180, 16000000, 16384000, 18000000, 20000000, 24000000, 25000000,
};
constexpr uint32_t kXtalFirst = 0x06;

constexpr uint32_t kPioscHz = 16000000;
constexpr uint32_t kLfioscHz = 30000;  // nominal; it varies widely
constexpr uint32_t kRtcOscHz = 32768;
constexpr uint32_t kPllHz = 400000000;

uint32_t xtal_hz(uint32_t rcc) {
  uint32_t x = (rcc & RCC_XTAL_M) >> 6;
  if (x < kXtalFirst || x - kXtalFirst >= sizeof kXtalHz / sizeof kXtalHz[0]) return 0;
  return kXtalHz[x - kXtalFirst];
}

uint32_t bank_reg(uint32_t bank, uint32_t periph) { return bank + ((periph >> 8) & 0xFF); }
uint32_t bank_bit(uint32_t periph) { return 1u << (periph & 0x1F); }

}  // namespace

void SysCtlClockSet(uint32_t config) {
  uint32_t rcc = hw_read(RCC);
  uint32_t rcc2 = hw_read(RCC2);

  // Run from the raw oscillator while the PLL is reprogrammed.
  rcc |= RCC_BYPASS;
  rcc &= ~RCC_USESYSDIV;
  rcc2 |= RCC2_BYPASS2 | RCC2_USERCC2;
  hw_write(RCC, rcc);    // bypass the PLL, divider off
  hw_write(RCC2, rcc2);  // RCC2 fields in charge, bypassed as well

  // The main oscillator is off out of reset; start it before selecting it.
  bool want_main = (config & RCC_OSCSRC_M) == SYSCTL_OSC_MAIN;
  if (want_main && (rcc & RCC_MOSCDIS)) {
    rcc &= ~RCC_MOSCDIS;
    hw_write(RCC, rcc);  // main oscillator on
    // No crystal: stay on the internal oscillator rather than stop the clock.
    if (!hw_wait(RIS, RIS_MOSCPUPRIS, true, kPollLong)) return;
  }

  rcc = (rcc & ~(RCC_XTAL_M | RCC_OSCSRC_M)) | (config & (RCC_XTAL_M | RCC_OSCSRC_M));
  rcc2 = (rcc2 & ~RCC2_OSCSRC2_M) | (config & RCC_OSCSRC_M);
  bool use_pll = (config & RCC_BYPASS) == 0;
  if (use_pll) {
    rcc &= ~RCC_PWRDN;
    rcc2 &= ~RCC2_PWRDN2;
  } else {
    rcc |= RCC_PWRDN;
    rcc2 |= RCC2_PWRDN2;
  }
  // SYSDIV_n values carry the divisor minus one in RCC.SYSDIV's place; the
  // RCC2 form (bit 31) carries SYSDIV2 with its LSB and DIV400 directly.
  rcc2 &= ~(RCC2_SYSDIV2_M | RCC2_SYSDIV2LSB | RCC2_DIV400);
  if (config & RCC2_USERCC2) {
    rcc2 |= config & (RCC2_SYSDIV2_M | RCC2_SYSDIV2LSB | RCC2_DIV400);
  } else {
    rcc2 |= config & RCC_SYSDIV_M;
  }
  rcc &= ~RCC_SYSDIV_M;
  rcc |= config & RCC_SYSDIV_M;
  if (config & (RCC2_USERCC2 | RCC_USESYSDIV)) rcc |= RCC_USESYSDIV;

  hw_write(MISC, RIS_PLLLRIS);     // clear a stale PLL-lock flag
  hw_write(RCC, rcc);              // crystal, source, PLL power; still bypassed
  hw_write(RCC2, rcc2);            // source, PLL power and divider; still bypassed

  if (use_pll) {
    // Lock takes well under a millisecond; without it the PLL stays bypassed.
    bool locked = hw_wait(RIS, RIS_PLLLRIS, true, kPollByte) ||
                  hw_wait(PLLSTAT, PLLSTAT_LOCK, true, kPollShort);
    if (!locked) {
      hw_write(RCC, rcc & ~RCC_USESYSDIV);  // no lock: stay on the oscillator, undivided
      return;
    }
    rcc &= ~RCC_BYPASS;
    rcc2 &= ~RCC2_BYPASS2;
  }
  hw_write(RCC, rcc);    // divider in use, PLL no longer bypassed
  hw_write(RCC2, rcc2);  // the same for the RCC2 fields, which rule
}

uint32_t SysCtlClockGet(void) {
  uint32_t rcc = hw_read(RCC);
  uint32_t rcc2 = hw_read(RCC2);
  bool use_rcc2 = (rcc2 & RCC2_USERCC2) != 0;

  uint32_t src = use_rcc2 ? (rcc2 & RCC2_OSCSRC2_M) >> 4 : (rcc & RCC_OSCSRC_M) >> 4;
  uint32_t clk;
  switch (src) {
    case 0: clk = xtal_hz(rcc); break;
    case 1: clk = kPioscHz; break;
    case 2: clk = kPioscHz / 4; break;
    case 3: clk = kLfioscHz; break;
    case 7: clk = kRtcOscHz; break;
    default: return 0;
  }

  bool bypass = use_rcc2 ? (rcc2 & RCC2_BYPASS2) != 0 : (rcc & RCC_BYPASS) != 0;
  if (!bypass) clk = (use_rcc2 && (rcc2 & RCC2_DIV400)) ? kPllHz : kPllHz / 2;

  if (rcc & RCC_USESYSDIV) {
    uint32_t div;
    if (use_rcc2) {
      div = (rcc2 & RCC2_SYSDIV2_M) >> 23;
      if (!bypass && (rcc2 & RCC2_DIV400)) div = (div << 1) | ((rcc2 & RCC2_SYSDIV2LSB) ? 1 : 0);
    } else {
      div = (rcc & RCC_SYSDIV_M) >> 23;
    }
    clk /= div + 1;
  }
  return clk;
}

void SysCtlPeripheralEnable(uint32_t periph) {
  hw_set(bank_reg(RCGC_BANK, periph), bank_bit(periph));  // run-mode clock on
  // A peripheral needs a few clocks after gating before its registers answer.
  (void)hw_read(bank_reg(RCGC_BANK, periph));
  (void)hw_read(bank_reg(RCGC_BANK, periph));
}

void SysCtlPeripheralDisable(uint32_t periph) {
  hw_clear(bank_reg(RCGC_BANK, periph), bank_bit(periph));  // run-mode clock off
}

void SysCtlPeripheralReset(uint32_t periph) {
  hw_set(bank_reg(SR_BANK, periph), bank_bit(periph));  // hold in reset
  SysCtlDelay(16);
  hw_clear(bank_reg(SR_BANK, periph), bank_bit(periph));  // release
  SysCtlDelay(16);
}

bool SysCtlPeripheralReady(uint32_t periph) {
  return (hw_read(bank_reg(PR_BANK, periph)) & bank_bit(periph)) != 0;
}

bool SysCtlPeripheralPresent(uint32_t periph) {
  return (hw_read(bank_reg(PP_BANK, periph)) & bank_bit(periph)) != 0;
}

// ---- reset cause -------------------------------------------------------------

namespace {
constexpr uint32_t RESC = SYSCTL_BASE + 0x05C;
constexpr uint32_t RESC_CAUSES = 0x3Fu;  // EXT, POR, BOR, WDT0, SW, WDT1
}  // namespace

uint32_t SysCtlResetCauseGet(void) { return hw_read(RESC) & RESC_CAUSES; }

void SysCtlResetCauseClear(uint32_t causes) {
  hw_write(RESC, hw_read(RESC) & ~causes);  // a cause is cleared by writing it 0
}
