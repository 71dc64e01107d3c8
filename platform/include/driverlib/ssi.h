// Synchronous serial interface (SPI master use only).
#pragma once
#include <cstdint>

#define SSI_FRF_MOTO_MODE_0 0x00000000u
#define SSI_FRF_MOTO_MODE_1 0x00000002u
#define SSI_FRF_MOTO_MODE_2 0x00000001u
#define SSI_FRF_MOTO_MODE_3 0x00000003u
#define SSI_MODE_MASTER     0x00000000u

// Sets frame format, master mode, bit rate and frame width; the port is left disabled. Blocks: no. ISR-safe: yes.
void SSIConfigSetExpClk(uint32_t base, uint32_t sys_clk, uint32_t protocol,
                        uint32_t mode, uint32_t bit_rate, uint32_t data_width);
// Switches the port on. Blocks: no. ISR-safe: yes.
void SSIEnable(uint32_t base);
// Switches the port off; frames still queued are not sent. Blocks: no. ISR-safe: yes.
void SSIDisable(uint32_t base);
// Queues one frame, waiting for room; dropped when the FIFO does not drain (port off). Blocks: up to 0.1 s. ISR-safe: yes.
void SSIDataPut(uint32_t base, uint32_t data);
// Queues one frame: 1, or 0 when the transmit FIFO is full. Blocks: no. ISR-safe: yes.
int32_t SSIDataPutNonBlocking(uint32_t base, uint32_t data);
// Takes one received frame, waiting for it; 0xFFFFFFFF (an idle line) when none came. Blocks: up to 0.1 s. ISR-safe: yes.
void SSIDataGet(uint32_t base, uint32_t *data);
// Takes one received frame: 1 and the frame, or 0 when the receive FIFO is empty. Blocks: no. ISR-safe: yes.
int32_t SSIDataGetNonBlocking(uint32_t base, uint32_t *data);
// True while frames are queued or being shifted. Blocks: no. ISR-safe: yes.
bool SSIBusy(uint32_t base);
