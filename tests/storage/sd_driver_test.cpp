// The SD card driver against the simulated card: what goes over the bus,
// and what the FAT module is told.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "ff.h"
#include "storage/diskio.h"
#include "storage_support.h"

namespace {

using storage_test::bus;
using storage_test::matches;
using storage_test::rtc_of;
using sim::SdType;

class SdDriver : public storage_test::CardTest {
 protected:
  std::string sector_of_image(uint32_t s) {
    std::string buf(512, '\0');
    int fd = open(image().c_str(), O_RDONLY);
    EXPECT_EQ(pread(fd, buf.data(), 512, (off_t)s * 512), 512);
    close(fd);
    return buf;
  }
  void initialise() {
    ASSERT_EQ(disk_initialize(0), 0) << "card did not initialise";
    sim::sd_trace_clear();
  }
  static std::string block(char fill) { return std::string(512, fill); }
};

struct Kind {
  SdType type;
  const char *name;
  const char *init;  // the negotiation on the bus
  uint32_t sector3;  // address of sector 3 in the read command
  uint8_t ocr0;
};

void PrintTo(const Kind &k, std::ostream *os) { *os << k.name; }

class CardKinds : public SdDriver, public ::testing::WithParamInterface<Kind> {};

// Each kind of card is negotiated its own way, then addressed in bytes or
// blocks; the size comes from the CSD layout of its kind.
TEST_P(CardKinds, InitialisesAddressesAndSizesTheCard) {
  const Kind &k = GetParam();
  boot(k.type);
  EXPECT_EQ(disk_initialize(0), 0);
  EXPECT_TRUE(matches(bus(), k.init)) << bus();
  EXPECT_EQ(sim::ssi_bitrate(0), 12500000u) << "data transfer runs at full speed";

  sim::sd_trace_clear();
  BYTE buf[512];
  ASSERT_EQ(disk_read(0, buf, 3, 1), RES_OK);
  EXPECT_EQ(bus(), "CMD17(" + std::to_string(k.sector3) + ") B3");
  EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), 512), sector_of_image(3));

  DWORD sectors = 0;
  ASSERT_EQ(disk_ioctl(0, GET_SECTOR_COUNT, &sectors), RES_OK);
  EXPECT_EQ(sectors, 131072u) << "64 MB card";
  WORD size = 0;
  ASSERT_EQ(disk_ioctl(0, GET_SECTOR_SIZE, &size), RES_OK);
  EXPECT_EQ(size, 512);
  BYTE ocr[4] = {};
  ASSERT_EQ(disk_ioctl(0, MMC_GET_OCR, ocr), RES_OK);
  EXPECT_EQ(ocr[0], k.ocr0);
  BYTE cid[16] = {};
  ASSERT_EQ(disk_ioctl(0, MMC_GET_CID, cid), RES_OK);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(cid + 3), 5), "SIMSD");
}

INSTANTIATE_TEST_SUITE_P(
    Sd, CardKinds,
    ::testing::Values(
        Kind{SdType::kSdhc, "sdhc",
             R"(CMD0\(0\) CMD8\(426\)( CMD55\(0\) ACMD41\(1073741824\))+ CMD58\(0\))", 3, 0xC0},
        Kind{SdType::kSdsc, "sdsc",
             R"(CMD0\(0\) CMD8\(426\)( CMD55\(0\) ACMD41\(1073741824\))+ CMD58\(0\))", 1536,
             0x80},
        Kind{SdType::kSdV1, "sdv1",
             R"(CMD0\(0\) CMD8\(426\) CMD55\(0\) ACMD41\(0\)( CMD55\(0\) ACMD41\(0\))+ CMD16\(512\))",
             1536, 0x80},
        Kind{SdType::kMmc, "mmc", R"(CMD0\(0\) CMD8\(426\) CMD55\(0\)( CMD1\(0\))+ CMD16\(512\))",
             1536, 0x80}),
    [](const ::testing::TestParamInfo<Kind> &i) { return std::string(i.param.name); });

struct Format {
  uint32_t size_mb;
  const char *fat;  // the boot sector's type label
  int cluster_sectors;
};

