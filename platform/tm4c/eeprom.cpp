// On-chip EEPROM: 16-word blocks addressed by EEBLOCK and EEOFFSET.
#include "driverlib/eeprom.h"

#include "driverlib/sysctl.h"
#include "hw.h"
#include "inc/hw_memmap.h"

namespace {

constexpr uint32_t EESIZE = EEPROM_BASE + 0x000;
constexpr uint32_t EEBLOCK = EEPROM_BASE + 0x004;
constexpr uint32_t EEOFFSET = EEPROM_BASE + 0x008;
constexpr uint32_t EERDWRINC = EEPROM_BASE + 0x014;
constexpr uint32_t EEDONE = EEPROM_BASE + 0x018;
constexpr uint32_t EESUPP = EEPROM_BASE + 0x01C;

constexpr uint32_t EESUPP_ERETRY = 1u << 2;
constexpr uint32_t EESUPP_PRETRY = 1u << 3;
constexpr uint32_t kWordsPerBlock = 16;

// A write that needs the copy buffer erased first takes milliseconds.
bool wait_done() { return hw_wait(EEDONE, EEPROM_RC_WORKING, false, kPollLong); }

bool retry_needed() { return (hw_read(EESUPP) & (EESUPP_ERETRY | EESUPP_PRETRY)) != 0; }

void seek(uint32_t address) {
  hw_write(EEBLOCK, address / 4 / kWordsPerBlock);   // block of the first word
  hw_write(EEOFFSET, address / 4 % kWordsPerBlock);  // word within the block
}

// EERDWRINC wraps the offset inside the block; moving on is ours to do.
void next_block_if_needed(uint32_t word) {
  if (word % kWordsPerBlock == 0) {
    hw_write(EEBLOCK, word / kWordsPerBlock);  // next block, offset back at 0
  }
}

}  // namespace

uint32_t EEPROMInit(void) {
  // An interrupted write is finished by the module itself after power-up;
  // wait for it, then reset the module so it reloads its state.
  SysCtlDelay(2);
  if (!wait_done() || retry_needed()) return EEPROM_INIT_ERROR;
  SysCtlPeripheralReset(SYSCTL_PERIPH_EEPROM0);
  SysCtlDelay(2);
  if (!wait_done() || retry_needed()) return EEPROM_INIT_ERROR;
  return EEPROM_INIT_OK;
}

uint32_t EEPROMSizeGet(void) { return (hw_read(EESIZE) & 0xFFFF) * 4; }

void EEPROMRead(uint32_t *data, uint32_t address, uint32_t count) {
  uint32_t word = address / 4;
  seek(address);
  for (uint32_t i = 0; i < count / 4; i++, word++) {
    if (i > 0) next_block_if_needed(word);
    data[i] = hw_read(EERDWRINC);
  }
}

uint32_t EEPROMProgram(uint32_t *data, uint32_t address, uint32_t count) {
  if (!wait_done()) return hw_read(EEDONE);
  uint32_t word = address / 4;
  seek(address);
  for (uint32_t i = 0; i < count / 4; i++, word++) {
    if (i > 0) next_block_if_needed(word);
    hw_write(EERDWRINC, data[i]);  // program one word, then advance the offset
    if (!wait_done()) return hw_read(EEDONE) | EEPROM_RC_WORKING;
    uint32_t status = hw_read(EEDONE);
    if (status) return status;
  }
  return 0;
}
