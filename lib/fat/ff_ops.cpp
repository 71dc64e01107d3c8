// Directory listing and the name-space calls: mkdir, unlink, rename.
#include <cstring>

#include "ff_impl.h"

using namespace fat;

namespace {

// Directory cluster an entry points at (0 from ".." means the root).
DWORD entry_dir(const FATFS* fs, const BYTE* e) {
    DWORD c = ld_clust(fs, e);
    return c == 0 ? root_clust(fs) : c;
}

void get_fileinfo(const BYTE* e, FILINFO* fno) {
    UINT j = 0;
    for (UINT i = 0; i < 11; i++) {
        BYTE c = e[i];
        if (c == ' ') continue;
        if (i == 8) fno->fname[j++] = '.';
        if (i == 0 && c == 0x05) c = DDEM;
        fno->fname[j++] = static_cast<TCHAR>(c);
    }
    fno->fname[j] = 0;
    fno->fattrib = e[DIR_Attr] & 0x3F;
    fno->fsize = ld32(e + DIR_FileSize);
    fno->ftime = ld16(e + DIR_WrtTime);
    fno->fdate = ld16(e + DIR_WrtTime + 2);
}

// Would moving directory `moved` under directory `parent` make a loop?
FRESULT check_not_inside(FATFS* fs, DWORD moved, DWORD parent) {
    DWORD root = root_clust(fs);
    for (UINT depth = 0; depth < 1024; depth++) { // bounded even on a looped tree
        if (parent == moved) return FR_DENIED;
        if (parent == root) return FR_OK;
        FRESULT res = move_window(fs, clust2sect(fs, parent));
        if (res != FR_OK) return res;
        const BYTE* dd = fs->win + DIR_ENTRY; // ".." is the second entry
        if (std::memcmp(dd, "..         ", 11) != 0) return FR_INT_ERR;
        parent = entry_dir(fs, dd);
    }
    return FR_INT_ERR;
}

} // namespace

FRESULT f_opendir(DIR* dp, const TCHAR* path) {
    if (!dp) return FR_INVALID_OBJECT;
    dp->fs = nullptr;
    FATFS* fs;
    FRESULT res = mount_volume(&path, &fs, false);
    if (res != FR_OK) return res;
    Lookup lk;
    res = follow_path(fs, path, &lk);
    if (res == FR_NO_FILE) return FR_NO_PATH;
    if (res != FR_OK) return res;
    DWORD sclust = root_clust(fs);
    if (!(lk.flags & LK_ROOT)) {
        const BYTE* e = dir_entry(&lk.dj);
        if (!e) return FR_DISK_ERR;
        if (!(e[DIR_Attr] & AM_DIR)) return FR_NO_PATH;
        sclust = entry_dir(fs, e);
        if (sclust != 0 && !valid_clust(fs, sclust)) return FR_INT_ERR;
    }
    dp->fs = fs;
    dp->sclust = sclust;
    res = dir_sdi(dp, 0);
    if (res != FR_OK) {
        dp->fs = nullptr;
        return res;
    }
    dp->id = fs->id;
    return FR_OK;
}

FRESULT f_closedir(DIR* dp) {
    if (!dp) return FR_INVALID_OBJECT;
    FRESULT res = validate(dp->fs, dp->id);
    if (res == FR_OK) dp->fs = nullptr;
    return res;
}

FRESULT f_readdir(DIR* dp, FILINFO* fno) {
    if (!dp) return FR_INVALID_OBJECT;
    FRESULT res = validate(dp->fs, dp->id);
    if (res != FR_OK) return res;
    if (!fno) return dir_sdi(dp, 0);
    while (dp->sect) {
        const BYTE* e = dir_entry(dp);
        if (!e) return FR_DISK_ERR;
        BYTE c = e[DIR_Name];
        if (c == 0) {
            dp->sect = 0;
            break;
        }
        BYTE a = e[DIR_Attr] & 0x3F;
        bool shown = c != DDEM && c != '.' && a != AM_LFN && !(a & AM_VOL);
        if (shown) get_fileinfo(e, fno);
        res = dir_next(dp, false);
        if (res != FR_OK && res != FR_NO_FILE) return res;
        if (shown) return FR_OK;
    }
    fno->fname[0] = 0;
    return FR_OK;
}