void PrintTo(const Format &f, std::ostream *os) { *os << f.size_mb << " MB"; }

class CardFormats : public SdDriver, public ::testing::WithParamInterface<Format> {};

// A new image is formatted as a card of that size comes from its maker, so
// a long data file has a chain of realistic length; the volume mounts.
TEST_P(CardFormats, NewImageHasTheFormatOfARealCard) {
  const Format &f = GetParam();
  boot(SdType::kSdhc, "", f.size_mb);
  std::string boot_sector = sector_of_image(0);
  EXPECT_EQ((uint8_t)boot_sector[13], f.cluster_sectors);
  bool fat32 = !strcmp(f.fat, "FAT32   ");
  EXPECT_EQ(boot_sector.substr(fat32 ? 82 : 54, 8), f.fat);
  FATFS fs;
  FATFS *got = nullptr;
  DWORD free_clusters = 0;
  ASSERT_EQ(f_mount(&fs, "", 0), FR_OK);
  ASSERT_EQ(f_getfree("", &free_clusters, &got), FR_OK);
  EXPECT_EQ(got->csize, f.cluster_sectors);
  EXPECT_GT(free_clusters, 0u);
}

INSTANTIATE_TEST_SUITE_P(Sd, CardFormats,
                         ::testing::Values(Format{8, "FAT12   ", 16}, Format{32, "FAT12   ", 32},
                                           Format{64, "FAT16   ", 32},
                                           Format{4096, "FAT32   ", 64}),
                         [](const ::testing::TestParamInfo<Format> &i) {
                           return std::to_string(i.param.size_mb) + "MB";
                         });

TEST_F(SdDriver, TwoSectorWriteToSdPreErasesAndEndsWithStopToken) {
  boot(SdType::kSdhc);
  initialise();
  std::string data = block('a') + block('b');
  ASSERT_EQ(disk_write(0, reinterpret_cast<const BYTE *>(data.data()), 1000, 2), RES_OK);
  EXPECT_EQ(bus(), "CMD55(0) ACMD23(2) CMD25(1000) FC R:E5 FC R:E5 FD");
  EXPECT_EQ(sector_of_image(1000), block('a'));
  EXPECT_EQ(sector_of_image(1001), block('b'));
}

// An MMC has no application commands: no pre-erase count.
TEST_F(SdDriver, TwoSectorWriteToMmcHasNoPreErase) {
  boot(SdType::kMmc);
  initialise();
  std::string data = block('a') + block('b');
  ASSERT_EQ(disk_write(0, reinterpret_cast<const BYTE *>(data.data()), 1000, 2), RES_OK);
  EXPECT_EQ(bus(), "CMD25(512000) FC R:E5 FC R:E5 FD");
}

TEST_F(SdDriver, RejectedBlockStillSendsStopTokenAndFails) {
  boot(SdType::kSdhc);
  initialise();
  std::string before = sector_of_image(1000) + sector_of_image(1001);
  sim::sd_arm_write_error(1);
  std::string data = block('a') + block('b');
  EXPECT_EQ(disk_write(0, reinterpret_cast<const BYTE *>(data.data()), 1000, 2), RES_ERROR);
  EXPECT_EQ(bus(), "CMD55(0) ACMD23(2) CMD25(1000) FC R:ED FD") << "no block after the rejected one";
  EXPECT_EQ(sector_of_image(1000) + sector_of_image(1001), before);

  sim::sd_trace_clear();
  sim::sd_arm_write_error(1);
  EXPECT_EQ(disk_write(0, reinterpret_cast<const BYTE *>(data.data()), 7, 1), RES_ERROR);
  EXPECT_EQ(bus(), "CMD24(7) FE R:ED");
  // The card is usable afterwards.
  EXPECT_EQ(disk_write(0, reinterpret_cast<const BYTE *>(data.data()), 7, 1), RES_OK);
}

