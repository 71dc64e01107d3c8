// ADC sample sequencers.
#include "driverlib/adc.h"

#include "hw.h"

namespace {

constexpr uint32_t ACTSS = 0x000;
constexpr uint32_t RIS = 0x004;
constexpr uint32_t IM = 0x008;
constexpr uint32_t ISC = 0x00C;
constexpr uint32_t EMUX = 0x014;
constexpr uint32_t SSPRI = 0x020;
constexpr uint32_t PSSI = 0x028;
constexpr uint32_t SAC = 0x030;
constexpr uint32_t CTL = 0x038;
// Per-sequencer registers, 0x20 apart from sequencer 0's.
constexpr uint32_t SSMUX0 = 0x040;
constexpr uint32_t SSCTL0 = 0x044;
constexpr uint32_t SSFIFO0 = 0x048;
constexpr uint32_t SSFSTAT0 = 0x04C;
constexpr uint32_t SSEMUX0 = 0x058;
constexpr uint32_t kSeqStride = 0x20;

constexpr uint32_t SSFSTAT_EMPTY = 1u << 8;
constexpr uint32_t CTL_VREF = 1u << 0;
constexpr uint32_t kFifoDepth[4] = {8, 4, 4, 1};

uint32_t seq_reg(uint32_t base, uint32_t reg0, uint32_t seq) { return base + reg0 + seq * kSeqStride; }

}  // namespace

void ADCSequenceConfigure(uint32_t base, uint32_t seq, uint32_t trigger, uint32_t priority) {
  seq &= 3;
  hw_field(base + EMUX, 0xFu << (4 * seq), trigger << (4 * seq));     // start event
  hw_field(base + SSPRI, 0x3u << (4 * seq), priority << (4 * seq));   // 0 = highest
}

void ADCSequenceStepConfigure(uint32_t base, uint32_t seq, uint32_t step, uint32_t config) {
  seq &= 3;
  step &= 7;
  uint32_t shift = 4 * step;
  hw_field(seq_reg(base, SSMUX0, seq), 0xFu << shift, (config & 0xF) << shift);  // AIN, low four bits
  hw_field(seq_reg(base, SSEMUX0, seq), 0x1u << shift,
           ((config >> 8) & 1) << shift);  // AIN bit 4: inputs 16 to 23
  hw_field(seq_reg(base, SSCTL0, seq), 0xFu << shift,
           ((config >> 4) & 0xF) << shift);  // TS, IE, END, D
}

void ADCSequenceEnable(uint32_t base, uint32_t seq) {
  hw_set(base + ACTSS, 1u << (seq & 3));  // sequencer armed
}

void ADCSequenceDisable(uint32_t base, uint32_t seq) {
  hw_clear(base + ACTSS, 1u << (seq & 3));  // sequencer off
}

void ADCProcessorTrigger(uint32_t base, uint32_t seq) {
  hw_write(base + PSSI, 1u << (seq & 3));  // start this sequence now
}

uint32_t ADCIntStatus(uint32_t base, uint32_t seq, bool masked) {
  return hw_read(base + (masked ? ISC : RIS)) & (1u << (seq & 3));
}

void ADCIntClear(uint32_t base, uint32_t seq) {
  hw_write(base + ISC, 1u << (seq & 3));  // write-one-to-clear
}

void ADCIntEnable(uint32_t base, uint32_t seq) {
  hw_write(base + ISC, 1u << (seq & 3));  // drop a stale completion first
  hw_set(base + IM, 1u << (seq & 3));     // completion reaches the NVIC
}

void ADCIntDisable(uint32_t base, uint32_t seq) {
  hw_clear(base + IM, 1u << (seq & 3));  // completion masked
}

int32_t ADCSequenceDataGet(uint32_t base, uint32_t seq, uint32_t *buf) {
  seq &= 3;
  int32_t n = 0;
  while (uint32_t(n) < kFifoDepth[seq] && !(hw_read(seq_reg(base, SSFSTAT0, seq)) & SSFSTAT_EMPTY)) {
    buf[n++] = hw_read(seq_reg(base, SSFIFO0, seq)) & 0xFFF;
  }
  return n;
}

void ADCHardwareOversampleConfigure(uint32_t base, uint32_t factor) {
  uint32_t avg = 0;
  while (avg < 6 && (2u << avg) <= factor) avg++;
  hw_write(base + SAC, avg);  // average 2^avg conversions per sample
}

void ADCReferenceSet(uint32_t base, uint32_t ref) {
  hw_field(base + CTL, CTL_VREF, ref);  // 0 = internal 3.3 V, 1 = VREFA+/VREFA-
}
