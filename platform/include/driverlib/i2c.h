// I2C master.
#pragma once
#include <cstdint>

#define I2C_MASTER_CMD_SINGLE_SEND            0x00000007u
#define I2C_MASTER_CMD_SINGLE_RECEIVE         0x00000007u
#define I2C_MASTER_CMD_BURST_SEND_START       0x00000003u
#define I2C_MASTER_CMD_BURST_SEND_CONT        0x00000001u
#define I2C_MASTER_CMD_BURST_SEND_FINISH      0x00000005u
#define I2C_MASTER_CMD_BURST_SEND_ERROR_STOP  0x00000004u
#define I2C_MASTER_CMD_BURST_RECEIVE_START    0x0000000Bu
#define I2C_MASTER_CMD_BURST_RECEIVE_CONT     0x00000009u
#define I2C_MASTER_CMD_BURST_RECEIVE_FINISH   0x00000005u
#define I2C_MASTER_CMD_BURST_RECEIVE_ERROR_STOP 0x00000004u

#define I2C_MASTER_ERR_NONE      0x00000000u
#define I2C_MASTER_ERR_ADDR_ACK  0x00000004u
#define I2C_MASTER_ERR_DATA_ACK  0x00000008u
#define I2C_MASTER_ERR_ARB_LOST  0x00000010u

// Sets the bus clock (fast: 400 kbit/s, else 100) and enables the master. Blocks: no. ISR-safe: no.
void I2CMasterInitExpClk(uint32_t base, uint32_t sys_clk, bool fast);
// Switches the master on. Blocks: no. ISR-safe: no.
void I2CMasterEnable(uint32_t base);
// Switches the master off. Blocks: no. ISR-safe: no.
void I2CMasterDisable(uint32_t base);
// Sets the 7-bit slave address of the next transfer and its direction (receive: a read). Blocks: no. ISR-safe: no.
void I2CMasterSlaveAddrSet(uint32_t base, uint8_t slave_addr, bool receive);
// Loads the byte the next transfer sends. Blocks: no. ISR-safe: no.
void I2CMasterDataPut(uint32_t base, uint8_t data);
// The byte the last transfer received. Blocks: no. ISR-safe: no.
uint32_t I2CMasterDataGet(uint32_t base);
// Starts a transfer step (an I2C_MASTER_CMD_ value); returns once the master reports busy, before the step ends. Blocks: up to 10 us. ISR-safe: no.
void I2CMasterControl(uint32_t base, uint32_t cmd);
// True while the master's transfer step runs. Blocks: no. ISR-safe: yes.
bool I2CMasterBusy(uint32_t base);
// True while any master holds the bus. Blocks: no. ISR-safe: yes.
bool I2CMasterBusBusy(uint32_t base);
// Error of the last step: I2C_MASTER_ERR_NONE, or address/data NACK and arbitration-lost bits. Blocks: no. ISR-safe: yes.
uint32_t I2CMasterErr(uint32_t base);
