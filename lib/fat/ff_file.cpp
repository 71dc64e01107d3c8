// Files: open, read, write, seek, truncate, sync, close.
#include <cstring>

#include "ff_impl.h"

using namespace fat;

// File objects share the volume's window; on the chip they must stay this small.
static_assert(sizeof(void*) != 4 || sizeof(FIL) <= 32, "FIL grew");

namespace {

FRESULT validate_file(FIL* fp) {
    if (!fp) return FR_INVALID_OBJECT;
    FRESULT res = validate(fp->fs, fp->id);
    if (res != FR_OK) return res;
    return static_cast<FRESULT>(fp->err);
}

// Disk and consistency errors stick to the file; a full volume does not.
FRESULT fail(FIL* fp, FRESULT res) {
    if (res == FR_DISK_ERR || res == FR_INT_ERR) fp->err = static_cast<BYTE>(res);
    return res;
}

LBA_t fptr_sect(const FIL* fp) {
    const FATFS* fs = fp->fs;
    return clust2sect(fs, fp->clust) + (fp->fptr / SS) % fs->csize;
}

// The cluster after prev for fp, taken under the note when it is new.
FRESULT take_cluster(FIL* fp, DWORD prev, DWORD* c) {
    FATFS* fs = fp->fs;
    bool noted;
    FRESULT res = note_begin(fp, &noted);
    if (res != FR_OK) return res;
    fs->jrnl = noted;
    res = create_chain(fs, prev, c, false);
    fs->jrnl = 0;
    return res;
}

// At a cluster boundary: makes fp->clust the cluster that holds fptr.
FRESULT enter_cluster(FIL* fp, bool alloc) {
    FATFS* fs = fp->fs;
    DWORD c;
    FRESULT res = FR_OK;
    if (fp->fptr == 0) {
        c = fp->sclust;
        if (c == 0) {
            if (!alloc) return FR_INT_ERR;
            res = take_cluster(fp, 0, &c);
            if (res == FR_OK) fp->sclust = c;
        }
    } else if (alloc) {
        res = take_cluster(fp, fp->clust, &c);
    } else {
        res = next_clust(fs, fp->clust, &c);
        if (res == FR_OK && c == EOC) res = FR_INT_ERR; // chain shorter than the size
    }
    if (res == FR_OK) fp->clust = c;
    return res;
}

} // namespace

FRESULT f_open(FIL* fp, const TCHAR* path, BYTE mode) {
    if (!fp) return FR_INVALID_OBJECT;
    fp->fs = nullptr;
    mode &= FA_READ | FA_WRITE | FA_CREATE_ALWAYS | FA_OPEN_ALWAYS | FA_CREATE_NEW;
    bool create = mode & (FA_CREATE_ALWAYS | FA_OPEN_ALWAYS | FA_CREATE_NEW);
    FATFS* fs;
    FRESULT res = mount_volume(&path, &fs, (mode & ~FA_READ) != 0);
    if (res != FR_OK) return res;

    Lookup lk;
    res = follow_path(fs, path, &lk);
    if (res == FR_OK && (lk.flags & LK_ROOT)) return FR_INVALID_NAME;
    BYTE flag = mode & (FA_READ | FA_WRITE);
    BYTE* e = nullptr;
    if (res == FR_OK) {
        e = dir_entry(&lk.dj);
        if (!e) return FR_DISK_ERR;
    }
    if (create) {
        if (res == FR_NO_FILE) {
            res = dir_alloc(&lk.dj);
            if (res != FR_OK) return res;
            e = dir_entry(&lk.dj);
            if (!e) return FR_DISK_ERR;
            init_entry(e, lk.sfn, AM_ARC, get_fattime());
            fs->wflag = 1;
            flag |= FA_MODIFIED; // the close commits the new entry
        } else if (res == FR_OK) {
            if (mode & FA_CREATE_NEW) return FR_EXIST;
            if (e[DIR_Attr] & (AM_RDO | AM_DIR)) return FR_DENIED;
            if (mode & FA_CREATE_ALWAYS) {
                // The emptied entry reaches the disk before the chain is freed.
                DWORD cl = ld_clust(fs, e);
                if (cl) {
                    res = fsi_invalidate(fs);
                    if (res != FR_OK) return res;
                    e = dir_entry(&lk.dj);
                    if (!e) return FR_DISK_ERR;
                }
                init_entry(e, lk.sfn, AM_ARC, get_fattime());
                fs->wflag = 1;
                flag |= FA_MODIFIED;
                if (cl) {
                    res = sync_window(fs);
                    if (res == FR_OK) res = remove_chain(fs, cl, 0);
                    if (res != FR_OK) return res;
                    fs->last_clst = cl - 1;
                    e = dir_entry(&lk.dj);
                    if (!e) return FR_DISK_ERR;
                }
            }
        }
    } else if (res == FR_OK) {
        if (e[DIR_Attr] & AM_DIR) return FR_NO_FILE;
        if ((mode & FA_WRITE) && (e[DIR_Attr] & AM_RDO)) return FR_DENIED;
    }
    if (res != FR_OK) return res;

    fp->sclust = ld_clust(fs, e);
    fp->objsize = ld32(e + DIR_FileSize);
    if (fp->sclust != 0 && !valid_clust(fs, fp->sclust)) return FR_INT_ERR;
    fp->dir_sect = lk.dj.sect;
    fp->dir_ofs = static_cast<WORD>((lk.dj.index % ENTRIES_PER_SECT) * DIR_ENTRY);
    fp->flag = flag;
    fp->err = 0;
    fp->fptr = 0;
    fp->clust = 0;
    fp->id = fs->id;
    fp->fs = fs;
    return FR_OK;
}

