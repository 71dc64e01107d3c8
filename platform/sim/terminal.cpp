// The user's side of the console in the real-time modes: this terminal
// (raw, Ctrl-] quits) or a pseudo-terminal for a terminal program.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "runner_internal.h"

namespace sim {

namespace {

constexpr uint8_t kQuitKey = 0x1D;  // Ctrl-]

struct Terminal {
  int in = -1, out = -1;
  char out_buf[4096];
  size_t out_len = 0;
  struct termios saved_tio;
  bool tio_saved = false;
} term;

void make_raw(int fd) {
  struct termios t;
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
}

bool open_pty() {
  int m = posix_openpt(O_RDWR | O_NOCTTY);
  if (m < 0 || grantpt(m) || unlockpt(m)) {
    report("phlogger-sim: cannot open a pseudo-terminal: %s\n", strerror(errno));
    return false;
  }
  make_raw(m);
  // Never blocks the board: see terminal_flush.
  fcntl(m, F_SETFL, fcntl(m, F_GETFL) | O_NONBLOCK);
  report("phlogger-sim: console on %s\n", ptsname(m));
  term.in = term.out = m;
  // Held open so that what the logger prints before a terminal program
  // attaches waits in the line's buffer instead of being lost.
  int keep = open(ptsname(m), O_RDWR | O_NOCTTY);
  if (keep >= 0) make_raw(keep);
  return true;
}

void take_this_terminal() {
  term.in = 0;
  term.out = 1;
  if (!isatty(0)) return;
  tcgetattr(0, &term.saved_tio);
  term.tio_saved = true;
  atexit(terminal_restore);
  struct termios t = term.saved_tio;
  cfmakeraw(&t);
  tcsetattr(0, TCSANOW, &t);
  report("phlogger-sim: console on this terminal; Ctrl-] quits\r\n");
}

}  // namespace

bool terminal_open(bool pty) {
  if (pty) return open_pty();
  take_this_terminal();
  return true;
}

void terminal_restore() {
  if (term.tio_saved) tcsetattr(0, TCSANOW, &term.saved_tio);
}

void terminal_put(uint8_t b) {
  if (term.out < 0) return;
  term.out_buf[term.out_len++] = (char)b;
  if (term.out_len == sizeof term.out_buf) terminal_flush();
}

void terminal_flush() {
  if (term.out >= 0 && term.out_len) {
    size_t off = 0;
    while (off < term.out_len) {
      ssize_t n = write(term.out, term.out_buf + off, term.out_len - off);
      if (n > 0) {
        off += (size_t)n;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) {
        // A full pseudo-terminal: give a slow reader a second, then let
        // the bytes go, as a line with nobody listening does.
        struct pollfd p = {term.out, POLLOUT, 0};
        if (::poll(&p, 1, 1000) > 0) continue;
      }
      break;
    }
  }
  term.out_len = 0;
}

bool terminal_read(ns_t timeout) {
  check_stop();
  struct timespec ts = {(time_t)(timeout / kSec), (long)(timeout % kSec)};
  if (term.in < 0) {
    if (timeout > 0) nanosleep(&ts, nullptr);
    return false;
  }
  terminal_flush();
  struct pollfd p = {term.in, POLLIN, 0};
  int r = ::ppoll(&p, 1, &ts, nullptr);
  check_stop();
  if (r <= 0) return false;
  bool pty = options().pty;
  if (p.revents & (POLLHUP | POLLERR) && !(p.revents & POLLIN)) {
    if (!pty) end_process(kPass);  // terminal closed
    return false;
  }
  uint8_t buf[256];
  ssize_t n = read(term.in, buf, sizeof buf);
  if (n <= 0) {
    if (!pty && n == 0) end_process(kPass);
    return false;
  }
  for (ssize_t i = 0; i < n; i++) {
    if (buf[i] == kQuitKey && !pty) {
      report("\nphlogger-sim: quit\n");
      end_process(kPass);
    }
    console_line_type(buf[i]);
  }
  return true;
}

}  // namespace sim
