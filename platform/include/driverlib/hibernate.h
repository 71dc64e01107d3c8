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

void HibernateEnableExpClk(uint32_t sys_clk);
void HibernateDisable(void);
// Non-zero when the module was already running (it kept its clock through
// the reset); zero after a cold power-on.
uint32_t HibernateIsActive(void);
uint32_t HibernateIntStatus(bool masked);
void HibernateIntClear(uint32_t flags);
void HibernateIntEnable(uint32_t flags);
void HibernateIntDisable(uint32_t flags);
void HibernateGPIORetentionEnable(void);
void HibernateGPIORetentionDisable(void);
void HibernateClockConfig(uint32_t config);
void HibernateRTCTrimSet(uint32_t trim);
uint32_t HibernateRTCTrimGet(void);
void HibernateRTCEnable(void);
void HibernateRTCDisable(void);
void HibernateRTCSet(uint32_t seconds);
uint32_t HibernateRTCGet(void);
uint32_t HibernateRTCSSGet(void);
void HibernateRTCMatchSet(uint32_t match, uint32_t value);
uint32_t HibernateRTCMatchGet(uint32_t match);
void HibernateWakeSet(uint32_t wake_flags);
uint32_t HibernateWakeGet(void);
// Powers the processor down; it comes back through reset on a wake event.
void HibernateRequest(void);
// The module's battery-backed memory: 16 words that keep their contents
// through hibernation and main-power loss, as long as the module has its
// battery. Writes `count` words from word 0. Blocks: up to 2 RTC clocks
// per word (about 1 ms in all). ISR-safe: no.
void HibernateDataSet(const uint32_t *data, uint32_t count);
// Reads `count` words from word 0. Blocks: no. ISR-safe: yes.
void HibernateDataGet(uint32_t *data, uint32_t count);
