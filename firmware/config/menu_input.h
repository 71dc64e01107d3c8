// Answers to the prompts of the configuration menus and the calibration:
// every wait bounded, every line checked before anything is changed.
#pragma once
#include <cmath>
#include <cstdint>
#include <type_traits>

// Prints `prompt`; Y or y gives 1, N or n 0, anything else `default_response`.
int menu_yes_no(const char *prompt, int default_response);

enum class Answer {
  Empty,    // Enter alone (or the wait timed out and hibernation failed)
  Text,     // a line that fits
  TooLong,  // more than size - 1 characters: nothing is taken
};
// Reads one line of at most size - 1 characters into buf, which holds at
// least `size` bytes and is always terminated; the wait is the prompts'
// (wait_for_input). A longer line is consumed whole and refused rather
// than cut.
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
// Prints a check's refusal.
void menu_refuse(const char *msg);

// The strict parser behind the reader, for text already at hand.
bool parse_number(const char *s, double *out);

// What a numeric prompt accepts: nullptr for a value it takes, else the
// message that refuses it (the prompt is then asked again).
using MenuCheck = const char *(*)(double v);

template <int Lo, int Hi, const char *Msg>
const char *menu_in_range(double v) {
  return v >= Lo && v <= Hi ? nullptr : Msg;
}

// Prints `format` with the value it shows (one conversion: %u for
// integers, a floating one otherwise).
void menu_prompt(const char *format, double value);
void menu_prompt(const char *format, unsigned value);

// One numeric prompt under the menus' editing rule: the prompt shows the
// current value; Enter, or an answer that is not a number, keeps it; one
// that `check` refuses asks again. Integer fields take whole numbers only.
// The value is checked as the field will hold it. Returns true when the
// field took a new value.
template <typename T>
bool menu_edit(const char *format, T &field, MenuCheck check, int size) {
  for (;;) {
    if constexpr (std::is_integral_v<T>)
      menu_prompt(format, (unsigned)field);
    else
      menu_prompt(format, (double)field);
    double v;
    Number r = menu_read_number(size, &v);
    if (r == Number::Empty) return false;
    if (r == Number::Bad) {
      menu_report_bad_number();
      return false;
    }
    if constexpr (std::is_integral_v<T>) {
      if (v != std::floor(v)) {
        menu_report_not_whole();
        return false;
      }
    } else {
      v = (double)(T)v;
    }
    // check() keeps integers within the field before the conversion.
    if (const char *msg = check(v)) {
      menu_refuse(msg);
      continue;
    }
    field = (T)v;
    return true;
  }
}
