// The configuration menu: clock, file name, schedule and limits,
// calibration, console speed, data fields and metadata. Every entry edits
// sys_data in RAM; leaving the menu (or hibernating) stores it.
#pragma once
#include <cstdint>

void configuration_menu();
void enter_pH_sensor_cal_coeff();
void change_baud_rate();
void enter_metadata();

// Milliseconds one sample is expected to take with the current pump time
// and field selection.
uint32_t sample_time_estimate_ms();
// A data file name the card takes: 1 to 8 characters, optionally a point
// and 1 to 3 more, none of them blank or reserved.
bool valid_file_name(const char *name);
