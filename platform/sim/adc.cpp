// On-chip ADC0 of the simulated chip: the sample sequencers with their
// step configuration, a processor trigger, and results in the FIFO.
//
// Fault (--adc-fault and the step "adc-fault", shared by every wake of a
// run): stuck, a triggered scan never completes; off.
#include <sys/mman.h>

#include <cstring>
#include <new>

#include "driverlib/adc.h"
#include "frontend.h"
#include "inc/hw_memmap.h"
#include "sim.h"
#include "runner.h"
#include "sim_internal.h"

namespace sim {
namespace {

constexpr int kSteps = 8;
constexpr ns_t kConversion = 1 * kUs;  // 1 Msample/s

struct Sequencer {
  bool enabled;
  uint32_t steps[kSteps];
  uint32_t fifo[kSteps];
  int count;
  bool ris;
  bool busy;
  int slot;
};

struct Adc {
  Sequencer seq[4];
  AdcSource source;
  void *ctx;
  uint32_t oversample;
  bool stuck;  // fault: a triggered scan never completes
};

Adc a;

// Mapped before the wake runner forks: a step's fault holds for later wakes.
bool &stuck_for_the_run() { return shared_object<bool>(); }

bool set_fault(const char *v) {
  if (!strcmp(v, "stuck")) stuck_for_the_run() = true;
  else if (!strcmp(v, "off")) stuck_for_the_run() = false;
  else return false;
  return true;
}

struct Registrar {
  Registrar() {
    stuck_for_the_run();
    register_option("adc-fault", true, set_fault,
                    "stuck|off: a scan of the on-chip ADC never completes (also the step\n"
                    "      \"adc-fault ...\")");
    scenario_register_step("adc-fault", set_fault);
  }
};
Registrar registrar;

void done(void *ctx) {
  Sequencer &s = *static_cast<Sequencer *>(ctx);
  s.busy = false;
  s.count = 0;
  bool interrupt = false;
  for (int i = 0; i < kSteps; i++) {
    uint32_t cfg = s.steps[i];
    uint32_t ch = (cfg & 0x0F) | ((cfg >> 4) & 0x10);
    uint32_t value = 0;
    if (cfg & ADC_CTL_TS) ch = 0xFF;  // the internal temperature sensor
    value = a.source ? a.source(ch, a.ctx) : 0;
    s.fifo[s.count++] = value > 4095 ? 4095 : value;
    if (cfg & ADC_CTL_IE) interrupt = true;
    if (cfg & ADC_CTL_END) break;
  }
  if (interrupt) s.ris = true;
}

Sequencer *seq_of(uint32_t base, uint32_t seq) {
  if (base != ADC0_BASE || seq > 3) return nullptr;
  return &a.seq[seq];
}

}  // namespace

void adc_reset() {
  AdcSource src = a.source;
  void *ctx = a.ctx;
  bool stuck = a.stuck;
  memset(&a, 0, sizeof a);
  a.source = src;
  a.ctx = ctx;
  a.stuck = stuck;
  for (auto &s : a.seq) s.slot = event_slot(done, &s, "adc");
}

void adc_set_source(AdcSource fn, void *ctx) {
  a.source = fn;
  a.ctx = ctx;
}

void adc_set_stuck(bool stuck) { a.stuck = stuck; }

}  // namespace sim

using namespace sim;

void ADCSequenceConfigure(uint32_t, uint32_t, uint32_t, uint32_t) { op(); }

void ADCSequenceStepConfigure(uint32_t base, uint32_t seq, uint32_t step, uint32_t config) {
  op();
  if (Sequencer *s = seq_of(base, seq); s && step < kSteps) s->steps[step] = config;
}

void ADCSequenceEnable(uint32_t base, uint32_t seq) {
  op();
  if (Sequencer *s = seq_of(base, seq)) s->enabled = true;
}

void ADCSequenceDisable(uint32_t base, uint32_t seq) {
  op();
  if (Sequencer *s = seq_of(base, seq)) s->enabled = false;
}

void ADCProcessorTrigger(uint32_t base, uint32_t seq) {
  op();
  Sequencer *s = seq_of(base, seq);
  if (!s || !s->enabled || s->busy || !periph_is_enabled(0xF0003800u)) return;
  int n = 0;
  while (n < kSteps && !(s->steps[n] & ADC_CTL_END)) n++;
  s->busy = true;
  if (a.stuck || stuck_for_the_run()) return;
  uint32_t factor = a.oversample ? a.oversample : 1;
  event_at(s->slot, now() + (ns_t)(n + 1) * kConversion * factor);
}

uint32_t ADCIntStatus(uint32_t base, uint32_t seq, bool) {
  poll();
  Sequencer *s = seq_of(base, seq);
  return s && s->ris ? 1u : 0u;
}

void ADCIntClear(uint32_t base, uint32_t seq) {
  op();
  if (Sequencer *s = seq_of(base, seq)) s->ris = false;
}

void ADCIntEnable(uint32_t, uint32_t) { op(); }
void ADCIntDisable(uint32_t, uint32_t) { op(); }

int32_t ADCSequenceDataGet(uint32_t base, uint32_t seq, uint32_t *buf) {
  op();
  Sequencer *s = seq_of(base, seq);
  if (!s) return 0;
  int n = s->count;
  for (int i = 0; i < n; i++) buf[i] = s->fifo[i];
  s->count = 0;
  return n;
}

void ADCHardwareOversampleConfigure(uint32_t, uint32_t factor) {
  op();
  a.oversample = factor;
}

void ADCReferenceSet(uint32_t, uint32_t) { op(); }
