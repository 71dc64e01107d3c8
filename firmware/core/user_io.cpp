#include "core/user_io.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "core/board_util.h"
#include "core/rtc_time.h"
#include "config/system.h"
#include "core/sleep.h"
#include "core/uartstdio.h"
#include "driverlib/hibernate.h"
#include "driverlib/sysctl.h"
#include "fmt.h"

int32_t dbg_flag = 0;

namespace {

char uprintf_buf[256];
char dbg_buf[256];

int vprint(char *buf, const char *fmt, va_list ap) {
  int r = fmt_vsnprintf(buf, 256, fmt, ap);
  size_t len = strlen(buf);
  UARTwrite(reinterpret_cast<const unsigned char *>(buf), (uint32_t)len);
  return r;
}

// Takes the line waiting in the receive ring: its length, or -1 after
// refusing a line longer than size - 1 (consumed whole, buf left empty).
int take_line(unsigned char *buf, int size) {
  uint32_t whole;
  int n = UARTgets(buf, (uint32_t)size, &whole);
  if (whole <= (uint32_t)n) return n;
  buf[0] = 0;
  uprintf("\nLine too long (more than %d characters): ignored\n", size - 1);
  return -1;
}

// A two-digit field: exactly two decimal digits, as strtol would take them.
bool field(const char *s, int lo, int hi, int *out) {
  char tmp[3] = {s[0], s[1], 0};
  char *end;
  errno = 0;
  long v = strtol(tmp, &end, 10);
  if (errno || end == tmp || *end) return false;
  if (v < lo || v > hi) return false;
  *out = (int)v;
  return true;
}

}  // namespace

bool input_within(uint32_t seconds) {
  uint32_t start = HibernateRTCGet();
  uint32_t keys = g_ui32UARTRxWriteIndex;
  while (UARTPeek('\r') < 0) {
    // The write index moves with every key the ring takes (a key dropped
    // from a full ring does not count, so noise cannot hold the wait open).
    uint32_t now = HibernateRTCGet(), k = g_ui32UARTRxWriteIndex;
    if (k != keys) {
      keys = k;
      start = now;
    } else if (now - start >= seconds) {
      return false;
    }
    SysCtlSleep();
  }
  return true;
}

void wait_for_input(uint32_t seconds) {
  while (!input_within(seconds)) sleep(IDLE, 0);
}

int uprintf(const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int r = vprint(uprintf_buf, fmt, ap);
  va_end(ap);
  return r;
}

int dbg_printf(const char *fmt, ...) {
  if (!dbg_flag) return 0;
  va_list ap;
  va_start(ap, fmt);
  int r = vprint(dbg_buf, fmt, ap);
  va_end(ap);
  return r;
}

int get_key() {
  unsigned char line[5];
  wait_for_input(kPromptTimeoutS);
  take_line(line, sizeof line);
  return line[0];
}

int yesOrNoMenuChoice(const unsigned char *prompt, int default_response) {
  uprintf("%s", reinterpret_cast<const char *>(prompt));
  int key = get_key();
  if (key == 'Y' || key == 'y') return 1;
  if (key == 'N' || key == 'n') return 0;
  return default_response;
}

int kbhit() {
  if (UARTRxBytesAvail() == 0) return 0;
  UARTFlushRx();
  return 1;
}

int getchar_timed(int timeout) {
  Timer_10ms(1);
  for (;;) {
    if (UARTRxBytesAvail()) return UARTgetc();
    if (Timer_10ms(0) > (uint32_t)timeout * 100) return -1;
    SysCtlSleep();
  }
}

int getUserInput(unsigned char *buf, int size) {
  wait_for_input(kPromptTimeoutS);
  return take_line(buf, size);
}

int getUserInputTimeLimit(unsigned char *buf, int size, int timeLimit) {
  if (!input_within((uint32_t)timeLimit + 1)) return -1;  // more than timeLimit
  int n = take_line(buf, size);
  return n < 0 ? 0 : n;  // -1 means the time-out here
}

uint32_t getDateAndTime() {
  for (;;) {
    unsigned char line[23];
    uprintf("\n\nEnter time [");
    printCurrentTime();
    uprintf("]: ");
    int len = getUserInput(line, sizeof line);
    if (len == 0) return 0;
    if (len != 17) {
      uprintf("Enter a valid time string as MM/DD/YY HH:MM:SS\n\n\n");
      continue;
    }
    const char *s = reinterpret_cast<const char *>(line);
    if (s[2] != '/' || s[5] != '/' || (s[8] != ' ' && s[8] != '\t') || s[11] != ':' ||
        s[14] != ':')
      continue;
    int mon, day, year, hour, min, sec;
    if (!field(s + 0, 1, 12, &mon) || !field(s + 3, 1, 31, &day) || !field(s + 6, 0, 99, &year) ||
        !field(s + 9, 0, 23, &hour) || !field(s + 12, 0, 59, &min) || !field(s + 15, 0, 61, &sec))
      continue;
    struct tm t = {};
    t.tm_year = 2000 + year - 1900;
    t.tm_mon = mon - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = min;
    t.tm_sec = sec;
    t.tm_isdst = 0;
    return tm_to_rtc(&t);
  }
}

void print_time_t_Time(uint32_t t) {
  struct tm tm;
  char buf[24];
  rtc_to_tm(t, &tm);
  rtc_strftime(buf, sizeof buf, CONSOLE_TIME_FORMAT, &tm);
  uprintf("%s", buf);
}

void printCurrentTime() { print_time_t_Time(HibernateRTCGet()); }
