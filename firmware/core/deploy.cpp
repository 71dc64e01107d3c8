// One step of a deployment per wake, the schedule, and the command
// protocol a host uses to talk to a deployed logger.
#include "core/deploy.h"

#include "instruments/ctd_base.h"

#include <cstring>

#include "config/config.h"
#include "config/error_log.h"
#include "config/i2c_fram.h"
#include "config/system.h"
#include "core/board.h"
#include "core/board_util.h"
#include "core/main.h"
#include "core/energy.h"
#include "core/sleep.h"
#include "core/status.h"
#include "core/uartstdio.h"
#include "core/user_io.h"
#include "core/wake_guard.h"
#include "driverlib/hibernate.h"
#include "driverlib/sysctl.h"
#include "ff.h"
#include "instruments/ctd_base.h"
#include "measure/sample.h"
#include "storage/microsd.h"

namespace {

constexpr uint32_t kChunk = 80;
constexpr uint32_t kSsWait = 6;  // seconds for "sl" after "ss"

FIL g_sGdataFile;

bool starts_with(const char *line, const char *word) { return strncmp(line, word, strlen(word)) == 0; }

// Up to one chunk of the data file; a failed read is reported and counts
// as an empty one, which ends the transfer.
UINT read_chunk(char *chunk) {
  UINT got = 0;
  FRESULT fr = f_read(&g_sGdataFile, chunk, kChunk, &got);
  if (fr == FR_OK) return got;
  uprintf("Error.txt f_read error: %s\n", StringFromFresult(fr));
  return 0;
}

// Sends the data file from the saved position. A key stops the transfer
// at the next line end. The saved position counts only the bytes the
// console took, so the next transfer starts with the first byte not sent.
void send_data() {
  UARTEchoSet(false);
  FRESULT fr = f_open(&g_sGdataFile, sys_data.fileName, FA_READ | FA_OPEN_ALWAYS);
  if (fr != FR_OK) uprintf("Error.txt f_open error: %s\n", StringFromFresult(fr));
  fr = f_lseek(&g_sGdataFile, sys_samp.next_gdata_fptr);
  if (fr != FR_OK) uprintf("Error.txt f_lseek error: %s\n", StringFromFresult(fr));

  char chunk[kChunk];
  uint32_t pos = sys_samp.next_gdata_fptr;
  // Bytes of a chunk out of the console; false when it took fewer (the
  // line stopped moving), which ends the transfer.
  auto send = [&](UINT n) {
    UINT sent = (UINT)UARTwrite(reinterpret_cast<const unsigned char *>(chunk), n);
    pos += sent;
    return sent == n;
  };
  bool line_end = true;
  bool stopped = false;
  for (;;) {
    wake_guard_feed();  // a long transfer is progress, not a hang
    UINT got = read_chunk(chunk);
    if (!send(got)) break;
    if (got > 0) line_end = chunk[got - 1] == '\n';
    if (kbhit()) {
      stopped = true;
      break;
    }
    if (got < kChunk) break;
  }
  // Stopped by a key: the chunk just sent may have ended inside a line.
  while (stopped && !line_end) {
    UINT got = read_chunk(chunk);
    const void *lf = memchr(chunk, '\n', got);
    UINT n = lf ? (UINT)(static_cast<const char *>(lf) - chunk) + 1 : got;
    if (!send(n)) break;
    line_end = lf != nullptr;
    if (got < kChunk) break;
  }
  f_close(&g_sGdataFile);
  sys_samp.next_gdata_fptr = pos;
  UARTEchoSet(true);
}

// The number of the data file's last record, when the file's last line
// is a record ("#0000123\t..."). Looks back at most a few blocks.
bool last_record_number(uint32_t *number) {
  if (microSD_flg != 1) return false;
  FIL &f = g_sGdataFile;
  if (f_open(&f, sys_data.fileName, FA_READ) != FR_OK) return false;
  char buf[kChunk];
  FSIZE_t end = f_size(&f);
  FSIZE_t line = 0;
  bool found = false, in_line_end = true;
  for (FSIZE_t looked = 0; end > 0 && looked < 2048 && !found;) {
    UINT want = end >= kChunk ? kChunk : (UINT)end;
    FSIZE_t from = end - want;
    UINT got = 0;
    if (f_lseek(&f, from) != FR_OK || f_read(&f, buf, want, &got) != FR_OK || got != want) break;
    for (UINT i = want; i > 0 && !found; i--) {
      char c = buf[i - 1];
      if (in_line_end && (c == '\n' || c == '\r')) continue;
      in_line_end = false;
      if (c == '\n') {
        line = from + i;
        found = true;
      }
    }
    looked += want;
    end = from;
    if (end == 0 && !in_line_end) found = true;  // the file is one line
  }
  bool ok = false;
  UINT got = 0;
  if (found && f_lseek(&f, line) == FR_OK && f_read(&f, buf, 12, &got) == FR_OK && got > 8 &&
      buf[0] == '#') {
    uint32_t n = 0;
    UINT i = 1;
    for (; i < got && buf[i] >= '0' && buf[i] <= '9'; i++) n = n * 10 + (uint32_t)(buf[i] - '0');
    ok = i >= 8 && i < got && buf[i] == '\t';
    *number = n;
  }
  f_close(&f);
  return ok;
}

// A restart between a record reaching the card and the sampling state
// reaching the FRAM leaves that record uncounted; counting it here keeps
// every sample number unique. True when the record was uncounted.
bool count_landed_record() {
  uint32_t n;
  if (!last_record_number(&n) || n < sys_samp.current_sample) return false;
  sys_samp.current_sample = n + 1;
  return true;
}

// The pending wake lies more than a period ahead of the clock: the clock
// went back (the hibernation module lost its battery).
bool clock_went_back(uint32_t now) {
  return (uint64_t)sys_samp.nextWakeUp > (uint64_t)now + sys_data.sampling_period;
}

// After a sample. A console visit never moves the schedule: its sample
// leaves a pending wake that is still ahead where it is.
void schedule_next(bool visit) {
  uint32_t now = HibernateRTCGet();
  if (visit && sys_samp.nextWakeUp > now && !clock_went_back(now)) return;
  compute_nextWakeUp();
}

// Polled mode: sleeps until a console byte, serves the visit, and again,
// until "stop".
void polled_visits() {
  for (;;) {
    sleep(COMMAND, 0);  // back here only when a byte came at the last moment
    wake_guard_feed();
    if (exec_command(10) == 0) return;
  }
}

// A scheduled sample, or a console visit (visit) and its sample; then
// hibernation. A console byte that arrives before the logger hibernates
// is served as a console wake would be. Returns after "stop".
void deployed_wake(bool visit) {
  for (;;) {
    wake_guard_feed();
    if (visit && exec_command(5) == 0) return;
    fast_sample(1);
    energy_sample_taken();
    if (sys_data.sampling_period == 0) {
      // A deployed record with no period samples on command only.
      uprintf("\n\nDeployed in polled mode, space to wake, then ts ...\n\n");
      polled_visits();
      return;
    }
    schedule_next(visit);
    // The sample counts as taken from here on, even if power fails before
    // the logger hibernates.
    storeSysSampFRAMVariables();
    sleep(DEPLOYED, sys_samp.nextWakeUp);
    visit = true;
  }
}

}  // namespace

