// The console line between UART0 and the terminal side: bytes typed go
// out one frame apart at the terminal's rate; what the board prints goes
// to the terminal, the transcript and the scenario.
#include <fcntl.h>
#include <unistd.h>

#include "driverlib/hibernate.h"
#include "runner_internal.h"
#include "sim_internal.h"

namespace sim {

namespace {

struct ConsoleLine {
  int in_slot = -1;  // event: the next typed byte reaches the receiver
  int transcript_fd = -1;
  void (*out_hook)(uint8_t, void *) = nullptr;
  void *out_hook_ctx = nullptr;
} line;

void schedule_in() {
  Session &s = session();
  if (s.in_count == 0) {
    event_cancel(line.in_slot);
    return;
  }
  event_at(line.in_slot, s.in[s.in_head].t);
}

void push_in(ns_t t, uint8_t b) {
  Session &s = session();
  if (s.in_count >= (uint32_t)kInQueue) return;
  s.in[(s.in_head + s.in_count) % kInQueue] = InByte{t, b};
  s.in_count++;
  schedule_in();
}

void in_arrived(void *) {
  Session &s = session();
  while (s.in_count && s.in[s.in_head].t <= now()) {
    uint8_t b = s.in[s.in_head].b;
    s.in_head = (s.in_head + 1) % kInQueue;
    s.in_count--;
    if (hibernating()) {
      // The wake pin sees the start bit; the byte itself is lost.
      wake_pin_edge();
      continue;
    }
    uart_line_rx(0, b, options().baud);
  }
  schedule_in();
}

void console_tx(void *, uint8_t byte, uint32_t baud) {
  uint8_t b = line_garble(byte, baud, options().baud);
  if (line.transcript_fd >= 0) {
    ssize_t r = write(line.transcript_fd, &b, 1);
    (void)r;
  }
  terminal_put(b);
  session().out_bytes++;
  if (line.out_hook) line.out_hook(b, line.out_hook_ctx);
  scenario_output(b);
}

}  // namespace

void console_line_type(uint8_t b) {
  Session &s = session();
  ns_t frame = byte_time(options().baud);
  ns_t at = arrival_time();
  ns_t start = s.line_free_at > at ? s.line_free_at : at;
  s.line_free_at = start + frame;
  push_in(start + frame, b);
}

void console_line_attach() {
  line.in_slot = event_slot(in_arrived, nullptr, "console-in");
  uart_attach(0, UartPeer{console_tx, nullptr});
  schedule_in();
}

void transcript_open(bool truncate) {
  const char *path = options().transcript;
  if (!path) return;
  if (truncate) {
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) close(fd);
    return;
  }
  line.transcript_fd = open(path, O_WRONLY | O_APPEND | O_CREAT, 0644);
}

void transcript_close() {
  if (line.transcript_fd >= 0) close(line.transcript_fd);
}

uint32_t console_line_baud() { return options().baud ? options().baud : 115200; }

void console_type(const uint8_t *bytes, size_t n) {
  for (size_t i = 0; i < n; i++) console_line_type(bytes[i]);
}

void console_output_hook(void (*fn)(uint8_t, void *), void *ctx) {
  line.out_hook = fn;
  line.out_hook_ctx = ctx;
}

// Unit tests use the console line without the wake runner.
void console_attach_for_tests() {
  static Session local;
  if (!g_run.session) {
    g_run.session = &local;
    g_run.options = RunOptions{};
  }
  // A fresh board: nothing on the line from an earlier one.
  Session &s = session();
  s.in_head = s.in_count = 0;
  s.line_free_at = 0;
  line.in_slot = event_slot(in_arrived, nullptr, "console-in");
  uart_attach(0, UartPeer{console_tx, nullptr});
}

}  // namespace sim
