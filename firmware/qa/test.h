// The bench operator's tools: the test menu with its live displays and
// switch tests, the front-end window test, and the board QA procedure that
// a new board goes through once, with its report.
#pragma once
#include <cstddef>
#include <cstdint>

#include "config/system.h"

// ---- test menu and bench tests --------------------------------------------

// Runs until the operator leaves it (any key without an entry).
void test_menu();
// Each display loops until a byte arrives, then reads the key line.
void display_battery_boardSensors();
void display_ph_ref_therm_volts();
void display_calcd_pH_intRef_therm();
void display_calcd_pH_extRef_therm_sal(float salinity);
// Sub-menus; each returns to the test menu.
void communicate_with_instruments();
int power_output_tests();  // returns 1
void test_24bit_adc_mux();

// ---- board QA -------------------------------------------------------------

// The guided QA procedure; initFlg 1 first installs the defaults and checks
// the EEPROM and the FRAM. Always returns 1; the results are in sys_data.qa.
int board_qa_and_init(int initFlg);
void print_qa_report();
// One row of the front-end window test: the channels printed, readings
// outside their windows marked " Err ". qaFlg >= 1 reads with 5 trials and
// records into sys_data.qa, otherwise 1 trial and nothing recorded.
// Returns the number of readings outside their windows (a reading the ADC
// never delivered counts as one).
int test_sampling_zuze(int qaFlg);

// "qaMMDDYY.txt" for an RTC time; size >= 13.
void qa_file_name(uint32_t rtc_seconds, char *name, size_t size);

// The window of one front-end channel and where QA records it.
struct FrontEndWindow {
  const char *name;
  uint8_t mux, pos, neg, gain;
  uint16_t sps;
  float lo, hi;  // volts
  // The qa fields of the reading, its deviation and its shortfall below
  // the window; null for the channels QA does not record.
  float qaData::*value;
  float qaData::*std;
  float qaData::*err;
  bool vb;  // measured only at menu level 1
};
constexpr int kFrontEndChannels = 9;
extern const FrontEndWindow front_end_windows[kFrontEndChannels];