int enter_deployment_note(int timeout) {
  strcpy(sys_data.deploy_note, " ");
  uprintf("\nEnter Deployment Note [ ]: ");
  unsigned char buf[76] = " ";
  int n = getUserInputTimeLimit(buf, sizeof buf, timeout);
  if (n == 0) return 1;
  if (n < 0) strcpy(reinterpret_cast<char *>(buf), " ");
  memcpy(sys_data.deploy_note, buf, sizeof buf);
  sys_data.deploy_note[sizeof sys_data.deploy_note - 1] = 0;
  uprintf("\n%s\n", sys_data.deploy_note);
  return 1;
}

void compute_nextWakeUp() {
  uint32_t period = sys_data.sampling_period;
  // A zero period makes no schedule (deploy() goes to polled mode instead).
  if (period == 0) return;
  uint32_t now = HibernateRTCGet();
  // Tested before the period is added: a wake one period ahead is the
  // ordinary schedule, not a clock that went back. Re-anchor at now, or
  // the next wake could be decades away.
  if (clock_went_back(now)) {
    error_store("RTC lost while deployed, schedule restarted at the clock's time");
    sys_samp.nextWakeUp = now;
  }
  if (!sys_data.sample_aligned) {
    sys_samp.nextWakeUp += period;
    return;
  }
  // The first grid point after now: a sample that ends within its grid
  // second must not take that grid point a second time.
  uint32_t hour = now - now % 3600;
  sys_samp.nextWakeUp = hour + ((now - hour) / period + 1) * period;
}

