// The scenario language: steps against the console in virtual time
// (expect, send, wait, timeout, and the named steps of scenario_steps.cpp
// and the device models).
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runner_internal.h"

namespace sim {

namespace {

constexpr int kMaxSteps = 20000;

struct Step {
  enum Kind { kExpect, kSend, kWait, kTimeout, kNamed } kind;
  int line;
  const char *name;  // a named step's keyword
  StepFn fn;         // a named step's handler
  char *text;        // unescaped, for expect/send; raw arguments of a named step
  size_t len;
  double seconds;
};

struct Script {
  Step steps[kMaxSteps];
  int n_steps = 0;
  char *text = nullptr;  // the file, cut into lines in place
  int slot = -1;         // event: the current step's deadline
} script;

int hexval(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool parse_seconds(const char *s, double *out) {
  char *end;
  errno = 0;
  double v = strtod(s, &end);
  while (*end == ' ' || *end == '\t') end++;
  if (errno || end == s || *end || v < 0) return false;
  *out = v;
  return true;
}

// Parses one line "KEYWORD REST" into st; false (reported) when it is bad.
bool parse_step(const char *path, int line, char *cur, size_t n, Step &st) {
  char *sp = strchr(cur, ' ');
  char *rest = sp ? sp + 1 : cur + n;
  if (sp) *sp = 0;
  st = Step{};
  st.line = line;
  if (!strcmp(cur, "expect") || !strcmp(cur, "send")) {
    st.kind = !strcmp(cur, "expect") ? Step::kExpect : Step::kSend;
    long len = unescape(rest);
    if (len < 0 || (st.kind == Step::kExpect && len == 0)) {
      report("%s:%d: bad text after %s\n", path, line, cur);
      return false;
    }
    st.text = rest;
    st.len = (size_t)len;
  } else if (!strcmp(cur, "wait") || !strcmp(cur, "timeout")) {
    st.kind = !strcmp(cur, "wait") ? Step::kWait : Step::kTimeout;
    if (!parse_seconds(rest, &st.seconds)) {
      report("%s:%d: %s takes a number of seconds\n", path, line, cur);
      return false;
    }
  } else {
    st.fn = find_step(cur);
    if (!st.fn) {
      report("%s:%d: unknown step '%s'\n", path, line, cur);
      return false;
    }
    st.kind = Step::kNamed;
    st.name = cur;
    st.text = rest;
  }
  return true;
}

void step_begin();

void step_next() {
  Session &s = session();
  s.step++;
  s.step_active = false;
  step_begin();
}

bool match_now() {
  Session &s = session();
  const Step &st = script.steps[s.step];
  if (s.match_len < st.len) return false;
  const char *hit = (const char *)memmem(s.match, s.match_len, st.text, st.len);
  if (!hit) return false;
  size_t consumed = (size_t)(hit - s.match) + st.len;
  memmove(s.match, s.match + consumed, s.match_len - consumed);
  s.match_len -= (uint32_t)consumed;
  return true;
}

// After one more byte of output: a match that was not there before can
// only end with that byte, so only the window's tail needs looking at
// (searching the whole window per byte made long transfers quadratic).
bool match_with_last_byte() {
  Session &s = session();
  const Step &st = script.steps[s.step];
  if (s.match_len < st.len || memcmp(s.match + s.match_len - st.len, st.text, st.len)) return false;
  s.match_len = 0;
  return true;
}

void step_begin() {
  Session &s = session();
  while (s.step < (uint32_t)script.n_steps) {
    Step &st = script.steps[s.step];
    if (!s.step_active) {
      s.step_active = true;
      switch (st.kind) {
        case Step::kExpect:
          s.step_deadline = now() + (ns_t)(s.expect_timeout_s * kSec);
          break;
        case Step::kSend:
          for (size_t i = 0; i < st.len; i++) console_line_type((uint8_t)st.text[i]);
          s.step_deadline = s.line_free_at > now() ? s.line_free_at : now();
          break;
        case Step::kWait:
          s.step_deadline = now() + (ns_t)(st.seconds * kSec);
          break;
        case Step::kTimeout:
          s.expect_timeout_s = st.seconds;
          s.step++;
          s.step_active = false;
          continue;
        case Step::kNamed: {
          uint32_t at = s.step;
          s.step++;
          s.step_active = false;
          if (!st.fn(st.text)) {
            s.step = at;
            scenario_fail("step '%s %s' failed", st.name, st.text);
          }
          continue;
        }
      }
    }
    if (st.kind == Step::kExpect && match_now()) {
      s.step++;
      s.step_active = false;
      continue;
    }
    event_at(script.slot, s.step_deadline);
    return;
  }
  event_cancel(script.slot);
  if (options().script) {
    report("scenario: all %d steps passed (%.3f virtual seconds, %llu wakes, %.3f s awake)\n",
           script.n_steps, now() / 1e9, (unsigned long long)s.wakes, awake_so_far() / 1e9);
    end_process(kPass);
  }
}

void scenario_due(void *) {
  Session &s = session();
  if (s.step >= (uint32_t)script.n_steps) return;
  Step &st = script.steps[s.step];
  if (now() < s.step_deadline) {
    event_at(script.slot, s.step_deadline);
    return;
  }
  if (st.kind == Step::kExpect) {
    if (match_now()) {
      step_next();
      return;
    }
    char shown[160];
    snprintf(shown, sizeof shown, "%.*s", (int)(st.len < 120 ? st.len : 120), st.text);
    for (char *c = shown; *c; c++)
      if ((unsigned char)*c < 0x20) *c = '.';
    scenario_fail("expected \"%s\" within %g s", shown, s.expect_timeout_s);
  }
  step_next();
}

// $VERSION in a script is this firmware's version string.
void expand_version() {
  static const char kName[] = "$VERSION";
  const char *v = options().firmware_version;
  size_t n = 0;
  for (const char *p = script.text; (p = strstr(p, kName)); p += sizeof kName - 1) n++;
  if (!n) return;
  size_t len = strlen(script.text) + n * strlen(v) + 1;
  char *out = (char *)calloc(1, len), *w = out;
  for (const char *p = script.text;;) {
    const char *hit = strstr(p, kName);
    if (!hit) {
      strcpy(w, p);
      break;
    }
    memcpy(w, p, (size_t)(hit - p));
    w += hit - p;
    w = stpcpy(w, v);
    p = hit + sizeof kName - 1;
  }
  free(script.text);
  script.text = out;
}

}  // namespace

long unescape(char *s) {
  char *w = s;
  for (char *r = s; *r; r++) {
    if (*r != '\\') {
      *w++ = *r;
      continue;
    }
    r++;
    switch (*r) {
      case 'r': *w++ = '\r'; break;
      case 'n': *w++ = '\n'; break;
      case 't': *w++ = '\t'; break;
      case '\\': *w++ = '\\'; break;
      case 'x': {
        int hi = hexval(r[1]), lo = hi >= 0 ? hexval(r[2]) : -1;
        if (hi < 0 || lo < 0) return -1;
        *w++ = (char)(hi * 16 + lo);
        r += 2;
        break;
      }
      default:
        return -1;
    }
  }
  *w = 0;
  return w - s;
}

bool scenario_load(const char *path) {
  FILE *f = fopen(path, "rb");
  if (!f) {
    report("phlogger-sim: cannot open script %s: %s\n", path, strerror(errno));
    return false;
  }
  fseek(f, 0, SEEK_END);
  long size = ftell(f);
  fseek(f, 0, SEEK_SET);
  script.text = (char *)calloc(1, (size_t)size + 1);
  if (fread(script.text, 1, (size_t)size, f) != (size_t)size) {
    fclose(f);
    return false;
  }
  fclose(f);
  expand_version();
  int line = 0;
  for (char *p = script.text; p && *p;) {
    char *nl = strchr(p, '\n');
    if (nl) *nl = 0;
    line++;
    size_t n = strlen(p);
    if (n && p[n - 1] == '\r') p[--n] = 0;
    char *cur = p;
    p = nl ? nl + 1 : nullptr;
    if (!*cur || *cur == '#') continue;
    if (script.n_steps >= kMaxSteps) {
      report("%s:%d: too many steps\n", path, line);
      return false;
    }
    if (!parse_step(path, line, cur, n, script.steps[script.n_steps])) return false;
    script.n_steps++;
  }
  return true;
}

void scenario_attach() { script.slot = event_slot(scenario_due, nullptr, "scenario"); }

void scenario_start() {
  if (options().script) step_begin();
}

void scenario_output(uint8_t b) {
  if (!options().script) return;
  Session &s = session();
  if (s.match_len >= (uint32_t)kMatchWindow) {
    // Keep the newer half: an expected text is far shorter than the window.
    uint32_t keep = kMatchWindow / 2;
    memmove(s.match, s.match + s.match_len - keep, keep);
    s.match_len = keep;
  }
  s.match[s.match_len++] = (char)b;
  if (s.step < (uint32_t)script.n_steps && s.step_active &&
      script.steps[s.step].kind == Step::kExpect && match_with_last_byte())
    step_next();
}

void scenario_print_tail() {
  Session &s = session();
  uint32_t n = s.match_len;
  uint32_t from = n > 600 ? n - 600 : 0;
  report("---- console output since the last match (end) ----\n");
  fwrite(s.match + from, 1, n - from, stderr);
  report("\n----\n");
}

void scenario_fail(const char *fmt, ...) {
  char msg[512];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(msg, sizeof msg, fmt, ap);
  va_end(ap);
  Session &s = session();
  report("scenario: FAILED at line %d: %s\n",
         s.step < (uint32_t)script.n_steps ? script.steps[s.step].line : 0, msg);
  scenario_print_tail();
  end_process(kFail);
}

}  // namespace sim