FRESULT f_read(FIL* fp, void* buff, UINT btr, UINT* br) {
    *br = 0;
    FRESULT res = validate_file(fp);
    if (res != FR_OK) return res;
    if (!(fp->flag & FA_READ)) return FR_DENIED;
    FATFS* fs = fp->fs;
    BYTE* rbuff = static_cast<BYTE*>(buff);
    if (btr > fp->objsize - fp->fptr) btr = fp->objsize - fp->fptr;
    while (btr) {
        UINT so = fp->fptr % SS;
        if (so == 0) {
            if (fp->fptr % bytes_per_clust(fs) == 0) {
                res = enter_cluster(fp, false);
                if (res != FR_OK) return fail(fp, res);
            }
            UINT csect = (fp->fptr / SS) % fs->csize;
            UINT cc = btr / SS;
            if (cc) {
                // Whole sectors go straight to the caller.
                if (csect + cc > fs->csize) cc = fs->csize - csect;
                LBA_t sect = fptr_sect(fp);
                if (disk_read(fs->pdrv, rbuff, sect, cc) != RES_OK) return fail(fp, FR_DISK_ERR);
                if (fs->wflag && fs->winsect - sect < cc)
                    std::memcpy(rbuff + (fs->winsect - sect) * SS, fs->win, SS);
                UINT n = cc * SS;
                rbuff += n;
                fp->fptr += n;
                *br += n;
                btr -= n;
                continue;
            }
        }
        res = move_window(fs, fptr_sect(fp));
        if (res != FR_OK) return fail(fp, res);
        UINT n = SS - so;
        if (n > btr) n = btr;
        std::memcpy(rbuff, fs->win + so, n);
        rbuff += n;
        fp->fptr += n;
        *br += n;
        btr -= n;
    }
    return FR_OK;
}

FRESULT f_write(FIL* fp, const void* buff, UINT btw, UINT* bw) {
    *bw = 0;
    FRESULT res = validate_file(fp);
    if (res != FR_OK) return res;
    if (!(fp->flag & FA_WRITE)) return FR_DENIED;
    FATFS* fs = fp->fs;
    const BYTE* wbuff = static_cast<const BYTE*>(buff);
    if (btw > 0xFFFFFFFF - fp->fptr) btw = 0xFFFFFFFF - fp->fptr;
    while (btw) {
        UINT so = fp->fptr % SS;
        if (so == 0) {
            if (fp->fptr % bytes_per_clust(fs) == 0) {
                res = enter_cluster(fp, true);
                if (res == FR_DENIED) break; // full: *bw tells what fitted
                if (res != FR_OK) return fail(fp, res);
            }
            UINT csect = (fp->fptr / SS) % fs->csize;
            LBA_t sect = fptr_sect(fp);
            UINT cc = btw / SS;
            if (cc) {
                if (csect + cc > fs->csize) cc = fs->csize - csect;
                if (disk_write(fs->pdrv, wbuff, sect, cc) != RES_OK) return fail(fp, FR_DISK_ERR);
                if (fs->winsect - sect < cc) { // the window must not bring back old data
                    std::memcpy(fs->win, wbuff + (fs->winsect - sect) * SS, SS);
                    fs->wflag = 0;
                }
                UINT n = cc * SS;
                wbuff += n;
                fp->fptr += n;
                *bw += n;
                btw -= n;
                if (fp->fptr > fp->objsize) fp->objsize = fp->fptr;
                fp->flag |= FA_MODIFIED;
                continue;
            }
            if (fp->fptr >= fp->objsize) {
                // Nothing of the file in this sector yet: no need to read it.
                res = sync_window(fs);
                if (res != FR_OK) return fail(fp, res);
                fs->winsect = sect;
            }
        }
        res = move_window(fs, fptr_sect(fp));
        if (res != FR_OK) return fail(fp, res);
        UINT n = SS - so;
        if (n > btw) n = btw;
        std::memcpy(fs->win + so, wbuff, n);
        fs->wflag = 1;
        wbuff += n;
        fp->fptr += n;
        *bw += n;
        btw -= n;
        if (fp->fptr > fp->objsize) fp->objsize = fp->fptr;
        fp->flag |= FA_MODIFIED;
    }
    return FR_OK;
}