void deploy_visit() { deployed_wake(true); }

void deploy_resume() {
  wake_guard_feed();
  bool landed = count_landed_record();
  if (sys_samp.state == COMMAND) {
    if (landed) storeSysSampFRAMVariables();
    polled_visits();
    return;
  }
  uint32_t now = HibernateRTCGet();
  // The uncounted record was the sample due: it stands for it.
  if (landed && sys_samp.nextWakeUp <= now) schedule_next(false);
  if (sys_data.sampling_period != 0 && sys_samp.nextWakeUp > now && !clock_went_back(now)) {
    // Between samples: the schedule stands.
    storeSysSampFRAMVariables();
    sleep(DEPLOYED, sys_samp.nextWakeUp);
    deployed_wake(true);
    return;
  }
  deployed_wake(false);
}

void state_dump() {
  dbg_flag = 1;
  dbg_printf("\n\n");
  if (sys_samp.state == DEPLOYED) dbg_printf("DEPLOYED\n");
  else if (sys_samp.state == COMMAND) dbg_printf("COMMAND\n");
  else if (sys_samp.state == IDLE) dbg_printf("IDLE\n");
  dbg_printf("now %lu, next wake %lu, sampling period %lu\n", (unsigned long)HibernateRTCGet(),
             (unsigned long)sys_samp.nextWakeUp, (unsigned long)sys_data.sampling_period);
}

int print_sampBuf() {
  const void *end = memchr(prnBuf, 0, sizeof prnBuf);
  size_t n = end ? (size_t)(static_cast<const char *>(end) - prnBuf) : sizeof prnBuf;
  UARTwriteRaw(reinterpret_cast<const unsigned char *>(prnBuf), (uint32_t)n);  // ends in CR LF
  return (int)n;
}

