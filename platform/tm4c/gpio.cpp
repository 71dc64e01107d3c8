// GPIO ports: direction, pad drive and pulls, pin levels and the pin mux.
#include "driverlib/gpio.h"

#include "hw.h"
#include "inc/hw_memmap.h"

namespace {

constexpr uint32_t DIR = 0x400;
constexpr uint32_t AFSEL = 0x420;
constexpr uint32_t DR2R = 0x500;
constexpr uint32_t DR4R = 0x504;
constexpr uint32_t DR8R = 0x508;
constexpr uint32_t ODR = 0x50C;
constexpr uint32_t PUR = 0x510;
constexpr uint32_t PDR = 0x514;
constexpr uint32_t SLR = 0x518;
constexpr uint32_t DEN = 0x51C;
constexpr uint32_t LOCK = 0x520;
constexpr uint32_t CR = 0x524;
constexpr uint32_t AMSEL = 0x528;
constexpr uint32_t PCTL = 0x52C;

constexpr uint32_t kUnlockKey = 0x4C4F434B;

// Port bases by the port index of the pin-mux values (A = 0 ... Q = 14).
constexpr uint32_t kPortBase[] = {
    GPIO_PORTA_BASE, GPIO_PORTB_BASE, GPIO_PORTC_BASE, GPIO_PORTD_BASE, GPIO_PORTE_BASE,
    GPIO_PORTF_BASE, GPIO_PORTG_BASE, GPIO_PORTH_BASE, GPIO_PORTJ_BASE, GPIO_PORTK_BASE,
    GPIO_PORTL_BASE, GPIO_PORTM_BASE, GPIO_PORTN_BASE, GPIO_PORTP_BASE, GPIO_PORTQ_BASE,
};

void set_bits(uint32_t addr, uint8_t pins, bool on) {
  if (on) {
    hw_set(addr, pins);
  } else {
    hw_clear(addr, pins);
  }
}

// PD7 and PF0 come out of reset with their AFSEL, PUR, PDR, DEN and PCTL
// bits frozen; commit them once so the configuration below takes effect.
// (PC0-3 are frozen too, as JTAG: left alone so the debugger keeps working.)
void commit_locked(uint32_t port, uint8_t pins) {
  uint8_t locked = 0;
  if (port == GPIO_PORTD_BASE) locked = pins & GPIO_PIN_7;
  if (port == GPIO_PORTF_BASE) locked = pins & GPIO_PIN_0;
  if (!locked || (hw_read(port + CR) & locked) == locked) return;
  hw_write(port + LOCK, kUnlockKey);  // open the commit register
  hw_set(port + CR, locked);          // let these pins be reconfigured
  hw_write(port + LOCK, 0);           // any other value locks it again
}

// Every pin type of the driver-library set: 2 mA pads, one type, one direction.
void pin_type(uint32_t port, uint8_t pins, uint32_t type, uint32_t dir) {
  GPIOPadConfigSet(port, pins, GPIO_STRENGTH_2MA, type);
  GPIODirModeSet(port, pins, dir);
}

}  // namespace

void GPIODirModeSet(uint32_t port, uint8_t pins, uint32_t mode) {
  commit_locked(port, pins);
  set_bits(port + DIR, pins, (mode & GPIO_DIR_MODE_OUT) != 0);   // 1 = output
  set_bits(port + AFSEL, pins, (mode & GPIO_DIR_MODE_HW) != 0);  // 1 = peripheral drives
}

void GPIOPadConfigSet(uint32_t port, uint8_t pins, uint32_t strength, uint32_t type) {
  commit_locked(port, pins);
  // Setting a pin in DR8R clears it in DR2R and DR4R, so the order matters.
  set_bits(port + DR2R, pins, (strength & 0x1) != 0);  // 2 mA drive
  set_bits(port + DR4R, pins, (strength & 0x2) != 0);  // 4 mA drive
  set_bits(port + DR8R, pins, (strength & 0x4) != 0);  // 8 mA drive
  set_bits(port + SLR, pins, (strength & 0x8) != 0);   // slew-rate control (8 mA only)
  set_bits(port + ODR, pins, (type & 0x1) != 0);       // open drain
  set_bits(port + PUR, pins, (type & 0x2) != 0);       // weak pull-up
  set_bits(port + PDR, pins, (type & 0x4) != 0);       // weak pull-down
  set_bits(port + DEN, pins, (type & 0x8) != 0);       // digital input buffer on
  set_bits(port + AMSEL, pins, type == GPIO_PIN_TYPE_ANALOG);  // analog path to the ADC
}

void GPIOPinWrite(uint32_t port, uint8_t pins, uint8_t val) {
  // Address bits 9:2 mask the write: only the selected pins change.
  hw_write(port + (uint32_t(pins) << 2), val);  // new levels of the selected pins
}

int32_t GPIOPinRead(uint32_t port, uint8_t pins) {
  return int32_t(hw_read(port + (uint32_t(pins) << 2)) & pins);
}

void GPIOPinTypeGPIOOutput(uint32_t port, uint8_t pins) {
  pin_type(port, pins, GPIO_PIN_TYPE_STD, GPIO_DIR_MODE_OUT);
}

void GPIOPinTypeGPIOOutputOD(uint32_t port, uint8_t pins) {
  pin_type(port, pins, GPIO_PIN_TYPE_OD, GPIO_DIR_MODE_OUT);
}

void GPIOPinTypeGPIOInput(uint32_t port, uint8_t pins) {
  pin_type(port, pins, GPIO_PIN_TYPE_STD, GPIO_DIR_MODE_IN);
}

void GPIOPinTypeUART(uint32_t port, uint8_t pins) {
  pin_type(port, pins, GPIO_PIN_TYPE_STD, GPIO_DIR_MODE_HW);
}

void GPIOPinTypeSSI(uint32_t port, uint8_t pins) {
  pin_type(port, pins, GPIO_PIN_TYPE_STD, GPIO_DIR_MODE_HW);
}

void GPIOPinTypeI2C(uint32_t port, uint8_t pins) {
  pin_type(port, pins, GPIO_PIN_TYPE_OD, GPIO_DIR_MODE_HW);
}

void GPIOPinTypeI2CSCL(uint32_t port, uint8_t pins) {
  // SCL stays a standard pad: the controller gives it open-drain behaviour.
  pin_type(port, pins, GPIO_PIN_TYPE_STD, GPIO_DIR_MODE_HW);
}

void GPIOPinTypeADC(uint32_t port, uint8_t pins) {
  // AFSEL with the digital buffer off and the analog switch on.
  pin_type(port, pins, GPIO_PIN_TYPE_ANALOG, GPIO_DIR_MODE_HW);
}

void GPIOPinConfigure(uint32_t pin_config) {
  uint32_t index = (pin_config >> 16) & 0xFF;
  if (index >= sizeof kPortBase / sizeof kPortBase[0]) return;
  uint32_t port = kPortBase[index];
  uint32_t shift = (pin_config >> 8) & 0x1F;
  commit_locked(port, uint8_t(1u << (shift / 4)));
  hw_field(port + PCTL, 0xFu << shift, (pin_config & 0xF) << shift);  // function number of the pin
}
