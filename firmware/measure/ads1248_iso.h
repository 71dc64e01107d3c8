// The isolated ADS1248 24-bit ADC on SSI3 and the ADG1609 multiplexer that
// its GPIO pins drive. Everything busy-waits in the main context.
#pragma once
#include <cstdint>

// One count of the ADS1248 at gain 1: 2.048 V / 8388607.
constexpr float kAds1248VoltsPerCount = 2.4414067e-07f;
constexpr int ADS1248_MAX_TRIALS = 120;

void openADS1248_iso();
void closeADS1248_iso();
// The SYS0 byte: PGA code in bits 6..4, data-rate code in bits 3..0.
unsigned char ADS1248_gain_sps(int gain, int sps);
// Mean differential voltage AIN<pos_chan> - AIN<neg_chan> over `trials`
// conversions; the deviation goes to sys_samp.AD24_std. NaN (and a NaN
// deviation) when the ADC does not answer.
float pollADS1248_iso(int pos_chan, int neg_chan, int trials, int gain, int sps);
void ADS1248_gpio_init();
void ADS1248_gpio_ADG1609_mux(uint32_t chan);
void ADS1248_gpio3(uint32_t state);

// The channels of the front end, each with its selection, inputs and unit.
enum class IsoChannel : uint8_t {
  Vrsi,     // mux 3, AIN1/AIN6
  Vrsi_B,   // mux 3, AIN1/AIN5: input of the internal-reference pH
  Vrse,     // mux 0, AIN1/AIN6: input of the external-reference pH
  Vrse_B,   // mux 0, AIN1/AIN5
  Vk,       // mux 1, AIN1/AIN6
  Ik,       // mux 1, AIN1/AIN5, nA across 15 kOhm
  Ib,       // mux 2, AIN1/AIN6, nA across 1 MOhm
  Vtherm,   // no selection, AIN0/AIN6
  Vb,       // mux 2, AIN5/AIN6
  BiasNeg,  // GPIO3 low, AIN7/AIN6, half the battery
  BiasPos,  // GPIO3 high, AIN7/AIN6, half the battery
};

// Makes the channel's selection (multiplexer or GPIO3), waits 10 ms for the
// switches to settle (none for Vtherm) and reads it at gain 1. Volts at the
// ADC inputs.
float iso_read(IsoChannel ch, int trials, int sps);
// The same with the channel's trials and rate from sys_data.
float iso_read(IsoChannel ch);
// ADC volts to the channel's unit: nA for Ik (after offset_Ik) and Ib,
// battery volts for the bias batteries, volts otherwise.
float iso_physical(IsoChannel ch, float volts);
inline float iso_measure(IsoChannel ch) { return iso_physical(ch, iso_read(ch)); }
