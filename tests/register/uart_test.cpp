// UART divisors and frame format against the data sheet's formulas.
#include "driverlib/uart.h"
#include "inc/hw_memmap.h"
#include "register_test.h"

namespace {

constexpr uint32_t IBRD = UART0_BASE + 0x024, FBRD = UART0_BASE + 0x028;
constexpr uint32_t LCRH = UART0_BASE + 0x02C, CTL = UART0_BASE + 0x030;
constexpr uint32_t FR = UART0_BASE + 0x018, DR = UART0_BASE + 0x000;
constexpr uint32_t k8N1 = UART_CONFIG_WLEN_8 | UART_CONFIG_STOP_ONE | UART_CONFIG_PAR_NONE;

class Uart : public RegisterTest {
 protected:
  void expect_divisor(uint32_t clk, uint32_t baud, uint32_t ibrd, uint32_t fbrd) {
    UARTConfigSetExpClk(UART0_BASE, clk, baud, k8N1);
    EXPECT_EQ(reg(IBRD), ibrd) << clk << " Hz, " << baud << " baud";
    EXPECT_EQ(reg(FBRD), fbrd) << clk << " Hz, " << baud << " baud";
  }
};

TEST_F(Uart, Divisor115200From16MHz) { expect_divisor(16000000, 115200, 8, 44); }
TEST_F(Uart, Divisor9600From16MHz) { expect_divisor(16000000, 9600, 104, 11); }
TEST_F(Uart, Divisor115200From50MHz) { expect_divisor(50000000, 115200, 27, 8); }

TEST_F(Uart, EightNoParityOneStopWithFifosAndUartOn) {
  UARTConfigSetExpClk(UART0_BASE, 16000000, 115200, k8N1);
  EXPECT_EQ(reg(LCRH), 0x60u | 0x10u);  // WLEN 8 bits, FEN; no PEN, STP2, BRK
  EXPECT_EQ(reg(CTL) & 0x321u, 0x301u);  // RXE, TXE, UARTEN on; HSE off (divide by 16)
}

TEST_F(Uart, DivisorLatchedByLcrhWhileUartOff) {
  reg(CTL) = 0x301;
  UARTConfigSetExpClk(UART0_BASE, 16000000, 9600, k8N1);
  int off = regfile::first_write(CTL);
  ASSERT_GE(off, 0);
  EXPECT_EQ(regfile::log()[off].value & 1u, 0u) << "UART disabled first";
  int ibrd = regfile::first_write(IBRD), fbrd = regfile::first_write(FBRD);
  int lcrh = regfile::first_write(LCRH, std::max(ibrd, fbrd));
  EXPECT_LT(off, ibrd);
  EXPECT_GT(lcrh, fbrd) << "the LCRH write after the divisor makes it take effect";
}

TEST_F(Uart, ReceiveAndTransmitFollowTheFlags) {
  EXPECT_EQ(UARTCharGetNonBlocking(UART0_BASE), -1);  // RXFE preset
  reg(FR) = 0;                                         // a byte waiting, room to send
  reg(DR) = 0x541;                                     // framing error bit above the byte
  EXPECT_EQ(UARTCharGetNonBlocking(UART0_BASE), 0x41);
  EXPECT_TRUE(UARTCharPutNonBlocking(UART0_BASE, 'x'));
  reg(FR) = 1u << 5;  // TXFF
  EXPECT_FALSE(UARTCharPutNonBlocking(UART0_BASE, 'y'));
  EXPECT_EQ(regfile::writes_to(DR), std::vector<uint32_t>{'x'});
}

TEST_F(Uart, InterruptMaskAndClear) {
  UARTIntEnable(UART0_BASE, UART_INT_RX | UART_INT_RT);
  EXPECT_EQ(reg(UART0_BASE + 0x038), 0x50u);
  UARTIntClear(UART0_BASE, UART_INT_TX);
  EXPECT_EQ(regfile::writes_to(UART0_BASE + 0x044), std::vector<uint32_t>{0x20});
  reg(UART0_BASE + 0x03C) = 0x70;  // RIS
  reg(UART0_BASE + 0x040) = 0x10;  // MIS
  EXPECT_EQ(UARTIntStatus(UART0_BASE, false), 0x70u);
  EXPECT_EQ(UARTIntStatus(UART0_BASE, true), 0x10u);
}

TEST_F(Uart, FifoLevelsAndClockSource) {
  UARTFIFOLevelSet(UART3_BASE, UART_FIFO_TX1_8, UART_FIFO_RX4_8);
  EXPECT_EQ(reg(UART3_BASE + 0x034), 0x10u);
  UARTClockSourceSet(UART4_BASE, UART_CLOCK_PIOSC);
  EXPECT_EQ(reg(UART4_BASE + 0xFC8), 5u);
}

}  // namespace
