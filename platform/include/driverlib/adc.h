// 12-bit on-chip ADC with sample sequencers.
#pragma once
#include <cstdint>

#define ADC_TRIGGER_PROCESSOR 0x00000000u

#define ADC_CTL_TS  0x00000080u
#define ADC_CTL_IE  0x00000040u
#define ADC_CTL_END 0x00000020u
#define ADC_CTL_D   0x00000010u
#define ADC_CTL_CH0  0x00000000u
#define ADC_CTL_CH1  0x00000001u
#define ADC_CTL_CH2  0x00000002u
#define ADC_CTL_CH3  0x00000003u
#define ADC_CTL_CH4  0x00000004u
#define ADC_CTL_CH5  0x00000005u
#define ADC_CTL_CH6  0x00000006u
#define ADC_CTL_CH7  0x00000007u
#define ADC_CTL_CH8  0x00000008u
#define ADC_CTL_CH9  0x00000009u
#define ADC_CTL_CH10 0x0000000Au
#define ADC_CTL_CH11 0x0000000Bu
#define ADC_CTL_CH12 0x0000000Cu
#define ADC_CTL_CH13 0x0000000Du
#define ADC_CTL_CH14 0x0000000Eu
#define ADC_CTL_CH15 0x0000000Fu
#define ADC_CTL_CH16 0x00000100u
#define ADC_CTL_CH17 0x00000101u
#define ADC_CTL_CH18 0x00000102u
#define ADC_CTL_CH19 0x00000103u
#define ADC_CTL_CH20 0x00000104u
#define ADC_CTL_CH21 0x00000105u
#define ADC_CTL_CH22 0x00000106u
#define ADC_CTL_CH23 0x00000107u

#define ADC_REF_INT 0x00000000u
#define ADC_REF_EXT_3V 0x00000001u

// Sets a sample sequencer's trigger source and priority. Blocks: no. ISR-safe: yes.
void ADCSequenceConfigure(uint32_t base, uint32_t seq, uint32_t trigger, uint32_t priority);
// Sets one step of a sequence (channel, END, IE, TS flags). Blocks: no. ISR-safe: yes.
void ADCSequenceStepConfigure(uint32_t base, uint32_t seq, uint32_t step, uint32_t config);
// Arms a sample sequencer. Blocks: no. ISR-safe: yes.
void ADCSequenceEnable(uint32_t base, uint32_t seq);
// Disarms a sample sequencer. Blocks: no. ISR-safe: yes.
void ADCSequenceDisable(uint32_t base, uint32_t seq);
// Starts a sequence configured for the processor trigger. Blocks: no. ISR-safe: yes.
void ADCProcessorTrigger(uint32_t base, uint32_t seq);
// Raw or masked completion status of a sequence. Blocks: no. ISR-safe: yes.
uint32_t ADCIntStatus(uint32_t base, uint32_t seq, bool masked);
// Clears a sequence's completion status. Blocks: no. ISR-safe: yes.
void ADCIntClear(uint32_t base, uint32_t seq);
// Unmasks a sequence's completion interrupt. Blocks: no. ISR-safe: yes.
void ADCIntEnable(uint32_t base, uint32_t seq);
// Masks a sequence's completion interrupt. Blocks: no. ISR-safe: yes.
void ADCIntDisable(uint32_t base, uint32_t seq);
// Copies the results waiting in a sequence's FIFO into buf; returns how many. Blocks: no. ISR-safe: yes.
int32_t ADCSequenceDataGet(uint32_t base, uint32_t seq, uint32_t *buf);
// Sets hardware averaging (factor 0, 2, 4 ... 64). Blocks: no. ISR-safe: yes.
void ADCHardwareOversampleConfigure(uint32_t base, uint32_t factor);
// Selects the internal or external voltage reference. Blocks: no. ISR-safe: yes.
void ADCReferenceSet(uint32_t base, uint32_t ref);
