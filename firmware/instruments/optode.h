// The Aanderaa oxygen optode on UART3: its port, its driver record and the
// exchange that powers it, waits for its "%" announcement, asks for a sample
// and keeps the reply line as it came (it is not parsed).
#pragma once
#include <cstdint>

#include "core/serial_port.h"

constexpr uint32_t OPTODE_TX_BUFFER_SIZE = 128;
constexpr uint32_t OPTODE_RX_BUFFER_SIZE = 256;
constexpr uint32_t OPTODE_BUF_SIZE = 128;

struct optodeDriver {
  int state;              // 0 idle or finished, -1 failed, else the step to run
  unsigned old_tick10ms;
  unsigned new_tick10ms;
  unsigned bufIndx;
  char buf[OPTODE_BUF_SIZE];  // reply (carriage returns as NUL) or an error text
};
extern optodeDriver optode;

using OptodePort = SerialPort<OPTODE_TX_BUFFER_SIZE, OPTODE_RX_BUFFER_SIZE>;
extern OptodePort g_optodePort;

void optode_init();
void optode_config(uint32_t ui32PortNum, uint32_t ui32Baud, uint32_t ui32SrcClock);
int optode_write(const char *pcBuf, uint32_t ui32Len);
int optode_putc(int ch);
unsigned char optode_getc();
int optode_gets(char *pcBuf, uint32_t ui32Len);
int optode_peek(int ucChar);
int optode_rxBytesAvail();
int optode_txBytesFree();
void optode_flushRx();
void optode_flushTx(bool bDiscard);
void optode_echoSet(bool bEnable);
void optode_IntHandler();
void optode_open();
void optode_close();

// Start with 1, call again with each returned state until 0; optode.state
// is then 0 for a reply, -1 for a failure (text in optode.buf).
int optode_stateMachine(int optodeState);
bool optode_qa_test();
unsigned wait_optodeRx(unsigned maxWait_10msTick);
void optode_print_buf();
void optode_comm_test();
void optode_serial_analyzer();
