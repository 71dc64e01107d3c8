// What one 200-byte record costs when appended to data files of 1 KB,
// 1 MB and 100 MB, through the whole stack: appendBufferToSDCard, the FAT
// module, the driver, SSI0 and the simulated card. Prints virtual time and
// the card's sector reads and writes; asserts nothing.
//
// Each case is one wake in a child process (the firmware starts from its
// initial state): the first append includes the card's initialisation and
// the mount, the second is the same wake's next record. Both include the
// 500 ms wait after the open.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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
};

Cost append_once(const char *record) {
  sim::SdStats before = sim::sd_stats();
  sim::ns_t t0 = sim::now();
  appendBufferToSDCard(record);
  return Cost{(double)(sim::now() - t0) / 1e6, sim::sd_stats().sector_reads - before.sector_reads,
              sim::sd_stats().sector_writes - before.sector_writes};
}

void measure(const std::string &image, const char *label, const char *clusters) {
  fflush(stdout);
  pid_t pid = fork();
  if (pid == 0) {
    sim::SdConfig &c = sim::sd_config();
    snprintf(c.image, sizeof c.image, "%s", image.c_str());
    c.type = sim::SdType::kSdhc;
    {
      SimBoard board("bench");
      init_TM4C123GH6PGE_144pin();
      sleep_handler();
      strcpy(sys_data.fileName, "data.txt");
      std::string rec(199, 'r');
      rec += '\n';
      Cost first = append_once(rec.c_str());
      Cost second = append_once(rec.c_str());
      wait_consoleTx();
      board.run_for(0.01);
      printf("%-7s %-12s | %8.1f %6llu %4llu    | %8.1f %6llu %4llu  %s\n", label, clusters, first.ms,
             first.reads, first.writes, second.ms, second.reads, second.writes,
             board.out().find("error") != std::string::npos ? board.out().c_str() : "");
      fflush(stdout);
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
  std::string img = dir + "/sd.img", data = dir + "/data.txt";
  struct Size {
    const char *label;
    unsigned long bytes;
  } sizes[] = {{"1 KB", 1024}, {"1 MB", 1024ul * 1024}, {"100 MB", 100ul * 1024 * 1024}};
  // The simulator's own small card as mkfs.fat lays it out, and a 4 GB
  // card with the 32 KB clusters card makers format SDHC cards with.
  struct Format {
    const char *label;
    const char *card;
    const char *opts;
  } formats[] = {{"256M/512B", "256M", "-s 1"}, {"4G/32KB", "4G", "-s 64"}};

  printf("Appending one 200-byte record (SDHC card, FAT32, SPI at 12.5 MHz, 1 ms\n"
         "programming per block); times include the 500 ms wait after f_open.\n\n");
  printf("file    card/cluster |  first append of a wake |  next append\n");
  printf("                     |    ms     reads writes  |    ms     reads writes\n");
  for (const Format &f : formats) {
    for (const Size &s : sizes) {
      std::string make = "rm -f " + img + " && truncate -s " + f.card + " " + img +
                         " && /usr/sbin/mkfs.fat -F 32 " + f.opts + " --invariant " + img +
                         " >/dev/null && head -c " + std::to_string(s.bytes) +
                         " /dev/zero | tr '\\0' 'x' > " + data + " && mcopy -i " + img + " " +
                         data + " ::/DATA.TXT";
      if (sh(make) != 0) {
        fprintf(stderr, "bench: could not prepare the image\n");
        return 1;
      }
      measure(img, s.label, f.label);
    }
  }
  printf("\nRAM of the FAT objects on this host: FATFS %zu, FIL %zu, DIR %zu, FILINFO %zu bytes\n",
         sizeof(FATFS), sizeof(FIL), sizeof(DIR), sizeof(FILINFO));
  sh("rm -rf " + dir);
  return 0;
}
