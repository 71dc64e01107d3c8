// The FRAM on I2C0 (device 0x50, one-byte word address) and the sampling
// state kept in it. Its map: 0x00-0x03 probe pattern, 0x40-0x57 sampling
// state, 0x80-0xA7 the last sample's energy figures, 0xC0-0xEF the FAT
// volume's append note; the rest is free.
#pragma once
#include <cstdint>

constexpr uint8_t FRAM_I2C_ADDR = 0x50;
constexpr uint8_t FRAM_PROBE_ADDR = 0x00;
constexpr uint8_t FRAM_SYS_SAMP_ADDR = 0x40;
constexpr uint8_t FRAM_SAMPLE_COST_ADDR = 0x80;  // the last sample's energy figures
constexpr uint8_t FRAM_FAT_NOTE_ADDR = 0xC0;     // where the data file ends, an append's state
constexpr uint32_t FRAM_PROBE_OK = 0xAA55AA55;

extern uint8_t framBuf[132];

void i2c0_init(bool bFast);
void i2c0_write(uint8_t uiSlave_add, const uint8_t *ucData, uint32_t uiCount, uint8_t ucStart_add);
void i2c0_read(uint8_t uiSlave_add, uint8_t *ucRec_Data, uint32_t uiCount, uint8_t ucStart_add,
               bool bDummyRead);
uint32_t fram_probe();
void fram_init();
void fram_sys_samp_store();
void fram_sys_samp_retrieve();
// Writes the sampling state to the FRAM, read back and written again when
// it differs, and to the hibernation module's battery-backed words. A FRAM
// that keeps failing leaves the module's copy in charge, logged once.
void storeSysSampFRAMVariables();
// From the FRAM, or from the hibernation module's copy when the FRAM
// fails its probe or has failed before.
void retrieveSysSampFRAMVariables();
// True while the hibernation module keeps the sampling state.
bool fram_fallback_active();
// The card is up: a fall-back found before it is logged now, and later
// ones at once.
void fram_report_fallback();
void initSysSampFRAMVariables();
