// The instruments on the simulated board's serial ports: a CTD on UART4
// (powered from PD0) that behaves as an SBE37 MicroCAT or an Aanderaa 5860,
// and an Aanderaa oxygen optode on UART3 (powered from PL2), at 9600 baud.
//
// An Aanderaa sensor (the optode, the 5860) talks in the manner of its
// Smart Sensor Terminal mode: its serial interface sleeps after power-up
// and after comm_timeout_ms without input, each time saying "%"; any byte
// wakes it, and after bang_ms of start-up it says "!" and listens. A sensor
// on a supply of its own stays awake or asleep across the logger's wakes.
//
// Settings come from --ctd, --optode, --ctd-set KEY=VALUE and
// --optode-set KEY=VALUE, and from the scenario steps "ctd KEY VALUE" and
// "optode KEY VALUE"; they are shared by every wake of a run.
#pragma once
#include <cstdint>

#include "sim.h"

namespace sim {

enum InstrumentKind : int {
  kNoInstrument = 0,
  kSbe37 = 1,
  kAand5860 = 2,
  kOptode = 3,
};

struct InstrumentModel {
  int kind;
  // Readings. SBE37: T, C (S/m), S, P (dbar). Aanderaa 5860: C (mS/cm), T,
  // S, density, sspeed, pn, sn. Optode: O2 (uM), sat (%), T, pn, sn.
  double T, C, S, P, density, sspeed, O2, sat;
  uint32_t pn, sn;
  // Timing, milliseconds: power-up to the announcement; SBE37 "S" to the
  // rest of its line; Aanderaa wake byte to its "!"; SBE37 command CR to
  // the end of its echo; command to the reply; a pause before byte gap_at
  // of the reply; Aanderaa input silence that puts its serial interface
  // to sleep again (0: never).
  double announce_ms, after_s_ms, bang_ms, echo_ms, sample_ms, gap_ms, comm_timeout_ms;
  int gap_at;
  uint32_t baud;        // the rate it talks and listens at
  uint8_t bang;         // the byte an Aanderaa sends once a byte has woken it
  bool silent;          // powered, but sends nothing
  bool power_ignored;   // on its own supply: on all along, never announces
  bool long_reply;      // a reply of more than 128 bytes
  bool garbled;         // noise on the line while it replies
  char reply[200];      // the reply line instead of the readings ("": readings)
  // Ways a real instrument can disagree with what the logger expects:
  bool echo;            // optode: echoes every byte it is sent
  char lead[32];        // bytes before each reply (CR LF, blank lines, NULs)
  int lead_len;
  char tail[32];        // bytes after the reply's end
  int tail_len;
  int corrupt_at;       // this byte of the reading line (from 0) becomes corrupt_with; -1 none
  uint8_t corrupt_with;
  int nul_at;           // a NUL before this byte of the reading line; -1 none
  int chatter;          // Aanderaa: further "%" after the first, chatter_ms apart
  double chatter_ms;
  double crlf_wait_ms;  // Aanderaa: how long after "%" a byte still wakes it (0: for ever)
};

struct InstrumentStats {
  uint32_t power_ons;
  bool powered;
  ns_t powered_at, unpowered_at;  // virtual times of the last switch-on and -off
  uint32_t bytes_from_logger;
  char last_command[32];
};

InstrumentModel &ctd_model();
InstrumentModel &optode_model();
InstrumentStats &ctd_stats();
InstrumentStats &optode_stats();
// Both models back to a healthy SBE37 and optode with calm-sea readings.
void instruments_defaults();
// KEY VALUE as in the scenario steps; false for an unknown key or value.
bool instrument_set(InstrumentModel &m, const char *key, const char *value);

}  // namespace sim
