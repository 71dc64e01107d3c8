// phlogger-sim: the firmware on the simulated board.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/system.h"
#include "core/board.h"
#include "core/rtc_time.h"
#include "instruments.h"
#include "provision.h"
#include "runner.h"
#include "sim.h"
#include "sim_internal.h"

int firmware_main();

namespace {

constexpr int kMaxSets = 256;

// What the command line asks for beyond the run itself.
struct Setup {
  sim::RunOptions run;
  bool defaults = false;  // install the default configuration
  bool factory = false;   // a new board as it leaves the factory
  char *sets[kMaxSets];   // --set FIELD=VALUE, in order
  int n_sets = 0;
  bool list_fields = false;
  bool help = false;
  bool version = false;
};

bool parse_clock(const char *s, uint32_t *out) {
  int mo, d, y, h, mi, se;
  char tail;
  if (sscanf(s, "%2d/%2d/%2d %2d:%2d:%2d%c", &mo, &d, &y, &h, &mi, &se, &tail) != 6) return false;
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || se > 59) return false;
  struct tm t = {};
  t.tm_year = 100 + y;
  t.tm_mon = mo - 1;
  t.tm_mday = d;
  t.tm_hour = h;
  t.tm_min = mi;
  t.tm_sec = se;
  *out = tm_to_rtc(&t);
  return true;
}

bool parse_u32(const char *s, uint32_t *out) {
  char *end;
  errno = 0;
  unsigned long v = strtoul(s, &end, 10);
  if (errno || end == s || *end || v == 0 || v > 4000000) return false;
  *out = (uint32_t)v;
  return true;
}

// The simulator's own options: one row each (name, value, what it does,
// help). The device models add theirs with sim::register_option.
struct BuiltinOption {
  const char *name;
  const char *value;  // nullptr: a switch
  // False when the value is bad (the message is printed here).
  bool (*apply)(Setup &s, const char *value);
  const char *help;
};

const BuiltinOption kOptions[] = {
    {"--state", "DIR", [](Setup &s, const char *v) { return s.run.state_dir = v, true; },
     "state directory (default ./sim-state): eeprom.bin, fram.bin,\n"
     "hibernate.bin, sd.img"},
    {"--board", "ombrix|tavlo", [](Setup &, const char *) { return true; },
     "board variant (default ombrix)"},
    {"--script", "FILE", [](Setup &s, const char *v) { return s.run.script = v, true; },
     "run a scenario in virtual time; exit 0 when every step passed"},
    {"--transcript", "FILE", [](Setup &s, const char *v) { return s.run.transcript = v, true; },
     "keep everything the console printed"},
    {"--pty", nullptr, [](Setup &s, const char *) { return s.run.pty = true; },
     "console on a pseudo-terminal (its path goes to stderr)"},
    {"--baud", "N",
     [](Setup &s, const char *v) {
       if (parse_u32(v, &s.run.baud)) return true;
       fprintf(stderr, "phlogger-sim: --baud takes a rate such as 9600\n");
       return false;
     },
     "the terminal side's baud rate (default 115200)"},
    {"--fast-sleep", nullptr, [](Setup &s, const char *) { return s.run.fast_sleep = true; },
     "do not wait in real time for an RTC wake"},
    {"--clock", "\"MM/DD/YY HH:MM:SS\"",
     [](Setup &s, const char *v) {
       if (!parse_clock(v, &s.run.clock)) {
         fprintf(stderr, "phlogger-sim: --clock takes \"MM/DD/YY HH:MM:SS\", not '%s'\n", v);
         return false;
       }
       return s.run.has_clock = true;
     },
     "RTC of a hibernation module that starts cold"},
    {"--power-cycle", nullptr, [](Setup &s, const char *) { return s.run.power_cycle = true; },
     "start with all power removed, the hibernation module's battery\n"
     "too: its registers reset, the RTC at 0 (or --clock)"},
    {"--factory-defaults", nullptr, [](Setup &s, const char *) { return s.defaults = true; },
     "install the firmware's default configuration first"},
    {"--factory", nullptr, [](Setup &s, const char *) { return s.factory = true; },
     "when the state directory is new or empty, a board as it leaves the\n"
     "factory: default configuration, this firmware's QA version,\n"
     "the clock at the host's local time (make sim uses it)"},
    {"--blank", nullptr, [](Setup &s, const char *) { return !(s.factory = false); },
     "a new state directory is a blank board (cancels --factory)"},
    {"--set", "FIELD=VALUE",
     [](Setup &s, const char *v) {
       if (s.n_sets == kMaxSets) {
         fprintf(stderr, "phlogger-sim: too many --set options\n");
         return false;
       }
       s.sets[s.n_sets++] = const_cast<char *>(v);
       return true;
     },
     "set one configuration or sampling-state field first"},
    {"--list-fields", nullptr, [](Setup &s, const char *) { return s.list_fields = true; },
     "list the fields --set knows"},
    {"--no-fram", nullptr, [](Setup &, const char *) { return sim::faults().no_fram = true; },
     "the FRAM does not answer"},
    {"--eeprom-fail", nullptr,
     [](Setup &, const char *) { return sim::faults().eeprom_write_fail = true; },
     "EEPROM programming fails"},
    {"--no-hibernate", nullptr,
     [](Setup &, const char *) { return sim::faults().no_hibernate = true; },
     "the hibernation request is ignored (jumper fitted)"},
    {"--version", nullptr, [](Setup &s, const char *) { return s.version = true; },
     "print this firmware's version string"},
    {"--help", nullptr, [](Setup &s, const char *) { return s.help = true; }, "this text"},
};

