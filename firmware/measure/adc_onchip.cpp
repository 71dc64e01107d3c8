#include "measure/adc_onchip.h"

#include <cmath>

#include "config/error_log.h"
#include "config/system.h"
#include "core/board.h"
#include "core/user_io.h"
#include "driverlib/adc.h"
#include "driverlib/gpio.h"
#include "driverlib/sysctl.h"
#include "inc/hw_memmap.h"
#include "measure/ads1248_iso.h"
#include "measure/bounded_wait.h"

uint32_t adc_data[12];
float fBiasPos;
float fBiasNeg;

namespace {

constexpr uint32_t kSeq = 0;
constexpr uint32_t kHangPolls = 100001;
// A scan of eight steps takes about 10 us; this is the give-up time.
constexpr uint32_t kScanLimitMs = 200;
constexpr uint32_t kMonitorSettleMs = 101;
constexpr uint32_t kMonitorStepMs = 5;

const char kHangMsg[] = "\nhang in read_all_adc() waiting for ADC complete\r\n";

bool scan_fault_logged;  // once per wake: RAM starts afresh at every wake

}  // namespace

void adc_onchip_init() {
  SysCtlPeripheralEnable(SYSCTL_PERIPH_ADC0);
  SysCtlDelay(3);  // a freshly clocked peripheral needs a few cycles
  GPIOPinTypeADC(GPIO_PORTD_BASE, GPIO_PIN_5 | GPIO_PIN_7);
  GPIOPinTypeADC(GPIO_PORTB_BASE, GPIO_PIN_4);
  GPIOPinTypeADC(GPIO_PORTK_BASE, GPIO_PIN_0 | GPIO_PIN_1);
  ADCSequenceConfigure(ADC0_BASE, kSeq, ADC_TRIGGER_PROCESSOR, 0);
  ADCSequenceStepConfigure(ADC0_BASE, kSeq, 0, ADC_CTL_CH4);   // main battery
  ADCSequenceStepConfigure(ADC0_BASE, kSeq, 1, ADC_CTL_CH6);   // pressure
  ADCSequenceStepConfigure(ADC0_BASE, kSeq, 2, ADC_CTL_CH10);  // humidity
  ADCSequenceStepConfigure(ADC0_BASE, kSeq, 3, ADC_CTL_CH16);  // water
  ADCSequenceStepConfigure(ADC0_BASE, kSeq, 4, ADC_CTL_CH17);  // board temperature
  ADCSequenceStepConfigure(ADC0_BASE, kSeq, 5, ADC_CTL_CH4);
  ADCSequenceStepConfigure(ADC0_BASE, kSeq, 6, ADC_CTL_CH4);
  ADCSequenceStepConfigure(ADC0_BASE, kSeq, 7, ADC_CTL_TS | ADC_CTL_IE | ADC_CTL_END);
  ADCSequenceEnable(ADC0_BASE, kSeq);
  ADCIntClear(ADC0_BASE, kSeq);
}

namespace {

// One scan; `told` says whether the hang message is already out, so that
// the two scans of a sample print it once.
uint32_t *scan_all(bool &told) {
  ADCProcessorTrigger(ADC0_BASE, kSeq);
  uint32_t polls = 0;
  const bool done = wait_until(
      [&] {
        if (ADCIntStatus(ADC0_BASE, kSeq, false)) return true;
        if (++polls > kHangPolls && !told) {
          uprintf("%s", kHangMsg);
          told = true;
        }
        return false;
      },
      kScanLimitMs);
  ADCIntClear(ADC0_BASE, kSeq);
  if (!done) {
    if (!told) uprintf("%s", kHangMsg);
    told = true;
    for (int i = 0; i < 8; i++) adc_data[i] = ADC_NO_READING;
    if (!scan_fault_logged) {
      error_store("hang in read_all_adc() waiting for ADC complete");
      scan_fault_logged = true;
    }
    return adc_data;
  }
  ADCSequenceDataGet(ADC0_BASE, kSeq, adc_data);
  return adc_data;
}

}  // namespace

uint32_t *read_all_adc() {
  bool told = false;
  return scan_all(told);
}

uint32_t *read_monitors(uint32_t start_ms) {
  // The step count also ends the wait when the tick is not counting.
  for (uint32_t step = 0; step * kMonitorStepMs <= kMonitorSettleMs; step++) {
    if (Timer_1ms(0) - start_ms >= kMonitorSettleMs) break;
    delay_msec(kMonitorStepMs);
  }
  bool told = false;
  scan_all(told);
  return scan_all(told);
}

float adc_main_battery(uint32_t counts) {
  if (counts > 4095) return NAN;
  return (float)((double)(float)(counts * 100) / 18193.77);  // full scale 22.508 V
}

float adc_board_temp(uint32_t counts) {
  if (counts > 4095) return NAN;
  // 0.80566 mV a count; the sensor gives 424 mV at 0 C and 6.25 mV/C.
  return (float)(((double)counts * 0.80566 - 424.0) / 6.25);
}

uint32_t adc_humidity(uint32_t counts) {
  if (counts > 4095) return ADC_NO_READING;
  return counts * 100 / 3284;
}

uint32_t adc_water(uint32_t counts) {
  if (counts > 4095) return ADC_NO_READING;
  const uint32_t percent = counts * 100 / 2596;
  return percent > 100 ? 100 : percent;
}

BatteryState battery_state(float vbat_main) {
  if (std::isnan(vbat_main)) return BATTERY_UNKNOWN;
  return vbat_main < sys_data.low_batt_volt ? BATTERY_LOW : BATTERY_OK;
}

float bias_battery(bool positive) {
  float &kept = positive ? fBiasPos : fBiasNeg;
  kept = iso_measure(positive ? IsoChannel::BiasPos : IsoChannel::BiasNeg);
  return kept;
}

void read_bias_bat() {
  float *results[2] = {&fBiasNeg, &fBiasPos};
  for (uint32_t positive = 0; positive < 2; positive++) {
    ADS1248_gpio3(positive);
    delay_msec(10);
    pollADS1248_iso(7, 6, 5, 1, 20);  // the divider is still settling
    delay_msec(100);
    *results[positive] = 2.0f * pollADS1248_iso(7, 6, 5, 1, 20);
  }
}
