// Console input and output helpers built on the console driver.
#pragma once
#include <cstdint>
#include <ctime>

extern int32_t dbg_flag;

// A prompt left without a key this long hibernates idle.
constexpr uint32_t kPromptTimeoutS = 300;

// Waits until a whole line is in the console's receive ring; false once
// `seconds` pass without a key received. Each key starts the period again,
// so an operator who is typing is never cut off.
bool input_within(uint32_t seconds);
// Waits for input, or hibernates after a while: as input_within, and on
// expiry the logger hibernates idle (which stores the record with the
// changes made so far); should hibernation fail, the wait starts over.
void wait_for_input(uint32_t seconds);

int uprintf(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
int dbg_printf(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// Every reader below takes a line once Enter has ended it, waiting
// (wait_for_input) for kPromptTimeoutS after the last key. A line longer
// than the reader takes is refused whole with a message, so that nothing
// acts on the head of a cut line: get_key reads it as an empty line,
// getUserInput returns -1, getUserInputTimeLimit 0.
int get_key();
int yesOrNoMenuChoice(const unsigned char *prompt, int default_response);
inline int yesOrNoMenuChoice(const char *prompt, int default_response) {
  return yesOrNoMenuChoice(reinterpret_cast<const unsigned char *>(prompt), default_response);
}
int kbhit();
int getchar_timed(int timeout);
int getUserInput(unsigned char *buf, int size);
// -1 once more than timeLimit seconds pass after the call or the last key
// without a whole line; no hibernation.
int getUserInputTimeLimit(unsigned char *buf, int size, int timeLimit);
uint32_t getDateAndTime();
void print_time_t_Time(uint32_t t);
void printCurrentTime();
