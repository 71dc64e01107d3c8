// SD and MMC cards in SPI mode. Every byte is a blocking put-and-get on
// SSI0; waits are bounded by two 10 ms down-counters run from SysTick.
#include "storage/diskio.h"

#include <cstring>
#include <ctime>

#include "config/i2c_fram.h"
#include "core/rtc_time.h"
#include "driverlib/gpio.h"
#include "driverlib/hibernate.h"
#include "driverlib/ssi.h"
#include "driverlib/sysctl.h"
#include "inc/hw_memmap.h"

namespace {

// Command bytes: the index with the start bits.
constexpr BYTE CMD0 = 0x40;   // GO_IDLE_STATE
constexpr BYTE CMD1 = 0x41;   // SEND_OP_COND (MMC)
constexpr BYTE CMD8 = 0x48;   // SEND_IF_COND
constexpr BYTE CMD9 = 0x49;   // SEND_CSD
constexpr BYTE CMD10 = 0x4A;  // SEND_CID
constexpr BYTE CMD12 = 0x4C;  // STOP_TRANSMISSION
constexpr BYTE CMD16 = 0x50;  // SET_BLOCKLEN
constexpr BYTE CMD17 = 0x51;  // READ_SINGLE_BLOCK
constexpr BYTE CMD18 = 0x52;  // READ_MULTIPLE_BLOCK
constexpr BYTE CMD23 = 0x57;  // after CMD55: SET_WR_BLK_ERASE_COUNT
constexpr BYTE CMD24 = 0x58;  // WRITE_BLOCK
constexpr BYTE CMD25 = 0x59;  // WRITE_MULTIPLE_BLOCK
constexpr BYTE CMD41 = 0x69;  // after CMD55: SD_SEND_OP_COND
constexpr BYTE CMD55 = 0x77;  // APP_CMD
constexpr BYTE CMD58 = 0x7A;  // READ_OCR

constexpr BYTE TOKEN_SINGLE = 0xFE;  // single block, and each block read
constexpr BYTE TOKEN_MULTI = 0xFC;   // each block of a multi-block write
constexpr BYTE TOKEN_STOP = 0xFD;    // end of a multi-block write

// CardType bits.
constexpr BYTE CT_MMC = 0x01;
constexpr BYTE CT_SD = 0x02;
constexpr BYTE CT_BLOCK = 0x04;

constexpr uint32_t kInitRate = 400000;
constexpr uint32_t kMaxRate = 12500000;

volatile DSTATUS Stat = STA_NOINIT;
BYTE CardType = 0;
BYTE PowerFlag = 0;
volatile BYTE Timer1 = 0;  // 10 ms steps: initialisation, data tokens
volatile BYTE Timer2 = 0;  // 10 ms steps: card ready

inline void SELECT() { GPIOPinWrite(GPIO_PORTA_BASE, GPIO_PIN_3, 0); }
inline void DESELECT() { GPIOPinWrite(GPIO_PORTA_BASE, GPIO_PIN_3, GPIO_PIN_3); }

void xmit_spi(BYTE dat) {
  uint32_t rcvdat;
  SSIDataPut(SSI0_BASE, dat);
  SSIDataGet(SSI0_BASE, &rcvdat);  // keep the receive FIFO in step
}

BYTE rcvr_spi() {
  uint32_t rcvdat;
  SSIDataPut(SSI0_BASE, 0xFF);
  SSIDataGet(SSI0_BASE, &rcvdat);
  return (BYTE)rcvdat;
}

// 0xFF when the card released its busy signal within 500 ms.
BYTE wait_ready() {
  Timer2 = 50;
  rcvr_spi();
  BYTE res;
  do {
    res = rcvr_spi();
  } while (res != 0xFF && Timer2);
  return res;
}

// The card needs at least 74 clocks with chip select and data in high
// before it takes its first command.
void send_initial_clock_train() {
  DESELECT();
  GPIOPinTypeGPIOOutput(GPIO_PORTA_BASE, GPIO_PIN_5);
  GPIOPinWrite(GPIO_PORTA_BASE, GPIO_PIN_5, GPIO_PIN_5);
  for (int i = 0; i < 10; i++) {
    uint32_t dat;
    SSIDataPut(SSI0_BASE, 0xFF);
    SSIDataGet(SSI0_BASE, &dat);
  }
  GPIOPinTypeSSI(GPIO_PORTA_BASE, GPIO_PIN_5);
}

void power_on() {
  SysCtlPeripheralEnable(SYSCTL_PERIPH_SSI0);
  SysCtlPeripheralEnable(SYSCTL_PERIPH_GPIOA);
  GPIOPinTypeSSI(GPIO_PORTA_BASE, GPIO_PIN_2 | GPIO_PIN_4 | GPIO_PIN_5);
  GPIOPinTypeGPIOOutput(GPIO_PORTA_BASE, GPIO_PIN_3);
  // The card's data out floats while it is deselected.
  GPIOPadConfigSet(GPIO_PORTA_BASE, GPIO_PIN_4, GPIO_STRENGTH_4MA, GPIO_PIN_TYPE_STD_WPU);
  GPIOPadConfigSet(GPIO_PORTA_BASE, GPIO_PIN_2 | GPIO_PIN_3 | GPIO_PIN_5, GPIO_STRENGTH_4MA,
                   GPIO_PIN_TYPE_STD);
  SSIConfigSetExpClk(SSI0_BASE, SysCtlClockGet(), SSI_FRF_MOTO_MODE_0, SSI_MODE_MASTER, kInitRate,
                     8);
  SSIEnable(SSI0_BASE);
  send_initial_clock_train();
  PowerFlag = 1;
}

// The card has no switched supply: power-off is bookkeeping only.
void power_off() { PowerFlag = 0; }

BYTE chk_power() { return PowerFlag; }

void set_max_speed() {
  SSIDisable(SSI0_BASE);
  uint32_t rate = SysCtlClockGet() / 2;
  if (rate > kMaxRate) rate = kMaxRate;
  SSIConfigSetExpClk(SSI0_BASE, SysCtlClockGet(), SSI_FRF_MOTO_MODE_0, SSI_MODE_MASTER, rate, 8);
  SSIEnable(SSI0_BASE);
}

// A data block from the card; false when its token did not come within
// 1 s or was an error token.
bool rcvr_datablock(BYTE *buff, UINT btr) {
  Timer1 = 100;
  BYTE token;
  do {
    token = rcvr_spi();
  } while (token == 0xFF && Timer1);
  if (token != TOKEN_SINGLE) return false;
  do {
    *buff++ = rcvr_spi();
    *buff++ = rcvr_spi();
  } while (btr -= 2);
  rcvr_spi();  // CRC, not checked in SPI mode
  rcvr_spi();
  return true;
}

// One 512-byte block to the card, or the stop token alone.
bool xmit_datablock(const BYTE *buff, BYTE token) {
  if (wait_ready() != 0xFF) return false;
  xmit_spi(token);
  if (token != TOKEN_STOP) {
    UINT wc = 256;
    do {
      xmit_spi(*buff++);
      xmit_spi(*buff++);
    } while (--wc);
    xmit_spi(0xFF);  // CRC, ignored by the card in SPI mode
    xmit_spi(0xFF);
    BYTE resp = rcvr_spi();
    if ((resp & 0x1F) != 0x05) return false;
  }
  return true;
}

// The R1 response, 0xFF when the card stayed busy or silent.
BYTE send_cmd(BYTE cmd, DWORD arg) {
  if (wait_ready() != 0xFF) return 0xFF;
  xmit_spi(cmd);
  xmit_spi((BYTE)(arg >> 24));
  xmit_spi((BYTE)(arg >> 16));
  xmit_spi((BYTE)(arg >> 8));
  xmit_spi((BYTE)arg);
  // The CRC matters only before the card is in SPI mode (CMD0) and for CMD8.
  BYTE crc = 0xFF;
  if (cmd == CMD0) crc = 0x95;
  if (cmd == CMD8) crc = 0x87;
  xmit_spi(crc);
  if (cmd == CMD12) rcvr_spi();  // stuff byte
  BYTE n = 10;
  BYTE res;
  do {
    res = rcvr_spi();
  } while ((res & 0x80) && --n);
  return res;
}

// Stops a multi-block read. The card is still sending data, so there is
// no ready wait; its answer is clocked out and dropped.
void send_cmd12() {
  xmit_spi(CMD12);
  xmit_spi(0x00);
  xmit_spi(0x00);
  xmit_spi(0x00);
  xmit_spi(0x00);
  xmit_spi(0x00);
  for (int i = 0; i < 10; i++) rcvr_spi();
}

void release() {
  DESELECT();
  rcvr_spi();  // the card lets go of its data line on the next clock
}

void put_dword(void *buff, DWORD v) { memcpy(buff, &v, sizeof v); }

// Sectors from a CSD: version 2 counts 512 KB units, version 1 (and MMC)
// blocks of 2^(READ_BL_LEN) bytes times 2^(C_SIZE_MULT + 2).
DWORD csd_sectors(const BYTE *csd) {
  if ((csd[0] >> 6) == 1) {
    WORD csize = (WORD)(csd[9] + ((WORD)csd[8] << 8) + 1);
    return (DWORD)csize << 10;
  }
  BYTE n = (BYTE)((csd[5] & 15) + ((csd[10] & 128) >> 7) + ((csd[9] & 3) << 1) + 2);
  WORD csize = (WORD)((csd[8] >> 6) + ((WORD)csd[7] << 2) + ((WORD)(csd[6] & 3) << 10) + 1);
  // A CSD claiming blocks under 512 bytes is garbage; do not shift by a
  // negative count.
  return n >= 9 ? (DWORD)csize << (n - 9) : (DWORD)csize >> (9 - n);
}

}  // namespace