void usage() {
  fprintf(stderr, "usage: phlogger-sim [options]\n");
  for (const BuiltinOption &o : kOptions) {
    char head[64];
    snprintf(head, sizeof head, "%s%s%s", o.name, o.value ? " " : "", o.value ? o.value : "");
    fprintf(stderr, "  %-22s ", head);
    for (const char *p = o.help; *p; p++) {
      fputc(*p, stderr);
      if (*p == '\n') fprintf(stderr, "  %-22s ", "");
    }
    fputc('\n', stderr);
  }
  sim::print_registered_options();
  fprintf(stderr,
          "Terminal mode: Ctrl-] quits. Scenario steps: expect TEXT, send TEXT, wait S, timeout S,\n"
          "reset, power-cycle (all power), main-power-cycle (the module's battery rides through),\n"
          "fault eeprom-write|fram|hibernate on|off, and the device steps. SIGTERM, SIGINT and\n"
          "SIGHUP end a run as the quit key does.\n");
}

// Parses the command line into s; false (reported) for a bad option.
bool parse_args(int argc, char **argv, Setup &s) {
  for (int i = 1; i < argc; i++) {
    const char *a = argv[i];
    const BuiltinOption *found = nullptr;
    for (const BuiltinOption &o : kOptions)
      if (!strcmp(a, o.name) || (!strcmp(a, "-h") && !strcmp(o.name, "--help"))) found = &o;
    if (found) {
      const char *value = nullptr;
      if (found->value) {
        if (i + 1 >= argc) {
          fprintf(stderr, "phlogger-sim: %s needs a value\n", a);
          return false;
        }
        value = argv[++i];
      }
      if (!found->apply(s, value)) return false;
      continue;
    }
    bool bad = false;
    if (sim::parse_registered_option(argc, argv, &i, &bad)) {
      if (bad) return false;
      continue;
    }
    fprintf(stderr, "phlogger-sim: unknown option '%s' (try --help)\n", a);
    return false;
  }
  return true;
}

// The host's wall clock as a logger's RTC holds it: local time, no zone.
uint32_t host_local_rtc() {
  time_t t = time(nullptr);
  struct tm local;
  localtime_r(&t, &local);
  return tm_to_rtc(&local);
}

int mkdirs(const char *path) {
  char buf[PATH_MAX];
  snprintf(buf, sizeof buf, "%s", path);
  for (char *p = buf + 1; *p; p++) {
    if (*p != '/') continue;
    *p = 0;
    mkdir(buf, 0755);
    *p = '/';
  }
  if (mkdir(buf, 0755) && errno != EEXIST) return -1;
  return 0;
}

