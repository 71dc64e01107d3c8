// The seam's blocking contracts, kept by the simulated chip: a peripheral
// switched off stands for a stalled one.
#include "../conformance/seam_cases.h"
#include "driverlib/sysctl.h"
#include "sim_board.h"

namespace {

struct Sim {
  static void stall_uart(uint32_t base) {
    SysCtlPeripheralEnable(SYSCTL_PERIPH_UART1);
    UARTConfigSetExpClk(base, 16000000, 9600, UART_CONFIG_WLEN_8);
    UARTDisable(base);
  }
  static void stall_ssi(uint32_t base) {
    SysCtlPeripheralEnable(SYSCTL_PERIPH_SSI2);
    SSIConfigSetExpClk(base, 50000000, SSI_FRF_MOTO_MODE_0, SSI_MODE_MASTER, 1000000, 8);
  }
  static double seconds() { return (double)sim::now() / sim::kSec; }
};

TEST(Seam, BlockingCallsGiveUpWithinTheirBounds) {
  SimBoard board{"seam"};
  seam::blocking_calls_give_up_within_their_bounds<Sim>();
}

}  // namespace
