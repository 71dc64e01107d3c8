// FAT12/16/32 volume module: one drive, 512-byte sectors, 8.3 names, no
// current directory (every path is absolute; a leading '/' is optional).
//
// RAM: the volume object holds the only sector buffer (its window); file and
// directory objects are small and share it. No heap, no exceptions.
//
// Write ordering, so that a power cut at any block write loses nothing a
// completed f_sync/f_close committed: file data first, then FAT entries (all
// copies), then the directory entry, then the FAT32 FSInfo free count (which
// is set to "unknown" on disk before the first FAT change after a commit).
// A cut therefore leaves at most clusters that no committed data uses.
//
// A FAT12 entry that straddles two sectors is written in two steps; FAT12
// is for floppy-sized volumes, no card comes formatted so.
//
// A full volume ends f_write with FR_OK and a short count, and stops an
// extending f_lseek where the space ran out (also FR_OK), as callers of a
// FAT module expect; the caller sees it from the count or the position.
//
// Appends survive power cuts whole: the state of a file being extended is
// noted beside the card (disk_note_*, diskio.h) before its first cluster is
// taken, and the next mount after a cut trims its chain to the committed
// size, frees what the cut left allocated, makes the FAT copies equal and
// corrects the FAT32 free count. The same note tells where the file last
// extended ends, so seeking to its end costs no walk along its chain.
//
// Where a choice was ours: FA_CREATE_NEW on any existing name,
// directory or file, is FR_EXIST; f_close releases the object even when it
// reports an error; "." and ".." in the root name the root.
//
// Not supported: long names (their entries are skipped when listing and
// removed with their short entry), several drives, sector sizes other than
// 512, file locking (do not rename or delete a file that is open).
#pragma once

#include <cstdint>

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using UINT = unsigned int;
using FSIZE_t = DWORD;
using LBA_t = DWORD;
using TCHAR = char;

enum FRESULT {
    FR_OK = 0,
    FR_DISK_ERR = 1,
    FR_INT_ERR = 2,
    FR_NOT_READY = 3,
    FR_NO_FILE = 4,
    FR_NO_PATH = 5,
    FR_INVALID_NAME = 6,
    FR_DENIED = 7,
    FR_EXIST = 8,
    FR_INVALID_OBJECT = 9,
    FR_WRITE_PROTECTED = 10,
    FR_INVALID_DRIVE = 11,
    FR_NOT_ENABLED = 12,
    FR_NO_FILESYSTEM = 13,
    FR_MKFS_ABORTED = 14,
    FR_TIMEOUT = 15,
    FR_LOCKED = 16,
    FR_NOT_ENOUGH_CORE = 17,
    FR_TOO_MANY_OPEN_FILES = 18,
    FR_INVALID_PARAMETER = 19,
};

// f_open modes.
inline constexpr BYTE FA_READ = 0x01;
inline constexpr BYTE FA_WRITE = 0x02;
inline constexpr BYTE FA_OPEN_EXISTING = 0x00;
inline constexpr BYTE FA_CREATE_NEW = 0x04;
inline constexpr BYTE FA_CREATE_ALWAYS = 0x08;
inline constexpr BYTE FA_OPEN_ALWAYS = 0x10;

// Directory entry attributes.
inline constexpr BYTE AM_RDO = 0x01;
inline constexpr BYTE AM_HID = 0x02;
inline constexpr BYTE AM_SYS = 0x04;
inline constexpr BYTE AM_VOL = 0x08;
inline constexpr BYTE AM_LFN = 0x0F;
inline constexpr BYTE AM_DIR = 0x10;
inline constexpr BYTE AM_ARC = 0x20;

// FATFS::fs_type.
inline constexpr BYTE FS_FAT12 = 1;
inline constexpr BYTE FS_FAT16 = 2;
inline constexpr BYTE FS_FAT32 = 3;

// The note kept beside the card; see ff_note.cpp. Its image is what
// disk_note_write stores.
struct FATNOTE {
    DWORD magic;
    DWORD vol;       // the volume it belongs to
    LBA_t dir_sect;  // the file's directory entry
    WORD dir_ofs;
    WORD busy;       // 1: the file was being extended (the fields below: as it began)
    DWORD sclust;    // first cluster
    DWORD size;      // size
    DWORD last;      // cluster number lidx of the chain (0: none known)
    DWORD lidx;
    DWORD free;      // free clusters (0xFFFFFFFF: unknown)
    DWORD first;     // first and latest cluster the extension took (0: none)
    DWORD alloc;
    DWORD check;
};

