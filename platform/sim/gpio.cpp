// GPIO ports of the simulated chip: direction, levels, pad types and the
// alternate-function routing, observable by tests and device models.
#include <cstring>

#include "driverlib/gpio.h"
#include "driverlib/pin_map.h"
#include "inc/hw_memmap.h"
#include "sim.h"
#include "sim_internal.h"

namespace sim {
namespace {

constexpr int kPorts = 15;
constexpr uint32_t kBases[kPorts] = {
    GPIO_PORTA_BASE, GPIO_PORTB_BASE, GPIO_PORTC_BASE, GPIO_PORTD_BASE,
    GPIO_PORTE_BASE, GPIO_PORTF_BASE, GPIO_PORTG_BASE, GPIO_PORTH_BASE,
    GPIO_PORTJ_BASE, GPIO_PORTK_BASE, GPIO_PORTL_BASE, GPIO_PORTM_BASE,
    GPIO_PORTN_BASE, GPIO_PORTP_BASE, GPIO_PORTQ_BASE};

struct Watch {
  uint8_t mask;
  PinWatch fn;
  void *ctx;
};

struct Port {
  uint8_t data;    // output latch
  uint8_t dir;     // 1 = output
  uint8_t afsel;   // 1 = peripheral function
  uint8_t den;
  uint8_t odr;
  uint8_t pur;
  uint8_t pdr;
  uint8_t amsel;
  uint8_t driven;  // device-driven input levels
  uint8_t driven_mask;
  uint8_t pctl[8];
  Watch watches[8];
  int n_watches;
};

Port ports[kPorts];

Port *port_of(uint32_t base) {
  int i = gpio_port_index(base);
  return i < 0 ? nullptr : &ports[i];
}

uint8_t levels(const Port &p) {
  uint8_t in = (uint8_t)((p.driven & p.driven_mask) | (p.pur & ~p.driven_mask));
  return (uint8_t)((p.data & p.dir) | (in & ~p.dir));
}

void notify(uint32_t base, Port &p, uint8_t before) {
  uint8_t after = levels(p);
  uint8_t changed = before ^ after;
  if (!changed) return;
  for (int i = 0; i < p.n_watches; i++) {
    Watch &w = p.watches[i];
    for (int pin = 0; pin < 8; pin++) {
      uint8_t m = (uint8_t)(1u << pin);
      if ((w.mask & m) && (changed & m)) w.fn(base, m, (after & m) != 0, w.ctx);
    }
  }
}

void set_type(uint32_t base, uint8_t pins, bool output, bool afsel, bool digital) {
  Port *p = port_of(base);
  if (!p) return;
  uint8_t before = levels(*p);
  if (output) p->dir |= pins;
  else p->dir &= (uint8_t)~pins;
  if (afsel) p->afsel |= pins;
  else p->afsel &= (uint8_t)~pins;
  if (digital) {
    p->den |= pins;
    p->amsel &= (uint8_t)~pins;
  } else {
    p->den &= (uint8_t)~pins;
    p->amsel |= pins;
  }
  notify(base, *p, before);
}

}  // namespace

void gpio_reset() { memset(ports, 0, sizeof ports); }

int gpio_port_index(uint32_t base) {
  for (int i = 0; i < kPorts; i++)
    if (kBases[i] == base) return i;
  return -1;
}

uint32_t gpio_port_base(int index) { return index >= 0 && index < kPorts ? kBases[index] : 0; }

bool gpio_level(uint32_t base, uint8_t pin_mask) {
  Port *p = port_of(base);
  return p && (levels(*p) & pin_mask) != 0;
}

bool gpio_is_output(uint32_t base, uint8_t pin_mask) {
  Port *p = port_of(base);
  return p && (p->dir & pin_mask) == pin_mask && !(p->afsel & pin_mask);
}

uint8_t gpio_pctl(uint32_t base, int pin) {
  Port *p = port_of(base);
  return p && pin >= 0 && pin < 8 ? p->pctl[pin] : 0;
}

bool gpio_afsel(uint32_t base, uint8_t pin_mask) {
  Port *p = port_of(base);
  return p && (p->afsel & pin_mask) == pin_mask;
}

void gpio_drive_input(uint32_t base, uint8_t pin_mask, bool high) {
  Port *p = port_of(base);
  if (!p) return;
  uint8_t before = levels(*p);
  p->driven_mask |= pin_mask;
  if (high) p->driven |= pin_mask;
  else p->driven &= (uint8_t)~pin_mask;
  notify(base, *p, before);
}

void gpio_watch(uint32_t base, uint8_t pin_mask, PinWatch fn, void *ctx) {
  Port *p = port_of(base);
  if (!p || p->n_watches >= 8) return;
  p->watches[p->n_watches++] = Watch{pin_mask, fn, ctx};
}

}  // namespace sim

