// Answers to the prompts of the configuration menus and the calibration:
// every wait bounded, every line checked before anything is changed.
#pragma once
#include <cstdint>

// A menu left without an answer this long hibernates idle.
constexpr uint32_t kMenuTimeoutS = 300;

// Waits until a whole line is in the console's receive ring. After
// `seconds` without one the logger hibernates idle (which stores the
// record with the changes made so far); should hibernation fail, the wait
// starts over.
void menu_wait_line(uint32_t seconds = kMenuTimeoutS);
// A menu key: the first character of the next line, 0 for an empty line.
int menu_key();
// Prints `prompt`; Y or y gives 1, N or n 0, anything else `default_response`.
int menu_yes_no(const char *prompt, int default_response);

enum class Answer {
  Empty,    // Enter alone (or the wait timed out and hibernation failed)
  Text,     // a line that fits
  TooLong,  // more than size - 1 characters: nothing is taken
};
// Reads one line of at most size - 1 characters into buf, which holds at
// least `size` bytes and is always terminated. A longer line is consumed
// whole and refused rather than cut.
Answer menu_read_line(char *buf, int size);
// The same with the refusal reported on the console.
Answer menu_read_text(char *buf, int size);

enum class Number {
  Empty,  // keep the current value
  Value,  // *out holds the number
  Bad,    // not a number, or too long: keep the current value
};
// The whole line must be one finite number (blanks around it allowed).
Number menu_read_number(int size, double *out);
// Tells the operator that a bad answer left the value as it was.
void menu_report_bad_number();
// The same for a number where only a whole one will do.
void menu_report_not_whole();

// The strict parser behind the reader, for text already at hand.
bool parse_number(const char *s, double *out);
