// I2C master.
#include "driverlib/i2c.h"

#include "hw.h"

namespace {

constexpr uint32_t MSA = 0x000;
constexpr uint32_t MCS = 0x004;
constexpr uint32_t MDR = 0x008;
constexpr uint32_t MTPR = 0x00C;
constexpr uint32_t MCR = 0x020;

constexpr uint32_t MCS_BUSY = 1u << 0;
constexpr uint32_t MCS_ERROR = 1u << 1;
constexpr uint32_t MCS_ADRACK = 1u << 2;
constexpr uint32_t MCS_DATACK = 1u << 3;
constexpr uint32_t MCS_ARBLST = 1u << 4;
constexpr uint32_t MCS_BUSBSY = 1u << 6;
constexpr uint32_t MCR_MFE = 1u << 4;

// SCL low and high periods, in timer periods, fixed by the controller.
constexpr uint32_t kSclLp = 6;
constexpr uint32_t kSclHp = 4;

}  // namespace

void I2CMasterInitExpClk(uint32_t base, uint32_t sys_clk, bool fast) {
  I2CMasterEnable(base);
  uint32_t scl = fast ? 400000 : 100000;
  // TPR = clk / (2 x (LP + HP) x SCL) - 1
  uint32_t tpr = sys_clk / (2 * (kSclLp + kSclHp) * scl) - 1;
  hw_write(base + MTPR, tpr & 0x7F);  // SCL period in system clocks, less one
}

void I2CMasterEnable(uint32_t base) {
  hw_set(base + MCR, MCR_MFE);  // master function on
}

void I2CMasterDisable(uint32_t base) {
  hw_clear(base + MCR, MCR_MFE);  // master function off
}

void I2CMasterSlaveAddrSet(uint32_t base, uint8_t slave_addr, bool receive) {
  hw_write(base + MSA, (uint32_t(slave_addr & 0x7F) << 1) | (receive ? 1 : 0));  // address, R/S
}

void I2CMasterDataPut(uint32_t base, uint8_t data) {
  hw_write(base + MDR, data);  // next byte to send
}

uint32_t I2CMasterDataGet(uint32_t base) { return hw_read(base + MDR) & 0xFF; }

void I2CMasterControl(uint32_t base, uint32_t cmd) {
  hw_write(base + MCS, cmd & 0x1F);  // RUN, START, STOP, ACK, HS
  // BUSY rises a few clocks after the write; until then a poll of
  // I2CMasterBusy would report the transfer as already finished.
  hw_wait(base + MCS, MCS_BUSY, true, kPollShort / 10);
}

bool I2CMasterBusy(uint32_t base) { return (hw_read(base + MCS) & MCS_BUSY) != 0; }

bool I2CMasterBusBusy(uint32_t base) { return (hw_read(base + MCS) & MCS_BUSBSY) != 0; }

uint32_t I2CMasterErr(uint32_t base) {
  uint32_t s = hw_read(base + MCS);
  if (s & MCS_BUSY) return I2C_MASTER_ERR_NONE;
  if (s & (MCS_ERROR | MCS_ARBLST)) return s & (MCS_ARBLST | MCS_DATACK | MCS_ADRACK);
  return I2C_MASTER_ERR_NONE;
}
