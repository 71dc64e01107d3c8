#include "config/menu_input.h"

#include <cerrno>
#include <cmath>
#include <cstring>

#include "config/system.h"
#include "core/sleep.h"
#include "core/uartstdio.h"
#include "core/user_io.h"
#include "driverlib/hibernate.h"
#include "driverlib/sysctl.h"
#include "fmt.h"

namespace {

// The longest prompt answer any menu takes (the fabrication note, 79),
// plus one to see that a line was longer.
constexpr int kMaxLine = 96;
bool last_too_long;

bool blank(char c) { return c == ' ' || c == '\t'; }

const char *skip_blanks(const char *s) {
  while (blank(*s)) s++;
  return s;
}

bool only_blanks(const char *s) { return *skip_blanks(s) == 0; }

}  // namespace

void menu_wait_line(uint32_t seconds) {
  uint32_t start = HibernateRTCGet();
  while (UARTPeek('\r') < 0) {
    if (HibernateRTCGet() - start >= seconds) {
      sleep(IDLE, 0);
      start = HibernateRTCGet();  // hibernation refused: wait another period
    }
    SysCtlSleep();
  }
}

int menu_key() {
  menu_wait_line();
  return get_key();
}

int menu_yes_no(const char *prompt, int default_response) {
  uprintf("%s", prompt);
  int key = menu_key();
  if (key == 'Y' || key == 'y') return 1;
  if (key == 'N' || key == 'n') return 0;
  return default_response;
}

Answer menu_read_line(char *buf, int size) {
  unsigned char line[kMaxLine + 1];
  int cap = size + 1 < (int)sizeof line ? size + 1 : (int)sizeof line;
  buf[0] = 0;
  menu_wait_line();
  int n = UARTgets(line, (uint32_t)cap);
  if (n <= 0) return Answer::Empty;
  if (n > size - 1) return Answer::TooLong;
  memcpy(buf, line, (size_t)n + 1);
  return Answer::Text;
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
  char line[kMaxLine + 1];
  Answer a = menu_read_line(line, size);
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
