// Pin mux and pad settings of the pins the boards use, and masked data access.
#include "driverlib/gpio.h"
#include "driverlib/pin_map.h"
#include "inc/hw_memmap.h"
#include "register_test.h"

namespace {

constexpr uint32_t DIR = 0x400, AFSEL = 0x420, DR2R = 0x500, DR4R = 0x504, DR8R = 0x508;
constexpr uint32_t ODR = 0x50C, DEN = 0x51C, LOCK = 0x520, CR = 0x524, AMSEL = 0x528;
constexpr uint32_t PCTL = 0x52C;

class Gpio : public RegisterTest {
 protected:
  void expect_peripheral_pins(uint32_t port, uint32_t pins, uint32_t pctl) {
    EXPECT_EQ(reg(port + PCTL), pctl);
    EXPECT_EQ(reg(port + AFSEL), pins);
    EXPECT_EQ(reg(port + DEN), pins);
    EXPECT_EQ(reg(port + AMSEL), 0u);
  }
};

TEST_F(Gpio, Uart0OnPA0PA1) {
  GPIOPinConfigure(GPIO_PA0_U0RX);
  GPIOPinConfigure(GPIO_PA1_U0TX);
  GPIOPinTypeUART(GPIO_PORTA_BASE, GPIO_PIN_0 | GPIO_PIN_1);
  expect_peripheral_pins(GPIO_PORTA_BASE, 0x03, 0x00000011);
}

TEST_F(Gpio, Ssi0OnPA2PA4PA5BesideUart0) {
  reg(GPIO_PORTA_BASE + PCTL) = 0x00000011;  // UART0 already routed
  reg(GPIO_PORTA_BASE + AFSEL) = 0x03;
  reg(GPIO_PORTA_BASE + DEN) = 0x03;
  GPIOPinConfigure(GPIO_PA2_SSI0CLK);
  GPIOPinConfigure(GPIO_PA4_SSI0RX);
  GPIOPinConfigure(GPIO_PA5_SSI0TX);
  GPIOPinTypeSSI(GPIO_PORTA_BASE, GPIO_PIN_2 | GPIO_PIN_4 | GPIO_PIN_5);
  expect_peripheral_pins(GPIO_PORTA_BASE, 0x37, 0x00220211);
}

TEST_F(Gpio, Ssi3OnPH0PH2PH3) {
  GPIOPinConfigure(GPIO_PH0_SSI3CLK);
  GPIOPinConfigure(GPIO_PH2_SSI3RX);
  GPIOPinConfigure(GPIO_PH3_SSI3TX);
  GPIOPinTypeSSI(GPIO_PORTH_BASE, GPIO_PIN_0 | GPIO_PIN_2 | GPIO_PIN_3);
  expect_peripheral_pins(GPIO_PORTH_BASE, 0x0D, 0x00002202);
}

TEST_F(Gpio, I2c0OnPB2PB3WithOpenDrainSdaOnly) {
  GPIOPinConfigure(GPIO_PB2_I2C0SCL);
  GPIOPinConfigure(GPIO_PB3_I2C0SDA);
  GPIOPinTypeI2CSCL(GPIO_PORTB_BASE, GPIO_PIN_2);
  GPIOPinTypeI2C(GPIO_PORTB_BASE, GPIO_PIN_3);
  expect_peripheral_pins(GPIO_PORTB_BASE, 0x0C, 0x00003300);
  EXPECT_EQ(reg(GPIO_PORTB_BASE + ODR), 0x08u);
}

TEST_F(Gpio, InstrumentUartsOnPortC) {
  GPIOPinConfigure(GPIO_PC4_U4RX);
  GPIOPinConfigure(GPIO_PC5_U4TX);
  GPIOPinConfigure(GPIO_PC6_U3RX);
  GPIOPinConfigure(GPIO_PC7_U3TX);
  EXPECT_EQ(reg(GPIO_PORTC_BASE + PCTL), 0x11110000u);
}

TEST_F(Gpio, WritesGoThroughTheAddressMask) {
  GPIOPinWrite(GPIO_PORTP_BASE, GPIO_PIN_2, 0xFF);
  GPIOPinWrite(GPIO_PORTE_BASE, GPIO_PIN_0 | GPIO_PIN_7, GPIO_PIN_7);
  EXPECT_EQ(regfile::writes_to(GPIO_PORTP_BASE + 0x010), std::vector<uint32_t>{0xFF});
  EXPECT_EQ(regfile::writes_to(GPIO_PORTE_BASE + 0x204), std::vector<uint32_t>{0x80});
  reg(GPIO_PORTE_BASE + 0x0C0) = 0xFF;  // what the port returns at mask 0x30
  EXPECT_EQ(GPIOPinRead(GPIO_PORTE_BASE, GPIO_PIN_4 | GPIO_PIN_5), 0x30);
}

TEST_F(Gpio, LockedPinsAreCommittedBeforeConfiguring) {
  GPIOPinTypeGPIOOutput(GPIO_PORTF_BASE, GPIO_PIN_0 | GPIO_PIN_1);
  int unlock = regfile::first_write(GPIO_PORTF_BASE + LOCK);
  ASSERT_GE(unlock, 0);
  EXPECT_EQ(regfile::log()[unlock].value, 0x4C4F434Bu);
  EXPECT_EQ(reg(GPIO_PORTF_BASE + CR) & 0x01u, 0x01u);
  EXPECT_LT(unlock, regfile::first_write(GPIO_PORTF_BASE + DEN));
  EXPECT_EQ(reg(GPIO_PORTF_BASE + DIR), 0x03u);

  GPIOPinTypeGPIOInput(GPIO_PORTD_BASE, GPIO_PIN_7);
  EXPECT_EQ(reg(GPIO_PORTD_BASE + CR), 0x80u);

  GPIOPinTypeGPIOOutput(GPIO_PORTA_BASE, GPIO_PIN_0);  // nothing locked on port A
  EXPECT_EQ(regfile::first_write(GPIO_PORTA_BASE + LOCK), -1);
}

TEST_F(Gpio, EightMilliampDriveWrittenLast) {
  GPIOPadConfigSet(GPIO_PORTG_BASE, GPIO_PIN_1, GPIO_STRENGTH_8MA, GPIO_PIN_TYPE_STD);
  EXPECT_EQ(reg(GPIO_PORTG_BASE + DR8R), 0x02u);
  // Writing DR8R clears DR2R/DR4R in hardware; a later DR2R write would undo it.
  EXPECT_GT(regfile::last_write(GPIO_PORTG_BASE + DR8R), regfile::last_write(GPIO_PORTG_BASE + DR2R));
  EXPECT_GT(regfile::last_write(GPIO_PORTG_BASE + DR8R), regfile::last_write(GPIO_PORTG_BASE + DR4R));
}

TEST_F(Gpio, AnalogInputHasNoDigitalPath) {
  reg(GPIO_PORTE_BASE + DEN) = 0xFF;
  GPIOPinTypeADC(GPIO_PORTE_BASE, GPIO_PIN_3);
  EXPECT_EQ(reg(GPIO_PORTE_BASE + DEN), 0xF7u);
  EXPECT_EQ(reg(GPIO_PORTE_BASE + AMSEL), 0x08u);
  EXPECT_EQ(reg(GPIO_PORTE_BASE + AFSEL), 0x08u);
  EXPECT_EQ(reg(GPIO_PORTE_BASE + DIR), 0x00u);
}

}  // namespace
