// YMODEM over the console line. While a transfer runs the line carries
// protocol bytes only: echo is off, bytes go out raw, and the trace stays
// in RAM until the transfer has ended.
//
// The receiver writes into a scratch file beside the target and renames it
// only once the announced size has arrived, so neither line noise nor a
// transfer stopped half-way can leave a short file under the real name.
#include "storage/ymodem.h"

#include <cstdarg>
#include <cstring>

#include "core/board_util.h"
#include "core/uartstdio.h"
#include "core/user_io.h"
#include "fmt.h"
#include "storage/microsd.h"

unsigned char packet_data[YMODEM_PACKET_SIZE];
FIL FileObject;

namespace {

constexpr unsigned char SOH = 0x01;
constexpr unsigned char STX = 0x02;
constexpr unsigned char EOT = 0x04;
constexpr unsigned char ACK = 0x06;
constexpr unsigned char NAK = 0x15;
constexpr unsigned char CAN = 0x18;
constexpr unsigned char CRC_REQUEST = 'C';
constexpr unsigned char PAD = 0x1A;  // fills the tail of a file's last block

constexpr int kTimeout = -1;
constexpr int kNoise = -2;  // a lone CAN

constexpr uint32_t kAnswerMs = 10000;  // an answer, or the start of a packet
constexpr int kByteSec = 1;            // between the bytes of one packet
constexpr unsigned kTurnaroundMs = 3;  // from an answer to the next block
constexpr int kStartTries = 30;        // seconds for the receiver's first C
constexpr int kBlock0Tries = 11;
constexpr int kDataSends = 12;
constexpr int kEndTries = 10;
constexpr int kRxStartTries = 60;  // seconds the receiver asks for a sender
constexpr int kRxErrors = 10;      // bad packets in a row
constexpr int kRxTimeouts = 3;     // silent answer times in a row
constexpr size_t kTxNameMax = 30;
constexpr size_t kRxNameMax = 64;
constexpr size_t kSizeField = 16;
constexpr char kScratchName[] = "YMODEM.PRT";

char trace_buf[512];
size_t trace_len;

void trace(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void trace(const char *fmt, ...) {
  char line[112];
  va_list ap;
  va_start(ap, fmt);
  fmt_vsnprintf(line, sizeof line, fmt, ap);
  va_end(ap);
  size_t n = strlen(line);
  // The oldest lines make room for the newest.
  while (trace_len + n >= sizeof trace_buf) {
    const char *nl = static_cast<const char *>(memchr(trace_buf, '\n', trace_len));
    size_t cut = nl ? (size_t)(nl - trace_buf) + 1 : trace_len;
    memmove(trace_buf, trace_buf + cut, trace_len - cut);
    trace_len -= cut;
  }
  memcpy(trace_buf + trace_len, line, n);
  trace_len += n;
  trace_buf[trace_len] = 0;
}

void put_byte(unsigned char b) { UARTwriteRaw(&b, 1); }

// The next byte equal to `want` within `ms`, passing over others; false
// on a time-out or a cancel.
bool wait_for(int want, uint32_t ms) {
  uint32_t start = timer_1ms;
  while (timer_1ms - start < ms) {
    int c = getchar_timed(kByteSec);
    if (c == want) return true;
    if (c == CAN && getchar_timed(kByteSec) == CAN) return false;
  }
  return false;
}

// One answer byte; a CAN counts only when a second one follows.
int answer() {
  int c = getchar_timed((int)(kAnswerMs / 1000));
  if (c == CAN) return getchar_timed(kByteSec) == CAN ? CAN : kNoise;
  return c;
}

// Waits until the line has been quiet for a second, so that the rest of a
// broken packet (or a peer's cancel) is not read as something new.
void drain() {
  for (int i = 0; i < 2 * YMODEM_PACKET_SIZE && getchar_timed(kByteSec) >= 0; i++) {
  }
}

void begin_transfer() {
  trace_len = 0;
  trace_buf[0] = 0;
  UARTEchoSet(false);
}

void end_transfer() {
  drain();
  UARTEchoSet(true);
}

void cancel() {
  put_byte(CAN);
  put_byte(CAN);
  delay_msec(1000);
}

// The trace goes out only once the line is the console again, and only
// when debugging.
void show_trace() {
  if (!dbg_flag) return;
  char chunk[200];
  for (size_t off = 0; off < trace_len; off += sizeof chunk - 1) {
    size_t n = trace_len - off < sizeof chunk - 1 ? trace_len - off : sizeof chunk - 1;
    memcpy(chunk, trace_buf + off, n);
    chunk[n] = 0;
    dbg_printf("%s", chunk);
  }
}

// ---- sending -------------------------------------------------------------

// Host receivers clear their input right after they answer; a packet that
// follows the answer too closely is lost with it.
void turnaround() { delay_msec(kTurnaroundMs); }

// The data (len bytes, 128 or 1024) is already at packet_data + 3.
void send_packet(int block_no, int len) {
  turnaround();
  packet_data[0] = len == 128 ? SOH : STX;
  packet_data[1] = (unsigned char)block_no;
  packet_data[2] = (unsigned char)(0xFF - packet_data[1]);
  uint16_t crc = crc16(packet_data + 3, len);
  packet_data[3 + len] = (unsigned char)(crc >> 8);
  packet_data[4 + len] = (unsigned char)crc;
  UARTwriteRaw(packet_data, (uint32_t)len + 5);
  trace("sending block %d\n", block_no);
}

// A null name gives the all-zero block that ends a batch.
void send_packet0(const char *filename, unsigned long size) {
  memset(packet_data + 3, 0, 128);
  if (filename) {
    size_t n = strlen(filename);
    memcpy(packet_data + 3, filename, n);
    strcpy(reinterpret_cast<char *>(packet_data) + 3 + n + 1, u32_to_str((unsigned)size));
  }
  send_packet(0, 128);
}

// Block 0 until the receiver has acknowledged it and asked for data.
bool send_header(const char *filename, unsigned long size) {
  for (int t = 0; t < kBlock0Tries; t++) {
    send_packet0(filename, size);
    int a = answer();
    trace("response = %02X\n", a & 0xFF);
    if (a == CAN) return false;
    if (a == ACK && wait_for(CRC_REQUEST, kAnswerMs)) return true;
    drain();
  }
  return false;
}

int send_data_packets() {
  for (int block = 1;; block++) {
    UINT got = 0;
    FRESULT res = f_read(&FileObject, packet_data + 3, 1024, &got);
    if (res != FR_OK) {
      trace("f_read error: %s\n", StringFromFresult(res));
      return -1;
    }
    // A file that ends on a block boundary sends no empty block.
    if (got == 0) return 0;
    int len = got <= 128 ? 128 : 1024;
    memset(packet_data + 3 + got, PAD, (size_t)len - got);
    for (int sends = 0;; sends++) {
      if (sends == kDataSends) return -1;
      send_packet(block, len);
      int a = answer();
      trace("sent block %d\nresponse = %02X\n", block, a & 0xFF);
      if (a == ACK) break;
      if (a == CAN) return -1;
      // A receiver that lost its place answers before the block has
      // ended and throws away what it reads next: let the line go quiet.
      drain();
    }
    if (got < 1024) return 0;
  }
}

bool send_eot() {
  for (int t = 0; t < kEndTries; t++) {
    turnaround();
    put_byte(EOT);
    int a = answer();
    if (a == ACK) return true;
    if (a == CAN) return false;
  }
  return false;
}

// ---- receiving -----------------------------------------------------------

enum Reason { kCancelled, kOpenError, kWriteError, kTooLarge, kPacketTimeout, kTooManyErrors, kShort };

struct Incoming {
  bool open;
  bool size_known;
  uint32_t size;
  uint32_t written;
  char name[kRxNameMax + 1];
  char scratch[kRxNameMax + sizeof kScratchName];
};

Incoming in;

// The rest of a packet whose header byte has arrived; true when it is
// whole, its block number matches its complement and the CRC holds.
bool read_packet(int len) {
  for (int i = 1; i < len + 5; i++) {
    int c = getchar_timed(kByteSec);
    if (c < 0) return false;
    packet_data[i] = (unsigned char)c;
  }
  if (packet_data[1] + packet_data[2] != 0xFF) return false;
  return crc16(packet_data + 3, len + 2) == 0;
}

void discard_incoming() {
  if (!in.open) return;
  f_close(&FileObject);
  f_unlink(in.scratch);
  in.open = false;
}

// Block 0 with a name: the scratch file is created in the target's
// directory.
bool open_incoming(int len, Reason *why) {
  const char *p = reinterpret_cast<const char *>(packet_data) + 3;
  const void *end = memchr(p, 0, (size_t)len);
  size_t n = end ? (size_t)(static_cast<const char *>(end) - p) : (size_t)len;
  if (n > kRxNameMax || n == (size_t)len) {
    *why = kOpenError;
    return false;
  }
  memcpy(in.name, p, n);
  in.name[n] = 0;
  char field[kSizeField + 1] = {};
  for (size_t i = 0; i < kSizeField && n + 1 + i < (size_t)len; i++) {
    char c = p[n + 1 + i];
    if (c == 0 || c == ' ') break;
    field[i] = c;
  }
  const unsigned char *f = reinterpret_cast<const unsigned char *>(field);
  while (*f == ' ') f++;
  in.size_known = *f >= '0' && *f <= '9';
  in.size = str_to_u32(f);
  if (in.size > YMODEM_MAX_FILE) {
    *why = kTooLarge;
    return false;
  }
  const char *slash = strrchr(in.name, '/');
  size_t dir = slash ? (size_t)(slash - in.name) + 1 : 0;
  memcpy(in.scratch, in.name, dir);
  strcpy(in.scratch + dir, kScratchName);
  trace("\n\nOpening filename = %s\n", in.name);
  FRESULT res = f_open(&FileObject, in.scratch, FA_READ | FA_WRITE | FA_CREATE_ALWAYS);
  if (res != FR_OK) {
    trace("f_open error: %s\n", StringFromFresult(res));
    *why = kOpenError;
    return false;
  }
  in.open = true;
  in.written = 0;
  return true;
}

// Only what the sender announced is kept: the padding of every last
// block is left out.
bool write_block(int len) {
  UINT n = (UINT)len;
  if (in.size_known && in.size - in.written < n) n = in.size - in.written;
  if (n == 0) return true;
  UINT w = 0;
  FRESULT res = f_write(&FileObject, packet_data + 3, n, &w);
  if (res != FR_OK || w != n) {
    trace("f_write error: %s\n", StringFromFresult(res));
    return false;
  }
  in.written += n;
  return true;
}

// End of one file: the scratch file takes the target's name.
bool finish_incoming(Reason *why) {
  FRESULT res = f_close(&FileObject);
  in.open = false;
  if (res != FR_OK || (in.size_known && in.written != in.size)) {
    trace("file ends at %u of %u: %s\n", (unsigned)in.written, (unsigned)in.size,
          StringFromFresult(res));
    f_unlink(in.scratch);
    *why = res != FR_OK ? kWriteError : kShort;
    return false;
  }
  res = f_unlink(in.name);
  if (res == FR_OK || res == FR_NO_FILE) res = f_rename(in.scratch, in.name);
  if (res != FR_OK) {
    trace("f_rename error: %s\n", StringFromFresult(res));
    f_unlink(in.scratch);
    *why = kOpenError;
    return false;
  }
  return true;
}

// Runs the batch; true when its closing block 0 came.
bool receive_batch(Reason *why) {
  int c = kTimeout;
  for (int i = 0; i < kRxStartTries && c < 0; i++) {
    put_byte(CRC_REQUEST);
    c = getchar_timed(kByteSec);
  }
  if (c < 0) {
    *why = kPacketTimeout;
    return false;
  }
  int expected = 0;
  int errors = 0, timeouts = 0, cancels = 0;
  for (;;) {
    if (c < 0) c = getchar_timed((int)(kAnswerMs / 1000));
    if (c < 0) {
      if (++timeouts >= kRxTimeouts) {
        *why = kPacketTimeout;
        return false;
      }
      put_byte(expected == 0 ? CRC_REQUEST : NAK);
      continue;
    }
    int got = c;
    c = kTimeout;
    timeouts = 0;
    if (got == SOH || got == STX) {
      int len = got == SOH ? 128 : 1024;
      if (!read_packet(len)) {
        drain();
        if (++errors >= kRxErrors) {
          *why = kTooManyErrors;
          return false;
        }
        put_byte(NAK);
        continue;
      }
      int blk = packet_data[1];
      if (blk == (expected & 0xFF)) {
        errors = 0;
        if (expected == 0) {
          if (packet_data[3] == 0) {  // no name: the batch is over
            put_byte(ACK);
            return true;
          }
          if (!open_incoming(len, why)) return false;
          put_byte(ACK);
          put_byte(CRC_REQUEST);
        } else {
          if (!write_block(len)) {
            *why = kWriteError;
            return false;
          }
          put_byte(ACK);
        }
        expected++;
      } else if (expected > 0 && blk == ((expected - 1) & 0xFF)) {
        // Our answer to it was lost and the sender tries again.
        put_byte(ACK);
        if (expected == 1) put_byte(CRC_REQUEST);
      } else {
        if (++errors >= kRxErrors) {
          *why = kTooManyErrors;
          return false;
        }
        put_byte(NAK);
      }
    } else if (got == EOT) {
      if (!in.open) {
        // Repeated after we finished the file: our ACK was lost.
        put_byte(ACK);
        put_byte(CRC_REQUEST);
        continue;
      }
      // A noise byte can look like EOT: it must come twice.
      put_byte(NAK);
      int again = getchar_timed((int)(kAnswerMs / 1000));
      if (again != EOT) {
        c = again;
        continue;
      }
      if (!finish_incoming(why)) return false;
      put_byte(ACK);
      expected = 0;
      put_byte(CRC_REQUEST);
    } else if (got == CAN) {
      int again = getchar_timed(kByteSec);
      if (again == CAN) {
        if (++cancels >= 2) {
          *why = kCancelled;
          return false;
        }
      } else {
        c = again;
      }
    }
  }
}

}  // namespace

uint16_t crc16(const unsigned char *buf, int count) {
  uint16_t crc = 0;
  for (int i = 0; i < count; i++) {
    crc ^= (uint16_t)(buf[i] << 8);
    for (int b = 0; b < 8; b++)
      crc = (crc & 0x8000) ? (uint16_t)((crc << 1) ^ 0x1021) : (uint16_t)(crc << 1);
  }
  return crc;
}

const char *u32_to_str(unsigned int v) {
  static char buf[11];
  char *p = buf + sizeof buf - 1;
  *p = 0;
  do {
    *--p = (char)('0' + v % 10);
    v /= 10;
  } while (v);
  return p;
}

unsigned int str_to_u32(const unsigned char *s) {
  while (*s == ' ') s++;
  unsigned int v = 0;
  for (; *s >= '0' && *s <= '9'; s++) v = v * 10 + (unsigned)(*s - '0');
  return v;
}

const char *ymodem_trace() { return trace_buf; }

int ymodem_send(int argc, char *argv[]) {
  if (argc < 2) {
    uprintf("Usage: ys <file> [<file> ...]\n");
    return 0;
  }
  for (int i = 1; i < argc; i++) {
    if (strlen(argv[i]) > kTxNameMax) {
      uprintf("Resulting path name is too long\n");
      return 0;
    }
  }
  begin_transfer();
  int result = 0;
  bool done = false;
  // Every name is tried before the line is handed to the protocol, so that
  // a mistyped one is reported in plain text.
  for (int i = 1; i < argc; i++) {
    trace("\n\nfilename = %s\n", argv[i]);
    FRESULT res = f_open(&FileObject, argv[i], FA_READ);
    if (res != FR_OK) {
      trace("f_open error: %s\n", StringFromFresult(res));
      uprintf("f_open error: %s\n", StringFromFresult(res));
      result = -1;
      break;
    }
    trace("File size = %lu\n", (unsigned long)f_size(&FileObject));
    f_close(&FileObject);
    uprintf("Ymodem sending %s...\n", argv[i]);
  }
  if (result == 0) {
    wait_consoleTx();
    delay_msec(1000);
    UARTFlushRx();
    bool asked = false;
    for (int t = 0; t < kStartTries && !asked; t++) asked = wait_for(CRC_REQUEST, 1000);
    for (int i = 1; asked && i < argc; i++) {
      if (f_open(&FileObject, argv[i], FA_READ) != FR_OK) {
        result = -1;
        break;
      }
      bool header = send_header(argv[i], (unsigned long)f_size(&FileObject));
      bool sent = header && send_data_packets() == 0 && send_eot();
      f_close(&FileObject);
      if (!sent) {
        // Nothing was lost when the host never took the first header.
        result = i == 1 && !header ? 0 : -1;
        break;
      }
      // The receiver asks for the next header; it goes out anyway.
      wait_for(CRC_REQUEST, kAnswerMs);
      if (i == argc - 1) {
        // A receiver may leave as soon as it has this block: silence ends it.
        for (int t = 0; t < kEndTries; t++) {
          send_packet0(nullptr, 0);
          int a = answer();
          if (a == ACK || a == kTimeout || a == CAN) break;
        }
        done = true;
      }
    }
  }
  if (!done) cancel();
  end_transfer();
  if (done) {
    for (int i = 1; i < argc; i++) uprintf("\nSent: %s\n", argv[i]);
  } else {
    uprintf("\nYmodem aborted\n");
  }
  show_trace();
  return result;
}

int ymodem_receive(int, char *[]) {
  uprintf("Ymodem rcv:\n");
  wait_consoleTx();
  begin_transfer();
  in = Incoming{};
  Reason why = kCancelled;
  bool ok = receive_batch(&why);
  if (!ok) {
    discard_incoming();
    cancel();
  }
  end_transfer();
  if (!ok) {
    uprintf("\nYmodem aborted: ");
    switch (why) {
      case kCancelled: break;
      case kOpenError: uprintf("File open error\n"); break;
      case kWriteError: uprintf("File write error\n"); break;
      case kTooLarge: uprintf("File size larger than: %d kB\n", 1000); break;
      case kPacketTimeout: uprintf("Packet timeout error\n"); break;
      case kTooManyErrors: uprintf("Too many errors\n"); break;
      case kShort: uprintf("File shorter than announced\n"); break;
    }
  }
  show_trace();
  return 0;
}
