// Synchronous serial interface (SPI master use only).
#pragma once
#include <cstdint>

#define SSI_FRF_MOTO_MODE_0 0x00000000u
#define SSI_FRF_MOTO_MODE_1 0x00000002u
#define SSI_FRF_MOTO_MODE_2 0x00000001u
#define SSI_FRF_MOTO_MODE_3 0x00000003u
#define SSI_MODE_MASTER     0x00000000u

void SSIConfigSetExpClk(uint32_t base, uint32_t sys_clk, uint32_t protocol,
                        uint32_t mode, uint32_t bit_rate, uint32_t data_width);
void SSIEnable(uint32_t base);
void SSIDisable(uint32_t base);
// Waits for room in the transmit FIFO, then queues one frame.
void SSIDataPut(uint32_t base, uint32_t data);
int32_t SSIDataPutNonBlocking(uint32_t base, uint32_t data);
// Waits for one received frame.
void SSIDataGet(uint32_t base, uint32_t *data);
// Returns 1 and the frame, or 0 when the receive FIFO is empty.
int32_t SSIDataGetNonBlocking(uint32_t base, uint32_t *data);
bool SSIBusy(uint32_t base);
