// Sample sequencer step encodings and FIFO readout.
#include "driverlib/adc.h"
#include "inc/hw_memmap.h"
#include "register_test.h"

namespace {

constexpr uint32_t EMUX = ADC0_BASE + 0x014, SSPRI = ADC0_BASE + 0x020, PSSI = ADC0_BASE + 0x028;
constexpr uint32_t SAC = ADC0_BASE + 0x030, SSMUX0 = ADC0_BASE + 0x040, SSCTL0 = ADC0_BASE + 0x044;
constexpr uint32_t SSFIFO0 = ADC0_BASE + 0x048, SSFSTAT0 = ADC0_BASE + 0x04C;
constexpr uint32_t SSEMUX0 = ADC0_BASE + 0x058;

using Adc = RegisterTest;

TEST_F(Adc, StepsPackChannelAndControlNibbles) {
  ADCSequenceStepConfigure(ADC0_BASE, 0, 0, ADC_CTL_CH3);
  ADCSequenceStepConfigure(ADC0_BASE, 0, 1, ADC_CTL_CH21);
  ADCSequenceStepConfigure(ADC0_BASE, 0, 2, ADC_CTL_CH9 | ADC_CTL_D);
  ADCSequenceStepConfigure(ADC0_BASE, 0, 7, ADC_CTL_TS | ADC_CTL_IE | ADC_CTL_END);
  EXPECT_EQ(reg(SSMUX0), 0x00000953u);   // AIN3, AIN21 low bits 5, AIN9; TS ignores MUX
  EXPECT_EQ(reg(SSEMUX0), 0x00000010u);  // step 1 reaches AIN16..23
  EXPECT_EQ(reg(SSCTL0), 0xE0000100u);   // step 2 differential; step 7 TS, IE, END
}

TEST_F(Adc, ReconfiguringAStepLeavesTheOthers) {
  reg(SSMUX0) = 0x77777777;
  reg(SSCTL0) = 0x22222222;
  ADCSequenceStepConfigure(ADC0_BASE, 0, 3, ADC_CTL_CH1 | ADC_CTL_IE | ADC_CTL_END);
  EXPECT_EQ(reg(SSMUX0), 0x77771777u);
  EXPECT_EQ(reg(SSCTL0), 0x22226222u);
}

TEST_F(Adc, ProcessorTriggerPriorityAndStart) {
  reg(EMUX) = 0xFFFF;
  ADCSequenceConfigure(ADC0_BASE, 0, ADC_TRIGGER_PROCESSOR, 0);
  ADCSequenceConfigure(ADC0_BASE, 3, ADC_TRIGGER_PROCESSOR, 2);
  EXPECT_EQ(reg(EMUX), 0x0FF0u);
  EXPECT_EQ(reg(SSPRI), 0x2000u);
  ADCProcessorTrigger(ADC0_BASE, 0);
  EXPECT_EQ(regfile::writes_to(PSSI), std::vector<uint32_t>{1});
}

TEST_F(Adc, DataGetDrainsUntilEmpty) {
  uint32_t fifo[] = {0x1123, 0x0456, 0x0FFF};
  int next = 0;
  regfile::on_read([&](uint32_t addr) -> std::optional<uint32_t> {
    if (addr == SSFSTAT0) return next < 3 ? 0u : 1u << 8;
    if (addr == SSFIFO0) return fifo[next++];
    return std::nullopt;
  });
  uint32_t buf[8] = {};
  ASSERT_EQ(ADCSequenceDataGet(ADC0_BASE, 0, buf), 3);
  EXPECT_EQ(buf[0], 0x123u) << "12-bit result only";
  EXPECT_EQ(buf[1], 0x456u);
  EXPECT_EQ(buf[2], 0xFFFu);
}

TEST_F(Adc, DataGetNeverReadsPastTheFifoDepth) {
  uint32_t buf[8] = {};
  EXPECT_EQ(ADCSequenceDataGet(ADC0_BASE, 0, buf), 8);  // EMPTY never set
  EXPECT_EQ(ADCSequenceDataGet(ADC0_BASE, 3, buf), 1);
}

TEST_F(Adc, OversampleFactorIsItsLogarithm) {
  ADCHardwareOversampleConfigure(ADC0_BASE, 64);
  ADCHardwareOversampleConfigure(ADC0_BASE, 16);
  ADCHardwareOversampleConfigure(ADC0_BASE, 1);
  EXPECT_EQ(regfile::writes_to(SAC), (std::vector<uint32_t>{6, 4, 0}));
}

}  // namespace
