// I2C0 master transactions for the FRAM, and the sampling state's image.
#include "config/i2c_fram.h"

#include <cstring>

#include "config/error_log.h"
#include "config/system.h"
#include "core/user_io.h"
#include "driverlib/hibernate.h"
#include "driverlib/gpio.h"
#include "driverlib/i2c.h"
#include "driverlib/interrupt.h"
#include "driverlib/pin_map.h"
#include "driverlib/sysctl.h"
#include "inc/hw_memmap.h"

uint8_t framBuf[132];

namespace {

// The FRAM answers within a few bit times; a stuck bus must not hang the
// logger, so each wait gives up after far longer than any transfer takes.
void wait_idle() {
  for (uint32_t i = 0; i < 100000 && I2CMasterBusy(I2C0_BASE); i++) {
  }
}

// The sampling state has a second home in the hibernation module's
// battery-backed words: its image, then a mark that says the FRAM has
// failed and the module's copy is the one to use. Every store writes both,
// so the copy is current whenever the FRAM goes.
constexpr uint32_t kSampWords = sizeof(systemSamplingData) / 4;
constexpr uint32_t kFallbackMark = 0x46414C4C;
constexpr int kFramTries = 3;

bool fram_answers;      // the probe of this start passed
bool fallback;          // the module's copy is the sampling state
const char *to_log;     // a fall-back to log once the card is up
bool card_ready;        // error_store may be used
bool write_failure_logged;

void log_once(const char *text) {
  if (card_ready) error_store(text);
  else if (!to_log) to_log = text;
}

void hib_store() {
  uint32_t w[kSampWords + 1];
  memcpy(w, &sys_samp, sizeof sys_samp);
  w[kSampWords] = fallback ? kFallbackMark : 0;
  HibernateDataSet(w, kSampWords + 1);
}

// The module's copy; true when it carries the fall-back mark.
bool hib_retrieve() {
  uint32_t w[kSampWords + 1];
  HibernateDataGet(w, kSampWords + 1);
  memcpy(&sys_samp, w, sizeof sys_samp);
  return w[kSampWords] == kFallbackMark;
}

// Writes the record to the FRAM and reads it back, a few times; false
// when it never read back as written.
bool fram_store_verified() {
  for (int i = 0; i < kFramTries; i++) {
    fram_sys_samp_store();
    systemSamplingData back;
    i2c0_read(FRAM_I2C_ADDR, reinterpret_cast<uint8_t *>(&back), sizeof back, FRAM_SYS_SAMP_ADDR,
              true);
    if (memcmp(&back, &sys_samp, sizeof back) == 0) {
      if (i > 0 && !write_failure_logged) {
        write_failure_logged = true;
        log_once("FRAM write failed once, written again");
      }
      return true;
    }
  }
  return false;
}

}  // namespace

bool fram_fallback_active() { return fallback; }

void fram_report_fallback() {
  card_ready = true;
  if (to_log) error_store(to_log);
  to_log = nullptr;
}

void i2c0_init(bool bFast) {
  SysCtlPeripheralEnable(SYSCTL_PERIPH_I2C0);
  SysCtlPeripheralReset(SYSCTL_PERIPH_I2C0);
  GPIOPinConfigure(GPIO_PB2_I2C0SCL);
  GPIOPinConfigure(GPIO_PB3_I2C0SDA);
  GPIOPinTypeI2CSCL(GPIO_PORTB_BASE, GPIO_PIN_2);
  GPIOPinTypeI2C(GPIO_PORTB_BASE, GPIO_PIN_3);
  GPIOPadConfigSet(GPIO_PORTB_BASE, GPIO_PIN_2, GPIO_STRENGTH_2MA, GPIO_PIN_TYPE_STD);
  GPIOPadConfigSet(GPIO_PORTB_BASE, GPIO_PIN_3, GPIO_STRENGTH_2MA, GPIO_PIN_TYPE_OD);
  I2CMasterInitExpClk(I2C0_BASE, SysCtlClockGet(), bFast);
  I2CMasterEnable(I2C0_BASE);
}

void i2c0_write(uint8_t uiSlave_add, const uint8_t *ucData, uint32_t uiCount,
                uint8_t ucStart_add) {
  IntMasterDisable();
  I2CMasterSlaveAddrSet(I2C0_BASE, uiSlave_add, false);
  I2CMasterDataPut(I2C0_BASE, ucStart_add);
  wait_idle();
  if (uiCount == 0) {
    I2CMasterControl(I2C0_BASE, I2C_MASTER_CMD_SINGLE_SEND);
    wait_idle();
    IntMasterEnable();
    return;
  }
  I2CMasterControl(I2C0_BASE, I2C_MASTER_CMD_BURST_SEND_START);
  wait_idle();
  I2CMasterDataPut(I2C0_BASE, ucData[0]);
  for (uint32_t i = 1; i < uiCount; i++) {
    I2CMasterControl(I2C0_BASE, I2C_MASTER_CMD_BURST_SEND_CONT);
    wait_idle();
    I2CMasterDataPut(I2C0_BASE, ucData[i]);
  }
  I2CMasterControl(I2C0_BASE, I2C_MASTER_CMD_BURST_SEND_FINISH);
  wait_idle();
  IntMasterEnable();
}

