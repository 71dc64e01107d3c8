// Internals shared by the FAT module's translation units.
#pragma once

#include "diskio.h"
#include "ff.h"

namespace fat {

inline constexpr UINT SS = 512;             // sector size
inline constexpr UINT DIR_ENTRY = 32;
inline constexpr UINT ENTRIES_PER_SECT = SS / DIR_ENTRY;
inline constexpr DWORD EOC = 0xFFFFFFFF;    // end of chain, whatever the FAT type
inline constexpr LBA_t NO_SECT = 0xFFFFFFFF;
inline constexpr BYTE FA_MODIFIED = 0x40;
inline constexpr BYTE FA_NOTED = 0x80;     // the note follows this object's extension
inline constexpr WORD NO_LFN = 0xFFFF;
inline constexpr BYTE DDEM = 0xE5;          // deleted entry mark

// Directory entry fields.
inline constexpr UINT DIR_Name = 0;
inline constexpr UINT DIR_Attr = 11;
inline constexpr UINT DIR_NTres = 12;
inline constexpr UINT DIR_CrtTime = 14;
inline constexpr UINT DIR_LstAccDate = 18;
inline constexpr UINT DIR_FstClusHI = 20;
inline constexpr UINT DIR_WrtTime = 22;
inline constexpr UINT DIR_FstClusLO = 26;
inline constexpr UINT DIR_FileSize = 28;

inline WORD ld16(const BYTE* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }
inline DWORD ld32(const BYTE* p) {
    return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) |
           (static_cast<DWORD>(p[2]) << 16) | (static_cast<DWORD>(p[3]) << 24);
}
inline void st16(BYTE* p, WORD v) {
    p[0] = static_cast<BYTE>(v);
    p[1] = static_cast<BYTE>(v >> 8);
}
inline void st32(BYTE* p, DWORD v) {
    st16(p, static_cast<WORD>(v));
    st16(p + 2, static_cast<WORD>(v >> 16));
}

// Volume, window and FAT (ff.cpp).
FRESULT mount_volume(const TCHAR** path, FATFS** rfs, bool write);
FRESULT validate(FATFS* fs, WORD id);
FRESULT sync_window(FATFS* fs);
FRESULT move_window(FATFS* fs, LBA_t sect);
FRESULT sync_fs(FATFS* fs);
// Call before freeing clusters or detaching them from their entry.
FRESULT fsi_invalidate(FATFS* fs);
inline LBA_t clust2sect(const FATFS* fs, DWORD c) {
    return fs->database + (c - 2) * fs->csize;
}
inline bool valid_clust(const FATFS* fs, DWORD c) { return c >= 2 && c < fs->n_fatent; }
inline DWORD bytes_per_clust(const FATFS* fs) { return static_cast<DWORD>(fs->csize) * SS; }
FRESULT get_fat(FATFS* fs, DWORD c, DWORD* val);
FRESULT put_fat(FATFS* fs, DWORD c, DWORD val);
FRESULT count_free(FATFS* fs);
// Next cluster of a chain; FR_INT_ERR if the link is not a cluster or EOC.
FRESULT next_clust(FATFS* fs, DWORD c, DWORD* next);
// Cluster following prev (prev 0: a new chain). Follows an existing link,
// otherwise allocates; zero fills the new cluster before it is linked.
// FR_DENIED when the volume is full.
FRESULT create_chain(FATFS* fs, DWORD prev, DWORD* out, bool zero);
// Frees the chain from c; if prev is not 0 it becomes the chain's end first.
FRESULT remove_chain(FATFS* fs, DWORD c, DWORD prev);

// The note beside the card (ff_note.cpp).
// At mount: loads it and, if a file's extension was cut short, repairs.
FRESULT note_mount(FATFS* fs);
// Before fp takes a cluster: whether the note follows this extension (it
// then records every cluster taken, fs->jrnl). An earlier extension of
// the same file that failed half way is put right first.
FRESULT note_begin(FIL* fp, bool* noted);
void note_alloc(FATFS* fs, DWORD c);
// After fp's entry was committed (fptr at the end: also where it ends).
void note_commit(FIL* fp);
// The cluster and its index nearest before index target that the note
// knows for fp, checked against fp's entry and the FAT; false if none.
bool note_hint(FIL* fp, DWORD target, DWORD* clust, DWORD* idx);

// Directories (ff_dir.cpp).
struct Lookup {
    DIR dj;          // directory searched; positioned on the entry when found
    BYTE sfn[11];    // last name looked up, in directory-entry form
    BYTE flags;      // LK_*
    WORD lfn_idx;    // first long-name entry of the found entry, or NO_LFN
};
inline constexpr BYTE LK_ROOT = 0x01; // the path names the root itself
inline constexpr BYTE LK_DOT = 0x02;  // last name is "." or ".."

DWORD root_clust(const FATFS* fs);
DWORD ld_clust(const FATFS* fs, const BYTE* e);
void st_clust(const FATFS* fs, BYTE* e, DWORD c);
FRESULT dir_sdi(DIR* dp, DWORD idx);
FRESULT dir_next(DIR* dp, bool stretch);
BYTE* dir_entry(DIR* dp); // the current entry in the window (valid until it moves)
// Resolves path. FR_OK: entry found (or LK_ROOT). FR_NO_FILE: only the last
// name is missing, dj is the directory that would hold it.
FRESULT follow_path(FATFS* fs, const TCHAR* path, Lookup* lk);
FRESULT dir_alloc(DIR* dp);   // finds (or makes) a free entry
FRESULT dir_remove(Lookup* lk); // deletes the found entry and its long name
bool dir_is_empty(FATFS* fs, DWORD clust, FRESULT* res);
void init_entry(BYTE* e, const BYTE* sfn, BYTE attr, DWORD tm);

} // namespace fat
