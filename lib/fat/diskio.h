// Block device under the FAT volume: one drive (0), 512-byte sectors.
// The SD card driver defines these; the host tests define them over an
// image file. Plain C++ linkage, so a definition whose signature drifts from
// these declarations fails at link time instead of misbehaving.
#pragma once

#include "ff.h"

using DSTATUS = BYTE;

enum DRESULT {
    RES_OK = 0,
    RES_ERROR = 1,
    RES_WRPRT = 2,
    RES_NOTRDY = 3,
    RES_PARERR = 4,
};

// Status bits.
inline constexpr DSTATUS STA_NOINIT = 0x01;
inline constexpr DSTATUS STA_NODISK = 0x02;
inline constexpr DSTATUS STA_PROTECT = 0x04;

// disk_ioctl controls.
inline constexpr BYTE CTRL_SYNC = 0;
inline constexpr BYTE GET_SECTOR_COUNT = 1;
inline constexpr BYTE GET_SECTOR_SIZE = 2;
inline constexpr BYTE GET_BLOCK_SIZE = 3;
inline constexpr BYTE CTRL_TRIM = 4;
inline constexpr BYTE CTRL_POWER = 5;
inline constexpr BYTE MMC_GET_TYPE = 10;
inline constexpr BYTE MMC_GET_CSD = 11;
inline constexpr BYTE MMC_GET_CID = 12;
inline constexpr BYTE MMC_GET_OCR = 13;

DSTATUS disk_initialize(BYTE pdrv);
DSTATUS disk_status(BYTE pdrv);
DRESULT disk_read(BYTE pdrv, BYTE* buff, DWORD sector, UINT count);
DRESULT disk_write(BYTE pdrv, const BYTE* buff, DWORD sector, UINT count);
DRESULT disk_ioctl(BYTE pdrv, BYTE cmd, void* buff);

// A few bytes beside the card that survive power cuts and restarts (on the
// logger, its FRAM): the volume keeps its note there (ff.h). A read that
// returns false, or bytes that fail the note's check, mean no note.
bool disk_note_read(BYTE pdrv, BYTE* buff, UINT count);
void disk_note_write(BYTE pdrv, const BYTE* buff, UINT count);

// Packed local time for directory entries: bits 31-25 year-1980, 24-21
// month, 20-16 day, 15-11 hour, 10-5 minute, 4-0 seconds/2.
DWORD get_fattime(void);
