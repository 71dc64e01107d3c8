// UARTs: baud divisors, frame format, FIFOs, interrupts and the data path.
#include "driverlib/uart.h"

#include "hw.h"

namespace {

constexpr uint32_t DR = 0x000;
constexpr uint32_t RSR_ECR = 0x004;
constexpr uint32_t FR = 0x018;
constexpr uint32_t IBRD = 0x024;
constexpr uint32_t FBRD = 0x028;
constexpr uint32_t LCRH = 0x02C;
constexpr uint32_t CTL = 0x030;
constexpr uint32_t IFLS = 0x034;
constexpr uint32_t IM = 0x038;
constexpr uint32_t RIS = 0x03C;
constexpr uint32_t MIS = 0x040;
constexpr uint32_t ICR = 0x044;
constexpr uint32_t CC = 0xFC8;

constexpr uint32_t FR_BUSY = 1u << 3;
constexpr uint32_t FR_RXFE = 1u << 4;
constexpr uint32_t FR_TXFF = 1u << 5;
constexpr uint32_t LCRH_FEN = 1u << 4;
constexpr uint32_t LCRH_FORMAT = 0xEE;  // SPS, WLEN, STP2, EPS, PEN
constexpr uint32_t CTL_UARTEN = 1u << 0;
constexpr uint32_t CTL_HSE = 1u << 5;
constexpr uint32_t CTL_TXE = 1u << 8;
constexpr uint32_t CTL_RXE = 1u << 9;
constexpr uint32_t kAllInts = 0x17FF;

}  // namespace

void UARTClockSourceSet(uint32_t base, uint32_t source) {
  hw_write(base + CC, source & 0xF);  // 0 = system clock, 5 = PIOSC
}

void UARTConfigSetExpClk(uint32_t base, uint32_t uart_clk, uint32_t baud, uint32_t config) {
  if (baud == 0) return;
  UARTDisable(base);
  // BRD = clk / (16 x baud), held as 64ths and rounded to the nearest one.
  uint32_t div64 = uint32_t((uint64_t(uart_clk) * 8 / baud + 1) / 2);
  hw_clear(base + CTL, CTL_HSE);         // divide the clock by 16
  hw_write(base + IBRD, div64 / 64);     // integer part of the divisor
  hw_write(base + FBRD, div64 % 64);     // fraction, in 64ths
  hw_write(base + LCRH, config & LCRH_FORMAT);  // frame format; latches the divisor
  hw_write(base + RSR_ECR, 0);           // clear framing, parity, break and overrun
  UARTEnable(base);
}

void UARTFIFOLevelSet(uint32_t base, uint32_t tx_level, uint32_t rx_level) {
  hw_write(base + IFLS, (tx_level & 0x7) | (rx_level & 0x38));  // FIFO interrupt levels
}

void UARTFIFOEnable(uint32_t base) {
  hw_set(base + LCRH, LCRH_FEN);  // 16-byte FIFOs on
}

void UARTFIFODisable(uint32_t base) {
  hw_clear(base + LCRH, LCRH_FEN);  // one-byte holding registers
}

void UARTEnable(uint32_t base) {
  hw_set(base + LCRH, LCRH_FEN);                            // FIFOs on
  hw_set(base + CTL, CTL_UARTEN | CTL_TXE | CTL_RXE);       // transmitter, receiver, UART on
}

void UARTDisable(uint32_t base) {
  // Let the last frame leave before the shifter stops.
  hw_wait(base + FR, FR_BUSY, false, kPollByte);
  hw_clear(base + LCRH, LCRH_FEN);                          // flush the FIFOs
  hw_clear(base + CTL, CTL_UARTEN | CTL_TXE | CTL_RXE);     // UART off
}

void UARTIntEnable(uint32_t base, uint32_t flags) {
  hw_set(base + IM, flags & kAllInts);  // these sources reach the NVIC
}

void UARTIntDisable(uint32_t base, uint32_t flags) {
  hw_clear(base + IM, flags & kAllInts);  // these sources masked
}

uint32_t UARTIntStatus(uint32_t base, bool masked) {
  return hw_read(base + (masked ? MIS : RIS));
}

void UARTIntClear(uint32_t base, uint32_t flags) {
  hw_write(base + ICR, flags & kAllInts);  // write-one-to-clear
}

bool UARTCharsAvail(uint32_t base) { return (hw_read(base + FR) & FR_RXFE) == 0; }

bool UARTSpaceAvail(uint32_t base) { return (hw_read(base + FR) & FR_TXFF) == 0; }

int32_t UARTCharGetNonBlocking(uint32_t base) {
  if (!UARTCharsAvail(base)) return -1;
  return int32_t(hw_read(base + DR) & 0xFF);
}

int32_t UARTCharGet(uint32_t base) {
  if (!hw_wait(base + FR, FR_RXFE, false, kPollLong)) return -1;
  return int32_t(hw_read(base + DR) & 0xFF);
}

bool UARTCharPutNonBlocking(uint32_t base, unsigned char c) {
  if (!UARTSpaceAvail(base)) return false;
  hw_write(base + DR, c);  // queue one byte
  return true;
}

void UARTCharPut(uint32_t base, unsigned char c) {
  // A full FIFO drains one byte per frame time; give up after far longer.
  if (!hw_wait(base + FR, FR_TXFF, false, kPollByte)) return;
  hw_write(base + DR, c);  // queue one byte
}

bool UARTBusy(uint32_t base) { return (hw_read(base + FR) & FR_BUSY) != 0; }