// Without CMD12 the card would go on streaming and swallow the next
// command.
TEST_F(SdDriver, MultiBlockReadEndsWithCmd12EvenWhenABlockFailed) {
  boot(SdType::kSdhc);
  initialise();
  BYTE buf[3 * 512];
  sim::sd_arm_read_error(2);
  EXPECT_EQ(disk_read(0, buf, 10, 3), RES_ERROR);
  EXPECT_EQ(bus(), "CMD18(10) B10 E04 CMD12(0)");

  sim::sd_trace_clear();
  ASSERT_EQ(disk_read(0, buf, 10, 3), RES_OK);
  EXPECT_EQ(bus(), "CMD18(10) B10 B11 B12 CMD12(0)");
  EXPECT_EQ(std::string(reinterpret_cast<char *>(buf) + 1024, 512), sector_of_image(12));
}

TEST_F(SdDriver, OtherDrivesAndBadRequestsNeverReachTheCard) {
  boot(SdType::kSdhc);
  BYTE buf[512] = {};
  EXPECT_EQ(disk_status(1), STA_NOINIT);
  EXPECT_EQ(disk_initialize(1), STA_NOINIT);
  EXPECT_EQ(disk_read(1, buf, 0, 1), RES_PARERR);
  EXPECT_EQ(disk_write(1, buf, 0, 1), RES_PARERR);
  EXPECT_EQ(disk_ioctl(1, CTRL_SYNC, nullptr), RES_PARERR);
  EXPECT_EQ(disk_status(0), STA_NOINIT) << "every start begins uninitialised";
  EXPECT_EQ(disk_read(0, buf, 0, 1), RES_NOTRDY);
  EXPECT_EQ(disk_write(0, buf, 0, 1), RES_NOTRDY);
  EXPECT_EQ(disk_ioctl(0, CTRL_SYNC, nullptr), RES_NOTRDY);
  EXPECT_EQ(sim::sd_stats().frames, 0u);

  initialise();
  EXPECT_EQ(disk_status(0), 0);
  EXPECT_EQ(disk_status(1), STA_NOINIT);
  EXPECT_EQ(disk_read(0, buf, 0, 0), RES_PARERR);
  EXPECT_EQ(disk_write(0, buf, 0, 0), RES_PARERR);
  EXPECT_EQ(disk_ioctl(0, GET_SECTOR_COUNT, nullptr), RES_PARERR);
  EXPECT_EQ(disk_ioctl(0, GET_BLOCK_SIZE, buf), RES_PARERR);
  EXPECT_EQ(bus(), "");
}

TEST_F(SdDriver, PowerControlReportsTheFlagWithoutTouchingTheCard) {
  boot(SdType::kSdhc);
  BYTE p[2] = {2, 0xAA};
  EXPECT_EQ(disk_ioctl(0, CTRL_POWER, p), RES_OK) << "works before initialisation";
  EXPECT_EQ(p[1], 0);
  initialise();
  sim::sd_stats_clear();
  p[1] = 0xAA;
  EXPECT_EQ(disk_ioctl(0, CTRL_POWER, p), RES_OK);
  EXPECT_EQ(p[1], 1);
  EXPECT_EQ(sim::sd_stats().frames, 0u) << "no clock reached the card";

  p[0] = 0;
  EXPECT_EQ(disk_ioctl(0, CTRL_POWER, p), RES_OK);
  p[0] = 2;
  EXPECT_EQ(disk_ioctl(0, CTRL_POWER, p), RES_OK);
  EXPECT_EQ(p[1], 0);
  p[0] = 3;
  EXPECT_EQ(disk_ioctl(0, CTRL_POWER, p), RES_PARERR);
  EXPECT_EQ(disk_ioctl(0, CTRL_POWER, nullptr), RES_PARERR);  // mended: no null dereference
  EXPECT_EQ(sim::sd_stats().frames, 0u);
}

