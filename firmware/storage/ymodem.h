// YMODEM file transfer over the console line, for the file shell: "ys"
// sends files from the card, "yr" receives a batch onto it. CRC-16 only;
// 128- and 1024-byte blocks.
#pragma once
#include <cstdint>

#include "ff.h"

constexpr int YMODEM_PACKET_SIZE = 3 + 1024 + 2;
// Largest file "yr" takes, in bytes.
constexpr uint32_t YMODEM_MAX_FILE = 1024000;

extern unsigned char packet_data[YMODEM_PACKET_SIZE];
extern FIL FileObject;

// Sends the files named argv[1]..argv[argc-1] (paths from the card's root)
// as one batch. Always 0: a failure is reported on the console, with the
// card's error where there was one.
int ymodem_send(int argc, char *argv[]);
// Receives a batch; each file lands under the name the sender gives, and
// only once it has arrived whole. Always 0 (failures are reported).
int ymodem_receive(int argc, char *argv[]);

// CRC-16/XMODEM: polynomial 0x1021, initial 0, no final inversion.
uint16_t crc16(const unsigned char *buf, int count);
// Decimal digits of v in a static buffer.
const char *u32_to_str(unsigned int v);
// Leading blanks skipped, then decimal digits up to the first other byte;
// 0xFFFFFFFF for a number beyond 32 bits.
unsigned int str_to_u32(const unsigned char *s);

// What the last transfer traced; kept in RAM, never sent while the line
// carries the protocol.
const char *ymodem_trace();
