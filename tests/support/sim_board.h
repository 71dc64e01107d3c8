// A simulated board inside a unit test: powered on over a fresh state
// directory, with the console line captured and typed into. Hibernation
// and resets end the firmware's run by throwing PowerDown, which the test
// catches (the wake runner of phlogger-sim ends a process instead).
#pragma once
#include <cstdlib>
#include <string>

#include "runner.h"
#include "sim.h"
#include "sim_internal.h"

struct PowerDown {
  bool reset;
};

class SimBoard {
 public:
  explicit SimBoard(const char *tag = "board") {
    char tmpl[256];
    snprintf(tmpl, sizeof tmpl, "/tmp/phlogger-%s-XXXXXX", tag);
    dir_ = mkdtemp(tmpl);
    sim::board_power_on(sim::BoardConfig{dir_.c_str(), 115200});
    sim::set_power_hooks(sim::PowerHooks{[] { throw PowerDown{false}; },
                                         [] { throw PowerDown{true}; }});
    sim::console_output_hook([](uint8_t b, void *ctx) { static_cast<SimBoard *>(ctx)->out_ += (char)b; },
                             this);
  }
  ~SimBoard() {
    std::string cmd = "rm -rf '" + dir_ + "'";
    if (system(cmd.c_str())) {
    }
  }
  const std::string &dir() const { return dir_; }
  // Everything the console printed so far.
  std::string &out() { return out_; }
  void type(const std::string &s) {
    sim::console_type(reinterpret_cast<const uint8_t *>(s.data()), s.size());
  }
  void run_for(double seconds) { sim::advance((sim::ns_t)(seconds * sim::kSec)); }
  // Lets time pass until the console has printed `text` (or the limit).
  bool run_until(const std::string &text, double limit_s = 10) {
    sim::ns_t end = sim::now() + (sim::ns_t)(limit_s * sim::kSec);
    while (out_.find(text) == std::string::npos && sim::now() < end) sim::advance(sim::kMs);
    return out_.find(text) != std::string::npos;
  }

 private:
  std::string dir_;
  std::string out_;
};
