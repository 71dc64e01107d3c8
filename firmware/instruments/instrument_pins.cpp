#include "instruments/instrument_pins.h"

#include "driverlib/gpio.h"
#include "driverlib/pin_map.h"
#include "driverlib/sysctl.h"
#include "inc/hw_memmap.h"

// CTD on UART4 (PC4 RX, PC5 TX), its supply on PD0.
void ctd_init() {
  SysCtlPeripheralEnable(SYSCTL_PERIPH_UART4);
  GPIOPinConfigure(GPIO_PC4_U4RX);
  GPIOPinConfigure(GPIO_PC5_U4TX);
  GPIOPinTypeUART(GPIO_PORTC_BASE, GPIO_PIN_4 | GPIO_PIN_5);
  GPIOPinTypeGPIOOutput(GPIO_PORTD_BASE, GPIO_PIN_0);
  GPIOPinWrite(GPIO_PORTD_BASE, GPIO_PIN_0, 0);
}

// Optode on UART3 (PC6 RX, PC7 TX), its 5 V supply on PL2.
void optode_init() {
  SysCtlPeripheralEnable(SYSCTL_PERIPH_UART3);
  GPIOPinConfigure(GPIO_PC6_U3RX);
  GPIOPinConfigure(GPIO_PC7_U3TX);
  GPIOPinTypeUART(GPIO_PORTC_BASE, GPIO_PIN_6 | GPIO_PIN_7);
  GPIOPinTypeGPIOOutput(GPIO_PORTL_BASE, GPIO_PIN_2);
  GPIOPinWrite(GPIO_PORTL_BASE, GPIO_PIN_2, 0);
}
