// Fixture: a fresh register file for each test.
#pragma once
#include <gtest/gtest.h>

#include "regfile.h"

class RegisterTest : public ::testing::Test {
 protected:
  void SetUp() override { regfile::reset(); }
  static uint32_t &reg(uint32_t addr) { return regfile::at(addr); }
};