void disk_timerproc() {
  BYTE n = Timer1;
  if (n) Timer1 = --n;
  n = Timer2;
  if (n) Timer2 = --n;
}

DSTATUS disk_initialize(BYTE pdrv) {
  if (pdrv) return STA_NOINIT;
  if (Stat & STA_NODISK) return Stat;

  power_on();
  send_initial_clock_train();
  SELECT();
  BYTE ty = 0;
  if (send_cmd(CMD0, 0) == 1) {
    Timer1 = 100;  // 1 s for the whole negotiation
    if (send_cmd(CMD8, 0x1AA) == 1) {
      // SD version 2: the card must accept 2.7-3.6 V and echo the pattern.
      BYTE ocr[4];
      for (BYTE &b : ocr) b = rcvr_spi();
      if (ocr[2] == 0x01 && ocr[3] == 0xAA) {
        do {
          if (send_cmd(CMD55, 0) <= 1 && send_cmd(CMD41, 1UL << 30) == 0) break;
        } while (Timer1);
        if (Timer1 && send_cmd(CMD58, 0) == 0) {
          for (BYTE &b : ocr) b = rcvr_spi();
          ty = (ocr[0] & 0x40) ? (CT_SD | CT_BLOCK) : CT_SD;
        }
      }
    } else {
      // SD version 1 answers the application command; an MMC does not.
      ty = (send_cmd(CMD55, 0) <= 1 && send_cmd(CMD41, 0) <= 1) ? CT_SD : CT_MMC;
      do {
        if (ty == CT_SD) {
          if (send_cmd(CMD55, 0) <= 1 && send_cmd(CMD41, 0) == 0) break;
        } else {
          if (send_cmd(CMD1, 0) == 0) break;
        }
      } while (Timer1);
      if (!Timer1 || send_cmd(CMD16, 512) != 0) ty = 0;
    }
  }
  CardType = ty;
  release();

  if (ty) {
    Stat = (DSTATUS)(Stat & ~STA_NOINIT);
    set_max_speed();
  } else {
    power_off();
  }
  return Stat;
}

