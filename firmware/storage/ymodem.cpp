// YMODEM over the console line. While a transfer runs the line carries
// protocol bytes only: echo is off, bytes go out raw, and the trace and any
// card error stay in RAM until the transfer has ended and the host tool has
// let go of the line.
//
// The receiver writes into a scratch file of its own beside the target and
// renames it only once the announced size has arrived, so neither line
// noise nor a transfer stopped half-way can leave a short file under the
// real name, and a file the user already has stays until the new one is
// whole (unless the card only has room for the new one in its place).
// Everything that can refuse a file (size, name, room) is decided at block
// 0, before any data crosses the line.
#include "storage/ymodem.h"

#include <cstdarg>
#include <cstring>

#include "core/board_util.h"
#include "core/uartstdio.h"
#include "core/user_io.h"
#include "driverlib/sysctl.h"
#include "driverlib/uart.h"
#include "fmt.h"
#include "inc/hw_memmap.h"
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

// Once a transfer runs, a peer answers within a fraction of a second; two
// answer times in a row without a byte mean it has gone.
constexpr uint32_t kReplyMs = 2000;
constexpr int kSilences = 2;
constexpr uint32_t kByteMs = 1000;     // between the bytes of one packet
constexpr uint32_t kQuietMs = 1000;    // the host tool has let go of the line
// A receiver that lost its place reads on until the line has been quiet
// for a second (common host tools) and only then asks again; a block sent
// before that is taken as more of the same noise, and so is the next.
constexpr uint32_t kSettleMs = 1500;
constexpr uint32_t kDrainMaxMs = 5000;
constexpr uint32_t kLastAckMs = 500;  // a receiver may leave without answering
// Host receivers clear their input right after they answer; a packet that
// reaches a host busy elsewhere before it has done so loses its head. Each
// refused block doubles the pause before the next packet, up to the most;
// a run of accepted ones halves it again.
constexpr uint32_t kTurnaroundMaxMs = 16;
constexpr int kSpeedUpAfter = 32;
constexpr int kStartTries = 30;        // seconds for the receiver's first C
constexpr int kBlock0Tries = 11;
constexpr int kDataSends = 12;
constexpr int kEndTries = 10;
constexpr int kRxStartTries = 60;  // seconds the receiver asks for a sender
constexpr int kRxErrors = 10;      // bad packets in a row
constexpr size_t kTxNameMax = 30;
constexpr size_t kRxNameMax = 64;
constexpr size_t kSizeField = 16;
constexpr int kScratchNames = 100;  // YMODEM00.PRT .. YMODEM99.PRT

enum Reason {
  kDone,
  kCancelled,
  kOpenError,
  kReadError,
  kWriteError,
  kTooLarge,
  kNoRoom,
  kPacketTimeout,
  kTooManyErrors,
  kShort,
};

char trace_buf[512];
size_t trace_len;

// The first card error of a transfer, shown once the console is back.
struct {
  const char *call;
  FRESULT res;
} card_error;

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

void card_failed(const char *call, FRESULT res) {
  trace("%s error: %s\n", call, StringFromFresult(res));
  if (!card_error.call) {
    card_error.call = call;
    card_error.res = res;
  }
}

void put_byte(unsigned char b) { UARTwriteRaw(&b, 1); }

// One byte within ms, or kTimeout.
int get_byte(uint32_t ms) {
  uint32_t start = timer_1ms;
  for (;;) {
    if (UARTRxBytesAvail()) return UARTgetc();
    if (timer_1ms - start >= ms) return kTimeout;
    SysCtlSleep();
  }
}

// One answer byte; a CAN counts only when a second one follows.
int answer(uint32_t ms) {
  int c = get_byte(ms);
  if (c == CAN) return get_byte(kByteMs) == CAN ? CAN : kNoise;
  return c;
}

// The next byte equal to `want` within ms, passing over others.
Reason wait_for(int want, uint32_t ms) {
  uint32_t start = timer_1ms;
  for (;;) {
    uint32_t spent = timer_1ms - start;
    if (spent >= ms) return kPacketTimeout;
    int c = answer(ms - spent);
    if (c == want) return kDone;
    if (c == CAN) return kCancelled;
  }
}

