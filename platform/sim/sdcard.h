// The microSD card on SSI0 (clock PA2, chip select PA3, card output PA4,
// card input PA5), in SPI mode, backed by an image file.
//
// The card powers up with every wake of the board (its supply is the one
// hibernation switches off), so it must be initialised each time. What it
// holds lives in the image, written through block by block. Faults and the
// block counters live in memory shared by every wake of one simulator run.
#pragma once
#include <cstdint>

#include "sim.h"

namespace sim {

enum class SdType {
  kSdhc,  // SD version 2, high capacity: block addressed
  kSdsc,  // SD version 2, standard capacity: byte addressed
  kSdV1,  // SD version 1: no CMD8, byte addressed
  kMmc,   // MultiMediaCard: CMD1 initialisation, no application commands
};

struct SdConfig {
  char image[512];        // empty: sd.img in the state directory
  uint32_t size_mb;       // size of an image made on first use
  SdType type;
  double busy_ms;         // programming time after each block written
  double init_ms;         // time from the first ACMD41/CMD1 to ready
  double access_us;       // time from a read command to its data token
};
// Settings of the card put in at the next board power-on (or sd_insert).
SdConfig &sd_config();

struct SdFaults {
  bool no_card;     // nothing in the slot: the data-out line floats high
  bool stuck_idle;  // the card never leaves the idle state
  // Blocks written and read since the run began, and the block numbers
  // (on those counts) at which a fault fires once; 0 = off. Arm them with
  // sd_arm_*, which count from the next block.
  uint32_t writes_seen, reads_seen;
  uint32_t write_error_at;  // the card rejects that block (write error)
  uint32_t power_cut_at;    // power fails as that block arrives; not written
  uint32_t read_error_at;   // the card sends an error token instead of it
};
SdFaults &sd_faults();
void sd_faults_clear();
// nth = 1: the next block.
void sd_arm_write_error(uint32_t nth);
void sd_arm_power_cut(uint32_t nth);
void sd_arm_read_error(uint32_t nth);

struct SdStats {
  uint64_t frames;         // SSI0 frames clocked, the card selected or not
  uint64_t sector_reads;   // blocks sent to the host
  uint64_t sector_writes;  // blocks written to the image
  uint64_t commands;
  uint64_t violations;     // protocol rules the host broke (also reported)
};
SdStats &sd_stats();
void sd_stats_clear();

// What crossed the bus while the card was selected, in order.
struct SdEvent {
  enum Kind : uint8_t {
    kCommand,       // code = command index, arg, app = after CMD55, r1 = answer
    kWriteToken,    // code = 0xFE, 0xFC or 0xFD from the host
    kDataResponse,  // code = data response byte sent after a block
    kReadBlock,     // arg = sector sent with a 0xFE token
    kErrorToken,    // code = data error token sent instead of a block
  } kind;
  uint8_t code;
  bool app;
  uint8_t r1;  // 0xFF: no answer
  uint32_t arg;
};
int sd_trace_count();
const SdEvent &sd_trace(int i);
void sd_trace_clear();

// Takes the card out and puts it (or another, per sd_config) back: a fresh
// power-up over the configured image.
void sd_insert();
// How an image of size_mb is formatted when it is made.
struct SdFormat {
  int fat_bits;             // 12, 16 or 32
  int sectors_per_cluster;
};
SdFormat sd_card_format(uint32_t size_mb);

// The image file in use.
const char *sd_image_path();
// Sectors the card reports.
uint32_t sd_sectors();

}  // namespace sim
