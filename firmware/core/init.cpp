#include "core/init.h"

#include "config/i2c_fram.h"
#include "config/system.h"
#include "core/board.h"
#include "core/board_util.h"
#include "core/uartstdio.h"
#include "core/main.h"
#include "driverlib/fpu.h"
#include "driverlib/gpio.h"
#include "driverlib/pin_map.h"
#include "driverlib/sysctl.h"
#include "driverlib/systick.h"
#include "driverlib/uart.h"
#include "inc/hw_memmap.h"
#include "instruments/ctd_base.h"
#include "instruments/optode.h"
#include "storage/microsd.h"

namespace {

constexpr uint32_t kConsoleClock = 16000000;  // UART0 runs from the PIOSC

struct Pins {
  uint32_t port;
  uint8_t pins;
};

// Pins without a function in this firmware, and idle function pins, driven
// low to save power.
constexpr Pins kLow[] = {
    {GPIO_PORTA_BASE, GPIO_PIN_6 | GPIO_PIN_7},
    {GPIO_PORTB_BASE, GPIO_PIN_0 | GPIO_PIN_1 | GPIO_PIN_4},
    {GPIO_PORTD_BASE, GPIO_PIN_5 | GPIO_PIN_6 | GPIO_PIN_7},
    {GPIO_PORTE_BASE, GPIO_PIN_4 | GPIO_PIN_5 | GPIO_PIN_6 | GPIO_PIN_7},
    {GPIO_PORTG_BASE, GPIO_PIN_0 | GPIO_PIN_1 | GPIO_PIN_2 | GPIO_PIN_3 | GPIO_PIN_6 | GPIO_PIN_7},
    {GPIO_PORTH_BASE, GPIO_PIN_4 | GPIO_PIN_5 | GPIO_PIN_6 | GPIO_PIN_7},
    {GPIO_PORTJ_BASE, GPIO_PIN_0 | GPIO_PIN_1 | GPIO_PIN_4 | GPIO_PIN_5 | GPIO_PIN_6 | GPIO_PIN_7},
    {GPIO_PORTK_BASE, GPIO_PIN_5 | GPIO_PIN_6 | GPIO_PIN_7},
    {GPIO_PORTL_BASE, GPIO_PIN_2 | GPIO_PIN_3 | GPIO_PIN_4 | GPIO_PIN_5 | GPIO_PIN_6},
    {GPIO_PORTM_BASE, GPIO_PIN_0 | GPIO_PIN_1 | GPIO_PIN_2 | GPIO_PIN_3 | GPIO_PIN_5 | GPIO_PIN_6 |
                          GPIO_PIN_7},
    {GPIO_PORTN_BASE, GPIO_PIN_0 | GPIO_PIN_1 | GPIO_PIN_2 | GPIO_PIN_7},
    {GPIO_PORTP_BASE, GPIO_PIN_0 | GPIO_PIN_1},
};

void out(uint32_t port, uint8_t pins, bool level) {
  GPIOPinTypeGPIOOutput(port, pins);
  GPIOPinWrite(port, pins, level ? pins : 0);
}

}  // namespace