FRESULT f_mkdir(const TCHAR* path) {
    FATFS* fs;
    FRESULT res = mount_volume(&path, &fs, true);
    if (res != FR_OK) return res;
    Lookup lk;
    res = follow_path(fs, path, &lk);
    if (res == FR_OK) return (lk.flags & LK_ROOT) ? FR_INVALID_NAME : FR_EXIST;
    if (res != FR_NO_FILE) return res;

    // The new cluster is complete on disk before any entry points at it.
    DWORD dcl;
    res = create_chain(fs, 0, &dcl, true);
    if (res != FR_OK) return res;
    DWORD tm = get_fattime();
    res = sync_window(fs);
    if (res != FR_OK) return res;
    std::memset(fs->win, 0, SS); // the sector was zero filled just now
    fs->winsect = clust2sect(fs, dcl);
    static const BYTE dot[11] = {'.', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
    static const BYTE dotdot[11] = {'.', '.', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
    init_entry(fs->win, dot, AM_DIR, tm);
    st_clust(fs, fs->win, dcl);
    init_entry(fs->win + DIR_ENTRY, dotdot, AM_DIR, tm);
    DWORD parent = lk.dj.sclust;
    st_clust(fs, fs->win + DIR_ENTRY, parent == root_clust(fs) ? 0 : parent);
    fs->wflag = 1;

    res = dir_alloc(&lk.dj);
    BYTE* e = res == FR_OK ? dir_entry(&lk.dj) : nullptr;
    if (res == FR_OK && !e) res = FR_DISK_ERR;
    if (res != FR_OK) {
        // Give the cluster back; a failure here only leaves it lost.
        if (remove_chain(fs, dcl, 0) == FR_OK) sync_fs(fs);
        return res;
    }
    init_entry(e, lk.sfn, AM_DIR, tm);
    st_clust(fs, e, dcl);
    fs->wflag = 1;
    return sync_fs(fs);
}

FRESULT f_unlink(const TCHAR* path) {
    FATFS* fs;
    FRESULT res = mount_volume(&path, &fs, true);
    if (res != FR_OK) return res;
    Lookup lk;
    res = follow_path(fs, path, &lk);
    if (res != FR_OK) return res;
    if (lk.flags & (LK_ROOT | LK_DOT)) return FR_INVALID_NAME;
    const BYTE* e = dir_entry(&lk.dj);
    if (!e) return FR_DISK_ERR;
    BYTE attr = e[DIR_Attr];
    DWORD cl = ld_clust(fs, e);
    if (attr & AM_RDO) return FR_DENIED;
    if (attr & AM_DIR) {
        if (!valid_clust(fs, cl)) return FR_INT_ERR;
        if (!dir_is_empty(fs, cl, &res)) return res != FR_OK ? res : FR_DENIED;
    }
    // Entry first: a cut before the FAT is freed leaves lost clusters only.
    res = cl ? fsi_invalidate(fs) : FR_OK;
    if (res == FR_OK) res = dir_remove(&lk);
    if (res == FR_OK) res = sync_window(fs);
    if (res == FR_OK && cl) res = remove_chain(fs, cl, 0);
    if (res == FR_OK) res = sync_fs(fs);
    return res;
}

FRESULT f_rename(const TCHAR* path_old, const TCHAR* path_new) {
    FATFS* fs;
    FRESULT res = mount_volume(&path_old, &fs, true);
    if (res != FR_OK) return res;
    Lookup lo;
    res = follow_path(fs, path_old, &lo);
    if (res != FR_OK) return res;
    if (lo.flags & (LK_ROOT | LK_DOT)) return FR_INVALID_NAME;
    BYTE old[DIR_ENTRY];
    const BYTE* e = dir_entry(&lo.dj);
    if (!e) return FR_DISK_ERR;
    std::memcpy(old, e, DIR_ENTRY);
    bool is_dir = old[DIR_Attr] & AM_DIR;

    FATFS* fs2;
    res = mount_volume(&path_new, &fs2, true);
    if (res != FR_OK) return res;
    Lookup ln;
    res = follow_path(fs, path_new, &ln);
    if (res == FR_OK) return (ln.flags & LK_ROOT) ? FR_INVALID_NAME : FR_EXIST;
    if (res != FR_NO_FILE) return res;
    if (ln.flags & LK_DOT) return FR_INVALID_NAME;

    BYTE* ne;
    if (ln.dj.sclust == lo.dj.sclust) {
        // Same directory: long-name parts go first, then the short name is
        // rewritten in place, each step leaving a valid entry.
        if (lo.lfn_idx != NO_LFN) {
            WORD idx = lo.dj.index;
            WORD keep = lo.lfn_idx;
            res = dir_sdi(&lo.dj, keep);
            for (; res == FR_OK && lo.dj.index != idx; res = dir_next(&lo.dj, false)) {
                BYTE* le = dir_entry(&lo.dj);
                if (!le) return FR_DISK_ERR;
                le[DIR_Name] = DDEM;
                fs->wflag = 1;
            }
            if (res != FR_OK) return res;
        }
        ne = dir_entry(&lo.dj);
        if (!ne) return FR_DISK_ERR;
    } else {
        if (is_dir) {
            res = check_not_inside(fs, entry_dir(fs, old), ln.dj.sclust);
            if (res != FR_OK) return res;
        }
        // New entry first: a cut leaves the object under both names, never none.
        res = dir_alloc(&ln.dj);
        if (res != FR_OK) return res;
        ne = dir_entry(&ln.dj);
        if (!ne) return FR_DISK_ERR;
    }
    std::memcpy(ne, old, DIR_ENTRY);
    std::memcpy(ne, ln.sfn, 11);
    ne[DIR_NTres] &= static_cast<BYTE>(~0x18); // the new name is upper case
    if (!is_dir) ne[DIR_Attr] |= AM_ARC;
    fs->wflag = 1;
    if (ln.dj.sclust == lo.dj.sclust) return sync_fs(fs);

    res = sync_window(fs);
    if (res != FR_OK) return res;
    if (is_dir) {
        DWORD dcl = entry_dir(fs, old);
        res = move_window(fs, clust2sect(fs, dcl));
        if (res != FR_OK) return res;
        BYTE* dd = fs->win + DIR_ENTRY;
        if (std::memcmp(dd, "..         ", 11) == 0) {
            st_clust(fs, dd, ln.dj.sclust == root_clust(fs) ? 0 : ln.dj.sclust);
            fs->wflag = 1;
        }
    }
    res = dir_remove(&lo);
    if (res == FR_OK) res = sync_fs(fs);
    return res;
}