void i2c0_read(uint8_t uiSlave_add, uint8_t *ucRec_Data, uint32_t uiCount, uint8_t ucStart_add,
               bool bDummyRead) {
  if (uiCount == 0) return;
  IntMasterDisable();
  I2CMasterSlaveAddrSet(I2C0_BASE, uiSlave_add, false);
  I2CMasterDataPut(I2C0_BASE, ucStart_add);
  I2CMasterControl(I2C0_BASE, I2C_MASTER_CMD_BURST_SEND_START);
  wait_idle();
  I2CMasterSlaveAddrSet(I2C0_BASE, uiSlave_add, true);
  if (uiCount == 1) {
    I2CMasterControl(I2C0_BASE, I2C_MASTER_CMD_SINGLE_RECEIVE);
    wait_idle();
    ucRec_Data[0] = (uint8_t)I2CMasterDataGet(I2C0_BASE);
    if (bDummyRead) {
      wait_idle();
      ucRec_Data[0] = (uint8_t)I2CMasterDataGet(I2C0_BASE);
    }
  } else {
    I2CMasterControl(I2C0_BASE, I2C_MASTER_CMD_BURST_RECEIVE_START);
    if (bDummyRead) {
      wait_idle();
      ucRec_Data[0] = (uint8_t)I2CMasterDataGet(I2C0_BASE);
    }
    wait_idle();
    ucRec_Data[0] = (uint8_t)I2CMasterDataGet(I2C0_BASE);
    for (uint32_t i = 1; i + 1 < uiCount; i++) {
      I2CMasterControl(I2C0_BASE, I2C_MASTER_CMD_BURST_RECEIVE_CONT);
      wait_idle();
      ucRec_Data[i] = (uint8_t)I2CMasterDataGet(I2C0_BASE);
    }
    I2CMasterControl(I2C0_BASE, I2C_MASTER_CMD_BURST_RECEIVE_FINISH);
    wait_idle();
    ucRec_Data[uiCount - 1] = (uint8_t)I2CMasterDataGet(I2C0_BASE);
  }
  wait_idle();
  IntMasterEnable();
}

uint32_t fram_probe() {
  static const uint8_t pattern[4] = {0x55, 0xAA, 0x55, 0xAA};
  i2c0_write(FRAM_I2C_ADDR, pattern, 4, FRAM_PROBE_ADDR);
  memset(framBuf, 0, 4);
  i2c0_read(FRAM_I2C_ADDR, framBuf, 4, FRAM_PROBE_ADDR, true);
  return memcmp(framBuf, pattern, 4) == 0 ? FRAM_PROBE_OK : 0;
}

void fram_init() {
  i2c0_init(true);
  fram_answers = fram_probe() == FRAM_PROBE_OK;
  if (!fram_answers) uprintf("\nERROR: FRAM fails probe - switch to HIB module\n");
}

void fram_sys_samp_store() {
  i2c0_write(FRAM_I2C_ADDR, reinterpret_cast<const uint8_t *>(&sys_samp), sizeof sys_samp,
             FRAM_SYS_SAMP_ADDR);
}

void fram_sys_samp_retrieve() {
  i2c0_read(FRAM_I2C_ADDR, reinterpret_cast<uint8_t *>(&sys_samp), sizeof sys_samp,
            FRAM_SYS_SAMP_ADDR, true);
}

void storeSysSampFRAMVariables() {
  if (sys_samp.initNum != SYS_SAMP_INIT_NUM) {
    uprintf("FRAM sys_samp.initNum is not 0x55AA55AA\n");
    sys_samp.initNum = SYS_SAMP_INIT_NUM;
  }
  if (!fallback && !fram_store_verified()) {
    fallback = true;
    write_failure_logged = true;
    log_once("FRAM write failed, sampling state kept in the hibernation module");
  }
  hib_store();
}

void retrieveSysSampFRAMVariables() {
  bool marked = hib_retrieve();
  if (!fram_answers || marked) {
    // The module's copy is newer than anything the FRAM holds.
    if (!marked) log_once("FRAM fails probe, sampling state kept in the hibernation module");
    fallback = true;
  } else {
    fram_sys_samp_retrieve();
  }
  if (sys_samp.initNum != SYS_SAMP_INIT_NUM) {
    uprintf("FRAM sys_samp.initNum is not 0x55AA55AA\n");
    initSysSampFRAMVariables();
  }
  // Not deployed, with a FRAM that answers again: it gets its next chance.
  if (fallback && fram_answers && sys_samp.state == IDLE) {
    fallback = false;
    storeSysSampFRAMVariables();
  }
}

void initSysSampFRAMVariables() {
  sys_samp.state = IDLE;
  sys_samp.nextWakeUp = 0;
  sys_samp.next_gdata_fptr = 0;
  sys_samp.current_sample = 0;
  sys_samp.AD24_std = 0.0f;
  sys_samp.initNum = SYS_SAMP_INIT_NUM;
  storeSysSampFRAMVariables();
}
