// The platform seam's blocking operations keep one contract on both back
// ends (see the driverlib headers): the same cases run against the chip's
// drivers on a register file (tests/register) and against the simulated
// chip (tests/unit). A back end supplies
//   stall_uart(base)  a UART whose receiver never gets a byte and whose
//                     transmitter never sends one
//   stall_ssi(base)   an SSI port that neither sends nor receives
//   seconds()         the time spent so far, as that back end counts it
#pragma once
#include <gtest/gtest.h>

#include <cstdint>

#include "driverlib/ssi.h"
#include "driverlib/uart.h"
#include "inc/hw_memmap.h"

namespace seam {

// What a call may take beyond its stated bound (the chip's poll cost is
// an estimate).
constexpr double kSlack = 1.1;

template <typename Backend, typename Call>
double timed(Call call) {
  double t0 = Backend::seconds();
  call();
  return Backend::seconds() - t0;
}

// A stalled peripheral: every blocking call gives up within its bound and
// says so in its result, never hangs and never reports success.
template <typename Backend>
void blocking_calls_give_up_within_their_bounds() {
  const uint32_t uart = UART1_BASE, ssi = SSI2_BASE;
  Backend::stall_uart(uart);
  for (int i = 0; i < 64 && UARTCharPutNonBlocking(uart, 'f'); i++) {
  }
  EXPECT_FALSE(UARTSpaceAvail(uart)) << "a transmitter that never sends fills its FIFO";
  EXPECT_LE(timed<Backend>([&] { UARTCharPut(uart, 'x'); }), 0.1 * kSlack);
  EXPECT_FALSE(UARTSpaceAvail(uart)) << "the byte is dropped, not queued over another";
  int32_t got = 0;
  EXPECT_LE(timed<Backend>([&] { got = UARTCharGet(uart); }), 2.0 * kSlack);
  EXPECT_EQ(got, -1) << "no byte came";
  EXPECT_EQ(UARTCharGetNonBlocking(uart), -1);
  EXPECT_LE(timed<Backend>([&] { UARTDisable(uart); }), 0.1 * kSlack);

  Backend::stall_ssi(ssi);
  uint32_t frame = 0;
  EXPECT_LE(timed<Backend>([&] { SSIDataGet(ssi, &frame); }), 0.1 * kSlack);
  EXPECT_EQ(frame, 0xFFFFFFFFu) << "no frame reads as an idle line";
  EXPECT_EQ(SSIDataGetNonBlocking(ssi, &frame), 0);
  for (int i = 0; i < 64 && SSIDataPutNonBlocking(ssi, 0x5A); i++) {
  }
  EXPECT_EQ(SSIDataPutNonBlocking(ssi, 0x5A), 0) << "a port that never sends fills its FIFO";
  EXPECT_LE(timed<Backend>([&] { SSIDataPut(ssi, 0xA5); }), 0.1 * kSlack);
}

}  // namespace seam
