// The instrument models: each watches its power pin, announces itself a
// while after power-up, listens on its UART at its own rate and answers
// its sample command with a line of its readings, byte by byte at the line
// rate. Faults belong to the model: silence, slowness past each limit,
// noise, pauses, overlong replies, another type than configured, a supply
// the logger does not switch.
#include "instruments.h"

#include <sys/mman.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "driverlib/gpio.h"
#include "inc/hw_memmap.h"
#include "runner.h"
#include "sim_internal.h"

namespace sim {
namespace {

// An Aanderaa sensor's serial interface. Kept in shared memory: a sensor
// on a supply of its own carries it from one wake of the logger to the next.
struct Comm {
  enum State : int {
    kAsleep,     // said "%": any byte wakes it (the zero state, as found)
    kAwake,      // said (or is about to say) "!": listens from listening_at
    kDeaf,       // starting up after power-on, or babbling "%": hears nothing
  };
  State state;
  ns_t percent_at;    // when it last said "%"
  ns_t listening_at;  // awake: start-up over, bytes are heard from here
  ns_t last_input;    // awake: the last byte it heard; its time-out runs from here
};

struct Shared {
  InstrumentModel ctd, optode;
  InstrumentStats ctd_stats, optode_stats;
  Comm ctd_comm, optode_comm;
};

void set_defaults(Shared &s) {
  InstrumentModel base{};
  base.T = 15.0;
  base.S = 35.0;
  base.announce_ms = 1000;
  base.after_s_ms = 1;
  base.bang_ms = 5;
  base.echo_ms = 2;
  base.sample_ms = 1500;
  base.comm_timeout_ms = 60000;  // the sensors' factory setting, 1 min
  base.gap_at = -1;
  base.corrupt_at = -1;
  base.corrupt_with = '?';
  base.nul_at = -1;
  base.chatter_ms = 100;
  base.baud = 9600;
  base.bang = '!';
  s.ctd = base;
  s.ctd.kind = kSbe37;
  s.ctd.C = 4.2914;
  s.ctd.P = 10.0;
  s.ctd.density = 1025.97;
  s.ctd.sspeed = 1506.7;
  s.optode = base;
  s.optode.kind = kOptode;
  s.optode.O2 = 286.196;
  s.optode.sat = 94.284;
  s.optode.pn = 4831;
  s.optode.sn = 856;
}

Shared *shared() {
  // Mapped before the wake runner forks: every wake sees the same settings.
  static Shared *p = [] {
    Shared *s = &shared_object<Shared>();
    set_defaults(*s);
    return s;
  }();
  return p;
}

// One instrument on its line.
struct Line {
  int uart;
  uint32_t pwr_port;
  uint8_t pwr_pin;
  InstrumentModel *(*model)();
  InstrumentStats *(*stats)();
  Comm *(*comm)();
  bool powered;
  bool replying;       // the bytes queued are a reply (noise may hit them)
  char cmd[32];
  int cmd_len;
  // Bytes to send, each with the pause before it.
  static constexpr int kQueue = 512;
  uint8_t q[kQueue];
  ns_t pause[kQueue];
  int head, count;
  int send_slot, announce_slot, reply_slot, sleep_slot;
  int reply_index;  // bytes of the current reply sent so far
};

Line ctd_line, optode_line;

InstrumentModel *ctd_m() { return &shared()->ctd; }
InstrumentModel *optode_m() { return &shared()->optode; }
InstrumentStats *ctd_s() { return &shared()->ctd_stats; }
InstrumentStats *optode_s() { return &shared()->optode_stats; }
Comm *ctd_c() { return &shared()->ctd_comm; }
Comm *optode_c() { return &shared()->optode_comm; }

ns_t ms(double v) { return v > 0 ? (ns_t)(v * kMs) : 0; }

void schedule_send(Line &l) {
  if (l.count == 0 || event_pending(l.send_slot)) return;
  event_at(l.send_slot, now() + l.pause[l.head] + byte_time(l.model()->baud));
}

void queue_bytes(Line &l, const char *s, size_t n, ns_t first_pause) {
  for (size_t i = 0; i < n && l.count < Line::kQueue; i++) {
    int at = (l.head + l.count) % Line::kQueue;
    l.q[at] = (uint8_t)s[i];
    l.pause[at] = i == 0 ? first_pause : 0;
    l.count++;
  }
  schedule_send(l);
}
void queue(Line &l, const char *s, ns_t first_pause = 0) { queue_bytes(l, s, strlen(s), first_pause); }

// Running: supplied by the logger's pin or by a supply of its own.
bool running(const Line &l) {
  return l.model()->kind != kNoInstrument && (l.powered || l.model()->power_ignored);
}

void send_due(void *ctx) {
  Line &l = *static_cast<Line *>(ctx);
  if (!running(l) || l.count == 0) return;
  InstrumentModel &m = *l.model();
  uint8_t b = l.q[l.head];
  l.head = (l.head + 1) % Line::kQueue;
  l.count--;
  if (l.replying && m.garbled) b = line_garble(b, m.baud * 2, m.baud);
  uart_line_rx(l.uart, b, m.baud);
  if (l.count) {
    ns_t extra = l.pause[l.head];
    if (l.replying && m.gap_at >= 0 && ++l.reply_index == m.gap_at) extra += ms(m.gap_ms);
    event_at(l.send_slot, now() + extra + byte_time(m.baud));
  } else {
    l.replying = false;
  }
}

// The readings as the instrument sends them.
void reading_line(const Line &l, char *out, size_t size) {
  const InstrumentModel &m = *l.model();
  if (m.reply[0]) {
    snprintf(out, size, "%s", m.reply);
  } else if (m.kind == kSbe37) {
    time_t t = (time_t)rtc_seconds();
    struct tm tm;
    gmtime_r(&t, &tm);
    char date[40];
    strftime(date, sizeof date, "%d %b %Y, %H:%M:%S", &tm);
    snprintf(out, size, "%8.4f, %8.5f, %9.4f, %8.3f, %s", m.T, m.C, m.S, m.P, date);
  } else if (m.kind == kAand5860) {
    snprintf(out, size, "\t%u\t%u\t%.3f\t%.3f\t%.3f\t%.3f\t%.3f\t", m.pn ? m.pn : 5860,
             m.sn ? m.sn : 29, m.C, m.T, m.S, m.density, m.sspeed);
  } else {
    snprintf(out, size,
             "\t%u\t%u\t%.3f\t%.3f\t%.3f\t28.200\t30.491\t38.573\t8.082\t621.1\t720.0\t300.0\t",
             m.pn, m.sn, m.O2, m.sat, m.T);
  }
  if (m.long_reply) {
    size_t n = strlen(out);
    for (int i = 0; n + 8 < size && i < 20; i++) n += (size_t)snprintf(out + n, size - n, "\t%u.000", i);
  }
}

void reply_due(void *ctx) {
  Line &l = *static_cast<Line *>(ctx);
  const InstrumentModel &m = *l.model();
  if (!running(l) || m.silent) return;
  char line[400];
  reading_line(l, line, sizeof line);
  size_t n = strlen(line);
  if (m.corrupt_at >= 0 && (size_t)m.corrupt_at < n) line[m.corrupt_at] = (char)m.corrupt_with;
  l.replying = true;
  l.reply_index = 0;
  queue_bytes(l, m.lead, (size_t)m.lead_len, 0);
  if (m.nul_at >= 0 && (size_t)m.nul_at <= n) {
    queue_bytes(l, line, (size_t)m.nul_at, 0);
    queue_bytes(l, "", 1, 0);
    queue_bytes(l, line + m.nul_at, n - (size_t)m.nul_at, 0);
  } else {
    queue_bytes(l, line, n, 0);
  }
  queue(l, m.kind == kSbe37 ? "\r\nS>" : "\r\n#");
  queue_bytes(l, m.tail, (size_t)m.tail_len, 0);
}

// An Aanderaa's serial interface goes to sleep (its "%" is queued by the caller).
void fall_asleep(Line &l) {
  Comm &c = *l.comm();
  c.state = Comm::kAsleep;
  c.percent_at = now();
  event_cancel(l.sleep_slot);
}

// Its time-out without input, once awake; 0 is "always on".
void arm_comm_timeout(Line &l) {
  const InstrumentModel &m = *l.model();
  const Comm &c = *l.comm();
  if (c.state != Comm::kAwake || m.comm_timeout_ms <= 0) {
    event_cancel(l.sleep_slot);
    return;
  }
  ns_t at = c.last_input + ms(m.comm_timeout_ms);
  event_at(l.sleep_slot, at > now() ? at : now());
}

void sleep_due(void *ctx) {
  Line &l = *static_cast<Line *>(ctx);
  const InstrumentModel &m = *l.model();
  const Comm &c = *l.comm();
  if (!running(l) || c.state != Comm::kAwake) return;
  // A time-out set longer (or to never) since it was armed.
  if (m.comm_timeout_ms <= 0 || now() < c.last_input + ms(m.comm_timeout_ms)) {
    arm_comm_timeout(l);
    return;
  }
  if (!m.silent) queue(l, "%");
  fall_asleep(l);
}

void announce_due(void *ctx) {
  Line &l = *static_cast<Line *>(ctx);
  InstrumentModel &m = *l.model();
  if (!running(l) || m.silent) return;
  if (m.kind == kSbe37) {
    queue(l, "S");
    queue(l, "BE 37-SI\r\nS>", ms(m.after_s_ms));
  } else {
    queue(l, "%");
    if (m.chatter < 0) {
      // Babbling for ever: another "%" every chatter_ms, never the "!".
      l.comm()->state = Comm::kDeaf;
      event_at(l.announce_slot, now() + ms(m.chatter_ms));
      return;
    }
    for (int i = 0; i < m.chatter; i++) queue(l, "%", ms(m.chatter_ms));
    fall_asleep(l);
  }
}

void command(Line &l) {
  InstrumentModel &m = *l.model();
  InstrumentStats &st = *l.stats();
  snprintf(st.last_command, sizeof st.last_command, "%s", l.cmd);
  bool sample = m.kind == kSbe37 ? !strcmp(l.cmd, "ts") : !strcmp(l.cmd, "do sample");
  if (sample) event_at(l.reply_slot, now() + ms(m.sample_ms));
}

void from_logger(void *ctx, uint8_t byte, uint32_t baud) {
  Line &l = *static_cast<Line *>(ctx);
  InstrumentModel &m = *l.model();
  if (!running(l)) return;
  byte = line_garble(byte, baud, m.baud);
  l.stats()->bytes_from_logger++;
  if (m.silent) return;
  if (m.kind == kSbe37) {
    // It echoes what it is sent; a carriage return ends a command.
    if (byte == '\r') {
      queue(l, "\r\n", ms(m.echo_ms));
      l.cmd[l.cmd_len] = 0;
      command(l);
      l.cmd_len = 0;
      return;
    }
    char c = (char)byte;
    queue_bytes(l, &c, 1, 0);
  } else {
    Comm &c = *l.comm();
    if (c.state == Comm::kDeaf) return;
    if (c.state == Comm::kAsleep) {
      // Any byte wakes it; the byte itself is lost in the start-up, and
      // so is one that comes later than the model's crlf_wait_ms.
      if (m.crlf_wait_ms > 0 && now() - c.percent_at > ms(m.crlf_wait_ms)) return;
      c.state = Comm::kAwake;
      c.listening_at = now() + ms(m.bang_ms);
      c.last_input = now();
      arm_comm_timeout(l);
      char b = (char)m.bang;
      queue_bytes(l, &b, 1, ms(m.bang_ms));
      l.cmd_len = 0;
      return;
    }
    c.last_input = now();
    arm_comm_timeout(l);
    if (now() < c.listening_at) return;  // still starting up
    // An echo of every byte heard, when the sensor has it switched on.
    if (m.echo) {
      char ch = (char)byte;
      queue_bytes(l, &ch, 1, 0);
    }
    // A carriage return ends a command; an empty line does nothing.
    if (byte == '\r') {
      l.cmd[l.cmd_len] = 0;
      if (l.cmd_len) command(l);
      l.cmd_len = 0;
      return;
    }
    if (byte == '\n' || byte == 0) return;
  }
  if (l.cmd_len < (int)sizeof l.cmd - 1) l.cmd[l.cmd_len++] = (char)byte;
}

void power(Line &l, bool on) {
  InstrumentModel &m = *l.model();
  InstrumentStats &st = *l.stats();
  if (on == l.powered) return;
  l.powered = on;
  st.powered = on;  // the logger's switch, whether the instrument heeds it or not
  if (m.power_ignored) return;
  l.count = 0;
  l.cmd_len = 0;
  l.replying = false;
  // Booting until its announcement.
  *l.comm() = Comm{};
  l.comm()->state = Comm::kDeaf;
  event_cancel(l.send_slot);
  event_cancel(l.reply_slot);
  event_cancel(l.announce_slot);
  event_cancel(l.sleep_slot);
  if (on) {
    st.power_ons++;
    st.powered_at = now();
    if (m.kind != kNoInstrument) event_at(l.announce_slot, now() + ms(m.announce_ms));
  } else {
    st.unpowered_at = now();
  }
}

void pin_changed(uint32_t, uint8_t, bool level, void *ctx) { power(*static_cast<Line *>(ctx), level); }

void attach(Line &l, int uart, uint32_t port, uint8_t pin, InstrumentModel *(*model)(),
            InstrumentStats *(*stats)(), Comm *(*comm)()) {
  l = Line{};
  l.uart = uart;
  l.pwr_port = port;
  l.pwr_pin = pin;
  l.model = model;
  l.stats = stats;
  l.comm = comm;
  l.send_slot = event_slot(send_due, &l, "instrument-tx");
  l.reply_slot = event_slot(reply_due, &l, "instrument-reply");
  l.announce_slot = event_slot(announce_due, &l, "instrument-announce");
  l.sleep_slot = event_slot(sleep_due, &l, "instrument-comm-sleep");
  uart_attach(uart, UartPeer{from_logger, &l});
  gpio_watch(port, pin, pin_changed, &l);
  // A wake starts with every pin low. An instrument on a supply of its own
  // was switched on long ago and has announced itself then; an Aanderaa
  // awake since the last wake goes to sleep at its time-out as before
  // (during the hibernation its "%" reaches no UART).
  stats()->powered = false;
  if (model()->power_ignored) arm_comm_timeout(l);
  else *comm() = Comm{};
}

void device_init() {
  attach(ctd_line, 4, GPIO_PORTD_BASE, GPIO_PIN_0, ctd_m, ctd_s, ctd_c);
  attach(optode_line, 3, GPIO_PORTL_BASE, GPIO_PIN_2, optode_m, optode_s, optode_c);
}

// ---- settings -----------------------------------------------------------------

bool number(const char *v, double *out) {
  char *end;
  errno = 0;
  double d = strtod(v, &end);
  if (errno || end == v || *end) return false;
  *out = d;
  return true;
}

bool flag(const char *v, bool *out) {
  if (!strcmp(v, "1") || !strcmp(v, "on")) *out = true;
  else if (!strcmp(v, "0") || !strcmp(v, "off")) *out = false;
  else return false;
  return true;
}

// \t \r \n \\ and \xNN in a reply text.
// Returns the length (a NUL counts).
int unescape(const char *in, char *out, size_t size) {
  size_t n = 0;
  for (; *in && n + 1 < size; in++) {
    char c = *in;
    if (c == '\\' && in[1]) {
      char e = *++in;
      if (e == 't') c = '\t';
      else if (e == 'r') c = '\r';
      else if (e == 'n') c = '\n';
      else if (e == 'x' && in[1] && in[2]) {
        char hex[3] = {in[1], in[2], 0};
        c = (char)strtol(hex, nullptr, 16);
        in += 2;
      } else c = e;
    }
    out[n++] = c;
  }
  out[n] = 0;
  return (int)n;
}

bool set_kind(InstrumentModel &m, const char *v) {
  if (&m == &shared()->optode) {
    if (!strcmp(v, "on")) m.kind = kOptode;
    else if (!strcmp(v, "off") || !strcmp(v, "none")) m.kind = kNoInstrument;
    else return false;
    return true;
  }
  if (!strcmp(v, "sbe37")) m.kind = kSbe37;
  else if (!strcmp(v, "aand5860")) m.kind = kAand5860;
  else if (!strcmp(v, "none")) m.kind = kNoInstrument;
  else return false;
  return true;
}

bool key_value(InstrumentModel &m, const char *arg, char sep) {
  // "KEY" alone sets an empty value (a lead or tail of nothing).
  const char *s = strchr(arg, sep);
  if (!s) s = arg + strlen(arg);
  if (s == arg) return false;
  char key[32];
  size_t n = (size_t)(s - arg);
  if (n >= sizeof key) return false;
  memcpy(key, arg, n);
  key[n] = 0;
  return instrument_set(m, key, *s ? s + 1 : s);
}

bool opt_ctd(const char *v) { return set_kind(shared()->ctd, v); }
bool opt_optode(const char *v) { return set_kind(shared()->optode, v); }
bool opt_ctd_set(const char *v) { return key_value(shared()->ctd, v, '='); }
bool opt_optode_set(const char *v) { return key_value(shared()->optode, v, '='); }
bool step_ctd(const char *args) { return key_value(shared()->ctd, args, ' '); }
bool step_optode(const char *args) { return key_value(shared()->optode, args, ' '); }

struct Registration {
  Registration() {
    shared();
    register_option("ctd", true, opt_ctd,
                    "sbe37|aand5860|none: the CTD on UART4, powered from PD0 (default sbe37)");
    register_option("optode", true, opt_optode,
                    "on|off: the oxygen optode on UART3, powered from PL2 on Ombrix and\n"
                    "      all along on Tavlo, which switches no instrument supply (default on)");
    register_option("ctd-set", true, opt_ctd_set,
                    "KEY=VALUE for the CTD model: readings T, C, S, P, density, sspeed, pn, sn;\n"
                    "      timing in ms announce_ms, after_s_ms, bang_ms, echo_ms, sample_ms, gap_ms\n"
                    "      with gap_at (byte of the reply it precedes); baud; bang (byte an Aanderaa\n"
                    "      sends when woken, default '!'); faults silent, power_ignored, long,\n"
                    "      garbled (1|0); reply TEXT (the line instead of the readings, \\t \\r \\n\n"
                    "      \\xNN escapes); type sbe37|aand5860|none.\n"
                    "      An Aanderaa's serial interface sleeps after power-up ('%' after\n"
                    "      announce_ms) and after comm_timeout_ms without input (then '%' again;\n"
                    "      default 60000, 0 never); any byte wakes it and is lost, bang follows\n"
                    "      bang_ms later, and bytes in between are lost too; awake, it takes\n"
                    "      command lines ended by CR (an empty line does nothing).\n"
                    "      Disagreements: echo 1|0 (every byte heard sent back; the SBE37 always\n"
                    "      echoes); lead TEXT (before each reply: CR LF, blank lines, \\x00); tail\n"
                    "      TEXT (after the reply's end); corrupt_at N with corrupt_with C (byte N\n"
                    "      of the reading line, from 0; -1 none); nul_at N (a NUL before byte N);\n"
                    "      chatter N with chatter_ms (N more '%' after the first; -1: '%' for\n"
                    "      ever, never awake); crlf_wait_ms (how long after '%' a byte still\n"
                    "      wakes it, 0 for ever). Scenario step: ctd KEY VALUE");
    register_option("optode-set", true, opt_optode_set,
                    "KEY=VALUE for the optode model: O2, sat, T, pn, sn and the CTD's timing and\n"
                    "      fault keys; type on|off. Scenario step: optode KEY VALUE");
    scenario_register_step("ctd", step_ctd);
    scenario_register_step("optode", step_optode);
    register_device_init(device_init);
  }
};
Registration registration;

}  // namespace

InstrumentModel &ctd_model() { return shared()->ctd; }
InstrumentModel &optode_model() { return shared()->optode; }
InstrumentStats &ctd_stats() { return shared()->ctd_stats; }
InstrumentStats &optode_stats() { return shared()->optode_stats; }

void instruments_defaults() {
  Shared &s = *shared();
  set_defaults(s);
  s.ctd_stats = InstrumentStats{};
  s.optode_stats = InstrumentStats{};
  s.ctd_comm = Comm{};
  s.optode_comm = Comm{};
}

bool instrument_set(InstrumentModel &m, const char *key, const char *value) {
  struct Num {
    const char *key;
    double InstrumentModel::*field;
  };
  static const Num nums[] = {
      {"T", &InstrumentModel::T},           {"C", &InstrumentModel::C},
      {"S", &InstrumentModel::S},           {"P", &InstrumentModel::P},
      {"density", &InstrumentModel::density}, {"sspeed", &InstrumentModel::sspeed},
      {"O2", &InstrumentModel::O2},         {"sat", &InstrumentModel::sat},
      {"announce_ms", &InstrumentModel::announce_ms},
      {"after_s_ms", &InstrumentModel::after_s_ms},
      {"bang_ms", &InstrumentModel::bang_ms}, {"echo_ms", &InstrumentModel::echo_ms},
      {"sample_ms", &InstrumentModel::sample_ms}, {"gap_ms", &InstrumentModel::gap_ms},
      {"chatter_ms", &InstrumentModel::chatter_ms},
      {"crlf_wait_ms", &InstrumentModel::crlf_wait_ms},
      {"comm_timeout_ms", &InstrumentModel::comm_timeout_ms},
  };
  for (const Num &n : nums)
    if (!strcmp(key, n.key)) return number(value, &(m.*n.field));
  struct Flag {
    const char *key;
    bool InstrumentModel::*field;
  };
  static const Flag flags[] = {
      {"silent", &InstrumentModel::silent},
      {"power_ignored", &InstrumentModel::power_ignored},
      {"long", &InstrumentModel::long_reply},
      {"garbled", &InstrumentModel::garbled},
      {"echo", &InstrumentModel::echo},
  };
  for (const Flag &f : flags)
    if (!strcmp(key, f.key)) return flag(value, &(m.*f.field));
  double d;
  if (!strcmp(key, "type")) return set_kind(m, value);
  if (!strcmp(key, "reply")) {
    unescape(value, m.reply, sizeof m.reply);
    return true;
  }
  if (!strcmp(key, "lead")) {
    m.lead_len = unescape(value, m.lead, sizeof m.lead);
    return true;
  }
  if (!strcmp(key, "tail")) {
    m.tail_len = unescape(value, m.tail, sizeof m.tail);
    return true;
  }
  if (!strcmp(key, "corrupt_with")) {
    char b[4];
    unescape(value, b, sizeof b);
    m.corrupt_with = (uint8_t)b[0];
    return true;
  }
  if (!strcmp(key, "corrupt_at") || !strcmp(key, "nul_at") || !strcmp(key, "chatter")) {
    if (!number(value, &d) || d < -1) return false;
    (!strcmp(key, "corrupt_at") ? m.corrupt_at : !strcmp(key, "nul_at") ? m.nul_at : m.chatter) = (int)d;
    return true;
  }
  if (!strcmp(key, "bang")) {
    char b[4];
    unescape(value, b, sizeof b);
    m.bang = (uint8_t)b[0];
    return b[0] != 0;
  }
  if (!number(value, &d) || d < 0) return false;
  if (!strcmp(key, "gap_at")) m.gap_at = (int)d;
  else if (!strcmp(key, "baud") && d >= 300) m.baud = (uint32_t)d;
  else if (!strcmp(key, "pn")) m.pn = (uint32_t)d;
  else if (!strcmp(key, "sn")) m.sn = (uint32_t)d;
  else return false;
  return true;
}

}  // namespace sim
