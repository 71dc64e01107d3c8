// A started board with the default configuration and a noiseless front end,
// for the measuring tests.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/system.h"
#include "core/init.h"
#include "frontend.h"
#include "sim_board.h"

class FrontEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    init_TM4C123GH6PGE_144pin();
    config_sys_data_default_init();
    sim::sensor_set("noise_uV", 0);
    board.run_for(0.01);
    board.out().clear();
  }
  // Lets the console drain, then hands over what it printed.
  std::string printed() {
    board.run_for(0.05);
    std::string s = board.out();
    board.out().clear();
    return s;
  }
  static std::vector<uint8_t> sent(int i) {
    const sim::AdsTransfer &t = sim::ads1248_transfer(i);
    return std::vector<uint8_t>(t.mosi, t.mosi + (t.n < 32 ? t.n : 32));
  }
  static std::vector<uint8_t> got(int i) {
    const sim::AdsTransfer &t = sim::ads1248_transfer(i);
    return std::vector<uint8_t>(t.miso, t.miso + (t.n < 32 ? t.n : 32));
  }
  static double secs() { return sim::now() / 1e9; }
  static int count(const std::string &s, const std::string &what) {
    int n = 0;
    for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1)) n++;
    return n;
  }
  SimBoard board{"measure"};
};

using Bytes = std::vector<uint8_t>;
