// The note beside the card: the state of a file being extended, so that the
// next mount after a power cut can put the volume right again, and where
// the file last extended ends, so that appending to a long file does not
// walk its whole chain.
//
// An extension takes clusters one at a time: the new cluster is marked as
// the end of a chain, then linked from the previous end, and the directory
// entry gets the new size when the file is committed. A cut in between
// leaves a chain longer than the size, or a marked cluster nothing points
// at, or one FAT copy a sector ahead of the other, and on FAT32 an unknown
// free count. The note is written before each cluster is taken (before its
// FAT entry can reach the disk) and cleared once the entry is committed;
// the volume's sector window holds one sector, so at any moment at most
// the latest cluster taken can be marked but not linked on the disk.
#include <cstddef>
#include <initializer_list>

#include "ff_impl.h"

namespace fat {
namespace {

constexpr DWORD NOTE_MAGIC = 0x4E544146; // "FATN"
constexpr DWORD FREE_UNKNOWN = 0xFFFFFFFF;

DWORD note_check(const FATNOTE& n) {
    const BYTE* p = reinterpret_cast<const BYTE*>(&n);
    DWORD h = 2166136261u;
    for (UINT i = 0; i < offsetof(FATNOTE, check); i++) h = (h ^ p[i]) * 16777619u;
    return h;
}

void note_store(FATFS* fs) {
    fs->note.magic = NOTE_MAGIC;
    fs->note.vol = fs->vol_id;
    fs->note.check = note_check(fs->note);
    fs->note_ok = 1;
    disk_note_write(fs->pdrv, reinterpret_cast<const BYTE*>(&fs->note), sizeof fs->note);
}

// The note describes fp as it stands, with the cluster of its position
// (the one before it, on a cluster boundary) when at_clust.
void note_file(const FIL* fp, WORD busy, bool at_clust) {
    FATNOTE& n = fp->fs->note;
    n.dir_sect = fp->dir_sect;
    n.dir_ofs = fp->dir_ofs;
    n.busy = busy;
    n.sclust = fp->sclust;
    n.size = fp->objsize;
    n.last = at_clust ? fp->clust : 0;
    n.lidx = at_clust ? (fp->fptr - 1) / bytes_per_clust(fp->fs) : 0;
    n.free = fp->fs->free_clst;
    n.first = n.alloc = 0;
}

bool same_file(const FATFS* fs, const FIL* fp) {
    return fs->note_ok && fs->note.dir_sect == fp->dir_sect && fs->note.dir_ofs == fp->dir_ofs;
}

// Frees a chain from c that a cut may have left half freed: it stops at a
// free entry as at the end.
FRESULT free_rest(FATFS* fs, DWORD c) {
    for (DWORD guard = fs->n_fatent; valid_clust(fs, c) && guard; guard--) {
        DWORD next;
        FRESULT res = get_fat(fs, c, &next);
        if (res == FR_OK && next != 0) res = put_fat(fs, c, 0);
        if (res != FR_OK || next == 0) return res;
        c = next;
    }
    return FR_OK;
}

// Writes the FAT sector(s) holding c's entry to every copy, as the first
// copy holds them.
FRESULT mirror_entry(FATFS* fs, DWORD c) {
    if (!valid_clust(fs, c)) return FR_OK;
    DWORD off = fs->fs_type == FS_FAT12 ? c + c / 2 : c * (fs->fs_type == FS_FAT16 ? 2 : 4);
    for (DWORD s = off / SS; s <= (off + 1) / SS; s++) { // a FAT12 entry may straddle two
        FRESULT res = move_window(fs, fs->fatbase + s);
        if (res != FR_OK) return res;
        fs->wflag = 1;
        res = sync_window(fs);
        if (res != FR_OK) return res;
    }
    return FR_OK;
}

// The noted file's extension was cut short: keep its chain as far as the
// committed entry needs it and free the rest, free the cluster that was
// being taken, make the FAT copies agree where the extension wrote, and
// count the free clusters again.
FRESULT repair(FATFS* fs) {
    FATNOTE& n = fs->note;
    FRESULT res = move_window(fs, n.dir_sect);
    if (res != FR_OK) return res;
    BYTE* e = fs->win + n.dir_ofs;
    DWORD c0 = ld_clust(fs, e), size = ld32(e + DIR_FileSize);
    bool entry_ok = n.dir_ofs < SS && e[0] != 0 && e[0] != DDEM && !(e[DIR_Attr] & (AM_DIR | AM_VOL)) &&
                    (c0 == n.sclust || (n.sclust == 0 && (c0 == 0 || c0 == n.first)));
    DWORD bpc = bytes_per_clust(fs), kept_new = 0, end = 0;
    bool alloc_kept = false;
    bool exact = entry_ok && !n.last && !n.sclust; // a new file: all its clusters are the extension's
    if (entry_ok && size == 0) {
        if (c0) { // an entry with clusters and no size: none of them hold data
            st_clust(fs, e, 0);
            fs->wflag = 1;
            res = sync_window(fs);
            if (res == FR_OK) res = free_rest(fs, c0);
        } else if (n.first) {
            res = free_rest(fs, n.first);
        }
    } else if (entry_ok) {
        DWORD target = (size - 1) / bpc, c = c0, idx = 0;
        bool from_note = n.last && n.lidx <= target;
        if (from_note) {
            c = n.last;
            idx = n.lidx;
        }
        // What the extension added is counted from where it began.
        exact = from_note || (!n.last && !n.sclust);
        bool is_new = !n.last;
        for (;;) {
            if (is_new) kept_new++;
            if (c == n.alloc) alloc_kept = true;
            if (idx == target) break;
            DWORD next;
            res = get_fat(fs, c, &next);
            if (res != FR_OK || next == EOC || !valid_clust(fs, next)) break; // short: keep what there is
            c = next;
            idx++;
            if (from_note) is_new = true;
        }
        end = c;
        DWORD next = EOC;
        if (res == FR_OK) res = get_fat(fs, end, &next);
        if (res == FR_OK && next != EOC) {
            res = put_fat(fs, end, EOC);
            if (res == FR_OK && valid_clust(fs, next)) res = free_rest(fs, next);
        }
    }
    if (res == FR_OK && entry_ok && n.alloc && !alloc_kept) {
        DWORD v;
        res = get_fat(fs, n.alloc, &v);
        if (res == FR_OK && v != 0) res = put_fat(fs, n.alloc, 0);
    }
    for (DWORD c : {n.last, end, n.first, n.alloc})
        if (res == FR_OK) res = mirror_entry(fs, c);
    if (res != FR_OK) return res;
    if (fs->fs_type == FS_FAT32) {
        if (exact && n.free != FREE_UNKNOWN && n.free >= kept_new) {
            fs->free_clst = n.free - kept_new;
        } else {
            res = count_free(fs);
            if (res != FR_OK) return res;
        }
        res = fsi_invalidate(fs); // marks the count to be written
        if (res == FR_OK) res = sync_fs(fs);
        if (res != FR_OK) return res;
    } else {
        res = sync_fs(fs);
        if (res != FR_OK) return res;
    }
    // Repaired: what stays is the committed file, without a hint.
    n.busy = 0;
    n.sclust = entry_ok ? ld_clust(fs, e) : 0;
    n.size = entry_ok ? size : 0;
    n.last = end;
    n.lidx = end && size ? (size - 1) / bpc : 0;
    n.first = n.alloc = 0;
    n.free = fs->free_clst;
    if (!entry_ok) n.dir_sect = 0;
    // The entry in the window may be gone after the FAT work; read it again.
    if (entry_ok) {
        res = move_window(fs, n.dir_sect);
        if (res != FR_OK) return res;
        e = fs->win + n.dir_ofs;
        n.sclust = ld_clust(fs, e);
    }
    note_store(fs);
    return FR_OK;
}

} // namespace

FRESULT note_mount(FATFS* fs) {
    fs->note_ok = 0;
    fs->jrnl = 0;
    FATNOTE& n = fs->note;
    if (!disk_note_read(fs->pdrv, reinterpret_cast<BYTE*>(&n), sizeof n)) return FR_OK;
    if (n.magic != NOTE_MAGIC || n.check != note_check(n) || n.vol != fs->vol_id) return FR_OK;
    fs->note_ok = 1;
    return n.busy ? repair(fs) : FR_OK;
}

FRESULT note_begin(FIL* fp, bool* noted) {
    FATFS* fs = fp->fs;
    *noted = false;
    if (same_file(fs, fp) && fs->note.busy) {
        if (fp->flag & FA_NOTED) {
            *noted = true;
            return FR_OK;
        }
        // An earlier extension of the file failed half way: put it right
        // before this one begins.
        FRESULT res = repair(fs);
        if (res != FR_OK) return res;
    }
    // Another file's extension still under way keeps the note.
    if (fs->note_ok && fs->note.busy) return FR_OK;
    note_file(fp, 1, fp->fptr != 0);
    fs->note_ok = 1;
    fp->flag |= FA_NOTED;
    *noted = true;
    return FR_OK;
}

void note_alloc(FATFS* fs, DWORD c) {
    if (!fs->note.first) fs->note.first = c;
    fs->note.alloc = c;
    note_store(fs);
}

void note_commit(FIL* fp) {
    FATFS* fs = fp->fs;
    bool mine = same_file(fs, fp) && fs->note.busy;
    bool at_end = fp->fptr == fp->objsize && fp->objsize && fp->clust;
    if (!mine && !(at_end && (!fs->note_ok || !fs->note.busy))) return;
    note_file(fp, 0, at_end);
    note_store(fs);
}

bool note_hint(FIL* fp, DWORD target, DWORD* clust, DWORD* idx) {
    FATFS* fs = fp->fs;
    const FATNOTE& n = fs->note;
    if (!same_file(fs, fp) || !n.last || n.sclust != fp->sclust || n.lidx > target || !valid_clust(fs, n.last))
        return false;
    // While fp is being extended the note holds where it began, on its chain.
    // Otherwise the note must match the entry, and its last cluster must
    // still end the chain.
    if (!n.busy) {
        DWORD v;
        if (n.size != fp->objsize || n.lidx != (fp->objsize - 1) / bytes_per_clust(fs) ||
            get_fat(fs, n.last, &v) != FR_OK || v != EOC)
            return false;
    }
    *clust = n.last;
    *idx = n.lidx;
    return true;
}

} // namespace fat
