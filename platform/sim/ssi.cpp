// SSI ports of the simulated chip as SPI masters: frames go out in order at
// the configured bit rate and are exchanged with whichever attached device
// has its chip select asserted at that moment.
#include <cstring>

#include "driverlib/ssi.h"
#include "inc/hw_memmap.h"
#include "sim.h"
#include "sim_internal.h"

namespace sim {
namespace {

constexpr int kPorts = 4;
constexpr int kFifo = 8;
constexpr uint32_t kBases[kPorts] = {SSI0_BASE, SSI1_BASE, SSI2_BASE, SSI3_BASE};

struct Ssi {
  bool enabled;
  uint32_t bitrate;
  int width;
  uint32_t tx[kFifo];
  int tx_head, tx_count;
  uint32_t rx[kFifo];
  int rx_head, rx_count;
  bool shifting;
  int slot;
  SpiDevice devices[2];
  int n_devices;
};

Ssi ports[kPorts];

Ssi *of(uint32_t base) {
  int i = ssi_index(base);
  return i < 0 ? nullptr : &ports[i];
}

ns_t frame_ns(const Ssi &s) {
  return (ns_t)((double)s.width * 1.0e9 / (s.bitrate ? s.bitrate : 1));
}

void start(Ssi &s) {
  if (s.shifting || !s.enabled || s.tx_count == 0) return;
  s.shifting = true;
  event_at(s.slot, now() + frame_ns(s));
}

void frame_done(void *ctx) {
  Ssi &s = *static_cast<Ssi *>(ctx);
  s.shifting = false;
  uint32_t out = s.tx[s.tx_head];
  s.tx_head = (s.tx_head + 1) % kFifo;
  s.tx_count--;
  uint32_t mask = s.width >= 32 ? 0xFFFFFFFFu : ((1u << s.width) - 1);
  uint32_t in = mask;  // an undriven data line reads high
  for (int i = 0; i < s.n_devices; i++) in &= s.devices[i].exchange(s.devices[i].ctx, out, s.width);
  if (s.rx_count < kFifo) {
    s.rx[(s.rx_head + s.rx_count) % kFifo] = in & mask;
    s.rx_count++;
  }
  start(s);
}

}  // namespace

void ssi_reset() {
  for (int i = 0; i < kPorts; i++) {
    SpiDevice devs[2] = {ports[i].devices[0], ports[i].devices[1]};
    int n = ports[i].n_devices;
    memset(&ports[i], 0, sizeof ports[i]);
    ports[i].devices[0] = devs[0];
    ports[i].devices[1] = devs[1];
    ports[i].n_devices = n;
    ports[i].width = 8;
    ports[i].bitrate = 1000000;
    ports[i].slot = event_slot(frame_done, &ports[i], "ssi");
  }
}

int ssi_index(uint32_t base) {
  for (int i = 0; i < kPorts; i++)
    if (kBases[i] == base) return i;
  return -1;
}

void ssi_attach(int index, SpiDevice dev) {
  if (index < 0 || index >= kPorts) return;
  Ssi &s = ports[index];
  for (int i = 0; i < s.n_devices; i++)
    if (s.devices[i].ctx == dev.ctx && s.devices[i].exchange == dev.exchange) return;
  if (s.n_devices < 2) s.devices[s.n_devices++] = dev;
}

uint32_t ssi_bitrate(int index) { return index >= 0 && index < kPorts ? ports[index].bitrate : 0; }

}  // namespace sim

using namespace sim;

void SSIConfigSetExpClk(uint32_t base, uint32_t sys_clk, uint32_t, uint32_t,
                        uint32_t bit_rate, uint32_t data_width) {
  op();
  Ssi *s = of(base);
  if (!s || bit_rate == 0) return;
  // The clock is sys_clk / (CPSDVSR x (1 + SCR)) with an even prescaler
  // of at least 2: the rate on the wire is never above the one asked for.
  uint32_t best = 0;
  for (uint32_t pre = 2; pre <= 254 && !best; pre += 2) {
    uint32_t scr = sys_clk / (pre * bit_rate);
    if (scr * pre * bit_rate < sys_clk) scr++;
    if (scr >= 1 && scr <= 256) best = sys_clk / (pre * scr);
  }
  s->bitrate = best ? best : bit_rate;
  s->width = (int)data_width;
  s->enabled = false;  // the chip's driver sets up with the port off
}

void SSIEnable(uint32_t base) {
  op();
  if (Ssi *s = of(base)) {
    s->enabled = true;
    start(*s);
  }
}

void SSIDisable(uint32_t base) {
  op();
  if (Ssi *s = of(base)) s->enabled = false;
}

int32_t SSIDataPutNonBlocking(uint32_t base, uint32_t data) {
  op();
  Ssi *s = of(base);
  if (!s || s->tx_count >= kFifo) return 0;
  s->tx[(s->tx_head + s->tx_count) % kFifo] = data;
  s->tx_count++;
  start(*s);
  return 1;
}

void SSIDataPut(uint32_t base, uint32_t data) {
  Ssi *s = of(base);
  if (!s) return;
  // A FIFO that does not drain (the port is off) drops the frame.
  const ns_t deadline = now() + kByteWait;
  while (s->tx_count >= kFifo)
    if (!idle_until(deadline)) return;
  SSIDataPutNonBlocking(base, data);
}

int32_t SSIDataGetNonBlocking(uint32_t base, uint32_t *data) {
  op();
  Ssi *s = of(base);
  if (!s || s->rx_count == 0) return 0;
  *data = s->rx[s->rx_head];
  s->rx_head = (s->rx_head + 1) % kFifo;
  s->rx_count--;
  return 1;
}

void SSIDataGet(uint32_t base, uint32_t *data) {
  Ssi *s = of(base);
  if (!s) return;
  // A port that receives nothing (disabled, or no frame sent) gives up
  // with all ones, what an idle data-in line reads.
  const ns_t deadline = now() + kByteWait;
  while (s->rx_count == 0) {
    if (!idle_until(deadline)) {
      *data = 0xFFFFFFFFu;
      return;
    }
  }
  SSIDataGetNonBlocking(base, data);
}

bool SSIBusy(uint32_t base) {
  poll();
  Ssi *s = of(base);
  return s && (s->shifting || s->tx_count > 0);
}