FRESULT f_lseek(FIL* fp, FSIZE_t ofs) {
    FRESULT res = validate_file(fp);
    if (res != FR_OK) return res;
    FATFS* fs = fp->fs;
    bool extend = ofs > fp->objsize;
    if (extend && !(fp->flag & FA_WRITE)) {
        ofs = fp->objsize;
        extend = false;
    }
    if (ofs == 0) {
        fp->fptr = 0;
        fp->clust = 0;
        return FR_OK;
    }
    DWORD bpc = bytes_per_clust(fs);
    DWORD target = (ofs - 1) / bpc; // cluster index holding the byte before ofs
    DWORD c, idx;
    if (fp->fptr > 0 && (fp->fptr - 1) / bpc <= target) {
        c = fp->clust;
        idx = (fp->fptr - 1) / bpc;
    } else if (note_hint(fp, target, &c, &idx)) {
        // where the file ended when it was last extended: no walk
    } else {
        c = fp->sclust;
        idx = 0;
        if (c == 0) {
            if (!extend) return fail(fp, FR_INT_ERR);
            res = take_cluster(fp, 0, &c);
            if (res == FR_DENIED) return FR_OK; // full: the file stays empty
            if (res != FR_OK) return fail(fp, res);
            fp->sclust = c;
        }
    }
    while (idx < target) {
        DWORD n;
        if (extend) {
            fp->fptr = (idx + 1) * bpc; // the note records where the extension began
            fp->clust = c;
            res = take_cluster(fp, c, &n);
        } else {
            res = next_clust(fs, c, &n);
            if (res == FR_OK && n == EOC) res = FR_INT_ERR;
        }
        if (res == FR_DENIED) { // full: the file ends with what could be had
            ofs = (idx + 1) * bpc;
            res = FR_OK;
            break;
        }
        if (res != FR_OK) return fail(fp, res);
        c = n;
        idx++;
    }
    fp->fptr = ofs;
    fp->clust = c;
    if (ofs > fp->objsize) {
        fp->objsize = ofs;
        fp->flag |= FA_MODIFIED;
    }
    return res;
}

namespace {

// Brings the directory entry up to date and writes it, after the data and
// FAT sectors it depends on (moving the window writes those out first).
FRESULT commit_entry(FIL* fp) {
    FATFS* fs = fp->fs;
    DWORD tm = get_fattime();
    FRESULT res = move_window(fs, fp->dir_sect);
    if (res != FR_OK) return res;
    BYTE* e = fs->win + fp->dir_ofs;
    e[DIR_Attr] |= AM_ARC;
    st_clust(fs, e, fp->sclust);
    st32(e + DIR_FileSize, fp->objsize);
    st32(e + DIR_WrtTime, tm);
    st16(e + DIR_LstAccDate, static_cast<WORD>(tm >> 16));
    fs->wflag = 1;
    return sync_window(fs);
}

} // namespace

FRESULT f_sync(FIL* fp) {
    FRESULT res = validate_file(fp);
    if (res != FR_OK) return res;
    if (!(fp->flag & FA_MODIFIED)) return FR_OK;
    res = commit_entry(fp);
    if (res == FR_OK) res = sync_fs(fp->fs);
    if (res != FR_OK) return fail(fp, res);
    fp->flag &= static_cast<BYTE>(~FA_MODIFIED);
    note_commit(fp);
    return FR_OK;
}

FRESULT f_close(FIL* fp) {
    FRESULT res = f_sync(fp);
    if (res != FR_INVALID_OBJECT) fp->fs = nullptr; // released even after an error
    return res;
}

FRESULT f_truncate(FIL* fp) {
    FRESULT res = validate_file(fp);
    if (res != FR_OK) return res;
    if (!(fp->flag & FA_WRITE)) return FR_DENIED;
    if (fp->fptr >= fp->objsize) return FR_OK;
    FATFS* fs = fp->fs;
    DWORD rest = fp->sclust, prev = 0;
    if (fp->fptr == 0) {
        fp->sclust = 0;
    } else {
        prev = fp->clust;
        res = next_clust(fs, prev, &rest);
        if (res != FR_OK) return fail(fp, res);
        if (rest == EOC) rest = 0;
    }
    // The shorter entry is committed before the chain is cut: a cut in
    // between leaves spare clusters, never a size beyond the chain.
    if (rest) {
        res = fsi_invalidate(fs);
        if (res != FR_OK) return fail(fp, res);
    }
    fp->objsize = fp->fptr;
    fp->flag |= FA_MODIFIED;
    res = commit_entry(fp);
    if (res == FR_OK && rest) res = remove_chain(fs, rest, prev);
    if (res == FR_OK) res = sync_fs(fs);
    if (res != FR_OK) return fail(fp, res);
    fp->flag &= static_cast<BYTE>(~FA_MODIFIED);
    note_commit(fp);
    return FR_OK;
}