using namespace sim;

void GPIODirModeSet(uint32_t port, uint8_t pins, uint32_t mode) {
  op();
  Port *p = port_of(port);
  if (!p) return;
  uint8_t before = levels(*p);
  if (mode == GPIO_DIR_MODE_OUT) p->dir |= pins;
  else if (mode == GPIO_DIR_MODE_IN) p->dir &= (uint8_t)~pins;
  if (mode == GPIO_DIR_MODE_HW) p->afsel |= pins;
  else p->afsel &= (uint8_t)~pins;
  notify(port, *p, before);
}

void GPIOPadConfigSet(uint32_t port, uint8_t pins, uint32_t, uint32_t type) {
  op();
  Port *p = port_of(port);
  if (!p) return;
  uint8_t before = levels(*p);
  p->odr = (type == GPIO_PIN_TYPE_OD) ? (uint8_t)(p->odr | pins) : (uint8_t)(p->odr & ~pins);
  p->pur = (type == GPIO_PIN_TYPE_STD_WPU) ? (uint8_t)(p->pur | pins) : (uint8_t)(p->pur & ~pins);
  p->pdr = (type == GPIO_PIN_TYPE_STD_WPD) ? (uint8_t)(p->pdr | pins) : (uint8_t)(p->pdr & ~pins);
  if (type == GPIO_PIN_TYPE_ANALOG) {
    p->den &= (uint8_t)~pins;
    p->amsel |= pins;
  } else {
    p->den |= pins;
  }
  notify(port, *p, before);
}

void GPIOPinWrite(uint32_t port, uint8_t pins, uint8_t val) {
  op();
  Port *p = port_of(port);
  if (!p) return;
  uint8_t before = levels(*p);
  p->data = (uint8_t)((p->data & ~pins) | (val & pins));
  notify(port, *p, before);
}

int32_t GPIOPinRead(uint32_t port, uint8_t pins) {
  poll();
  Port *p = port_of(port);
  return p ? (int32_t)(levels(*p) & pins) : 0;
}

void GPIOPinTypeGPIOOutput(uint32_t port, uint8_t pins) {
  op();
  set_type(port, pins, true, false, true);
}

void GPIOPinTypeGPIOOutputOD(uint32_t port, uint8_t pins) {
  op();
  set_type(port, pins, true, false, true);
  if (Port *p = port_of(port)) p->odr |= pins;
}

void GPIOPinTypeGPIOInput(uint32_t port, uint8_t pins) {
  op();
  set_type(port, pins, false, false, true);
}

void GPIOPinTypeUART(uint32_t port, uint8_t pins) { op(); set_type(port, pins, false, true, true); }
void GPIOPinTypeSSI(uint32_t port, uint8_t pins) { op(); set_type(port, pins, false, true, true); }
void GPIOPinTypeI2C(uint32_t port, uint8_t pins) {
  op();
  set_type(port, pins, false, true, true);
  if (Port *p = port_of(port)) p->odr |= pins;
}
void GPIOPinTypeI2CSCL(uint32_t port, uint8_t pins) { op(); set_type(port, pins, false, true, true); }
void GPIOPinTypeADC(uint32_t port, uint8_t pins) { op(); set_type(port, pins, false, true, false); }

void GPIOPinConfigure(uint32_t pin_config) {
  op();
  int port = (int)((pin_config >> 16) & 0xFF);
  int pin = (int)(((pin_config >> 8) & 0xFF) / 4);
  if (port < 0 || port >= kPorts || pin > 7) return;
  ports[port].pctl[pin] = (uint8_t)(pin_config & 0x0F);
}