DSTATUS disk_status(BYTE pdrv) { return pdrv ? STA_NOINIT : Stat; }

DRESULT disk_read(BYTE pdrv, BYTE *buff, DWORD sector, UINT count) {
  if (pdrv || !count) return RES_PARERR;
  if (Stat & STA_NOINIT) return RES_NOTRDY;
  if (!(CardType & CT_BLOCK)) sector *= 512;

  SELECT();
  if (count == 1) {
    if (send_cmd(CMD17, sector) == 0 && rcvr_datablock(buff, 512)) count = 0;
  } else if (send_cmd(CMD18, sector) == 0) {
    do {
      if (!rcvr_datablock(buff, 512)) break;
      buff += 512;
    } while (--count);
    send_cmd12();
  }
  release();
  return count ? RES_ERROR : RES_OK;
}

DRESULT disk_write(BYTE pdrv, const BYTE *buff, DWORD sector, UINT count) {
  if (pdrv || !count) return RES_PARERR;
  if (Stat & STA_NOINIT) return RES_NOTRDY;
  if (Stat & STA_PROTECT) return RES_WRPRT;
  if (!(CardType & CT_BLOCK)) sector *= 512;

  SELECT();
  if (count == 1) {
    if (send_cmd(CMD24, sector) == 0 && xmit_datablock(buff, TOKEN_SINGLE)) count = 0;
  } else {
    if (CardType & CT_SD) {
      // Pre-erase hint: a speed-up only, so its answer does not matter.
      send_cmd(CMD55, 0);
      send_cmd(CMD23, count);
    }
    if (send_cmd(CMD25, sector) == 0) {
      do {
        if (!xmit_datablock(buff, TOKEN_MULTI)) break;
        buff += 512;
      } while (--count);
      if (!xmit_datablock(nullptr, TOKEN_STOP)) count = 1;
    }
  }
  release();
  return count ? RES_ERROR : RES_OK;
}