int exec_command(uint32_t timeout) {
  bool aux_on = false;
  energy_visit();
  for (;;) {
    wake_guard_feed();
    if (sys_data.output == VERBOSE || sys_data.test_mode)
      uprintf("\nEnter command (ts, ss, gh, gm, gdata, pumpon, pumpoff, stop): ");
    UARTFlushRx();
    unsigned char line[81];
    if (getUserInputTimeLimit(line, sizeof line, (int)timeout) < 0) {
      if (sys_data.output == VERBOSE) uprintf("\n\nNo command, resuming...");
      if (kOmbrix && aux_on) {
        pwr_aux_pwr1_off();
        uprintf("AUX-PWR1 OFF (no serial activity after %u sec, sleeping)\n", (unsigned)timeout);
      }
      return 1;
    }
    const char *cmd = reinterpret_cast<const char *>(line);
    if (starts_with(cmd, "gdata") && microSD_flg == 1) {
      send_data();
      // Kept at once: a restart before hibernation must not send it again.
      storeSysSampFRAMVariables();
    } else if (starts_with(cmd, "ts")) {
      fast_sample(1);
      return 1;
    } else if (starts_with(cmd, "ss")) {
      UARTFlushRx();
      fast_sample(0);
      unsigned char next[81];
      int n = getUserInputTimeLimit(next, sizeof next, (int)kSsWait);
      if (n < 0) {
        if (sys_data.output == VERBOSE) uprintf("\n\nNo command, resuming deployment...");
        return 1;
      }
      if (starts_with(reinterpret_cast<const char *>(next), "sl")) {
        print_sampBuf();
        wait_consoleTx();
        return 1;
      }
      uprintf("\nexpected sl, received %s\n", reinterpret_cast<const char *>(next));
    } else if (starts_with(cmd, "gh")) {
      get_header();
      return 1;
    } else if (starts_with(cmd, "gm")) {
      print_metadata_header(HibernateRTCGet());
      return 1;
    } else if (kOmbrix && starts_with(cmd, "pumpon")) {
      uprintf("AUX-PWR1 ON\n");
      pwr_aux_pwr1_on();
      aux_on = true;
    } else if (kOmbrix && starts_with(cmd, "pumpoff")) {
      uprintf("AUX-PWR1 OFF\n");
      pwr_aux_pwr1_off();
      aux_on = false;
    } else if (starts_with(cmd, "stop")) {
      sys_samp.state = IDLE;
      storeSysSampFRAMVariables();
      wake_guard_release();  // the operator has the menus now
      return 0;
    } else if (starts_with(cmd, "ds")) {
      print_status();
    } else if (starts_with(cmd, "dump")) {
      state_dump();
    } else if (starts_with(cmd, "go") || starts_with(cmd, "resume")) {
      return 1;
    } else {
      if (sys_data.output == VERBOSE) uprintf("\nInvalid command");
      uprintf("NAK\n");
    }
    dbg_printf("\nbottom of command loop\n");
  }
}

void deploy(int action) {
  switch (action) {
    case START: {
      sys_data.test_mode = 0;
      uint32_t now = HibernateRTCGet();
      sys_samp.nextWakeUp = now;
      sys_data.deploy_time = now + 1;
      if (sys_data.pumpon_time)
        uprintf("\nSBE pump will run and must be immersed at start time!");
      enter_deployment_note(30);
      sys_samp.current_sample = 0;
      sys_samp.state = DEPLOYED;
      if (sys_data.sampling_period == 0) {
        uprintf("\n\nDeployed in polled mode, space to wake, then ts ...\n\n");
        sys_samp.state = COMMAND;
      }
      if (print_write_metadata_header(now, 1, 1) != 0) {
        sys_samp.state = IDLE;
        storeSysSampFRAMVariables();
        uprintf("\n\nFile system error, check SD Card, sleeping in IDLE state\r\n");
        wait_consoleTx();
        sleep(IDLE, 0);
        return;
      }
      uprintf("\n\nStarting deployment...\r\n");
      if (kTavlo && sys_data.data_cfg[DF_CTD] != 0) ctd_qa_test();
      print_data_header();
      write_data_header();
      wait_consoleTx();
      storeSysSampFRAMVariables();
      if (fram_fallback_active())
        uprintf("\nWARNING: FRAM failed - sampling state kept in the hibernation module\n");
      // A byte that came before the logger could sleep is served as a
      // console wake.
      if (sys_samp.state == COMMAND) {
        polled_visits();
        return;
      }
      sleep(DEPLOYED, sys_samp.nextWakeUp);
      deployed_wake(true);
      return;
    }
    case DEPLOYED:
      deployed_wake(false);
      return;
    case COMMAND:
      wake_guard_feed();
      if (exec_command(10) == 1) polled_visits();
      return;
    default:
      uprintf("\n\nDeploy() Should NOT be IDLE, check arg error\n\n");
      wait_consoleTx();
      sleep(IDLE, 0);
      return;
  }
}
