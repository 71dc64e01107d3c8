// SSI as SPI master.
#include "driverlib/ssi.h"

#include "hw.h"

namespace {

constexpr uint32_t CR0 = 0x000;
constexpr uint32_t CR1 = 0x004;
constexpr uint32_t DR = 0x008;
constexpr uint32_t SR = 0x00C;
constexpr uint32_t CPSR = 0x010;

constexpr uint32_t CR1_SSE = 1u << 1;
constexpr uint32_t CR1_MS = 1u << 2;
constexpr uint32_t SR_TNF = 1u << 1;
constexpr uint32_t SR_RNE = 1u << 2;
constexpr uint32_t SR_BSY = 1u << 4;

}  // namespace

void SSIConfigSetExpClk(uint32_t base, uint32_t sys_clk, uint32_t protocol, uint32_t mode,
                        uint32_t bit_rate, uint32_t data_width) {
  if (bit_rate == 0 || data_width < 4 || data_width > 16) return;
  // rate = clk / (CPSDVSR x (1 + SCR)), CPSDVSR even in 2..254, SCR 0..255.
  // Round the divisor up: the card and the ADC must never be clocked faster
  // than asked.
  uint32_t prescale = 0;
  uint32_t div = 0;
  do {
    prescale += 2;
    uint32_t per_prescale = prescale * bit_rate;
    div = (sys_clk + per_prescale - 1) / per_prescale;
  } while (div > 256 && prescale < 254);
  if (div == 0) div = 1;
  if (div > 256) div = 256;

  hw_write(base + CR1, mode == SSI_MODE_MASTER ? 0 : CR1_MS);  // disabled while set up; master
  hw_write(base + CPSR, prescale);                             // clock prescale divisor
  hw_write(base + CR0, ((div - 1) << 8)                        // serial clock rate SCR
                           | ((protocol & 3) << 6)             // SPH, SPO
                           | (data_width - 1));                // Freescale SPI, frame size
}

void SSIEnable(uint32_t base) {
  hw_set(base + CR1, CR1_SSE);  // port on
}

void SSIDisable(uint32_t base) {
  hw_clear(base + CR1, CR1_SSE);  // port off
}

void SSIDataPut(uint32_t base, uint32_t data) {
  if (!hw_wait(base + SR, SR_TNF, true, kPollByte)) return;
  hw_write(base + DR, data);  // queue one frame
}

int32_t SSIDataPutNonBlocking(uint32_t base, uint32_t data) {
  if (!(hw_read(base + SR) & SR_TNF)) return 0;
  hw_write(base + DR, data);  // queue one frame
  return 1;
}

void SSIDataGet(uint32_t base, uint32_t *data) {
  // As master every frame sent brings one back within its own bit times;
  // none by then (the port is off, nothing was sent) reads as an idle line.
  if (!hw_wait(base + SR, SR_RNE, true, kPollByte)) {
    *data = 0xFFFFFFFFu;
    return;
  }
  *data = hw_read(base + DR);
}

int32_t SSIDataGetNonBlocking(uint32_t base, uint32_t *data) {
  if (!(hw_read(base + SR) & SR_RNE)) return 0;
  *data = hw_read(base + DR);
  return 1;
}

bool SSIBusy(uint32_t base) { return (hw_read(base + SR) & SR_BSY) != 0; }
