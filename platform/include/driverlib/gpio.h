// General-purpose I/O.
#pragma once
#include <cstdint>

#define GPIO_PIN_0 0x01u
#define GPIO_PIN_1 0x02u
#define GPIO_PIN_2 0x04u
#define GPIO_PIN_3 0x08u
#define GPIO_PIN_4 0x10u
#define GPIO_PIN_5 0x20u
#define GPIO_PIN_6 0x40u
#define GPIO_PIN_7 0x80u

#define GPIO_DIR_MODE_IN  0x00000000u
#define GPIO_DIR_MODE_OUT 0x00000001u
#define GPIO_DIR_MODE_HW  0x00000002u

#define GPIO_STRENGTH_2MA    0x00000001u
#define GPIO_STRENGTH_4MA    0x00000002u
#define GPIO_STRENGTH_8MA    0x00000066u
#define GPIO_STRENGTH_8MA_SC 0x0000006Eu

#define GPIO_PIN_TYPE_STD     0x00000008u
#define GPIO_PIN_TYPE_STD_WPU 0x0000000Au
#define GPIO_PIN_TYPE_STD_WPD 0x0000000Cu
#define GPIO_PIN_TYPE_OD      0x00000009u
#define GPIO_PIN_TYPE_ANALOG  0x00000000u

// Sets the pins' direction (in, out, or hardware-controlled). Blocks: no. ISR-safe: no.
void GPIODirModeSet(uint32_t port, uint8_t pins, uint32_t mode);
// Sets the pins' drive strength and pad type (push-pull, open drain, pull-ups, analog). Blocks: no. ISR-safe: no.
void GPIOPadConfigSet(uint32_t port, uint8_t pins, uint32_t strength, uint32_t type);
// Writes val to the pins selected by the mask; other pins keep their level. Blocks: no. ISR-safe: yes.
void GPIOPinWrite(uint32_t port, uint8_t pins, uint8_t val);
// Levels of the selected pins (bit set = high); other bits read 0. Blocks: no. ISR-safe: yes.
int32_t GPIOPinRead(uint32_t port, uint8_t pins);
// Makes the pins push-pull outputs, 2 mA. Blocks: no. ISR-safe: no.
void GPIOPinTypeGPIOOutput(uint32_t port, uint8_t pins);
// Makes the pins open-drain outputs. Blocks: no. ISR-safe: no.
void GPIOPinTypeGPIOOutputOD(uint32_t port, uint8_t pins);
// Makes the pins digital inputs. Blocks: no. ISR-safe: no.
void GPIOPinTypeGPIOInput(uint32_t port, uint8_t pins);
// Hands the pins to their UART function. Blocks: no. ISR-safe: no.
void GPIOPinTypeUART(uint32_t port, uint8_t pins);
// Hands the pins to their SSI function. Blocks: no. ISR-safe: no.
void GPIOPinTypeSSI(uint32_t port, uint8_t pins);
// Hands the pins to their I2C data function (open drain, pull-up). Blocks: no. ISR-safe: no.
void GPIOPinTypeI2C(uint32_t port, uint8_t pins);
// Hands the pin to its I2C clock function. Blocks: no. ISR-safe: no.
void GPIOPinTypeI2CSCL(uint32_t port, uint8_t pins);
// Makes the pins analog inputs of the on-chip ADC. Blocks: no. ISR-safe: no.
void GPIOPinTypeADC(uint32_t port, uint8_t pins);
// Routes one pin to a peripheral function (a GPIO_Pxn_FUNC value of pin_map.h). Blocks: no. ISR-safe: no.
void GPIOPinConfigure(uint32_t pin_config);
