// The CTD on UART4: its port, its driver record and the protocol engine
// that recognises an SBE37 MicroCAT or an Aanderaa 5860 from what it sends
// after power-up. The engine is stepped from the main loop between other
// measurements; the bytes arrive through ctd_IntHandler.
#pragma once
#include <cstdint>

#include "core/serial_port.h"

constexpr uint32_t CTD_TX_BUFFER_SIZE = 128;
constexpr uint32_t CTD_RX_BUFFER_SIZE = 128;
constexpr uint32_t CTD_BUF_SIZE = 128;

struct ctdDriver {
  int state;              // 0 idle or finished, -1 failed, else the step to run
  unsigned old_tick10ms;  // 10 ms tick at the start of the current wait
  unsigned new_tick10ms;  // last 10 ms tick read
  unsigned type;          // recognised: 0 none, 1 SBE37 MicroCAT, 2 Aanderaa 5860
  float condo;            // conductivity (Aanderaa 5860)
  float salt;
  float tempC;
  float pressure;         // not set by the driver
  float depth;            // not set by the driver
  unsigned bufIndx;       // write position in buf
  char buf[CTD_BUF_SIZE]; // reply line, or an error text; always NUL-terminated
};
extern ctdDriver ctd;

using CtdPort = SerialPort<CTD_TX_BUFFER_SIZE, CTD_RX_BUFFER_SIZE>;
extern CtdPort g_ctdPort;

// ---- the port ----------------------------------------------------------------
void ctd_init();  // pins, UART4 at 9600 baud, power off (the Tavlo board: nothing)
void ctd_config(uint32_t ui32PortNum, uint32_t ui32Baud, uint32_t ui32SrcClock);
int ctd_write(const char *pcBuf, uint32_t ui32Len);
int ctd_putc(int ch);
unsigned char ctd_getc();
int ctd_gets(char *pcBuf, uint32_t ui32Len);
int ctd_peek(int ucChar);
int ctd_rxBytesAvail();
int ctd_txBytesFree();
void ctd_flushRx();
void ctd_flushTx(bool bDiscard);
void ctd_echoSet(bool bEnable);
void ctd_IntHandler();
void ctd_open();   // power on, state and bufIndx to 0
void ctd_close();  // power off

// ---- the protocol --------------------------------------------------------------
// Start with 1, call again with each returned state until it returns 0;
// then ctd.state is 0 for a reading, -1 for a failure (text in ctd.buf).
int ctd_stateMachine(int ctdState);
// The whole exchange at once; true unless it failed.
bool ctd_qa_test();
// One reading for a caller that needs the water's temperature and
// salinity (pH calibration): true with both set, false (both untouched)
// when the instrument failed.
bool ctd_take_sample(float *tempC, float *salt);
// Waits for a received byte, polling every 500 us: the 10 ms ticks waited,
// or maxWait_10msTick when none came in that time (0: no limit).
unsigned wait_ctdRx(unsigned maxWait_10msTick);
void ctd_microCat_parseData();
void ctd_Aand5860_parseData();
void ctd_print_buf();

// Pass-through terminals to the instruments and byte-timing analysers;
// Ctrl-X ends them.
void ctd_microCat_comm_test();
void ctd_Aand5860_comm_test();
void ctd_microcat_serial_analyzer();
void ctd_aanderaa_serial_analyzer();

// Set by an exchange that changed data_cfg[DF_CTD] to the instrument that
// answered (the data file's header no longer names its columns).
extern bool ctd_config_corrected;
// The last exchange's reply parsed into tempC and salt (and condo).
extern bool ctd_reading_valid;

// ---- shared by the instrument engines -------------------------------------------
// One turn of a loop that runs an engine to its end: the states that find
// nothing return at once, so a caller that only waits pauses a little.
void instrument_pause();
// Stores a failure text in a driver buffer (cut to fit, terminated).
void instrument_set_text(char *buf, uint32_t size, const char *text);