struct FATFS {
    BYTE fs_type;    // 0: not mounted, else FS_FAT12/16/32
    BYTE pdrv;       // physical drive (always 0)
    BYTE n_fats;     // FAT copies kept in step
    BYTE wflag;      // window holds changes not yet written
    BYTE fsi_flag;   // FSInfo state, see ff.cpp
    BYTE csize;      // sectors per cluster
    WORD id;         // mount generation; open objects carry it
    WORD n_rootdir;  // root directory entries (FAT12/16)
    DWORD last_clst; // last cluster allocated (free search starts after it)
    DWORD free_clst; // free clusters, 0xFFFFFFFF when not known
    DWORD n_fatent;  // clusters + 2
    DWORD fsize;     // sectors per FAT
    LBA_t volbase;   // volume start (boot sector)
    LBA_t fatbase;   // first FAT
    LBA_t dirbase;   // root directory: sector (FAT12/16) or cluster (FAT32)
    LBA_t database;  // first sector of cluster 2
    LBA_t fsi_sect;  // FSInfo sector, 0 if none usable
    LBA_t winsect;   // sector in win, 0xFFFFFFFF if none
    DWORD vol_id;    // identifies the volume in the note
    BYTE note_ok;    // note holds a valid record of this volume
    BYTE jrnl;       // the cluster being taken extends the noted file
    FATNOTE note;
    BYTE win[512];   // the sector window
};

struct FIL {
    FATFS* fs;
    WORD id;
    BYTE flag;       // FA_READ, FA_WRITE, and FA_MODIFIED (internal)
    BYTE err;        // sticky FR_DISK_ERR / FR_INT_ERR
    DWORD sclust;    // first cluster, 0 if none
    FSIZE_t objsize; // file size
    FSIZE_t fptr;    // read/write position
    DWORD clust;     // cluster of fptr (of fptr-1 on a cluster boundary)
    LBA_t dir_sect;  // sector holding the directory entry
    WORD dir_ofs;    // entry's byte offset in that sector
};

struct DIR {
    FATFS* fs;
    WORD id;
    WORD index;      // entry index in the directory
    DWORD sclust;    // first cluster, 0 for the FAT12/16 root
    DWORD clust;     // current cluster
    LBA_t sect;      // current sector, 0 at the end
};

struct FILINFO {
    FSIZE_t fsize;
    WORD fdate;
    WORD ftime;
    BYTE fattrib;
    TCHAR fname[13]; // "NAME.EXT", upper case as stored; "" ends a listing
};

// opt 0 registers the volume; it is mounted at the first access. opt 1
// mounts now. fs == nullptr unregisters. path: "" or "0:".
FRESULT f_mount(FATFS* fs, const TCHAR* path, BYTE opt);
FRESULT f_open(FIL* fp, const TCHAR* path, BYTE mode);
FRESULT f_close(FIL* fp);
FRESULT f_read(FIL* fp, void* buff, UINT btr, UINT* br);
// A full volume gives FR_OK with *bw short of btw.
FRESULT f_write(FIL* fp, const void* buff, UINT btw, UINT* bw);
// Past the end extends the file (write mode; a full volume stops it where
// the space ran out) or stops at the end (read only).
FRESULT f_lseek(FIL* fp, FSIZE_t ofs);
FRESULT f_truncate(FIL* fp);
FRESULT f_sync(FIL* fp);
FRESULT f_opendir(DIR* dp, const TCHAR* path);
FRESULT f_closedir(DIR* dp);
// Skips deleted, long-name, volume-label, "." and ".." entries; fno nullptr
// rewinds.
FRESULT f_readdir(DIR* dp, FILINFO* fno);
FRESULT f_getfree(const TCHAR* path, DWORD* nclst, FATFS** fatfs);
FRESULT f_mkdir(const TCHAR* path);
FRESULT f_unlink(const TCHAR* path);
FRESULT f_rename(const TCHAR* path_old, const TCHAR* path_new);

inline FSIZE_t f_size(const FIL* fp) { return fp->objsize; }
inline FSIZE_t f_tell(const FIL* fp) { return fp->fptr; }
inline bool f_eof(const FIL* fp) { return fp->fptr == fp->objsize; }
inline BYTE f_error(const FIL* fp) { return fp->err; }
