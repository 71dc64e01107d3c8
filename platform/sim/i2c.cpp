// I2C0 master of the simulated chip and the FRAM behind it.
#include <cstring>

#include "driverlib/i2c.h"
#include "inc/hw_memmap.h"
#include "sim.h"
#include "sim_internal.h"

namespace sim {
namespace {

constexpr uint32_t kRun = 0x01, kStart = 0x02, kStop = 0x04;

struct Master {
  bool enabled;
  double bit_ns;
  uint8_t slave;
  bool receive;
  uint8_t mdr;
  uint32_t err;
  ns_t busy_until;
  I2cDevice *active;
  I2cDevice devices[4];
  int n_devices;
};

Master m;
I2cTraceEntry trace[256];
int n_trace;

// The FRAM: one-byte word addressing over 256 bytes, written through to
// fram.bin.
struct Fram {
  uint8_t mem[256];
  uint8_t ptr;
  bool expect_address;
  bool dirty;
};
Fram fram;

bool fram_start(void *, bool read) {
  if (faults().no_fram) return false;
  if (!read && faults().fram_write_fail && !faults().fram_write_fail_at) {
    faults().fram_write_fail--;  // this write is not acknowledged
    return false;
  }
  fram.expect_address = !read;
  return true;
}

bool fram_write(void *, uint8_t b) {
  if (fram.expect_address) {
    if (faults().fram_write_fail && faults().fram_write_fail_at == b + 1u) {
      faults().fram_write_fail--;  // a write to this word is not acknowledged
      return false;
    }
    fram.ptr = b;
    fram.expect_address = false;
  } else {
    fram.mem[fram.ptr++] = b;
    fram.dirty = true;
  }
  return true;
}

uint8_t fram_read(void *) { return fram.mem[fram.ptr++]; }

void fram_stop(void *) {
  if (fram.dirty) save_file(state_dir(), "fram.bin", fram.mem, sizeof fram.mem);
  fram.dirty = false;
}

I2cDevice *find(uint8_t address) {
  for (int i = 0; i < m.n_devices; i++)
    if (m.devices[i].address == address) return &m.devices[i];
  return nullptr;
}

}  // namespace

uint8_t *fram_bytes() { return fram.mem; }

const I2cTraceEntry *i2c_trace(int *count) {
  *count = n_trace;
  return trace;
}
void i2c_trace_clear() { n_trace = 0; }

void i2c_reset() {
  memset(&m, 0, sizeof m);
  memset(&fram, 0, sizeof fram);
  if (!load_file(state_dir(), "fram.bin", fram.mem, sizeof fram.mem, 0x00))
    save_file(state_dir(), "fram.bin", fram.mem, sizeof fram.mem);
  m.bit_ns = 10000;  // 100 kbit/s until configured
  i2c_attach(I2cDevice{0x50, fram_start, fram_write, fram_read, fram_stop, nullptr});
}

void i2c_attach(I2cDevice dev) {
  for (int i = 0; i < m.n_devices; i++)
    if (m.devices[i].address == dev.address) {
      m.devices[i] = dev;
      return;
    }
  if (m.n_devices < 4) m.devices[m.n_devices++] = dev;
}

}  // namespace sim

using namespace sim;

void I2CMasterInitExpClk(uint32_t, uint32_t sys_clk, bool fast) {
  op();
  // SCL period = 2 x (1 + TPR) x (6 + 4) system clocks.
  uint32_t rate = fast ? 400000 : 100000;
  uint32_t tpr = (sys_clk + 2 * 10 * rate - 1) / (2 * 10 * rate) - 1;
  m.bit_ns = 2.0 * (1 + tpr) * 10 * 1.0e9 / (sys_clk ? sys_clk : 1);
  m.enabled = true;
}

void I2CMasterEnable(uint32_t) { op(); m.enabled = true; }
void I2CMasterDisable(uint32_t) { op(); m.enabled = false; }

void I2CMasterSlaveAddrSet(uint32_t, uint8_t slave_addr, bool receive) {
  op();
  m.slave = slave_addr;
  m.receive = receive;
}

void I2CMasterDataPut(uint32_t, uint8_t data) {
  op();
  m.mdr = data;
}

uint32_t I2CMasterDataGet(uint32_t) {
  op();
  return m.mdr;
}

void I2CMasterControl(uint32_t, uint32_t cmd) {
  op();
  if (!m.enabled) return;
  if (n_trace < 256) trace[n_trace++] = I2cTraceEntry{cmd, m.slave, m.receive};
  int bits = 0;
  m.err = 0;
  if (cmd & kStart) {
    bits += 1 + 9;
    if (m.active && m.active->address != m.slave) m.active->stop(m.active->ctx);
    m.active = find(m.slave);
    if (!m.active || !m.active->start(m.active->ctx, m.receive)) {
      m.active = nullptr;
      m.err = I2C_MASTER_ERR_ADDR_ACK;
    }
  }
  if (cmd & kRun) {
    bits += 9;
    if (m.receive) {
      // Nobody drives the bus: the pull-ups read as ones.
      m.mdr = m.active ? m.active->read(m.active->ctx) : 0xFF;
    } else if (m.active) {
      if (!m.active->write(m.active->ctx, m.mdr)) m.err = I2C_MASTER_ERR_DATA_ACK;
    }
  }
  if (cmd & kStop) {
    bits += 1;
    if (m.active) m.active->stop(m.active->ctx);
    m.active = nullptr;
  }
  m.busy_until = now() + (ns_t)(bits * m.bit_ns);
}

bool I2CMasterBusy(uint32_t) {
  poll();
  if (now() < m.busy_until) {
    // Nothing else can finish the transfer sooner: wait for it.
    advance_to(m.busy_until);
    return true;
  }
  return false;
}

bool I2CMasterBusBusy(uint32_t) {
  poll();
  return m.active != nullptr;
}

uint32_t I2CMasterErr(uint32_t) {
  op();
  return m.err;
}