// Reads until the line has been quiet for quiet_ms (or, given one, until
// the byte `until`), so that the rest of a broken packet, or a peer's
// cancel, is not read as something new, and a host tool that is still on
// the line does not swallow what comes next.
void drain(uint32_t quiet_ms = kQuietMs, int until = kTimeout) {
  uint32_t start = timer_1ms;
  for (int c; (c = get_byte(quiet_ms)) >= 0 && c != until && timer_1ms - start < kDrainMaxMs;) {
  }
}

uint32_t turnaround_ms;  // from a receiver's answer to the next packet
int accepted_in_a_row;

void begin_transfer() {
  turnaround_ms = 0;
  accepted_in_a_row = 0;
  trace_len = 0;
  trace_buf[0] = 0;
  card_error.call = nullptr;
  UARTEchoSet(false);
}

// The console is back only once the host tool has let go of the line: a
// tool that is still there would swallow what comes next (host tools
// clear their input as they leave), and its leftovers must not reach the
// shell as a command line.
void end_transfer(Reason why) {
  if (why != kDone) {
    put_byte(CAN);
    put_byte(CAN);
  }
  wait_consoleTx();
  drain();
  UARTFlushRx();
  UARTEchoSet(true);
}

void report(Reason why) {
  if (why == kDone) return;
  if (card_error.call) uprintf("%s error: %s\n", card_error.call, StringFromFresult(card_error.res));
  uprintf("\nYmodem aborted: ");
  switch (why) {
    case kDone: break;
    case kCancelled: uprintf("Cancelled by the host\n"); break;
    case kOpenError: uprintf("File open error\n"); break;
    case kReadError: uprintf("File read error\n"); break;
    case kWriteError: uprintf("File write error\n"); break;
    case kTooLarge: uprintf("File size larger than: %d kB\n", 1000); break;
    case kNoRoom: uprintf("Not enough room on the card\n"); break;
    case kPacketTimeout: uprintf("Packet timeout error\n"); break;
    case kTooManyErrors: uprintf("Too many errors\n"); break;
    case kShort: uprintf("File shorter than announced\n"); break;
  }
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

void slow_down() {
  turnaround_ms = turnaround_ms * 2 + 1 < kTurnaroundMaxMs ? turnaround_ms * 2 + 1 : kTurnaroundMaxMs;
  accepted_in_a_row = 0;
}

void speed_up() {
  if (++accepted_in_a_row < kSpeedUpAfter) return;
  turnaround_ms /= 2;
  accepted_in_a_row = 0;
}

// The data (len bytes, 128 or 1024) is already at packet_data + 3. The
// packet goes into the transmit ring whole, so packet_data is free again
// as soon as this returns.
void send_packet(int block_no, int len) {
  if (turnaround_ms) delay_msec(turnaround_ms);
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
Reason send_header(const char *filename, unsigned long size) {
  int silences = 0;
  for (int t = 0; t < kBlock0Tries; t++) {
    send_packet0(filename, size);
    int a = answer(kReplyMs);
    trace("response = %02X\n", a & 0xFF);
    if (a == CAN) return kCancelled;
    if (a == ACK) return wait_for(CRC_REQUEST, kReplyMs);
    if (a == kTimeout && ++silences >= kSilences) return kPacketTimeout;
    if (a != kTimeout) drain();
    slow_down();
  }
  return kTooManyErrors;
}

// Block `block` of the open file into packet_data, seeking only when it is
// not the next one; its length in *got.
Reason load_block(int block, int *loaded, UINT *got) {
  FSIZE_t at = (FSIZE_t)(block - 1) * 1024;
  FRESULT res = FR_OK;
  if (f_tell(&FileObject) != at) res = f_lseek(&FileObject, at);
  if (res != FR_OK) {
    card_failed("f_lseek", res);
    return kReadError;
  }
  res = f_read(&FileObject, packet_data + 3, 1024, got);
  if (res != FR_OK) {
    card_failed("f_read", res);
    return kReadError;
  }
  *loaded = block;
  return kDone;
}

// The next block is read from the card while the current one is on the
// line; a block that must go again is read again.
Reason send_data_packets() {
  int loaded = 0;
  UINT got = 0;
  Reason why = load_block(1, &loaded, &got);
  if (why != kDone) return why;
  int sends = 0, silences = 0;
  for (int block = 1;;) {
    if (loaded != block && (why = load_block(block, &loaded, &got)) != kDone) return why;
    // A file that ends on a block boundary sends no empty block.
    if (got == 0) return kDone;
    int len = got <= 128 ? 128 : 1024;
    memset(packet_data + 3 + got, PAD, (size_t)len - got);
    bool last = got < 1024;
    send_packet(block, len);
    sends++;
    UINT next = 0;
    if (!last && (why = load_block(block + 1, &loaded, &next)) != kDone) return why;
    int a = answer(kReplyMs);
    trace("sent block %d\nresponse = %02X\n", block, a & 0xFF);
    if (a == ACK) {
      if (last) return kDone;
      speed_up();
      block++;
      got = next;
      sends = silences = 0;
      continue;
    }
    if (a == CAN) return kCancelled;
    if (a == kTimeout && ++silences >= kSilences) return kPacketTimeout;
    if (sends == kDataSends) return kTooManyErrors;
    if (a != kTimeout) {
      bool whole_block_out = UARTTxBytesFree() == (int)UART_TX_BUFFER_SIZE - 1;
      wait_consoleTx();
      // A NAK for the whole block asks for it again. A receiver that lost
      // its place answers before the block has ended, throws away what it
      // reads until the line has been quiet, and then asks again: a NAK,
      // or the quiet long enough for it to have found its place.
      if (a != NAK || !whole_block_out) drain(kSettleMs, NAK);
    }
    slow_down();
  }
}

Reason send_eot() {
  int silences = 0;
  for (int t = 0; t < kEndTries; t++) {
    put_byte(EOT);
    int a = answer(kReplyMs);
    if (a == ACK) return kDone;
    if (a == CAN) return kCancelled;
    if (a == kTimeout && ++silences >= kSilences) return kPacketTimeout;
  }
  return kTooManyErrors;
}

Reason send_file(const char *name) {
  FRESULT res = f_open(&FileObject, name, FA_READ);
  if (res != FR_OK) {
    card_failed("f_open", res);
    return kOpenError;
  }
  Reason why = send_header(name, (unsigned long)f_size(&FileObject));
  if (why == kDone) why = send_data_packets();
  if (why == kDone) why = send_eot();
  f_close(&FileObject);
  return why;
}

// The receiver asks for the next header; a batch ends with the empty one.
// A receiver may leave as soon as it has that block, and its answer is
// not waited for long.
void end_batch() {
  if (wait_for(CRC_REQUEST, kReplyMs) != kDone) return;
  for (int t = 0; t < kEndTries; t++) {
    send_packet0(nullptr, 0);
    int a = answer(kLastAckMs);
    if (a == ACK || a == kTimeout || a == CAN) return;
  }
}

// ---- receiving -----------------------------------------------------------

struct Incoming {
  bool open;       // the scratch file is open
  bool size_known;
  bool replaces;   // a file of the target's name is still on the card
  uint32_t size;
  uint32_t written;
  uint32_t cluster_bytes;
  uint32_t room;   // clusters free beside the file being replaced
  char name[kRxNameMax + 1];
  char scratch[kRxNameMax + 13];
};

Incoming in;

uint32_t clusters(uint32_t bytes) { return (bytes + in.cluster_bytes - 1) / in.cluster_bytes; }

enum Packet { kGood, kBad, kCancel };

// The rest of a packet whose header byte has arrived: good when it is
// whole, its block number matches its complement and the CRC holds. A
// broken packet that holds a CAN pair is the sender cancelling half-way.
Packet read_packet(int len) {
  int i = 1;
  for (; i < len + 5; i++) {
    int c = get_byte(kByteMs);
    if (c < 0) break;
    packet_data[i] = (unsigned char)c;
  }
  if (i == len + 5 && packet_data[1] + packet_data[2] == 0xFF &&
      crc16(packet_data + 3, len + 2) == 0)
    return kGood;
  for (int k = 2; k < i; k++)
    if (packet_data[k] == CAN && packet_data[k - 1] == CAN) return kCancel;
  trace("bad packet: %d of %d bytes\n", i, len + 5);
  return kBad;
}

void discard_incoming() {
  if (!in.open) return;
  f_close(&FileObject);
  f_unlink(in.scratch);
  in.open = false;
}

bool same_name(const char *a, const char *b) {
  for (; *a && *b; a++, b++) {
    char x = *a >= 'a' && *a <= 'z' ? (char)(*a - 32) : *a;
    char y = *b >= 'a' && *b <= 'z' ? (char)(*b - 32) : *b;
    if (x != y) return false;
  }
  return *a == *b;
}

// What is on the card under the target's name: nothing, or a file that
// may be replaced. A directory, a read-only file or a name the card
// cannot hold refuses the transfer.
Reason probe_target(uint32_t *old_size) {
  in.replaces = false;
  FRESULT res = f_open(&FileObject, in.name, FA_READ | FA_WRITE);
  if (res == FR_OK) {
    in.replaces = true;
    *old_size = f_size(&FileObject);
    f_close(&FileObject);
    return kDone;
  }
  if (res == FR_NO_FILE) {
    DIR dir;
    if (f_opendir(&dir, in.name) != FR_OK) return kDone;
    f_closedir(&dir);
    res = FR_DENIED;  // as for creating a file over a directory
  }
  card_failed("f_open", res);
  return kOpenError;
}

// A scratch name in the target's directory that nothing on the card
// uses, not even the target itself.
Reason create_scratch() {
  const char *slash = strrchr(in.name, '/');
  size_t dir = slash ? (size_t)(slash - in.name) + 1 : 0;
  memcpy(in.scratch, in.name, dir);
  FRESULT res = FR_EXIST;
  for (int k = 0; k < kScratchNames && res == FR_EXIST; k++) {
    fmt_snprintf(in.scratch + dir, sizeof in.scratch - dir, "YMODEM%02d.PRT", k);
    if (same_name(in.scratch + dir, in.name + dir)) continue;
    res = f_open(&FileObject, in.scratch, FA_READ | FA_WRITE | FA_CREATE_NEW);
  }
  if (res != FR_OK) {
    card_failed("f_open", res);
    return kOpenError;
  }
  in.open = true;
  return kDone;
}

// Block 0 with a name: everything that can refuse the file is decided
// here, before its data flows.
Reason open_incoming(int len) {
  const char *p = reinterpret_cast<const char *>(packet_data) + 3;
  const void *end = memchr(p, 0, (size_t)len);
  size_t n = end ? (size_t)(static_cast<const char *>(end) - p) : (size_t)len;
  if (n > kRxNameMax || n == (size_t)len) {
    card_failed("f_open", FR_INVALID_NAME);
    return kOpenError;
  }
  memcpy(in.name, p, n);
  in.name[n] = 0;
  char field[kSizeField + 1] = {};
  for (size_t i = 0; i < kSizeField && n + 1 + i < (size_t)len; i++) {
    char c = p[n + 1 + i];
    if (c == 0 || c == ' ') break;
    field[i] = c;
  }
  in.size_known = field[0] >= '0' && field[0] <= '9';
  in.size = str_to_u32(reinterpret_cast<const unsigned char *>(field));
  if (in.size > YMODEM_MAX_FILE) return kTooLarge;
  trace("\n\nOpening filename = %s\n", in.name);
  uint32_t old_size = 0;
  Reason why = probe_target(&old_size);
  if (why == kDone) why = create_scratch();
  if (why != kDone) return why;
  in.written = 0;
  // Room is counted once the scratch entry exists; the file being
  // replaced gives its clusters back.
  DWORD free_clusters = 0;
  FATFS *fs = nullptr;
  FRESULT res = f_getfree("", &free_clusters, &fs);
  if (res != FR_OK) {
    card_failed("f_getfree", res);
    return kOpenError;
  }
  in.cluster_bytes = (uint32_t)fs->csize * 512;
  in.room = free_clusters;
  uint32_t have = free_clusters + (in.replaces ? clusters(old_size) : 0);
  if (in.size_known && clusters(in.size) > have) return kNoRoom;
  return kDone;
}

// Only what the sender announced is kept: the padding of every last
// block is left out. The file being replaced goes only when the new one
// no longer fits beside it.
Reason write_block(int len) {
  UINT n = (UINT)len;
  if (in.size_known && in.size - in.written < n) n = in.size - in.written;
  if (!in.size_known && in.written + n > YMODEM_MAX_FILE) return kTooLarge;
  if (n == 0) return kDone;
  if (in.replaces && clusters(in.written + n) > in.room) {
    FRESULT res = f_unlink(in.name);
    if (res != FR_OK && res != FR_NO_FILE) {
      card_failed("f_unlink", res);
      return kWriteError;
    }
    in.replaces = false;
  }
  UINT w = 0;
  FRESULT res = f_write(&FileObject, packet_data + 3, n, &w);
  if (res != FR_OK) {
    card_failed("f_write", res);
    return kWriteError;
  }
  in.written += w;
  return w == n ? kDone : kNoRoom;
}

// End of one file: the scratch file takes the target's name.
Reason finish_incoming() {
  FRESULT res = f_close(&FileObject);
  in.open = false;
  if (res != FR_OK || (in.size_known && in.written != in.size)) {
    trace("file ends at %u of %u\n", (unsigned)in.written, (unsigned)in.size);
    f_unlink(in.scratch);
    if (res == FR_OK) return kShort;
    card_failed("f_close", res);
    return kWriteError;
  }
  res = f_unlink(in.name);
  if (res != FR_OK && res != FR_NO_FILE) {
    card_failed("f_unlink", res);
    f_unlink(in.scratch);
    return kWriteError;
  }
  // Should the rename fail now, the data stays on the card under the
  // scratch name.
  res = f_rename(in.scratch, in.name);
  if (res != FR_OK) {
    card_failed("f_rename", res);
    return kWriteError;
  }
  return kDone;
}

Reason receive_batch() {
  int c = kTimeout;
  for (int i = 0; i < kRxStartTries && c < 0; i++) {
    put_byte(CRC_REQUEST);
    c = get_byte(1000);
  }
  if (c < 0) return kPacketTimeout;
  int expected = 0;
  int errors = 0, silences = 0;
  // A request we sent unasked (a C at the start, a NAK after a silence)
  // can reach a sender that was only slow after it has sent its next
  // block, which it then sends again: that copy, of the first block to
  // arrive after the request, already has its answer and gets no second
  // one, or every later answer would be taken for the next block's.
  int first_after_request = 0;
  for (;;) {
    if (c < 0) c = get_byte(kReplyMs);
    if (c < 0) {
      if (++silences >= kSilences) return kPacketTimeout;
      put_byte(expected == 0 ? CRC_REQUEST : NAK);
      first_after_request = expected;
      continue;
    }
    int got = c;
    c = kTimeout;
    if (got == SOH || got == STX) {
      silences = 0;
      int len = got == SOH ? 128 : 1024;
      Packet pk = read_packet(len);
      if (pk == kCancel) return kCancelled;
      if (pk == kBad) {
        drain();
        if (++errors >= kRxErrors) return kTooManyErrors;
        put_byte(NAK);
        continue;
      }
      int blk = packet_data[1];
      if (blk == (expected & 0xFF)) {
        errors = 0;
        if (expected == 0) {
          if (packet_data[3] == 0) {  // no name: the batch is over
            put_byte(ACK);
            return kDone;
          }
          Reason why = open_incoming(len);
          if (why != kDone) return why;
          put_byte(ACK);
          put_byte(CRC_REQUEST);
        } else {
          // The answer goes first: the sender's next block arrives while
          // this one is written (the receive ring holds what comes).
          put_byte(ACK);
          Reason why = write_block(len);
          if (why != kDone) return why;
        }
        expected++;
      } else if (expected > 0 && blk == ((expected - 1) & 0xFF)) {
        if (expected - 1 == first_after_request) {
          first_after_request = -1;
        } else {
          // Our answer to it was lost and the sender tries again.
          put_byte(ACK);
          if (expected == 1) put_byte(CRC_REQUEST);
        }
      } else {
        if (++errors >= kRxErrors) return kTooManyErrors;
        put_byte(NAK);
      }
    } else if (got == EOT) {
      silences = 0;
      if (!in.open) {
        // Repeated after we finished the file: our ACK was lost.
        put_byte(ACK);
        put_byte(CRC_REQUEST);
        continue;
      }
      // A noise byte can look like EOT: it must come twice.
      put_byte(NAK);
      int again = get_byte(kReplyMs);
      if (again != EOT) {
        c = again;
        continue;
      }
      Reason why = finish_incoming();
      if (why != kDone) return why;
      put_byte(ACK);
      expected = 0;
      put_byte(CRC_REQUEST);
    } else if (got == CAN) {
      int again = get_byte(kByteMs);
      if (again == CAN) return kCancelled;
      c = again;
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

// A number too large for 32 bits gives the largest one, never a wrapped
// small one.
unsigned int str_to_u32(const unsigned char *s) {
  while (*s == ' ') s++;
  unsigned int v = 0;
  for (; *s >= '0' && *s <= '9'; s++) {
    unsigned d = (unsigned)(*s - '0');
    if (v > (0xFFFFFFFFu - d) / 10) return 0xFFFFFFFFu;
    v = v * 10 + d;
  }
  return v;
}

const char *ymodem_trace() { return trace_buf; }

// Every name is tried before the line is handed to the protocol, so that
// a mistyped one is reported in plain text.
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
  for (int i = 1; i < argc; i++) {
    trace("\n\nfilename = %s\n", argv[i]);
    FRESULT res = f_open(&FileObject, argv[i], FA_READ);
    if (res != FR_OK) {
      UARTEchoSet(true);
      uprintf("f_open error: %s\n", StringFromFresult(res));
      return 0;
    }
    trace("File size = %lu\n", (unsigned long)f_size(&FileObject));
    f_close(&FileObject);
    uprintf("Ymodem sending %s...\n", argv[i]);
  }
  wait_consoleTx();
  delay_msec(1000);
  UARTFlushRx();
  // With the FIFOs off a receiver's answer raises its interrupt as it
  // arrives, not a receive time-out (32 bit times) later: a third of a
  // millisecond less per block. Only single answer bytes come in meanwhile.
  UARTFIFODisable(UART0_BASE);
  Reason why = kPacketTimeout;
  for (int t = 0; t < kStartTries && why == kPacketTimeout; t++) why = wait_for(CRC_REQUEST, 1000);
  for (int i = 1; why == kDone && i < argc; i++) {
    why = send_file(argv[i]);
    // The receiver asks for the next header; it goes out anyway.
    if (why == kDone && i < argc - 1) why = wait_for(CRC_REQUEST, kReplyMs);
  }
  if (why == kDone) end_batch();
  wait_consoleTx();
  UARTFIFOEnable(UART0_BASE);
  end_transfer(why);
  if (why == kDone) {
    for (int i = 1; i < argc; i++) uprintf("\nSent: %s\n", argv[i]);
  }
  report(why);
  show_trace();
  return 0;
}

int ymodem_receive(int, char *[]) {
  uprintf("Ymodem rcv:\n");
  wait_consoleTx();
  begin_transfer();
  in = Incoming{};
  Reason why = receive_batch();
  if (why != kDone) discard_incoming();
  end_transfer(why);
  report(why);
  show_trace();
  return 0;
}
