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

// Brings the EEPROM up after reset and completes an interrupted operation; EEPROM_INIT_OK or EEPROM_INIT_ERROR. Blocks: up to 4 s. ISR-safe: no.
uint32_t EEPROMInit(void);
// Size of the EEPROM in bytes. Blocks: no. ISR-safe: yes.
uint32_t EEPROMSizeGet(void);
// Reads count bytes from address (both multiples of 4) into data. Blocks: no. ISR-safe: no.
void EEPROMRead(uint32_t *data, uint32_t address, uint32_t count);
// Programs count bytes at address (both multiples of 4); 0, else the EEPROM_RC_ status bits of the word that failed. Blocks: up to 2 s per word. ISR-safe: no.
uint32_t EEPROMProgram(uint32_t *data, uint32_t address, uint32_t count);
