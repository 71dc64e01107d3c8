// A started board for the bench tests, with an operator at the console:
// each step waits for a text on the line, then types its reply, as a person
// would once the prompt is on the screen (the menus empty the receive ring
// before they wait, so replies typed ahead would be lost).
#pragma once
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "config/system.h"
#include "core/init.h"
#include "core/sleep.h"
#include "frontend.h"
#include "qa/test.h"
#include "sim_board.h"

class Bench : public ::testing::Test {
 public:
  struct Step {
    Step(std::string e, std::string r, std::function<void()> f = nullptr)
        : expect(std::move(e)), reply(std::move(r)), seen(std::move(f)) {}
    std::string expect;
    std::string reply;
    std::function<void()> seen;  // called when the text has appeared
  };

  // ---- reading what was printed ----
  static int count(const std::string &s, const std::string &what) {
    int n = 0;
    for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1)) n++;
    return n;
  }
  // The lines of a text, each without its line end.
  static std::vector<std::string> lines(const std::string &s) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : s) {
      if (c == '\n') {
        out.push_back(cur);
        cur.clear();
      } else if (c != '\r') {
        cur += c;
      }
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
  }
  // The first line that starts with `prefix` (empty when none).
  static std::string line_starting(const std::string &s, const std::string &prefix) {
    for (const std::string &l : lines(s))
      if (l.rfind(prefix, 0) == 0) return l;
    return "";
  }
  // The numbers of a comma-separated row after its time stamp.
  static std::vector<double> row_values(const std::string &row) {
    std::vector<double> v;
    size_t p = row.find(", ");
    while (p != std::string::npos) {
      p += 2;
      v.push_back(strtod(row.c_str() + p, nullptr));
      p = row.find(", ", p);
    }
    return v;
  }

 protected:
  void SetUp() override {
    init_TM4C123GH6PGE_144pin();
    sleep_handler();
    config_sys_data_default_init();
    sim::sensor_set("noise_uV", 0);
    in_windows();
    board.run_for(0.05);
    board.out().clear();
    sim::console_output_hook(
        [](uint8_t b, void *ctx) { static_cast<Bench *>(ctx)->on_byte((char)b); }, this);
  }

  // Every front-end voltage in the middle of its window.
  static void in_windows() {
    for (const FrontEndWindow &w : front_end_windows) sim::sensor_set(sensor_of(w), (w.lo + w.hi) / 2);
  }
  // The sensor model's name of a window's channel.
  static const char *sensor_of(const FrontEndWindow &w) {
    const std::string n = w.name;
    if (n == "Ik") return "Ik_V";
    if (n == "Ib") return "Ib_V";
    if (n == "VTherm") return "Vtherm";
    return w.name;
  }

  struct Pin {
    uint32_t port;
    uint8_t pin;
  };
  // Types each key at a menu prompt, then 9; at every prompt the levels of
  // the pins go into *seen, so (*seen)[k] is what k keys left.
  void keys_at_prompts(const std::string &keys, std::vector<Pin> pins,
                       std::vector<std::vector<bool>> *seen) {
    auto snapshot = [pins, seen] {
      std::vector<bool> levels;
      for (const Pin &p : pins) levels.push_back(sim::gpio_level(p.port, p.pin));
      seen->push_back(levels);
    };
    std::vector<Step> steps;
    for (char k : keys) steps.push_back({"Enter Selection [9]: ", std::string(1, k) + "\r", snapshot});
    steps.push_back({"Enter Selection [9]: ", "9\r", snapshot});
    operator_does(steps);
  }

  void operator_does(std::vector<Step> steps) {
    steps_ = std::move(steps);
    next_ = 0;
    from_ = board.out().size();
  }
  bool all_steps_done() const { return next_ == steps_.size(); }
  // Lets the console drain, then hands over what it printed.
  std::string printed() {
    board.run_for(0.3);
    std::string s = board.out();
    board.out().clear();
    from_ = 0;
    return s;
  }

  SimBoard board{"qa"};

 private:
  void on_byte(char c) {
    board.out() += c;
    if (next_ >= steps_.size()) return;
    const Step &s = steps_[next_];
    // Only a match that ends with this byte is new.
    const std::string &o = board.out();
    size_t start = o.size() >= s.expect.size() ? o.size() - s.expect.size() : 0;
    if (start < from_) return;
    size_t at = o.find(s.expect, start);
    if (at == std::string::npos) return;
    from_ = at + s.expect.size();
    next_++;
    if (s.seen) s.seen();
    if (!s.reply.empty()) board.type(s.reply);
  }

  std::vector<Step> steps_;
  size_t next_ = 0;
  size_t from_ = 0;
};
