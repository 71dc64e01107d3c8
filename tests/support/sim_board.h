// A simulated board inside a unit test: powered on over a fresh state
// directory, with the console line captured and typed into. Hibernation
// and resets end the firmware's run by throwing PowerDown, which the test
// catches (the wake runner of phlogger-sim ends a process instead).
#pragma once
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

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
    sim::console_output_hook(
        [](uint8_t b, void *ctx) {
          auto *self = static_cast<SimBoard *>(ctx);
          self->out_ += (char)b;
          if (self->on_output_) self->on_output_();
        },
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
  // Called after every byte the console prints (a test's dialogue).
  void on_output(std::function<void()> fn) { on_output_ = std::move(fn); }
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
  std::function<void()> on_output_;
};

// Answers prompts as the firmware prints them: each step waits for its
// text in the output after the previous step's match, then types its
// reply, so that menus which empty the input first still get it.
class Dialogue {
 public:
  explicit Dialogue(SimBoard &board) : board_(board) {
    from_ = board.out().size();
    board.on_output([this] { step(); });
  }
  ~Dialogue() { board_.on_output(nullptr); }
  // `expect` is firmware text: each of its line feeds reaches the line as
  // carriage return and line feed.
  Dialogue &on(const std::string &expect, std::string reply) {
    std::string line;
    for (char c : expect) {
      if (c == '\n') line += '\r';
      line += c;
    }
    steps_.push_back({std::move(line), std::move(reply)});
    return *this;
  }
  bool done() const { return next_ == steps_.size(); }
  // The step still waiting for its text, for failure messages.
  std::string waiting_for() const { return done() ? "" : steps_[next_].expect; }

 private:
  struct Step {
    std::string expect, reply;
  };
  void step() {
    if (done()) return;
    const std::string &out = board_.out();
    size_t at = out.find(steps_[next_].expect, from_);
    if (at == std::string::npos) return;
    from_ = at + steps_[next_].expect.size();
    const std::string &r = steps_[next_++].reply;
    board_.type(r);
  }
  SimBoard &board_;
  std::vector<Step> steps_;
  size_t next_ = 0;
  size_t from_ = 0;
};
