#include "config/menu_input.h"

#include <cerrno>
#include <cmath>
#include <cstring>

#include "config/system.h"
#include "core/uartstdio.h"
#include "core/user_io.h"
#include "driverlib/hibernate.h"
#include "driverlib/sysctl.h"
#include "fmt.h"

namespace {

// The longest number any prompt takes.
constexpr int kMaxNumberLine = 32;
bool last_too_long;

bool blank(char c) { return c == ' ' || c == '\t'; }

const char *skip_blanks(const char *s) {
  while (blank(*s)) s++;
  return s;
}

bool only_blanks(const char *s) { return *skip_blanks(s) == 0; }

}  // namespace

int menu_yes_no(const char *prompt, int default_response) {
  return yesOrNoMenuChoice(prompt, default_response);
}

Answer menu_read_line(char *buf, int size) {
  uint32_t whole;
  wait_for_input(kPromptTimeoutS);
  int n = UARTgets(reinterpret_cast<unsigned char *>(buf), (uint32_t)size, &whole);
  if (whole > (uint32_t)n) {
    buf[0] = 0;
    return Answer::TooLong;
  }
  return n > 0 ? Answer::Text : Answer::Empty;
}

Answer menu_read_text(char *buf, int size) {
  Answer a = menu_read_line(buf, size);
  if (a == Answer::TooLong) uprintf("\nLonger than %d characters: not changed\n", size - 1);
  return a;
}

bool parse_number(const char *s, double *out) {
  s = skip_blanks(s);
  char *end;
  errno = 0;
  double v = fmt_strtod(s, &end);
  if (end == s || !only_blanks(end) || !std::isfinite(v) || errno == ERANGE) return false;
  *out = v;
  return true;
}

Number menu_read_number(int size, double *out) {
  char line[kMaxNumberLine];
  Answer a = menu_read_line(line, size < kMaxNumberLine ? size : kMaxNumberLine);
  last_too_long = a == Answer::TooLong;
  if (a == Answer::Empty || (a == Answer::Text && only_blanks(line))) return Number::Empty;
  if (a == Answer::TooLong || !parse_number(line, out)) return Number::Bad;
  return Number::Value;
}

void menu_report_bad_number() {
  uprintf(last_too_long ? "\nAnswer too long: value not changed\n"
                        : "\nNot a number: value not changed\n");
}

void menu_report_not_whole() { uprintf("\nNot a whole number: value not changed\n"); }

void menu_refuse(const char *msg) { uprintf("%s", msg); }

void menu_prompt(const char *format, double value) {
  char prompt[128];
  fmt_snprintf(prompt, sizeof prompt, format, value);
  uprintf("%s", prompt);
}

void menu_prompt(const char *format, unsigned value) {
  char prompt[128];
  fmt_snprintf(prompt, sizeof prompt, format, value);
  uprintf("%s", prompt);
}
