// Host-time pacing: in the real-time modes the virtual clock follows the
// host's, and a key typed meanwhile cuts a wait short so that the firmware
// sees it when it would on the board.
#include <time.h>

#include "runner_internal.h"

namespace sim {

namespace {

struct Pacing {
  // The host's time and the virtual time at one instant.
  struct timespec wall_anchor;
  ns_t virtual_anchor;
  // A fast sleep lets virtual time run ahead of the host's.
  bool skipping;
} pacing;

ns_t wall_ns(const struct timespec &t) { return (ns_t)t.tv_sec * kSec + (ns_t)t.tv_nsec; }

ns_t virtual_of_wall() {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return pacing.virtual_anchor + (wall_ns(t) - wall_ns(pacing.wall_anchor));
}

}  // namespace

void pacing_anchor() {
  clock_gettime(CLOCK_MONOTONIC, &pacing.wall_anchor);
  pacing.virtual_anchor = now();
}

void pacing_skip(bool on) { pacing.skipping = on; }

ns_t arrival_time() {
  if (!g_run.realtime || pacing.skipping) return now();
  ns_t v = virtual_of_wall();
  return v > now() ? v : now();
}

ns_t pace_to(ns_t target) {
  check_stop();
  if (!g_run.realtime || pacing.skipping) return target;
  for (;;) {
    ns_t v = virtual_of_wall();
    if (v >= target) {
      terminal_read(0);
      return target;
    }
    ns_t wait = target - v;
    if (wait > 50 * kMs) wait = 50 * kMs;
    if (terminal_read(wait)) {
      ns_t at = arrival_time();
      return at < target ? at : target;
    }
  }
}

}  // namespace sim
