// Console helpers shared by the test menu and the QA procedure.
#pragma once
#include <cstdint>

#include "core/board_util.h"

// Whether a byte is waiting on the console.
bool key_waiting();
// Waits up to ms milliseconds; true as soon as a byte is waiting.
bool wait_or_key(uint32_t ms);
// Runs pass() at once and then every period_ms (back to back when a pass
// takes longer) until a byte is waiting; a pass in progress is finished.
template <class Pass>
void repeat_until_key(uint32_t period_ms, Pass pass);

// The choice of a menu just printed: empties the receive ring, hibernates
// idle after 30000 s without a byte, then reads the key line.
int menu_choice();

// The console time of an RTC count, "%m/%d/%y %H:%M:%S".
void console_time(uint32_t rtc_seconds, char *buf, unsigned size);

template <class Pass>
void repeat_until_key(uint32_t period_ms, Pass pass) {
  for (;;) {
    const uint32_t start = Timer_1ms(0);
    pass();
    const uint32_t spent = Timer_1ms(0) - start;
    if (key_waiting()) return;
    if (spent < period_ms && wait_or_key(period_ms - spent)) return;
  }
}
