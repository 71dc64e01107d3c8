// Volume: mounting, the sector window, FAT entries and cluster chains.
#include <cstring>

#include "ff_impl.h"

namespace fat {
namespace {

FATFS* g_fs = nullptr;   // the registered volume (one drive)
WORD g_mount_id = 0;

// FATFS::fsi_flag
constexpr BYTE FSI_DIRTY = 0x01;    // count or hint changed since FSInfo was written
constexpr BYTE FSI_ON_DISK = 0x02;  // FSInfo on disk holds a count, not "unknown"

constexpr DWORD FREE_UNKNOWN = 0xFFFFFFFF;

// Partition types that hold a FAT volume.
bool fat_partition_type(BYTE t) {
    return t == 0x01 || t == 0x04 || t == 0x06 || t == 0x0B || t == 0x0C || t == 0x0E;
}

FRESULT write_window_to(FATFS* fs, LBA_t sect) {
    return disk_write(fs->pdrv, fs->win, sect, 1) == RES_OK ? FR_OK : FR_DISK_ERR;
}

// Replaces the window by an FSInfo sector built from scratch (its reserved
// bytes are zero by definition), so writing it needs no read.
FRESULT write_fsinfo(FATFS* fs, DWORD free_count) {
    FRESULT res = sync_window(fs);
    if (res != FR_OK) return res;
    std::memset(fs->win, 0, SS);
    st32(fs->win + 0, 0x41615252);
    st32(fs->win + 484, 0x61417272);
    st32(fs->win + 488, free_count);
    DWORD next = fs->last_clst + 1;
    st32(fs->win + 492, valid_clust(fs, next) ? next : 2);
    st32(fs->win + 508, 0xAA550000);
    fs->winsect = fs->fsi_sect;
    res = write_window_to(fs, fs->fsi_sect);
    if (res != FR_OK) fs->winsect = NO_SECT;
    return res;
}

// 0: FAT boot sector, 1: valid signature but no FAT (maybe an MBR),
// 2: neither, 3: read error.
int check_fs(FATFS* fs, LBA_t sect) {
    fs->wflag = 0;
    fs->winsect = NO_SECT;
    if (move_window(fs, sect) != FR_OK) return 3;
    const BYTE* b = fs->win;
    if (ld16(b + 510) != 0xAA55) return 2;
    bool jump = b[0] == 0xEB || b[0] == 0xE9 || b[0] == 0xE8;
    BYTE spc = b[13];
    bool bpb = ld16(b + 11) == SS && spc != 0 && (spc & (spc - 1)) == 0 &&
               ld16(b + 14) != 0 && (b[16] == 1 || b[16] == 2);
    return jump && bpb ? 0 : 1;
}

FRESULT mount_bpb(FATFS* fs, LBA_t bsect) {
    const BYTE* b = fs->win;
    fs->csize = b[13];
    DWORD rsvd = ld16(b + 14);
    BYTE nfats = b[16];
    fs->n_rootdir = ld16(b + 17);
    DWORD fatsz = ld16(b + 22);
    if (fatsz == 0) fatsz = ld32(b + 36);
    DWORD tot = ld16(b + 19);
    if (tot == 0) tot = ld32(b + 32);
    DWORD rootsecs = (static_cast<DWORD>(fs->n_rootdir) * DIR_ENTRY + SS - 1) / SS;
    DWORD sys = rsvd + nfats * fatsz + rootsecs;
    if (fatsz == 0 || tot <= sys) return FR_NO_FILESYSTEM;
    DWORD nclst = (tot - sys) / fs->csize;
    if (nclst == 0 || nclst > 0x0FFFFFF5) return FR_NO_FILESYSTEM;

    // The type follows from the cluster count alone.
    BYTE type = nclst < 4085 ? FS_FAT12 : nclst < 65525 ? FS_FAT16 : FS_FAT32;
    fs->n_fatent = nclst + 2;
    fs->volbase = bsect;
    fs->fatbase = bsect + rsvd;
    fs->database = bsect + sys;
    fs->fsize = fatsz;
    fs->n_fats = nfats;
    fs->free_clst = FREE_UNKNOWN;
    fs->last_clst = 1;
    fs->fsi_flag = 0;
    fs->fsi_sect = 0;
    // The serial number and the layout tell this volume from another card.
    fs->vol_id = ld32(b + (type == FS_FAT32 ? 67 : 39)) ^ (fs->n_fatent * 2654435761u) ^ bsect;

    DWORD need;
    if (type == FS_FAT32) {
        if (fs->n_rootdir != 0 || ld16(b + 42) != 0) return FR_NO_FILESYSTEM;
        fs->dirbase = ld32(b + 44);
        if (!valid_clust(fs, fs->dirbase)) return FR_NO_FILESYSTEM;
        WORD ext = ld16(b + 40);
        if (ext & 0x80) { // mirroring off: only the active FAT is used
            if ((ext & 0x0F) >= nfats) return FR_NO_FILESYSTEM;
            fs->fatbase += (ext & 0x0F) * fatsz;
            fs->n_fats = 1;
        }
        need = fs->n_fatent * 4;
    } else {
        if (fs->n_rootdir == 0) return FR_NO_FILESYSTEM;
        fs->dirbase = fs->fatbase + nfats * fatsz;
        need = type == FS_FAT16 ? fs->n_fatent * 2 : (fs->n_fatent * 3 + 1) / 2;
    }
    if ((need + SS - 1) / SS > fatsz) return FR_NO_FILESYSTEM;

    if (type == FS_FAT32) {
        DWORD fsi = ld16(b + 48);
        if (fsi != 0 && fsi < rsvd && move_window(fs, bsect + fsi) == FR_OK &&
            ld32(fs->win) == 0x41615252 && ld32(fs->win + 484) == 0x61417272 &&
            ld32(fs->win + 508) == 0xAA550000) {
            fs->fsi_sect = bsect + fsi;
            DWORD fc = ld32(fs->win + 488);
            DWORD nx = ld32(fs->win + 492);
            if (fc <= nclst) {
                fs->free_clst = fc;
                fs->fsi_flag = FSI_ON_DISK;
            }
            if (valid_clust(fs, nx)) fs->last_clst = nx - 1;
        }
    }
    fs->fs_type = type;
    fs->id = ++g_mount_id;
    return FR_OK;
}

FRESULT find_volume(FATFS* fs) {
    int fmt = check_fs(fs, 0);
    if (fmt == 3) return FR_DISK_ERR;
    LBA_t bsect = 0;
    if (fmt == 1) {
        // Partition table: the first entry of a FAT type is the volume.
        fmt = 2;
        for (UINT i = 0; i < 4; i++) {
            const BYTE* pe = fs->win + 446 + i * 16;
            if (fat_partition_type(pe[4]) && ld32(pe + 8) != 0) {
                bsect = ld32(pe + 8);
                fmt = check_fs(fs, bsect);
                break;
            }
        }
        if (fmt == 3) return FR_DISK_ERR;
    }
    if (fmt != 0) return FR_NO_FILESYSTEM;
    return mount_bpb(fs, bsect);
}

// Strips a "0:" drive prefix.
FRESULT parse_drive(const TCHAR** path) {
    const TCHAR* p = *path;
    if (!p) {
        *path = "";
        return FR_OK;
    }
    const TCHAR* q = p;
    while (*q >= '0' && *q <= '9') q++;
    if (*q != ':') return FR_OK;
    if (q - p != 1 || *p != '0') return FR_INVALID_DRIVE;
    *path = q + 1;
    return FR_OK;
}

FRESULT find_free(FATFS* fs, DWORD* out) {
    if (fs->free_clst == 0) return FR_DENIED;
    DWORD start = fs->last_clst + 1;
    if (!valid_clust(fs, start)) start = 2;
    DWORD c = start;
    do {
        DWORD v;
        FRESULT res = get_fat(fs, c, &v);
        if (res != FR_OK) return res;
        if (v == 0) {
            *out = c;
            return FR_OK;
        }
        if (++c >= fs->n_fatent) c = 2;
    } while (c != start);
    fs->free_clst = 0;
    return FR_DENIED;
}

// Zero fills a cluster straight from the window, bypassing the cache.
FRESULT zero_cluster(FATFS* fs, DWORD c) {
    FRESULT res = sync_window(fs);
    if (res != FR_OK) return res;
    fs->winsect = NO_SECT;
    std::memset(fs->win, 0, SS);
    LBA_t s = clust2sect(fs, c);
    for (UINT i = 0; i < fs->csize; i++)
        if (disk_write(fs->pdrv, fs->win, s + i, 1) != RES_OK) return FR_DISK_ERR;
    return FR_OK;
}

} // namespace

FRESULT count_free(FATFS* fs) {
    DWORD n = 0;
    if (fs->fs_type == FS_FAT12) {
        for (DWORD c = 2; c < fs->n_fatent; c++) {
            DWORD v;
            FRESULT res = get_fat(fs, c, &v);
            if (res != FR_OK) return res;
            if (v == 0) n++;
        }
    } else {
        UINT width = fs->fs_type == FS_FAT16 ? 2 : 4;
        LBA_t sect = fs->fatbase;
        for (DWORD c = 0; c < fs->n_fatent; sect++) {
            FRESULT res = move_window(fs, sect);
            if (res != FR_OK) return res;
            for (UINT o = 0; o < SS && c < fs->n_fatent; o += width, c++) {
                DWORD v = width == 2 ? ld16(fs->win + o) : (ld32(fs->win + o) & 0x0FFFFFFF);
                if (c >= 2 && v == 0) n++;
            }
        }
    }
    fs->free_clst = n;
    return FR_OK;
}

FRESULT put_fat(FATFS* fs, DWORD c, DWORD val) {
    if (!valid_clust(fs, c)) return FR_INT_ERR;
    FRESULT res;
    switch (fs->fs_type) {
    case FS_FAT12: {
        if (val == EOC) val = 0xFFF;
        DWORD off = c + c / 2;
        // The entry may straddle two sectors: one byte at a time.
        for (UINT i = 0; i < 2; i++, off++) {
            res = move_window(fs, fs->fatbase + off / SS);
            if (res != FR_OK) return res;
            BYTE* p = fs->win + off % SS;
            if (c & 1)
                *p = i == 0 ? static_cast<BYTE>((*p & 0x0F) | ((val << 4) & 0xF0))
                            : static_cast<BYTE>(val >> 4);
            else
                *p = i == 0 ? static_cast<BYTE>(val)
                            : static_cast<BYTE>((*p & 0xF0) | ((val >> 8) & 0x0F));
            fs->wflag = 1;
        }
        return FR_OK;
    }
    case FS_FAT16:
        res = move_window(fs, fs->fatbase + c / (SS / 2));
        if (res != FR_OK) return res;
        st16(fs->win + (c % (SS / 2)) * 2, static_cast<WORD>(val == EOC ? 0xFFFF : val));
        break;
    default: {
        res = move_window(fs, fs->fatbase + c / (SS / 4));
        if (res != FR_OK) return res;
        BYTE* p = fs->win + (c % (SS / 4)) * 4;
        // The top four bits are reserved and kept.
        DWORD v = (val == EOC ? 0x0FFFFFFF : val) & 0x0FFFFFFF;
        st32(p, (ld32(p) & 0xF0000000) | v);
        break;
    }
    }
    fs->wflag = 1;
    return FR_OK;
}

// Before the first change after a commit that makes a cluster used or
// free, or that leaves clusters no entry points at: a cut from here to the
// next commit must not leave a free count that is wrong, so it becomes
// unknown on the disk.
FRESULT fsi_invalidate(FATFS* fs) {
    if (fs->fs_type == FS_FAT32 && fs->fsi_sect && (fs->fsi_flag & FSI_ON_DISK)) {
        FRESULT res = write_fsinfo(fs, FREE_UNKNOWN);
        if (res != FR_OK) return res;
        fs->fsi_flag &= static_cast<BYTE>(~FSI_ON_DISK);
    }
    fs->fsi_flag |= FSI_DIRTY;
    return FR_OK;
}

FRESULT sync_window(FATFS* fs) {
    if (!fs->wflag) return FR_OK;
    LBA_t s = fs->winsect;
    if (write_window_to(fs, s) != FR_OK) return FR_DISK_ERR; // stays dirty, retried later
    if (s >= fs->fatbase && s - fs->fatbase < fs->fsize) {
        for (UINT i = 1; i < fs->n_fats; i++)
            if (write_window_to(fs, s + i * fs->fsize) != FR_OK) return FR_DISK_ERR;
    }
    fs->wflag = 0;
    return FR_OK;
}

FRESULT move_window(FATFS* fs, LBA_t sect) {
    if (sect == fs->winsect) return FR_OK;
    FRESULT res = sync_window(fs);
    if (res != FR_OK) return res;
    if (disk_read(fs->pdrv, fs->win, sect, 1) != RES_OK) {
        fs->winsect = NO_SECT;
        return FR_DISK_ERR;
    }
    fs->winsect = sect;
    return FR_OK;
}

FRESULT sync_fs(FATFS* fs) {
    FRESULT res = sync_window(fs);
    if (res != FR_OK) return res;
    if (fs->fs_type == FS_FAT32 && fs->fsi_sect) {
        bool known = fs->free_clst != FREE_UNKNOWN;
        if (known && (fs->fsi_flag & FSI_DIRTY || !(fs->fsi_flag & FSI_ON_DISK))) {
            res = write_fsinfo(fs, fs->free_clst);
            if (res != FR_OK) return res;
            fs->fsi_flag = FSI_ON_DISK;
        }
    }
    fs->fsi_flag &= static_cast<BYTE>(~FSI_DIRTY);
    return disk_ioctl(fs->pdrv, CTRL_SYNC, nullptr) == RES_OK ? FR_OK : FR_DISK_ERR;
}

FRESULT mount_volume(const TCHAR** path, FATFS** rfs, bool write) {
    FRESULT res = parse_drive(path);
    if (res != FR_OK) return res;
    FATFS* fs = g_fs;
    if (!fs) return FR_NOT_ENABLED;
    *rfs = fs;
    if (fs->fs_type) {
        DSTATUS st = disk_status(fs->pdrv);
        if (!(st & STA_NOINIT)) {
            if (write && (st & STA_PROTECT)) return FR_WRITE_PROTECTED;
            return FR_OK;
        }
    }
    // Not mounted, or the card was reset underneath: start again.
    fs->fs_type = 0;
    fs->pdrv = 0;
    DSTATUS st = disk_initialize(fs->pdrv);
    if (st & STA_NOINIT) return FR_NOT_READY;
    if (write && (st & STA_PROTECT)) return FR_WRITE_PROTECTED;
    res = find_volume(fs);
    if (res == FR_OK && !(st & STA_PROTECT)) res = note_mount(fs);
    if (res != FR_OK) fs->fs_type = 0;
    return res;
}

FRESULT validate(FATFS* fs, WORD id) {
    if (!fs || fs != g_fs || !fs->fs_type || fs->id != id) return FR_INVALID_OBJECT;
    if (disk_status(fs->pdrv) & STA_NOINIT) return FR_INVALID_OBJECT;
    return FR_OK;
}

FRESULT get_fat(FATFS* fs, DWORD c, DWORD* val) {
    if (!valid_clust(fs, c)) return FR_INT_ERR;
    FRESULT res;
    DWORD v;
    switch (fs->fs_type) {
    case FS_FAT12: {
        DWORD off = c + c / 2;
        res = move_window(fs, fs->fatbase + off / SS);
        if (res != FR_OK) return res;
        v = fs->win[off % SS];
        off++;
        res = move_window(fs, fs->fatbase + off / SS);
        if (res != FR_OK) return res;
        v |= static_cast<DWORD>(fs->win[off % SS]) << 8;
        v = (c & 1) ? v >> 4 : v & 0xFFF;
        if (v >= 0xFF8) v = EOC;
        break;
    }
    case FS_FAT16:
        res = move_window(fs, fs->fatbase + c / (SS / 2));
        if (res != FR_OK) return res;
        v = ld16(fs->win + (c % (SS / 2)) * 2);
        if (v >= 0xFFF8) v = EOC;
        break;
    default:
        res = move_window(fs, fs->fatbase + c / (SS / 4));
        if (res != FR_OK) return res;
        v = ld32(fs->win + (c % (SS / 4)) * 4) & 0x0FFFFFFF;
        if (v >= 0x0FFFFFF8) v = EOC;
        break;
    }
    *val = v;
    return FR_OK;
}

FRESULT next_clust(FATFS* fs, DWORD c, DWORD* next) {
    FRESULT res = get_fat(fs, c, next);
    if (res == FR_OK && *next != EOC && !valid_clust(fs, *next)) res = FR_INT_ERR;
    return res;
}

FRESULT create_chain(FATFS* fs, DWORD prev, DWORD* out, bool zero) {
    FRESULT res;
    if (prev) {
        DWORD v;
        res = next_clust(fs, prev, &v);
        if (res != FR_OK) return res;
        if (v != EOC) { // already linked (e.g. left over by a cut): reuse it
            *out = v;
            return FR_OK;
        }
    }
    DWORD n = 0;
    if (prev && valid_clust(fs, prev + 1)) { // the very next one keeps the file in one piece
        DWORD v;
        res = get_fat(fs, prev + 1, &v);
        if (res != FR_OK) return res;
        if (v == 0) n = prev + 1;
    }
    res = n ? FR_OK : find_free(fs, &n);
    if (res == FR_OK && fs->jrnl) note_alloc(fs, n); // before the cluster's entry can reach the disk
    if (res == FR_OK && zero) res = zero_cluster(fs, n);
    if (res == FR_OK) res = fsi_invalidate(fs);
    // New end first: until the link is written the cluster is merely lost.
    if (res == FR_OK) res = put_fat(fs, n, EOC);
    if (res == FR_OK && prev) res = put_fat(fs, prev, n);
    if (res != FR_OK) return res;
    fs->last_clst = n;
    if (fs->free_clst != FREE_UNKNOWN && fs->free_clst) fs->free_clst--;
    *out = n;
    return FR_OK;
}

FRESULT remove_chain(FATFS* fs, DWORD c, DWORD prev) {
    FRESULT res = fsi_invalidate(fs);
    if (res == FR_OK && prev) res = put_fat(fs, prev, EOC);
    // Bounded by the cluster count, so a looped chain cannot hang us.
    for (DWORD guard = fs->n_fatent; res == FR_OK && guard; guard--) {
        DWORD next;
        res = next_clust(fs, c, &next);
        if (res == FR_OK) res = put_fat(fs, c, 0);
        if (res != FR_OK) break;
        if (fs->free_clst < fs->n_fatent - 2) fs->free_clst++;
        if (next == EOC) return FR_OK;
        c = next;
    }
    return res == FR_OK ? FR_INT_ERR : res;
}

} // namespace fat

using namespace fat;

FRESULT f_mount(FATFS* fs, const TCHAR* path, BYTE opt) {
    FRESULT res = parse_drive(&path);
    if (res != FR_OK) return res;
    if (g_fs) g_fs->fs_type = 0; // invalidates every object opened on it
    g_fs = fs;
    if (!fs) return FR_OK;
    fs->fs_type = 0;
    fs->wflag = 0;
    fs->winsect = NO_SECT;
    if (opt != 1) return FR_OK;
    FATFS* rfs;
    return mount_volume(&path, &rfs, false);
}

FRESULT f_getfree(const TCHAR* path, DWORD* nclst, FATFS** fatfs) {
    FATFS* fs;
    FRESULT res = mount_volume(&path, &fs, false);
    if (res != FR_OK) return res;
    if (fs->free_clst > fs->n_fatent - 2) {
        res = count_free(fs);
        if (res != FR_OK) return res;
    }
    if (nclst) *nclst = fs->free_clst;
    if (fatfs) *fatfs = fs;
    return FR_OK;
}
