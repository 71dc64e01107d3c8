// Power-on of the simulated board and the files behind its persistent
// stores.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "driverlib/sysctl.h"
#include "sim.h"
#include "sim_internal.h"

namespace sim {
namespace {

char g_state_dir[512] = ".";

bool path_of(const char *dir, const char *name, char *out, size_t size) {
  int n = snprintf(out, size, "%s/%s", dir, name);
  return n > 0 && (size_t)n < size;
}

}  // namespace

const char *state_dir() { return g_state_dir; }

bool load_file(const char *dir, const char *name, void *buf, size_t size, int fill) {
  char path[600];
  memset(buf, fill, size);
  if (!path_of(dir, name, path, sizeof path)) return false;
  int fd = open(path, O_RDONLY);
  if (fd < 0) return false;
  ssize_t got = read(fd, buf, size);
  close(fd);
  return got > 0;
}

void save_file(const char *dir, const char *name, const void *buf, size_t size) {
  char path[600];
  if (!path_of(dir, name, path, sizeof path)) return;
  int fd = open(path, O_WRONLY | O_CREAT, 0644);
  if (fd < 0) {
    report("sim: cannot write %s: %s\n", path, strerror(errno));
    return;
  }
  if (pwrite(fd, buf, size, 0) != (ssize_t)size) report("sim: short write to %s\n", path);
  close(fd);
}

void hib_power_on(bool new_run, bool power_cycle, uint32_t cold_rtc);

void board_set_state_dir(const char *dir) {
  snprintf(g_state_dir, sizeof g_state_dir, "%s", dir);
}

void board_reset_models() {
  core_reset();
  gpio_reset();
  uart_reset();
  i2c_reset();
  ssi_reset();
  adc_reset();
  eeprom_reset();
}

void run_device_inits();
void console_attach_for_tests();

void board_power_on(const BoardConfig &cfg) {
  board_set_state_dir(cfg.state_dir);
  board_reset_models();
  hib_power_on(true, false, cfg.cold_rtc);
  run_device_inits();
  console_attach_for_tests();
}


void periph_reset(uint32_t periph) {
  switch (periph) {
    case SYSCTL_PERIPH_ADC0:
      adc_reset();
      break;
    default:
      break;
  }
}

}  // namespace sim
