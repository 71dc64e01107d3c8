// The bath values of the automatic calibration. This build has no driver
// for the instrument on the CTD port yet, so the bath is taken at a fixed
// temperature and salinity, and the calibration says so.
#include "measure/ph_cal.h"

namespace {
constexpr float kBathTempC = 25.0f;
constexpr float kBathSalinity = 35.0f;
}  // namespace

bool calib_bath_reading(float *tempC, float *salt) {
  *tempC = kBathTempC;
  *salt = kBathSalinity;
  return true;
}

void calib_bath_close() {}

const char *calib_bath_source() {
  return "\nNo CTD driver in this build: the bath is taken as 25.0 C, salinity 35.0\n";
}
