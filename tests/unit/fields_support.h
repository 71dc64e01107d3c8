// Support of the record-field tests of both boards.
//
// MenuKeys answers a menu from the far end of the console line: waits until the
// console has printed a step's text, runs the step's check (the menu has
// acted on the previous key by then), and types the step's reply. Menus
// flush their input before waiting, so a reply typed early would be lost.
// Replies go straight onto the line, a frame apart, independent of what
// earlier tests left queued on the simulated terminal.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "config/config.h"
#include "config/system.h"
#include "core/init.h"
#include "core/sleep.h"
#include "ff.h"
#include "sim_board.h"

struct MenuStep {
  std::string expect;
  std::string reply;
  std::function<void()> check = nullptr;
};

// Thrown into the firmware when a step's text has not come within the
// limit, so that a test never waits on a prompt that will not appear.
struct MenuStalled {
  std::string expect;
};

class MenuKeys {
 public:
  MenuKeys(SimBoard &board, std::vector<MenuStep> steps, double limit_s = 400)
      : board_(board), steps_(std::move(steps)), limit_((sim::ns_t)(limit_s * sim::kSec)) {
    slot_ = sim::event_slot(tick, this, "menu keys");
    since_ = sim::now();
    seen_ = board.out().size();  // only what the menu prints from now on
    sim::event_at(slot_, sim::now() + kPoll);
  }
  ~MenuKeys() { sim::event_cancel(slot_); }
  bool done() const { return next_ == steps_.size(); }

 private:
  static constexpr sim::ns_t kPoll = 5 * sim::kMs;

  static void tick(void *ctx) {
    auto *k = static_cast<MenuKeys *>(ctx);
    if (k->typing_ < k->reply_.size()) {
      uint32_t baud = sim::console_line_baud();
      sim::uart_line_rx(0, (uint8_t)k->reply_[k->typing_++], baud);
      sim::event_at(k->slot_, sim::now() + sim::byte_time(baud));
      return;
    }
    if (k->done()) return;
    const MenuStep &s = k->steps_[k->next_];
    size_t at = k->board_.out().find(s.expect, k->seen_);
    if (at != std::string::npos) {
      k->seen_ = at + s.expect.size();
      k->next_++;
      k->since_ = sim::now();
      if (s.check) s.check();
      k->reply_ = s.reply;
      k->typing_ = 0;
    } else if (sim::now() - k->since_ > k->limit_) {
      throw MenuStalled{s.expect};
    }
    sim::event_at(k->slot_, sim::now() + kPoll);
  }

  SimBoard &board_;
  std::vector<MenuStep> steps_;
  sim::ns_t limit_;
  std::string reply_;
  size_t typing_ = 0;
  size_t next_ = 0;
  size_t seen_ = 0;
  sim::ns_t since_ = 0;
  int slot_ = -1;
};

// Console text as the line carries it.
inline std::string crlf(const std::string &s) {
  std::string out;
  for (char c : s) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// A file on the card, whole ("<absent>" when it cannot be opened).
inline std::string card_file(const char *name) {
  FIL f;
  if (f_open(&f, name, FA_READ) != FR_OK) return "<absent>";
  std::string s;
  char buf[512];
  UINT n = 0;
  while (f_read(&f, buf, sizeof buf, &n) == FR_OK && n > 0) s.append(buf, n);
  f_close(&f);
  return s;
}

// Steps written one a line, each text as the firmware prints it:
// script.on("Enter Selection [9]: ", "3\r").on(...).
struct MenuScript {
  std::vector<MenuStep> steps;
  MenuScript &on(const std::string &expect, std::string reply) {
    steps.push_back({crlf(expect), std::move(reply)});
    return *this;
  }
};

// A started board with the factory configuration and a quiet console.
class FieldsBoard : public ::testing::Test {
 protected:
  void SetUp() override {
    init_TM4C123GH6PGE_144pin();
    sleep_handler();
    config_sys_data_default_init();
    board.run_for(0.1);
    board.out().clear();
  }
  // Lets the console finish and returns what it printed since the last call.
  std::string printed() {
    board.run_for(0.5);
    std::string s = board.out();
    board.out().clear();
    return s;
  }
  // One visit to the data-field menu: the steps, then the exit key.
  void menu(std::vector<MenuStep> steps) {
    steps.push_back({"Enter Selection [9]: ", "9\r"});
    MenuKeys keys(board, steps);
    config_data_fields();
    EXPECT_TRUE(keys.done());
  }
  SimBoard board{"fields"};
};
