// The seam's blocking contracts, kept by the chip's drivers: registers
// that never change state stand for a stalled peripheral.
#include "../conformance/seam_cases.h"
#include "register_test.h"

namespace {

constexpr uint32_t UART_FR = 0x018, FR_BUSY = 1u << 3, FR_RXFE = 1u << 4, FR_TXFF = 1u << 5;
constexpr uint32_t SSI_SR = 0x00C;  // TNF and RNE both clear: full and empty
// One poll of a status register is a load, a mask and a branch: about 100 ns.
constexpr double kPollSeconds = 100e-9;

uint64_t g_reads;

struct Chip {
  static void stall_uart(uint32_t base) { regfile::at(base + UART_FR) = FR_BUSY | FR_RXFE | FR_TXFF; }
  static void stall_ssi(uint32_t base) { regfile::at(base + SSI_SR) = 0; }
  static double seconds() { return (double)g_reads * kPollSeconds; }
};

class Seam : public RegisterTest {
 protected:
  void SetUp() override {
    RegisterTest::SetUp();
    g_reads = 0;
    regfile::on_read([](uint32_t) -> std::optional<uint32_t> {
      g_reads++;
      return std::nullopt;
    });
  }
};

TEST_F(Seam, BlockingCallsGiveUpWithinTheirBounds) {
  seam::blocking_calls_give_up_within_their_bounds<Chip>();
  EXPECT_EQ(regfile::at(UART1_BASE), 0u) << "nothing written into a full FIFO";
}

}  // namespace