TEST_F(SdDriver, FatTimeStampsRunSixHoursAheadOfTheConsole) {
  boot(SdType::kSdhc);
  set_clock(rtc_of(2024, 3, 5, 10, 0, 0));
  printCurrentTime();
  EXPECT_EQ(console(), "03/05/24 10:00:00");
  DWORD t = get_fattime();
  EXPECT_EQ(t >> 25, 2024u - 1980);
  EXPECT_EQ((t >> 21) & 15, 3u);
  EXPECT_EQ((t >> 16) & 31, 5u);
  EXPECT_EQ((t >> 11) & 31, 16u);
  EXPECT_EQ((t >> 5) & 63, 0u);

  // A file written now carries 16:00 of that day.
  FATFS fs;
  ASSERT_EQ(f_mount(&fs, "", 0), FR_OK);
  FIL f;
  ASSERT_EQ(f_open(&f, "/STAMP.TXT", FA_WRITE | FA_CREATE_ALWAYS), FR_OK);
  UINT bw;
  ASSERT_EQ(f_write(&f, "x", 1, &bw), FR_OK);
  ASSERT_EQ(f_close(&f), FR_OK);
  storage_test::Host h = storage_test::host("mdir -i " + image() + " ::/STAMP.TXT");
  EXPECT_NE(h.out.find("2024-03-05  16:00"), std::string::npos) << h.out;

  // The offset carries into the next day (and into 29 February).
  set_clock(rtc_of(2024, 2, 28, 20, 30, 58));
  t = get_fattime();
  EXPECT_EQ((t >> 21) & 15, 2u);
  EXPECT_EQ((t >> 16) & 31, 29u);
  EXPECT_EQ((t >> 11) & 31, 2u);
  EXPECT_EQ((t >> 5) & 63, 30u);
  EXPECT_EQ(t & 31, 29u);
}

// Regression: a clock never set (1970) wrapped the year field to 2098.
TEST_F(SdDriver, FatTimeOfAClockBefore1980IsTheFirstFatDate) {
  boot(SdType::kSdhc);
  set_clock(0);
  EXPECT_EQ(get_fattime(), (DWORD)((1u << 21) | (1u << 16)));
}

TEST_F(SdDriver, EmptySlotIsNotReady) {
  boot(SdType::kSdhc);
  sim::sd_faults().no_card = true;
  sim::ns_t t0 = sim::now();
  EXPECT_EQ(disk_initialize(0), STA_NOINIT);
  EXPECT_LT(sim::now() - t0, 100 * sim::kMs) << "no card answers at once";
  FATFS fs;
  ASSERT_EQ(f_mount(&fs, "", 0), FR_OK);
  FIL f;
  EXPECT_EQ(f_open(&f, "/A.TXT", FA_READ), FR_NOT_READY);
  BYTE p[2] = {2, 0xAA};
  disk_ioctl(0, CTRL_POWER, p);
  EXPECT_EQ(p[1], 0) << "a failed initialisation powers off";
}

TEST_F(SdDriver, CardThatStaysIdleIsGivenUpAfterOneSecond) {
  boot(SdType::kSdhc);
  sim::sd_faults().stuck_idle = true;
  sim::ns_t t0 = sim::now();
  EXPECT_EQ(disk_initialize(0), STA_NOINIT);
  sim::ns_t spent = sim::now() - t0;
  EXPECT_GE(spent, 990 * sim::kMs);
  EXPECT_LT(spent, 1100 * sim::kMs);
  EXPECT_EQ(bus().find("CMD58"), std::string::npos);

  // The next access tries again and succeeds once the card behaves.
  sim::sd_faults().stuck_idle = false;
  EXPECT_EQ(disk_initialize(0), 0);
}

// A card busy for longer than 500 ms fails the next command, and the wait
// ends on time.
TEST_F(SdDriver, CardBusyPastHalfASecondFailsTheNextCommand) {
  boot(SdType::kSdhc);
  initialise();
  sim::sd_config().busy_ms = 800;
  BYTE buf[512] = {};
  ASSERT_EQ(disk_write(0, buf, 20, 1), RES_OK) << "the block itself was accepted";
  sim::ns_t t0 = sim::now();
  EXPECT_EQ(disk_read(0, buf, 20, 1), RES_ERROR);
  sim::ns_t spent = sim::now() - t0;
  EXPECT_GE(spent, 490 * sim::kMs);
  EXPECT_LT(spent, 560 * sim::kMs);
  EXPECT_EQ(disk_ioctl(0, CTRL_SYNC, nullptr), RES_OK) << "busy is over after 800 ms";
  EXPECT_EQ(disk_read(0, buf, 20, 1), RES_OK);
}

}  // namespace
