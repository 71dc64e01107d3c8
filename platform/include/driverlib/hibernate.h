// Hibernation module: the battery-backed RTC, its match register, the wake
// logic and the request that powers the rest of the chip down.
#pragma once
#include <cstdint>

#define HIBERNATE_INT_RTC_MATCH_0 0x00000001u
#define HIBERNATE_INT_LOW_BAT     0x00000004u
#define HIBERNATE_INT_PIN_WAKE    0x00000008u
#define HIBERNATE_INT_WR_COMPLETE 0x00000010u
#define HIBERNATE_INT_GPIO_WAKE   0x00000020u
#define HIBERNATE_INT_RESET_WAKE  0x00000040u
#define HIBERNATE_INT_VDDFAIL     0x00000080u

#define HIBERNATE_WAKE_RTC     0x00000008u
#define HIBERNATE_WAKE_PIN     0x00000010u
#define HIBERNATE_WAKE_LOW_BAT 0x00000200u

#define HIBERNATE_OSC_LOWDRIVE  0x00000000u
#define HIBERNATE_OSC_HIGHDRIVE 0x00020000u
#define HIBERNATE_OSC_DISABLE   0x00010000u

// Starts the module's 32.768 kHz oscillator (kept when it already runs). Blocks: up to 4 s. ISR-safe: no.
void HibernateEnableExpClk(uint32_t sys_clk);
// Stops the module's oscillator, and with it the RTC. Blocks: up to 4 s. ISR-safe: no.
void HibernateDisable(void);
// Non-zero when the module was already running (it kept its clock through the reset); zero after a cold power-on. Blocks: no. ISR-safe: yes.
uint32_t HibernateIsActive(void);
// Raw or masked status: wake cause bits (pin, RTC match, low battery, ...). Blocks: no. ISR-safe: yes.
uint32_t HibernateIntStatus(bool masked);
// Clears the given status bits. Blocks: up to 4 s. ISR-safe: no.
void HibernateIntClear(uint32_t flags);
// Unmasks the given status bits as interrupts. Blocks: up to 4 s. ISR-safe: no.
void HibernateIntEnable(uint32_t flags);
// Masks the given status bits. Blocks: up to 4 s. ISR-safe: no.
void HibernateIntDisable(uint32_t flags);
// Pins keep their levels through hibernation. Blocks: up to 4 s. ISR-safe: no.
void HibernateGPIORetentionEnable(void);
// Hands the pins back to their GPIO registers after a wake. Blocks: up to 4 s. ISR-safe: no.
void HibernateGPIORetentionDisable(void);
// Sets the oscillator's drive and clock options. Blocks: up to 4 s. ISR-safe: no.
void HibernateClockConfig(uint32_t config);
// Sets the RTC trim (0x7FFF: none). Blocks: up to 4 s. ISR-safe: no.
void HibernateRTCTrimSet(uint32_t trim);
// The RTC trim. Blocks: no. ISR-safe: yes.
uint32_t HibernateRTCTrimGet(void);
// Starts the RTC counting. Blocks: up to 4 s. ISR-safe: no.
void HibernateRTCEnable(void);
// Stops the RTC. Blocks: up to 4 s. ISR-safe: no.
void HibernateRTCDisable(void);
// Loads the RTC seconds counter. Blocks: up to 4 s. ISR-safe: no.
void HibernateRTCSet(uint32_t seconds);
// The RTC seconds counter. Blocks: no. ISR-safe: yes.
uint32_t HibernateRTCGet(void);
// The RTC sub-seconds counter (1/32768 s). Blocks: no. ISR-safe: yes.
uint32_t HibernateRTCSSGet(void);
// Sets the seconds match of register `match` (0 only). Blocks: up to 4 s. ISR-safe: no.
void HibernateRTCMatchSet(uint32_t match, uint32_t value);
// The seconds match of register `match` (0 only). Blocks: no. ISR-safe: yes.
uint32_t HibernateRTCMatchGet(uint32_t match);
// Selects the wake sources (pin, RTC match, low battery). Blocks: up to 4 s. ISR-safe: no.
void HibernateWakeSet(uint32_t wake_flags);
// The selected wake sources. Blocks: no. ISR-safe: yes.
uint32_t HibernateWakeGet(void);
// Powers the processor down; it comes back through reset on a wake event, and the call returns only when the module ignores the request. Blocks: no. ISR-safe: no.
void HibernateRequest(void);
// The module's battery-backed memory: 16 words that keep their contents
// through hibernation and main-power loss, as long as the module has its
// battery. Writes `count` words from word 0. Blocks: up to 2 RTC clocks
// per word (about 1 ms in all). ISR-safe: no.
void HibernateDataSet(const uint32_t *data, uint32_t count);
// Reads `count` words from word 0. Blocks: no. ISR-safe: yes.
void HibernateDataGet(uint32_t *data, uint32_t count);
