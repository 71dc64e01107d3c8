// Directories: 8.3 names, entry iteration, path resolution.
#include <cstring>

#include "ff_impl.h"

namespace fat {
namespace {

constexpr DWORD MAX_DIR_ENTRIES = 0x10000; // a directory is at most 2 MB

bool is_fixed_root(const DIR* dp) { return dp->sclust == 0; }

bool is_sep(TCHAR c) { return c == '/' || c == '\\'; }

bool valid_sfn_char(BYTE c) {
    if (c >= 0x80) return true; // OEM code page, taken as is
    if (c <= 0x20 || c == 0x7F) return false;
    return !std::strchr("\"*+,./:;<=>?[\\]|", c);
}

// Takes one path component into sfn and steps past it and its separators.
FRESULT create_name(const TCHAR** path, BYTE* sfn, bool* dot) {
    const BYTE* p = reinterpret_cast<const BYTE*>(*path);
    std::memset(sfn, ' ', 11);
    *dot = false;
    UINT len = 0;
    while (p[len] >= 0x20 && !is_sep(static_cast<TCHAR>(p[len]))) len++;
    if ((len == 1 && p[0] == '.') || (len == 2 && p[0] == '.' && p[1] == '.')) {
        sfn[0] = '.';
        if (len == 2) sfn[1] = '.';
        *dot = true;
    } else {
        UINT i = 0, limit = 8;
        bool in_ext = false;
        for (UINT k = 0; k < len; k++) {
            BYTE c = p[k];
            if (c == '.') {
                if (in_ext || i == 0) return FR_INVALID_NAME;
                in_ext = true;
                i = 8;
                limit = 11;
                continue;
            }
            if (!valid_sfn_char(c) || i >= limit) return FR_INVALID_NAME;
            if (c >= 'a' && c <= 'z') c = static_cast<BYTE>(c - 'a' + 'A');
            sfn[i++] = c;
        }
        if (sfn[0] == ' ') return FR_INVALID_NAME;
        if (sfn[0] == DDEM) sfn[0] = 0x05; // 0xE5 would read as deleted
    }
    p += len;
    while (is_sep(static_cast<TCHAR>(*p))) p++;
    *path = reinterpret_cast<const TCHAR*>(p);
    return FR_OK;
}

BYTE sfn_sum(const BYTE* sfn) {
    BYTE sum = 0;
    for (UINT i = 0; i < 11; i++) sum = static_cast<BYTE>(((sum & 1) << 7) + (sum >> 1) + sfn[i]);
    return sum;
}

// Finds lk->sfn in lk->dj, noting the long-name entries that belong to it.
FRESULT dir_find(Lookup* lk) {
    DIR* dp = &lk->dj;
    FRESULT res = dir_sdi(dp, 0);
    WORD lfn = NO_LFN;
    BYTE ord = 0, sum = 0;
    while (res == FR_OK) {
        BYTE* e = dir_entry(dp);
        if (!e) return FR_DISK_ERR;
        BYTE c = e[DIR_Name];
        BYTE a = e[DIR_Attr] & 0x3F;
        if (c == 0) return FR_NO_FILE;
        if (c == DDEM) {
            lfn = NO_LFN;
        } else if (a == AM_LFN) {
            if (c & 0x40) {
                lfn = dp->index;
                ord = c & 0x1F;
                sum = e[13];
            } else if (lfn != NO_LFN && (c & 0x1F) == ord - 1 && e[13] == sum) {
                ord--;
            } else {
                lfn = NO_LFN;
            }
        } else {
            if (!(a & AM_VOL) && std::memcmp(e, lk->sfn, 11) == 0) {
                lk->lfn_idx = (lfn != NO_LFN && ord == 1 && sfn_sum(e) == sum) ? lfn : NO_LFN;
                return FR_OK;
            }
            lfn = NO_LFN;
        }
        res = dir_next(dp, false);
    }
    return res;
}

} // namespace

DWORD root_clust(const FATFS* fs) { return fs->fs_type == FS_FAT32 ? fs->dirbase : 0; }

DWORD ld_clust(const FATFS* fs, const BYTE* e) {
    DWORD c = ld16(e + DIR_FstClusLO);
    if (fs->fs_type == FS_FAT32) c |= static_cast<DWORD>(ld16(e + DIR_FstClusHI)) << 16;
    return c;
}

void st_clust(const FATFS* fs, BYTE* e, DWORD c) {
    st16(e + DIR_FstClusLO, static_cast<WORD>(c));
    if (fs->fs_type == FS_FAT32) st16(e + DIR_FstClusHI, static_cast<WORD>(c >> 16));
}

void init_entry(BYTE* e, const BYTE* sfn, BYTE attr, DWORD tm) {
    std::memset(e, 0, DIR_ENTRY);
    std::memcpy(e, sfn, 11);
    e[DIR_Attr] = attr;
    st32(e + DIR_CrtTime, tm);
    st16(e + DIR_LstAccDate, static_cast<WORD>(tm >> 16));
    st32(e + DIR_WrtTime, tm);
}

FRESULT dir_sdi(DIR* dp, DWORD idx) {
    FATFS* fs = dp->fs;
    if (idx >= MAX_DIR_ENTRIES) return FR_INT_ERR;
    dp->index = static_cast<WORD>(idx);
    if (is_fixed_root(dp)) {
        if (idx >= fs->n_rootdir) return FR_INT_ERR;
        dp->clust = 0;
        dp->sect = fs->dirbase + idx / ENTRIES_PER_SECT;
        return FR_OK;
    }
    DWORD per_clust = ENTRIES_PER_SECT * fs->csize;
    DWORD c = dp->sclust;
    for (DWORD hops = idx / per_clust; hops; hops--) {
        FRESULT res = next_clust(fs, c, &c);
        if (res != FR_OK) return res;
        if (c == EOC) return FR_INT_ERR;
    }
    dp->clust = c;
    dp->sect = clust2sect(fs, c) + (idx % per_clust) / ENTRIES_PER_SECT;
    return FR_OK;
}

FRESULT dir_next(DIR* dp, bool stretch) {
    FATFS* fs = dp->fs;
    DWORD idx = dp->index + 1u;
    if (dp->sect == 0 || idx >= MAX_DIR_ENTRIES) {
        dp->sect = 0;
        return stretch ? FR_DENIED : FR_NO_FILE;
    }
    if (is_fixed_root(dp) && idx >= fs->n_rootdir) {
        dp->sect = 0;
        return stretch ? FR_DENIED : FR_NO_FILE; // the fixed root cannot grow
    }
    if (idx % ENTRIES_PER_SECT == 0) {
        if (is_fixed_root(dp)) {
            dp->sect++;
        } else if ((idx / ENTRIES_PER_SECT) % fs->csize == 0) {
            DWORD c;
            FRESULT res = next_clust(fs, dp->clust, &c);
            if (res != FR_OK) return res;
            if (c == EOC) {
                if (!stretch) {
                    dp->sect = 0;
                    return FR_NO_FILE;
                }
                // Zeroed before it is linked, so the directory never shows garbage.
                res = create_chain(fs, dp->clust, &c, true);
                if (res != FR_OK) return res;
            }
            dp->clust = c;
            dp->sect = clust2sect(fs, c);
        } else {
            dp->sect++;
        }
    }
    dp->index = static_cast<WORD>(idx);
    return FR_OK;
}

BYTE* dir_entry(DIR* dp) {
    if (move_window(dp->fs, dp->sect) != FR_OK) return nullptr;
    return dp->fs->win + (dp->index % ENTRIES_PER_SECT) * DIR_ENTRY;
}

FRESULT follow_path(FATFS* fs, const TCHAR* path, Lookup* lk) {
    while (is_sep(*path)) path++;
    lk->dj.fs = fs;
    lk->dj.sclust = root_clust(fs);
    lk->flags = 0;
    lk->lfn_idx = NO_LFN;
    if (static_cast<BYTE>(*path) < 0x20) {
        lk->flags = LK_ROOT;
        return dir_sdi(&lk->dj, 0);
    }
    for (;;) {
        bool dot;
        FRESULT res = create_name(&path, lk->sfn, &dot);
        if (res != FR_OK) return res;
        bool last = static_cast<BYTE>(*path) < 0x20;
        if (dot && lk->dj.sclust == root_clust(fs)) {
            // The root has no dot entries; both name the root itself.
            if (last) {
                lk->flags = LK_ROOT | LK_DOT;
                return dir_sdi(&lk->dj, 0);
            }
            continue;
        }
        lk->flags = dot ? LK_DOT : 0;
        res = dir_find(lk);
        if (res == FR_NO_FILE && !last) return FR_NO_PATH;
        if (res != FR_OK || last) return res;
        const BYTE* e = dir_entry(&lk->dj);
        if (!e) return FR_DISK_ERR;
        if (!(e[DIR_Attr] & AM_DIR)) return FR_NO_PATH;
        DWORD c = ld_clust(fs, e);
        lk->dj.sclust = c == 0 ? root_clust(fs) : c; // ".." of a top directory is 0
        if (lk->dj.sclust != 0 && !valid_clust(fs, lk->dj.sclust)) return FR_INT_ERR;
    }
}

FRESULT dir_alloc(DIR* dp) {
    FRESULT res = dir_sdi(dp, 0);
    while (res == FR_OK) {
        BYTE* e = dir_entry(dp);
        if (!e) return FR_DISK_ERR;
        if (e[DIR_Name] == 0 || e[DIR_Name] == DDEM) return FR_OK;
        res = dir_next(dp, true);
    }
    return res;
}

FRESULT dir_remove(Lookup* lk) {
    DIR* dp = &lk->dj;
    WORD last = dp->index;
    // Long-name parts first: a cut part-way leaves a plain short entry.
    FRESULT res = dir_sdi(dp, lk->lfn_idx != NO_LFN ? lk->lfn_idx : last);
    for (;;) {
        if (res != FR_OK) return res;
        BYTE* e = dir_entry(dp);
        if (!e) return FR_DISK_ERR;
        e[DIR_Name] = DDEM;
        dp->fs->wflag = 1;
        if (dp->index == last) return FR_OK;
        res = dir_next(dp, false);
    }
}

bool dir_is_empty(FATFS* fs, DWORD clust, FRESULT* res) {
    DIR d{};
    d.fs = fs;
    d.sclust = clust;
    *res = dir_sdi(&d, 0);
    while (*res == FR_OK) {
        const BYTE* e = dir_entry(&d);
        if (!e) {
            *res = FR_DISK_ERR;
            break;
        }
        BYTE c = e[DIR_Name];
        if (c == 0) break;
        if (c != DDEM && c != '.' && (e[DIR_Attr] & 0x3F) != AM_LFN) return false;
        *res = dir_next(&d, false);
    }
    if (*res == FR_NO_FILE) *res = FR_OK;
    return *res == FR_OK;
}

} // namespace fat
