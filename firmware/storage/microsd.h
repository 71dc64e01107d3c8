// The FAT volume on the microSD card: start-up registration, result-code
// texts, formatted and appending writes, and the file shell of the main
// menu.
#pragma once

#include "ff.h"

// Command-line processor results.
constexpr int CMDLINE_BAD_CMD = -1;
constexpr int CMDLINE_TOO_MANY_ARGS = -2;
constexpr int CMDLINE_EXIT = -5;
constexpr int CMDLINE_MAX_ARGS = 8;

using pfnCmdLine = int (*)(int argc, char *argv[]);

struct tCmdLineEntry {
  const char *pcCmd;
  pfnCmdLine pfnCmd;
  const char *pcHelp;
};

struct tFresultString {
  FRESULT fresult;
  const char *pcResultStr;
};

extern FATFS g_sFatFs;
extern DIR g_sDirObject;
extern FILINFO g_sFileInfo;
extern FIL g_sFileObject;
extern char g_cCwdBuf[80];
extern char g_cTmpBuf[80];
extern char g_cCmdBuf[64];
extern char *g_ppcArgv[CMDLINE_MAX_ARGS + 1];
extern const tCmdLineEntry g_psCmdTable[];

void Init_SDCard();
const char *StringFromFresult(FRESULT fresult);
int sd_fprintf(FIL *file, const char *format, ...) __attribute__((format(printf, 2, 3)));
void appendBufferToSDCard(const char *buffer);
// Appends one sample record to the data file, whole or not at all. Card
// errors are printed, and those that lose the record are logged; a card
// too full for the record keeps the file as it was and is reported (and
// logged, if the log still fits) once per wake.
void append_record(const char *record);
// Writes len bytes at an open file's position. A card too full for them
// takes back what fitted, and what was written since `from`, so that the
// file ends as it did at `from`; *full then says so (the result is FR_OK).
FRESULT write_or_take_back(FIL *file, FSIZE_t from, const void *data, UINT len, bool *full);
void viewFiles();
int CmdLineProcess(char *pcCmdLine);

int Cmd_help(int argc, char *argv[]);
int Cmd_ls(int argc, char *argv[]);
int Cmd_mkdir(int argc, char *argv[]);
int Cmd_cd(int argc, char *argv[]);
int Cmd_pwd(int argc, char *argv[]);
int Cmd_cat(int argc, char *argv[]);
int Cmd_rm(int argc, char *argv[]);
int Cmd_mv(int argc, char *argv[]);
int Cmd_exit(int argc, char *argv[]);
