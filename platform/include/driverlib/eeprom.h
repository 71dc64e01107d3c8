// On-chip EEPROM (2 KB, word organised).
#pragma once
#include <cstdint>

#define EEPROM_INIT_OK    0u
#define EEPROM_INIT_ERROR 2u

#define EEPROM_RC_WRBUSY  0x00000020u
#define EEPROM_RC_NOPERM  0x00000010u
#define EEPROM_RC_WKCOPY  0x00000008u
#define EEPROM_RC_WKERASE 0x00000004u
#define EEPROM_RC_WORKING 0x00000001u

uint32_t EEPROMInit(void);
uint32_t EEPROMSizeGet(void);
// address and count in bytes, both multiples of 4.
void EEPROMRead(uint32_t *data, uint32_t address, uint32_t count);
// Returns 0 on success, else the EEPROM_RC_ status bits.
uint32_t EEPROMProgram(uint32_t *data, uint32_t address, uint32_t count);
