// What a sample's record costs on the card against the data file's size
// and the card's cluster size, through append_record (the call the
// sampling sequence makes), the FAT module, the driver, SSI0 and the
// simulated card. Prints the card's sector reads and writes and the
// virtual time of the append; asserts nothing.
//
// Each case is two wakes, each a child process (the firmware starts from
// its initial state; the FRAM goes from the first wake to the second as on
// the board). The first is the deployment's first sample: nothing in the
// FRAM tells where the file ends, so the chain is walked. The second is
// every later sample; it needs a new cluster where they are 512 bytes (the
// first record is 400 bytes, the second 200). Both include the card's
// initialisation and the mount.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/system.h"
#include "core/init.h"
#include "core/sleep.h"
#include "core/uartstdio.h"
#include "ff.h"
#include "sdcard.h"
#include "sim_board.h"
#include "storage/microsd.h"

namespace {

int sh(const std::string &cmd) { return system(cmd.c_str()); }

struct Cost {
  double ms;
  unsigned long long reads, writes;
  bool error;
};

struct Shared {
  uint8_t fram[256];
  Cost cost;
};

uint32_t ld32(const uint8_t *p) { return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }
uint16_t ld16(const uint8_t *p) { return (uint16_t)(p[0] | p[1] << 8); }
void st32(uint8_t *p, uint32_t v) {
  for (int i = 0; i < 4; i++) p[i] = (uint8_t)(v >> (8 * i));
}

// A FAT32 card of `card` bytes with `spc` sectors per cluster, holding
// DATA.TXT of `bytes` bytes in one run of clusters from cluster 3. The FAT
// and the directory are written directly; the data stays sparse.
bool make_card(const std::string &img, const char *card, int spc, uint64_t bytes) {
  if (sh("rm -f " + img + " && truncate -s " + card + " " + img + " && /usr/sbin/mkfs.fat -F 32 -s " +
         std::to_string(spc) + " --invariant " + img + " >/dev/null") != 0)
    return false;
  int fd = open(img.c_str(), O_RDWR);
  uint8_t b[512];
  if (fd < 0 || pread(fd, b, 512, 0) != 512) return false;
  uint32_t rsvd = ld16(b + 14), nfats = b[16], fatsz = ld32(b + 36), root = ld32(b + 44), fsi = ld16(b + 48);
  uint64_t fatbase = (uint64_t)rsvd * 512, database = fatbase + (uint64_t)nfats * fatsz * 512;
  uint32_t bpc = (uint32_t)spc * 512, n = (uint32_t)((bytes + bpc - 1) / bpc);
  std::vector<uint8_t> fat(4 * (size_t)n);
  for (uint32_t i = 0; i < n; i++) st32(&fat[4 * i], i + 1 < n ? 3 + i + 1 : 0x0FFFFFFF);
  bool ok = true;
  for (uint32_t f = 0; f < nfats; f++)
    ok &= pwrite(fd, fat.data(), fat.size(), (off_t)(fatbase + (uint64_t)f * fatsz * 512 + 12)) == (ssize_t)fat.size();
  off_t rootat = (off_t)(database + (uint64_t)(root - 2) * bpc);
  ok &= pread(fd, b, 512, rootat) == 512;
  uint8_t *e = b;
  while (e < b + 512 && e[0] != 0) e += 32;
  if (e == b + 512) return false;
  memset(e, 0, 32);
  memcpy(e, "DATA    TXT", 11);
  e[11] = 0x20;
  e[26] = 3;
  st32(e + 28, (uint32_t)bytes);
  ok &= pwrite(fd, b, 512, rootat) == 512;
  ok &= pread(fd, b, 512, (off_t)fsi * 512) == 512;
  st32(b + 488, ld32(b + 488) - n);
  st32(b + 492, 3 + n);
  ok &= pwrite(fd, b, 512, (off_t)fsi * 512) == 512;
  close(fd);
  return ok;
}

// One wake appending one record of len bytes.
void wake(const std::string &image, Shared *shared, size_t len) {
  fflush(stdout);
  pid_t pid = fork();
  if (pid == 0) {
    sim::SdConfig &c = sim::sd_config();
    snprintf(c.image, sizeof c.image, "%s", image.c_str());
    c.type = sim::SdType::kSdhc;
    {
      SimBoard board("bench");
      memcpy(sim::fram_bytes(), shared->fram, sizeof shared->fram);
      init_TM4C123GH6PGE_144pin();
      sleep_handler();
      strcpy(sys_data.fileName, "data.txt");
      board.run_for(0.05);
      board.out().clear();
      std::string rec(len - 2, 'r');
      rec += "\r\n";
      sim::SdStats before = sim::sd_stats();
      sim::ns_t t0 = sim::now();
      append_record(rec.c_str());
      shared->cost = Cost{(double)(sim::now() - t0) / 1e6, sim::sd_stats().sector_reads - before.sector_reads,
                      sim::sd_stats().sector_writes - before.sector_writes, false};
      wait_consoleTx();
      board.run_for(0.01);
      shared->cost.error = !board.out().empty();
      memcpy(shared->fram, sim::fram_bytes(), sizeof shared->fram);
    }
    _exit(0);
  }
  int status;
  waitpid(pid, &status, 0);
}

}  // namespace

int main() {
  char tmpl[] = "/tmp/phlogger-bench-sd-XXXXXX";
  std::string dir = mkdtemp(tmpl);
  std::string img = dir + "/sd.img";
  Shared *shared = static_cast<Shared *>(
      mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  struct Size {
    const char *label;
    uint64_t bytes;
  } sizes[] = {{"1 KB", 1024}, {"1 MB", 1ull << 20}, {"100 MB", 100ull << 20}, {"1 GB", 1ull << 30}};
  struct Format {
    const char *label;
    const char *card;
    int spc;
  } formats[] = {{"512 B", "1200M", 1}, {"32 KB", "4G", 64}};

  printf("One record appended by append_record, as every sample does (400 bytes,\n"
         "then 200, which takes a new cluster where they are 512 bytes)\n"
         "(SDHC card, FAT32, SPI at 12.5 MHz). Each append includes the card's\n"
         "initialisation and the mount. The first sample of a deployment walks the\n"
         "file's chain; every later one starts from the end noted in the FRAM.\n\n");
  printf("cluster  file    | first sample         | later samples        | later vs 1 KB\n");
  printf("                 |    ms   reads writes |    ms   reads writes |  reads   time\n");
  for (const Format &f : formats) {
    Cost base{};
    for (const Size &s : sizes) {
      if (!make_card(img, f.card, f.spc, s.bytes)) {
        fprintf(stderr, "bench: could not prepare the image\n");
        return 1;
      }
      memset(shared->fram, 0, sizeof shared->fram);
      wake(img, shared, 400);
      Cost first = shared->cost;
      wake(img, shared, 200);
      Cost later = shared->cost;
      if (s.bytes == 1024) base = later;
      printf("%-8s %-7s | %7.1f %6llu %4llu   | %7.1f %6llu %4llu   | %5.2fx %5.2fx%s\n", f.label, s.label,
             first.ms, first.reads, first.writes, later.ms, later.reads, later.writes,
             (double)later.reads / (double)base.reads, later.ms / base.ms,
             first.error || later.error ? "  (the console reported an error)" : "");
      fflush(stdout);
    }
  }
  printf("\nRAM of the FAT objects on this host: FATFS %zu, FIL %zu, DIR %zu, FILINFO %zu bytes\n",
         sizeof(FATFS), sizeof(FIL), sizeof(DIR), sizeof(FILINFO));
  sh("rm -rf " + dir);
  return 0;
}