// Runs in a child of its own, so that the firmware code it calls leaves
// the parent's memory untouched.
int provision(const char *dir, uint32_t cold_rtc, bool defaults, char **sets, int n_sets) {
  sim::board_power_on(sim::BoardConfig{dir, 115200, cold_rtc});
  systemData d;
  systemSamplingData s;
  memcpy(&d, sim::eeprom_bytes() + SYS_DATA_EEPROM_ADDR, sizeof d);
  memcpy(&s, sim::fram_bytes() + 0x40, sizeof s);
  if (defaults) {
    config_sys_data_default_init();
    d = sys_data;
    s = sys_samp;
    s.initNum = SYS_SAMP_INIT_NUM;
  }
  if (s.initNum != SYS_SAMP_INIT_NUM) {
    memset(&s, 0, sizeof s);
    s.initNum = SYS_SAMP_INIT_NUM;
  }
  for (int i = 0; i < n_sets; i++)
    if (!provision_set(d, s, sets[i])) return 2;
  memcpy(sim::eeprom_bytes() + SYS_DATA_EEPROM_ADDR, &d, sizeof d);
  memcpy(sim::fram_bytes() + 0x40, &s, sizeof s);
  sim::save_file(dir, "eeprom.bin", sim::eeprom_bytes(), 2048);
  sim::save_file(dir, "fram.bin", sim::fram_bytes(), 256);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  // The other variant is a sibling executable.
  for (int i = 1; i + 1 < argc; i++) {
    if (strcmp(argv[i], "--board")) continue;
    const char *want = argv[i + 1];
    if (strcmp(want, "ombrix") && strcmp(want, "tavlo")) {
      fprintf(stderr, "phlogger-sim: --board takes ombrix or tavlo\n");
      return 2;
    }
    if (!strcmp(want, PHLOGGER_SIM_VARIANT)) break;
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return 3;
    self[n] = 0;
    char *slash = strrchr(self, '/');
    char other[PATH_MAX];
    snprintf(other, sizeof other, "%.*s/phlogger-sim-%s", (int)(slash - self), self, want);
    execv(other, argv);
    fprintf(stderr, "phlogger-sim: cannot start %s: %s\n", other, strerror(errno));
    return 3;
  }

  // Tavlo switches no instrument supply: its optode is on all along (the
  // Test menu's "5v for Optode" switches nothing on this board either).
  if (!strcmp(PHLOGGER_SIM_VARIANT, "tavlo")) sim::optode_model().power_ignored = true;
  static Setup setup;
  if (!parse_args(argc, argv, setup)) return 2;
  if (setup.help) {
    usage();
    return 0;
  }
  if (setup.version) {
    printf("%s\n", FIRMWARE_VERSION);
    return 0;
  }
  if (setup.list_fields) {
    provision_list_fields();
    return 0;
  }
  sim::RunOptions &opt = setup.run;
  opt.firmware_version = FIRMWARE_VERSION;
  bool defaults = setup.defaults;
  bool factory = setup.factory;
  char **sets = setup.sets;
  int &n_sets = setup.n_sets;

  // A board is new until its EEPROM has been stored: a missing or empty
  // state directory.
  char path[PATH_MAX];
  struct stat st;
  snprintf(path, sizeof path, "%s/eeprom.bin", opt.state_dir);
  bool new_board = stat(path, &st) != 0;
  snprintf(path, sizeof path, "%s/hibernate.bin", opt.state_dir);
  if (opt.has_clock && !opt.power_cycle && stat(path, &st) == 0)
    fprintf(stderr,
            "phlogger-sim: --clock left out: the hibernation module of the board in %s has kept "
            "its RTC running; add --power-cycle to start it cold at that time\n",
            opt.state_dir);
  static char qa_version[64];
  if (factory && new_board) {
    defaults = true;
    snprintf(qa_version, sizeof qa_version, "qa.firmware_version=%s", FIRMWARE_VERSION);
    if (n_sets == kMaxSets) return 2;
    // Before the user's own settings, which may change it.
    memmove(sets + 1, sets, sizeof sets[0] * n_sets++);
    sets[0] = qa_version;
    if (!opt.has_clock) opt.clock = host_local_rtc();
    opt.has_clock = true;
  }
  if (mkdirs(opt.state_dir)) {
    fprintf(stderr, "phlogger-sim: cannot create %s: %s\n", opt.state_dir, strerror(errno));
    return 2;
  }
  if (defaults || n_sets) {
    pid_t pid = fork();
    if (pid == 0) _exit(provision(opt.state_dir, opt.has_clock ? opt.clock : 0, defaults, sets, n_sets));
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status)) return 2;
  }
  return sim::run(opt, firmware_main);
}
