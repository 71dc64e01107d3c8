// The microSD card in SPI mode, frame by frame on SSI0.
//
// Every frame the card sends the byte it had ready before the frame began,
// then takes in the byte the host sent: a response therefore starts on a
// later frame, as on the wire. Times (access time, programming busy,
// initialisation) run on the virtual clock, so the driver's time-outs see
// what they would see on a real card. The card checks the rules a real one
// relies on (74 clocks before CMD0, identification at 400 kHz at most, no
// command while busy) and counts and reports every breach.
#include "sdcard.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "driverlib/gpio.h"
#include "driverlib/sysctl.h"
#include "inc/hw_memmap.h"
#include "runner.h"
#include "sim.h"
#include "sim_internal.h"

namespace sim {
namespace {

constexpr uint8_t kR1Idle = 0x01;
constexpr uint8_t kR1Illegal = 0x04;
constexpr uint8_t kR1Crc = 0x08;
constexpr uint8_t kR1Address = 0x20;  // misaligned byte address
constexpr uint8_t kR1Param = 0x40;    // address past the end

constexpr uint8_t kAccepted = 0xE5;    // data response 010, upper bits as cards send them
constexpr uint8_t kWriteError = 0xED;  // data response 110
constexpr uint8_t kTokenEcc = 0x04;    // data error token: card ECC failed
constexpr uint8_t kTokenRange = 0x08;  // data error token: out of range

constexpr ns_t kStopBusy = 100 * kUs;  // after the stop-transmission token
constexpr ns_t kCmd12Busy = 20 * kUs;  // R1b of CMD12
constexpr uint32_t kIdentMaxHz = 400000;
constexpr uint32_t kMaxHz = 25000000;
constexpr int kMaxTrace = 8192;
constexpr int kMaxReports = 10;

struct Shared {
  SdFaults faults;
  SdStats stats;
};

Shared *shared() { return &shared_object<Shared>(); }

SdConfig cfg = {"", 64, SdType::kSdhc, 1.0, 100.0, 150.0};

enum class Phase { kCommand, kRead, kWriteToken, kWriteData };

// What is in the slot.
struct Medium {
  int fd = -1;
  char path[600];
  uint32_t sectors;
  SdType type;
  uint8_t csd[16], cid[16];
  bool attached;
};

// The card's state since it was last powered up.
struct Card {
  bool powered;
  uint32_t clocks;  // clocks with the card deselected since power-up
  bool spi;         // CMD0 seen with the card selected
  bool idle;
  bool init_started;
  ns_t ready_at;
  bool app_next;
  uint8_t cmd[6];
  int cmd_len;
  // Bytes waiting to go out, and the busy time that follows them.
  uint8_t q[540];
  int q_len, q_pos;
  ns_t busy_after_q;
  ns_t busy_until;
  ns_t data_at;  // earliest time of the next data token
  Phase phase;
  bool multi;
  uint32_t sector;
  bool read_stopped;  // a multi-block read after an error token
  const uint8_t *reg_pending;
  bool write_failed;
  uint8_t wbuf[514];
  int wpos;
  int reports;
  bool warned_ident_speed, warned_speed;
};

Medium medium;
Card card;
SdEvent trace_buf[kMaxTrace];
int trace_n;

void violation(const char *what) {
  shared()->stats.violations++;
  if (card.reports++ < kMaxReports) report("sdcard: %s\n", what);
}

void trace(SdEvent e) {
  if (trace_n < kMaxTrace) trace_buf[trace_n++] = e;
}

uint8_t crc7(const uint8_t *d, int n) {
  uint8_t crc = 0;
  for (int i = 0; i < n; i++) {
    uint8_t b = d[i];
    for (int j = 0; j < 8; j++) {
      crc = (uint8_t)(crc << 1);
      if ((b ^ crc) & 0x80) crc ^= 0x09;
      b = (uint8_t)(b << 1);
    }
  }
  return crc & 0x7F;
}

uint16_t crc16(const uint8_t *d, int n) {
  uint16_t crc = 0;
  for (int i = 0; i < n; i++) {
    crc ^= (uint16_t)(d[i] << 8);
    for (int j = 0; j < 8; j++) crc = (crc & 0x8000) ? (uint16_t)((crc << 1) ^ 0x1021) : (uint16_t)(crc << 1);
  }
  return crc;
}

bool byte_addressed() { return medium.type != SdType::kSdhc; }

// ---- registers ------------------------------------------------------------

// Sectors a standard-capacity CSD can describe, not more than the image:
// (C_SIZE + 1) * 2^(C_SIZE_MULT + 2) blocks of 2^READ_BL_LEN bytes.
uint32_t build_csd_v1(uint32_t sectors, uint8_t *csd) {
  int bl = 9, mult = 0;
  uint32_t count = 0;
  for (bl = 9; bl <= 11; bl++) {
    for (mult = 0; mult <= 7; mult++) {
      uint32_t unit = (1u << (mult + 2)) << (bl - 9);  // sectors per C_SIZE step
      if (sectors / unit <= 4096) {
        count = sectors / unit;
        break;
      }
    }
    if (count) break;
  }
  if (!count) {  // larger than 4 GB: the largest the layout holds
    bl = 11;
    mult = 7;
    count = 4096;
  }
  uint32_t c_size = count - 1;
  memset(csd, 0, 16);
  csd[0] = medium.type == SdType::kMmc ? 0x90 : 0x00;  // MMC: CSD version 1.2
  csd[1] = 0x26;  // TAAC
  csd[2] = 0x00;  // NSAC
  csd[3] = 0x32;  // 25 MHz
  csd[4] = 0x5F;
  csd[5] = (uint8_t)(0x50 | bl);
  csd[6] = (uint8_t)(0x80 | ((c_size >> 10) & 0x03));
  csd[7] = (uint8_t)(c_size >> 2);
  csd[8] = (uint8_t)(((c_size & 0x03) << 6) | 0x2D);
  csd[9] = (uint8_t)(0xB4 | ((mult >> 1) & 0x03));
  csd[10] = (uint8_t)(((mult & 1) << 7) | 0x7F);
  csd[11] = 0x80;
  csd[12] = 0x0A;  // write speed factor, WRITE_BL_LEN 9
  csd[13] = 0x40;
  csd[14] = 0x00;
  csd[15] = (uint8_t)((crc7(csd, 15) << 1) | 1);
  return count * (1u << (mult + 2)) << (bl - 9);
}

// High capacity: C_SIZE counts 512 KB units.
uint32_t build_csd_v2(uint32_t sectors, uint8_t *csd) {
  uint32_t units = sectors / 1024;
  if (units == 0) units = 1;
  if (units > 0x400000) units = 0x400000;
  uint32_t c_size = units - 1;
  static const uint8_t fixed[16] = {0x40, 0x0E, 0x00, 0x32, 0x5B, 0x59, 0x00, 0x00,
                                    0x00, 0x00, 0x7F, 0x80, 0x0A, 0x40, 0x00, 0x00};
  memcpy(csd, fixed, 16);
  csd[7] = (uint8_t)((c_size >> 16) & 0x3F);
  csd[8] = (uint8_t)(c_size >> 8);
  csd[9] = (uint8_t)c_size;
  csd[15] = (uint8_t)((crc7(csd, 15) << 1) | 1);
  return units * 1024;
}

void build_cid(uint8_t *cid) {
  static const uint8_t fixed[16] = {0x50, 'P', 'H', 'S', 'I', 'M', 'S', 'D',
                                    0x10, 0x00, 0xC0, 0xFF, 0xEE, 0x01, 0x81, 0x00};
  memcpy(cid, fixed, 16);  // made January 2024, serial 0x00C0FFEE
  cid[15] = (uint8_t)((crc7(cid, 15) << 1) | 1);
}

uint32_t ocr() {
  uint32_t v = 0x00FF8000;  // 2.7-3.6 V
  if (!card.idle) {
    v |= 0x80000000u;  // power-up done
    if (medium.type == SdType::kSdhc) v |= 0x40000000u;
  }
  return v;
}

// ---- output -----------------------------------------------------------------

void q_clear() {
  card.q_len = card.q_pos = 0;
  card.busy_after_q = 0;
}

void q_put(uint8_t b) {
  if (card.q_len < (int)sizeof card.q) card.q[card.q_len++] = b;
}

void respond(uint8_t r1) {
  q_clear();
  q_put(0xFF);  // one byte of command response time
  q_put(r1);
}

void q_block(const uint8_t *d, int n) {
  q_put(0xFE);
  for (int i = 0; i < n; i++) q_put(d[i]);
  uint16_t c = crc16(d, n);
  q_put((uint8_t)(c >> 8));
  q_put((uint8_t)c);
}

void load_read_block() {
  SdFaults &f = shared()->faults;
  f.reads_seen++;
  uint8_t token = 0;
  if (card.sector >= medium.sectors) token = kTokenRange;
  else if (f.reads_seen == f.read_error_at) {
    f.read_error_at = 0;
    token = kTokenEcc;
  }
  if (token) {
    q_put(token);
    trace(SdEvent{SdEvent::kErrorToken, token, false, 0xFF, card.sector});
    card.read_stopped = true;
  } else {
    uint8_t buf[512];
    ssize_t got = pread(medium.fd, buf, 512, (off_t)card.sector * 512);
    if (got != 512) memset(buf + (got > 0 ? got : 0), 0, (size_t)(512 - (got > 0 ? got : 0)));
    q_block(buf, 512);
    shared()->stats.sector_reads++;
    trace(SdEvent{SdEvent::kReadBlock, 0xFE, false, 0xFF, card.sector});
    card.sector++;
  }
  if (!card.multi) card.phase = Phase::kCommand;
}

uint8_t next_out() {
  ns_t t = now();
  if (t < card.busy_until) return 0x00;
  if (card.q_pos == card.q_len) {
    if (t < card.data_at) return 0xFF;
    if (card.reg_pending) {
      q_block(card.reg_pending, 16);
      card.reg_pending = nullptr;
    } else if (card.phase == Phase::kRead && !card.read_stopped) {
      load_read_block();
    } else {
      return 0xFF;
    }
  }
  uint8_t b = card.q[card.q_pos++];
  if (card.q_pos == card.q_len) {
    card.q_len = card.q_pos = 0;
    card.data_at = t + (ns_t)(cfg.access_us * kUs);
    if (card.busy_after_q) {
      card.busy_until = t + card.busy_after_q;
      card.busy_after_q = 0;
    }
  }
  return b;
}

// ---- commands -----------------------------------------------------------------

void power_up() {
  int reports = card.reports;
  card = Card{};
  card.reports = reports;
  card.powered = true;
  card.idle = true;
}

// Sector of a data command's argument, or 0xFFFFFFFF with the R1 error.
uint32_t address(uint32_t arg, uint8_t *err) {
  uint32_t s = arg;
  if (byte_addressed()) {
    if (arg % 512) {
      *err = kR1Address;
      return 0xFFFFFFFF;
    }
    s = arg / 512;
  }
  if (s >= medium.sectors) {
    *err = kR1Param;
    return 0xFFFFFFFF;
  }
  return s;
}

// The idle state ends some time after the first initialisation command.
uint8_t init_step(bool hcs) {
  if (!card.idle) return 0;
  if (shared()->faults.stuck_idle) return kR1Idle;
  if (!card.init_started) {
    card.init_started = true;
    card.ready_at = now() + (ns_t)(cfg.init_ms * kMs);
  }
  // A high-capacity card stays busy for a host that does not support it.
  if (medium.type == SdType::kSdhc && !hcs) return kR1Idle;
  if (now() < card.ready_at) return kR1Idle;
  card.idle = false;
  return 0;
}

// Returns the R1 byte queued, 0xFF when the card stays silent.
uint8_t execute(uint8_t idx, uint32_t arg, uint8_t crc, bool app) {
  bool crc_ok = crc == (uint8_t)((crc7(card.cmd, 5) << 1) | 1);
  if (!card.spi) {
    // In SD mode a response would go out on the command line, not here.
    if (idx != 0) return 0xFF;
    if (card.clocks < 74) {
      violation("CMD0 before 74 clocks with the card deselected after power-up");
      return 0xFF;
    }
    if (!crc_ok) return 0xFF;
    card.spi = true;
    card.idle = true;
    respond(kR1Idle);
    return kR1Idle;
  }
  uint8_t st = card.idle ? kR1Idle : 0;
  bool mmc = medium.type == SdType::kMmc;
  auto reply = [&](uint8_t r) {
    respond(r);
    return r;
  };
  if (app) {
    if (idx == 41) return reply(init_step((arg & 0x40000000u) != 0));
    if (idx == 23) return reply(st);  // blocks to pre-erase: a hint only
    return reply(st | kR1Illegal);
  }
  // In the idle state only the initialisation commands are taken.
  if (card.idle && idx != 0 && idx != 1 && idx != 8 && idx != 55 && idx != 58 && idx != 59 &&
      idx != 16 && idx != 12)
    return reply(st | kR1Illegal);
  switch (idx) {
    case 0:
      if (!crc_ok) return reply(st | kR1Crc);
      card.idle = true;
      card.init_started = false;
      card.phase = Phase::kCommand;
      card.reg_pending = nullptr;
      return reply(kR1Idle);
    case 1:
      if (!mmc) return reply(st | kR1Illegal);
      return reply(init_step(true));
    case 8: {
      if (mmc || medium.type == SdType::kSdV1) return reply(st | kR1Illegal);
      if (!crc_ok) return reply(st | kR1Crc);
      if (((arg >> 8) & 0x0F) != 0x01) return 0xFF;  // voltage not supported: silent
      uint8_t r = reply(st);
      q_put(0x00);
      q_put(0x00);
      q_put(0x01);
      q_put((uint8_t)arg);
      return r;
    }
    case 9:
    case 10: {
      uint8_t r = reply(st);
      card.reg_pending = idx == 9 ? medium.csd : medium.cid;
      return r;
    }
    case 12:
      if (card.phase == Phase::kRead) {
        // One stuff byte (the data that was going out), then R1b.
        uint8_t stuff = card.q_pos < card.q_len ? card.q[card.q_pos] : 0xFF;
        q_clear();
        q_put(stuff);
        q_put(0xFF);
        q_put(0x00);
        card.busy_after_q = kCmd12Busy;
        card.phase = Phase::kCommand;
        card.read_stopped = false;
        return 0x00;
      }
      return reply(st);
    case 16:
      return reply(arg == 512 ? st : (uint8_t)(st | kR1Param));
    case 17:
    case 18:
    case 24:
    case 25: {
      uint8_t err = 0;
      uint32_t s = address(arg, &err);
      if (err) return reply(st | err);
      uint8_t r = reply(st);
      card.sector = s;
      card.multi = idx == 18 || idx == 25;
      card.read_stopped = false;
      card.write_failed = false;
      card.phase = idx <= 18 ? Phase::kRead : Phase::kWriteToken;
      return r;
    }
    case 23:
      return reply(mmc ? st : (uint8_t)(st | kR1Illegal));
    case 55:
      if (mmc) return reply(st | kR1Illegal);
      card.app_next = true;
      return reply(st);
    case 58: {
      uint8_t r = reply(st);
      uint32_t v = ocr();
      for (int i = 3; i >= 0; i--) q_put((uint8_t)(v >> (8 * i)));
      return r;
    }
    case 59:
      return reply(st);
    default:
      return reply(st | kR1Illegal);
  }
}

[[noreturn]] void power_loss() {
  PowerHooks &h = power_hooks();
  if (h.reset) chip_reset(SYSCTL_CAUSE_POR);
  report("sdcard: power cut with no runner to restart the board\n");
  _exit(3);
}

void finish_write_block() {
  SdFaults &f = shared()->faults;
  f.writes_seen++;
  if (f.writes_seen == f.power_cut_at) {
    f.power_cut_at = 0;
    report("sdcard: power cut at block write %u (sector %u)\n", f.writes_seen, card.sector);
    power_loss();
  }
  uint8_t resp = kAccepted;
  if (card.write_failed || card.sector >= medium.sectors) {
    resp = kWriteError;
  } else if (f.writes_seen == f.write_error_at) {
    f.write_error_at = 0;
    resp = kWriteError;
  } else if (pwrite(medium.fd, card.wbuf, 512, (off_t)card.sector * 512) != 512) {
    report("sdcard: cannot write %s: %s\n", medium.path, strerror(errno));
    resp = kWriteError;
  } else {
    shared()->stats.sector_writes++;
  }
  trace(SdEvent{SdEvent::kDataResponse, resp, false, 0xFF, card.sector});
  // After a failed block of a multi-block write the card takes no more data.
  if (resp != kAccepted) card.write_failed = true;
  card.sector++;
  q_clear();
  q_put(resp);
  card.busy_after_q = (ns_t)(cfg.busy_ms * kMs);
  card.phase = card.multi ? Phase::kWriteToken : Phase::kCommand;
}

void take_command_byte(uint8_t di) {
  if (card.cmd_len == 0 && (di & 0xC0) != 0x40) return;
  card.cmd[card.cmd_len++] = di;
  if (card.cmd_len < 6) return;
  card.cmd_len = 0;
  if (now() < card.busy_until) {
    violation("command sent while the card was busy");
    return;
  }
  uint8_t idx = card.cmd[0] & 0x3F;
  uint32_t arg = (uint32_t)card.cmd[1] << 24 | (uint32_t)card.cmd[2] << 16 |
                 (uint32_t)card.cmd[3] << 8 | card.cmd[4];
  bool app = card.app_next;
  card.app_next = false;
  if (card.phase == Phase::kRead && idx != 12) {
    violation("command other than CMD12 during a read");
    card.phase = Phase::kCommand;
  }
  shared()->stats.commands++;
  uint8_t r1 = execute(idx, arg, card.cmd[5], app);
  trace(SdEvent{SdEvent::kCommand, idx, app, r1, arg});
}

void take_byte(uint8_t di) {
  switch (card.phase) {
    case Phase::kWriteToken:
      if (now() < card.busy_until) return;
      if (di == 0xFF) return;
      if (card.multi && di == 0xFD) {
        trace(SdEvent{SdEvent::kWriteToken, di, false, 0xFF, card.sector});
        card.phase = Phase::kCommand;
        q_clear();
        q_put(0xFF);
        card.busy_after_q = kStopBusy;
        return;
      }
      if (di == (card.multi ? 0xFC : 0xFE)) {
        trace(SdEvent{SdEvent::kWriteToken, di, false, 0xFF, card.sector});
        card.phase = Phase::kWriteData;
        card.wpos = 0;
        return;
      }
      if ((di & 0xC0) == 0x40) {  // the host gave up on the data: a command
        violation("command instead of a data token");
        card.phase = Phase::kCommand;
        take_command_byte(di);
        return;
      }
      violation("unexpected byte where a data token belongs");
      return;
    case Phase::kWriteData:
      card.wbuf[card.wpos++] = di;
      if (card.wpos == (int)sizeof card.wbuf) finish_write_block();
      return;
    default:
      take_command_byte(di);
      return;
  }
}

bool pin_is_ssi0(uint8_t pin_mask, int pin) {
  return gpio_afsel(GPIO_PORTA_BASE, pin_mask) && gpio_pctl(GPIO_PORTA_BASE, pin) == 2;
}

bool selected() {
  // Under the SSI's own frame signal, chip select is low for each frame.
  if (gpio_afsel(GPIO_PORTA_BASE, GPIO_PIN_3)) return gpio_pctl(GPIO_PORTA_BASE, 3) == 2;
  return !gpio_level(GPIO_PORTA_BASE, GPIO_PIN_3);
}

uint32_t exchange(void *, uint32_t out, int bits) {
  SdFaults &f = shared()->faults;
  shared()->stats.frames++;
  if (!medium.attached || medium.fd < 0) return 0xFFFFFFFFu;
  if (f.no_card) {
    card.powered = false;
    return 0xFFFFFFFFu;
  }
  if (!card.powered) power_up();  // put back into the slot
  if (!pin_is_ssi0(GPIO_PIN_2, 2)) return 0xFFFFFFFFu;  // no clock reaches the card
  uint8_t di;
  if (pin_is_ssi0(GPIO_PIN_5, 5)) di = (uint8_t)out;
  else if (gpio_is_output(GPIO_PORTA_BASE, GPIO_PIN_5)) di = gpio_level(GPIO_PORTA_BASE, GPIO_PIN_5) ? 0xFF : 0x00;
  else di = 0xFF;
  if (bits != 8) violation("SSI frame other than 8 bits");
  if (!selected()) {
    if (card.clocks < 1000) card.clocks += (uint32_t)bits;
    card.cmd_len = 0;
    return 0xFFFFFFFFu;
  }
  uint32_t rate = ssi_bitrate(0);
  if (card.idle && rate > kIdentMaxHz && !card.warned_ident_speed) {
    card.warned_ident_speed = true;
    violation("clock above 400 kHz before the card left its idle state");
  }
  if (rate > kMaxHz && !card.warned_speed) {
    card.warned_speed = true;
    violation("clock above 25 MHz");
  }
  uint8_t o = next_out();
  take_byte(di);
  return pin_is_ssi0(GPIO_PIN_4, 4) ? o : 0xFFu;
}

// ---- the image ------------------------------------------------------------------

bool run_mkfs(const char *path, const char *fat, const char *sectors) {
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
      dup2(null, 1);
      dup2(null, 2);
    }
    const char *argv[12];
    int n = 0;
    argv[n++] = "mkfs.fat";
    if (fat) {
      argv[n++] = "-F";
      argv[n++] = fat;
    }
    if (sectors) {
      argv[n++] = "-s";
      argv[n++] = sectors;
    }
    argv[n++] = "-n";
    argv[n++] = "PHLOGGER";
    argv[n++] = "--invariant";
    argv[n++] = path;
    argv[n] = nullptr;
    execv("/usr/sbin/mkfs.fat", const_cast<char **>(argv));
    execvp("mkfs.fat", const_cast<char **>(argv));
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

SdFormat sd_card_format(uint32_t size_mb) {
  // As cards of each capacity come formatted: 8 KB clusters up to 8 MB,
  // 16 KB up to 1 GB, 32 KB above; FAT12 or FAT16 by the cluster count up
  // to 2 GB, FAT32 on high-capacity cards.
  SdFormat f;
  f.sectors_per_cluster = size_mb <= 8 ? 16 : size_mb <= 1024 ? 32 : 64;
  uint64_t clusters = (uint64_t)size_mb * 2048 / f.sectors_per_cluster;
  f.fat_bits = size_mb > 2048 ? 32 : clusters < 4085 ? 12 : 16;
  return f;
}

namespace {

bool format_image(const char *path, uint32_t size_mb) {
  SdFormat f = sd_card_format(size_mb);
  char fat[4], spc[4];
  snprintf(fat, sizeof fat, "%d", f.fat_bits);
  snprintf(spc, sizeof spc, "%d", f.sectors_per_cluster);
  if (run_mkfs(path, fat, spc)) return true;
  // Sizes at a format's edge (exactly 2 GB, say) hold too many clusters
  // for it; mkfs.fat then picks a format of its own.
  return run_mkfs(path, size_mb >= 33 ? "32" : nullptr, nullptr);
}

void make_image(const char *path) {
  int fd = open(path, O_RDWR | O_CREAT | O_EXCL, 0644);
  if (fd < 0) {
    report("sdcard: cannot create %s: %s\n", path, strerror(errno));
    return;
  }
  bool sized = ftruncate(fd, (off_t)cfg.size_mb << 20) == 0;
  close(fd);
  if (!sized || !format_image(path, cfg.size_mb))
    report("sdcard: could not format %s with mkfs.fat; the card is blank\n", path);
}

void open_image() {
  if (medium.fd >= 0) close(medium.fd);
  medium.fd = -1;
  if (cfg.image[0]) snprintf(medium.path, sizeof medium.path, "%s", cfg.image);
  else snprintf(medium.path, sizeof medium.path, "%s/sd.img", state_dir());
  if (access(medium.path, F_OK) != 0) make_image(medium.path);
  medium.fd = open(medium.path, O_RDWR);
  if (medium.fd < 0) {
    report("sdcard: cannot open %s: %s; the slot is empty\n", medium.path, strerror(errno));
    return;
  }
  struct stat sb;
  uint64_t bytes = fstat(medium.fd, &sb) == 0 ? (uint64_t)sb.st_size : 0;
  uint64_t s = bytes / 512;
  if (s > 0xFFFFFFFFull) s = 0xFFFFFFFFull;
  medium.type = cfg.type;
  uint32_t usable = medium.type == SdType::kSdhc ? build_csd_v2((uint32_t)s, medium.csd)
                                               : build_csd_v1((uint32_t)s, medium.csd);
  if (usable > s) usable = (uint32_t)s;  // an image smaller than the least card
  medium.sectors = usable;
  build_cid(medium.cid);
}

void device_init() {
  open_image();
  power_up();
  medium.attached = true;
  ssi_attach(0, SpiDevice{exchange, nullptr});
}

// ---- options and scenario steps ---------------------------------------------

bool parse_count(const char *v, uint32_t *out) {
  if (!v || !*v) return false;
  char *end;
  errno = 0;
  unsigned long n = strtoul(v, &end, 10);
  if (errno || *end || n == 0 || n > 0xFFFFFFFFul) return false;
  *out = (uint32_t)n;
  return true;
}

bool parse_ms(const char *v, double *out) {
  char *end;
  errno = 0;
  double d = strtod(v, &end);
  if (errno || end == v || *end || d < 0 || d > 60000) return false;
  *out = d;
  return true;
}

bool opt_size(const char *v) {
  uint32_t mb;
  if (!parse_count(v, &mb) || mb > 32768) return false;
  cfg.size_mb = mb;
  return true;
}

bool opt_image(const char *v) {
  if (!v || !*v || strlen(v) >= sizeof cfg.image) return false;
  snprintf(cfg.image, sizeof cfg.image, "%s", v);
  return true;
}

bool opt_type(const char *v) {
  if (!strcmp(v, "sdhc")) cfg.type = SdType::kSdhc;
  else if (!strcmp(v, "sdsc")) cfg.type = SdType::kSdsc;
  else if (!strcmp(v, "sdv1")) cfg.type = SdType::kSdV1;
  else if (!strcmp(v, "mmc")) cfg.type = SdType::kMmc;
  else return false;
  return true;
}

bool opt_busy(const char *v) { return parse_ms(v, &cfg.busy_ms); }

bool opt_no_card(const char *) {
  shared()->faults.no_card = true;
  return true;
}

bool opt_stuck_idle(const char *) {
  shared()->faults.stuck_idle = true;
  return true;
}

template <void (*arm)(uint32_t)>
bool opt_arm(const char *v) {
  uint32_t n;
  if (!parse_count(v, &n)) return false;
  arm(n);
  return true;
}

// sd-fault no-card on|off, stuck-idle on|off, write-error N|off,
// power-cut N|off, read-error N|off, clear
bool step_sd_fault(const char *args) {
  char name[32] = {0}, value[32] = {0};
  const char *sp = strchr(args, ' ');
  size_t n = sp ? (size_t)(sp - args) : strlen(args);
  if (n == 0 || n >= sizeof name) return false;
  memcpy(name, args, n);
  if (sp) {
    while (*sp == ' ') sp++;
    if (strlen(sp) >= sizeof value) return false;
    snprintf(value, sizeof value, "%s", sp);
    for (size_t i = strlen(value); i > 0 && value[i - 1] == ' '; i--) value[i - 1] = 0;
  }
  SdFaults &f = shared()->faults;
  bool on = !strcmp(value, "on"), off = !strcmp(value, "off");
  if (!strcmp(name, "clear") && !value[0]) {
    sd_faults_clear();
    return true;
  }
  if (!strcmp(name, "no-card") && (on || off)) {
    f.no_card = on;
    return true;
  }
  if (!strcmp(name, "stuck-idle") && (on || off)) {
    f.stuck_idle = on;
    return true;
  }
  uint32_t count = 0;
  if (!off && !parse_count(value, &count)) return false;
  if (!strcmp(name, "write-error")) sd_arm_write_error(count);
  else if (!strcmp(name, "power-cut")) sd_arm_power_cut(count);
  else if (!strcmp(name, "read-error")) sd_arm_read_error(count);
  else return false;
  return true;
}

struct Registration {
  Registration() {
    shared();
    register_option("sd-size", true, opt_size,
                    "size in MB of a card image made on first use (default 64), formatted as a card\n"
                    "      of that size comes: FAT12/16 with 8-32 KB clusters, FAT32 above 2048");
    register_option("sd-image", true, opt_image,
                    "card image file (default STATE/sd.img; made and formatted when absent)");
    register_option("sd-type", true, opt_type,
                    "sdhc|sdsc|sdv1|mmc: the kind of card (default sdhc)");
    register_option("sd-busy-ms", true, opt_busy,
                    "card programming time per block written (default 1)");
    register_option("sd-no-card", false, opt_no_card, "the card slot is empty");
    register_option("sd-stuck-idle", false, opt_stuck_idle,
                    "the card never leaves its idle state");
    register_option("sd-write-error", true, opt_arm<sd_arm_write_error>,
                    "the card rejects the Nth block written");
    register_option("sd-power-cut", true, opt_arm<sd_arm_power_cut>,
                    "power fails as the Nth block written reaches the card (not written)");
    register_option("sd-read-error", true, opt_arm<sd_arm_read_error>,
                    "the card sends an error token for the Nth block read (scenario step\n"
                    "      sd-fault no-card|stuck-idle on|off, write-error|power-cut|read-error N|off,\n"
                    "      clear: the same during a run, kept across wakes)");
    scenario_register_step("sd-fault", step_sd_fault);
    register_device_init(device_init);
  }
};
Registration registration;

}  // namespace

SdConfig &sd_config() { return cfg; }
SdFaults &sd_faults() { return shared()->faults; }
SdStats &sd_stats() { return shared()->stats; }

void sd_faults_clear() {
  SdFaults &f = shared()->faults;
  uint32_t w = f.writes_seen, r = f.reads_seen;
  f = SdFaults{};
  f.writes_seen = w;
  f.reads_seen = r;
}

void sd_arm_write_error(uint32_t nth) {
  SdFaults &f = shared()->faults;
  f.write_error_at = nth ? f.writes_seen + nth : 0;
}

void sd_arm_power_cut(uint32_t nth) {
  SdFaults &f = shared()->faults;
  f.power_cut_at = nth ? f.writes_seen + nth : 0;
}

void sd_arm_read_error(uint32_t nth) {
  SdFaults &f = shared()->faults;
  f.read_error_at = nth ? f.reads_seen + nth : 0;
}

void sd_stats_clear() { shared()->stats = SdStats{}; }

int sd_trace_count() { return trace_n; }
const SdEvent &sd_trace(int i) { return trace_buf[i]; }
void sd_trace_clear() { trace_n = 0; }

void sd_insert() { device_init(); }
const char *sd_image_path() { return medium.path; }
uint32_t sd_sectors() { return medium.sectors; }

}  // namespace sim
