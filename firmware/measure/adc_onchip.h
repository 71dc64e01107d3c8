// The on-chip 12-bit ADC (main battery, board temperature, humidity, water)
// and the bias batteries of the isolated side.
#pragma once
#include <cstdint>

// One scan fills elements 0..7 in sequencer-step order.
extern uint32_t adc_data[12];
extern float fBiasPos;
extern float fBiasNeg;

// What a scan that never completed leaves in adc_data: beyond any 12-bit
// result, so that no conversion takes it for a reading.
constexpr uint32_t ADC_NO_READING = 0xFFFFFFFFu;

void adc_onchip_init();
uint32_t *read_all_adc();
// The scan of a sample: waits, in 5 ms steps, until the monitor supplies
// have been on for 101 ms since start_ms (a Timer_1ms value), then scans
// twice and returns the second scan; the first settles the inputs.
uint32_t *read_monitors(uint32_t start_ms);

// Conversions of one step's counts; NaN (or ADC_NO_READING for the
// integer ones) for a scan that failed.
float adc_main_battery(uint32_t counts);  // volts, step 0
float adc_board_temp(uint32_t counts);    // degrees C, step 4
uint32_t adc_humidity(uint32_t counts);   // percent, step 2
uint32_t adc_water(uint32_t counts);      // percent, capped at 100, step 3

// The low-battery test of a sample: a voltage equal to the threshold
// passes; a missing reading is neither good nor low.
enum BatteryState { BATTERY_OK = 0, BATTERY_LOW = 1, BATTERY_UNKNOWN = 2 };
BatteryState battery_state(float vbat_main);

// One bias battery as the sampling sequence reads it: its divider
// selected, 10 ms, one read with sys_data's Vbias trials and rate; volts,
// also kept in fBiasPos or fBiasNeg.
float bias_battery(bool positive);
// The bench reading of both batteries into fBiasNeg and fBiasPos: for each,
// a read after 10 ms that is discarded and the one 100 ms later.
void read_bias_bat();