void init_TM4C123GH6PGE_144pin() {
  // 1. FPU, with lazy context stacking for interrupts.
  FPULazyStackingEnable();
  FPUEnable();

  // 2. 50 MHz from the PLL on the 16 MHz crystal.
  SysCtlClockSet(SYSCTL_SYSDIV_4 | SYSCTL_USE_PLL | SYSCTL_OSC_MAIN | SYSCTL_XTAL_16MHZ);

  // 3. GPIO ports.
  static const uint32_t ports[] = {
      SYSCTL_PERIPH_GPIOA, SYSCTL_PERIPH_GPIOB, SYSCTL_PERIPH_GPIOC, SYSCTL_PERIPH_GPIOD,
      SYSCTL_PERIPH_GPIOE, SYSCTL_PERIPH_GPIOF, SYSCTL_PERIPH_GPIOG, SYSCTL_PERIPH_GPIOH,
      SYSCTL_PERIPH_GPIOJ, SYSCTL_PERIPH_GPIOK, SYSCTL_PERIPH_GPIOL, SYSCTL_PERIPH_GPIOM,
      SYSCTL_PERIPH_GPION, SYSCTL_PERIPH_GPIOP};
  for (uint32_t p : ports) SysCtlPeripheralEnable(p);

  // 4. The console on UART0, clocked from the precision oscillator.
  SysCtlPeripheralEnable(SYSCTL_PERIPH_UART0);
  GPIOPinConfigure(GPIO_PA0_U0RX);
  GPIOPinConfigure(GPIO_PA1_U0TX);
  GPIOPinTypeUART(GPIO_PORTA_BASE, GPIO_PIN_0 | GPIO_PIN_1);
  UARTClockSourceSet(UART0_BASE, UART_CLOCK_PIOSC);
  UARTStdioConfig(0, 115200, kConsoleClock);

  // 5. The console's line driver on, echo on, 2 ms to settle.
  GPIOPinTypeGPIOOutput(GPIO_PORTL_BASE, GPIO_PIN_0 | GPIO_PIN_1);
  console_on();
  UARTEchoSet(true);
  SysCtlDelay(2 * kDelayLoopsPerMs);

  // 6. The isolated ADC's lines idle; isolated side unpowered.
  out(GPIO_PORTH_BASE, GPIO_PIN_0 | GPIO_PIN_1, false);
  GPIOPinTypeGPIOInput(GPIO_PORTH_BASE, GPIO_PIN_2);
  out(GPIO_PORTH_BASE, GPIO_PIN_3, false);
  out(GPIO_PORTN_BASE, GPIO_PIN_7, false);
  out(GPIO_PORTN_BASE, GPIO_PIN_6, true);
  GPIOPinTypeGPIOInput(GPIO_PORTN_BASE, GPIO_PIN_3);
  out(GPIO_PORTN_BASE, GPIO_PIN_5, true);
  out(GPIO_PORTK_BASE, GPIO_PIN_2, false);
  out(GPIO_PORTN_BASE, GPIO_PIN_4, false);

  // 7. SSI1 to the non-isolated ADC.
  SysCtlPeripheralEnable(SYSCTL_PERIPH_SSI1);
  GPIOPinConfigure(GPIO_PF1_SSI1TX);
  GPIOPinConfigure(GPIO_PF2_SSI1CLK);
  GPIOPinConfigure(GPIO_PF3_SSI1FSS);
  GPIOPinTypeSSI(GPIO_PORTF_BASE, GPIO_PIN_1 | GPIO_PIN_2 | GPIO_PIN_3);

  // 8. Instrument ports, supplies off. The Tavlo board leaves the CTD's
  // pins to the parts that use them.
  optode_init();
  if constexpr (kOmbrix) ctd_init();

  // 9. Auxiliary supplies off, pressure sensor off, LEDs off.
  if constexpr (kOmbrix) {
    out(GPIO_PORTD_BASE, GPIO_PIN_1 | GPIO_PIN_2 | GPIO_PIN_3, false);
  }
  out(GPIO_PORTM_BASE, GPIO_PIN_5, false);
  if constexpr (kOmbrix) ctd_init();
  led_init();

  // 10. Everything else at its resting level.
  for (const Pins &p : kLow) out(p.port, p.pins, false);
  out(GPIO_PORTB_BASE, GPIO_PIN_2 | GPIO_PIN_3, true);

  // 11. The on-chip ADC.
  SysCtlPeripheralEnable(SYSCTL_PERIPH_ADC0);
  SysCtlDelay(3);
  SysCtlPeripheralReset(SYSCTL_PERIPH_ADC0);
  for (uint32_t i = 0; i < 100000 && !SysCtlPeripheralReady(SYSCTL_PERIPH_ADC0); i++) {
  }

  // 12. The 1 ms tick.
  SysTickPeriodSet(SysCtlClockGet() / 1000);
  SysTickEnable();
  SysTickIntEnable();

  // 13. The record from the EEPROM and the sampling state from the FRAM.
  fram_init();
  retrieveSysDataVariables();

  // 14. The console speed the record asks for.
  if (sys_data.baud_rate == 9600) UARTStdioConfig(0, 9600, kConsoleClock);

  // 15. The card.
  if (microSD_flg == 1) Init_SDCard();
}