DRESULT disk_ioctl(BYTE pdrv, BYTE ctrl, void *buff) {
  if (pdrv) return RES_PARERR;
  BYTE *ptr = static_cast<BYTE *>(buff);

  if (ctrl == CTRL_POWER) {
    if (!ptr) return RES_PARERR;
    switch (ptr[0]) {
      case 0:
        if (chk_power()) power_off();
        return RES_OK;
      case 1:
        power_on();
        return RES_OK;
      case 2:
        ptr[1] = chk_power();
        return RES_OK;
      default:
        return RES_PARERR;
    }
  }

  if (Stat & STA_NOINIT) return RES_NOTRDY;
  // Every control but the flush hands back data.
  if (ctrl != CTRL_SYNC && !ptr) return RES_PARERR;

  DRESULT res = RES_ERROR;
  SELECT();
  switch (ctrl) {
    case CTRL_SYNC:
      if (wait_ready() == 0xFF) res = RES_OK;
      break;
    case GET_SECTOR_COUNT: {
      BYTE csd[16];
      if (send_cmd(CMD9, 0) == 0 && rcvr_datablock(csd, 16)) {
        put_dword(buff, csd_sectors(csd));
        res = RES_OK;
      }
      break;
    }
    case GET_SECTOR_SIZE: {
      WORD size = 512;
      memcpy(buff, &size, sizeof size);
      res = RES_OK;
      break;
    }
    case MMC_GET_CSD:
      if (send_cmd(CMD9, 0) == 0 && rcvr_datablock(ptr, 16)) res = RES_OK;
      break;
    case MMC_GET_CID:
      if (send_cmd(CMD10, 0) == 0 && rcvr_datablock(ptr, 16)) res = RES_OK;
      break;
    case MMC_GET_OCR:
      if (send_cmd(CMD58, 0) == 0) {
        for (int n = 0; n < 4; n++) *ptr++ = rcvr_spi();
        res = RES_OK;
      }
      break;
    default:
      res = RES_PARERR;
  }
  release();
  return res;
}

// The FAT volume's note (where the data file ends, and the state of an
// append that a power cut may interrupt) lives in the FRAM, which keeps it
// through hibernation and power loss.
constexpr UINT FRAM_FAT_NOTE_SIZE = 48;
static_assert(sizeof(FATNOTE) == FRAM_FAT_NOTE_SIZE, "the note outgrew its FRAM area");

// In pieces of 16 bytes, so that interrupts are never masked for long.
bool disk_note_read(BYTE pdrv, BYTE *buff, UINT count) {
  if (pdrv != 0 || count > FRAM_FAT_NOTE_SIZE) return false;
  for (UINT at = 0; at < count; at += 16)
    i2c0_read(FRAM_I2C_ADDR, buff + at, count - at < 16 ? count - at : 16,
              (uint8_t)(FRAM_FAT_NOTE_ADDR + at), true);
  return true;
}

void disk_note_write(BYTE pdrv, const BYTE *buff, UINT count) {
  if (pdrv != 0 || count > FRAM_FAT_NOTE_SIZE) return;
  for (UINT at = 0; at < count; at += 16)
    i2c0_write(FRAM_I2C_ADDR, buff + at, count - at < 16 ? count - at : 16,
               (uint8_t)(FRAM_FAT_NOTE_ADDR + at));
}

// Local time for directory entries: the RTC runs without a zone shift and
// the stamps carry the fixed six-hour offset. FAT dates start in 1980, so
// an earlier clock (never set) stamps 1980-01-01 00:00:00.
DWORD get_fattime() {
  struct tm t;
  rtc_to_tm(HibernateRTCGet() + 21600u, &t);
  if (t.tm_year < 80) return (DWORD)1 << 21 | (DWORD)1 << 16;
  return (DWORD)(t.tm_year - 80) << 25 | (DWORD)(t.tm_mon + 1) << 21 | (DWORD)t.tm_mday << 16 |
         (DWORD)t.tm_hour << 11 | (DWORD)t.tm_min << 5 | (DWORD)(t.tm_sec / 2);
}
