// The FAT volume on the microSD card and the file shell. The volume module
// keeps no current directory, so the shell keeps its own and always hands
// it absolute paths.
#include "storage/microsd.h"

#include <cstdarg>
#include <cstring>

#include "config/error_log.h"
#include "config/system.h"
#include "core/board_util.h"
#include "core/main.h"
#include "core/uartstdio.h"
#include "core/user_io.h"
#include "driverlib/gpio.h"
#include "driverlib/pin_map.h"
#include "driverlib/ssi.h"
#include "driverlib/sysctl.h"
#include "fmt.h"
#include "storage/ymodem.h"
#include "inc/hw_memmap.h"

FATFS g_sFatFs;
DIR g_sDirObject;
FILINFO g_sFileInfo;
FIL g_sFileObject;
char g_cCwdBuf[80] = "/";
char g_cTmpBuf[80];
char g_cCmdBuf[64];
char *g_ppcArgv[CMDLINE_MAX_ARGS + 1];

namespace {

constexpr size_t kPathSize = sizeof g_cCwdBuf;
constexpr UINT kCatChunk = sizeof g_cTmpBuf - 1;

const tFresultString g_sFresultStrings[] = {
    {FR_OK, "FR_OK"},
    {FR_NOT_READY, "FR_NOT_READY"},
    {FR_NO_FILE, "FR_NO_FILE"},
    {FR_NO_PATH, "FR_NO_PATH"},
    {FR_INVALID_NAME, "FR_INVALID_NAME"},
    {FR_INVALID_DRIVE, "FR_INVALID_DRIVE"},
    {FR_DENIED, "FR_DENIED"},
    {FR_EXIST, "FR_EXIST"},
    {FR_WRITE_PROTECTED, "FR_WRITE_PROTECTED"},
    {FR_NOT_ENABLED, "FR_NOT_ENABLED"},
    {FR_NO_FILESYSTEM, "FR_NO_FILESYSTEM"},
    {FR_INVALID_OBJECT, "FR_INVALID_OBJECT"},
    {FR_MKFS_ABORTED, "FR_MKFS_ABORTED"},
};

// By number, so that a handler's code outside the enumeration is safe.
const char *result_text(int code) {
  for (const tFresultString &s : g_sFresultStrings)
    if ((int)s.fresult == code) return s.pcResultStr;
  return "UNKNOWN ERROR CODE";
}

bool g_card_full_reported;  // a full card is reported once per wake

// The data file's name: the EEPROM record's field is not trusted to be
// terminated.
struct DataFileName {
  char text[sizeof sys_data.fileName + 1];
  DataFileName() {
    memcpy(text, sys_data.fileName, sizeof sys_data.fileName);
    text[sizeof sys_data.fileName] = 0;
  }
};

// Opens (or creates) the data file for appending; a failure is printed,
// and logged when asked.
bool open_data_file(FIL *file, bool log) {
  DataFileName name;
  FRESULT res = f_open(file, name.text, FA_READ | FA_WRITE | FA_OPEN_ALWAYS);
  if (res == FR_OK) return true;
  uprintf("f_open error: %s\n", StringFromFresult(res));
  if (log) error_store("f_open error");
  return false;
}

bool fits(const char *name) { return strlen(g_cCwdBuf) + strlen(name) + 2 <= kPathSize; }

// <working directory>/<name> into out (kPathSize bytes); the name is
// always taken as relative.
void compose(char *out, const char *name) {
  strcpy(out, g_cCwdBuf);
  if (strcmp(g_cCwdBuf, "/") != 0) strcat(out, "/");
  strcat(out, name);
}

bool compose_checked(char *out, const char *name) {
  if (!fits(name)) {
    uprintf("Resulting path name is too long\n");
    return false;
  }
  compose(out, name);
  return true;
}

// A missing argument is answered here; the argument slots beyond argc
// still hold pointers from an earlier line.
bool has_args(int argc, int needed, const char *usage) {
  if (argc > needed) return true;
  uprintf("Usage: %s\n", usage);
  return false;
}

// mkdir and rm: one name under the working directory, one volume call.
int path_command(int argc, char *argv[], const char *usage, FRESULT (*op)(const TCHAR *)) {
  if (!has_args(argc, 1, usage)) return 0;
  if (!compose_checked(g_cTmpBuf, argv[1])) return 0;
  FRESULT res = op(g_cTmpBuf);
  if (res != FR_OK) {
    uprintf("\n");
    return res;
  }
  return 0;
}

}  // namespace

const tCmdLineEntry g_psCmdTable[] = {
    {"help", Cmd_help, "  : Display list of commands"},
    {"h", Cmd_help, "  : Alias for help"},
    {"?", Cmd_help, "  : Alias for help"},
    {"ls", Cmd_ls, "  : Display list of files"},
    {"mkdir", Cmd_mkdir, "  : Make new directory"},
    {"chdir", Cmd_cd, "  : Change directory"},
    {"cd", Cmd_cd, "  : Alias for chdir"},
    {"pwd", Cmd_pwd, "  : Display current working directory"},
    {"cat", Cmd_cat, "  : Display contents of a text file"},
    {"rm", Cmd_rm, "  : Remove a file or directory"},
    {"mv", Cmd_mv, "  : Rename or move a file or directory"},
    {"ys", ymodem_send, "  : Send file via YMODEM"},
    {"yr", ymodem_receive, "  : Receive file via YMODEM"},
    {"exit", Cmd_exit, "  : Exit the file viewer"},
    {nullptr, nullptr, nullptr},
};

const char *StringFromFresult(FRESULT fresult) { return result_text((int)fresult); }

void Init_SDCard() {
  SysCtlPeripheralEnable(SYSCTL_PERIPH_SSI0);
  SysCtlPeripheralEnable(SYSCTL_PERIPH_GPIOA);
  GPIOPinConfigure(GPIO_PA2_SSI0CLK);
  GPIOPinConfigure(GPIO_PA3_SSI0FSS);
  GPIOPinConfigure(GPIO_PA4_SSI0RX);
  GPIOPinConfigure(GPIO_PA5_SSI0TX);
  GPIOPinTypeSSI(GPIO_PORTA_BASE, GPIO_PIN_2 | GPIO_PIN_3 | GPIO_PIN_4 | GPIO_PIN_5);
  SSIConfigSetExpClk(SSI0_BASE, SysCtlClockGet(), SSI_FRF_MOTO_MODE_0, SSI_MODE_MASTER, 1000000, 8);
  SSIEnable(SSI0_BASE);
  // The receive FIFO holds at most eight frames.
  uint32_t junk;
  for (int i = 0; i < 16 && SSIDataGetNonBlocking(SSI0_BASE, &junk); i++) {
  }
  // Deferred: the card is initialised at the first file access.
  FRESULT res = f_mount(&g_sFatFs, "", 0);
  if (res != FR_OK) uprintf("f_mount error: %s\n", StringFromFresult(res));
}

int sd_fprintf(FIL *file, const char *format, ...) {
  char buf[256];
  va_list ap;
  va_start(ap, format);
  fmt_vsnprintf(buf, sizeof buf, format, ap);
  va_end(ap);
  UINT written = 0;
  UINT len = (UINT)strlen(buf);
  FRESULT res = f_write(file, buf, len, &written);
  if (res != FR_OK) uprintf("f_write error: %s\n", StringFromFresult(res));
  else if (written < len) uprintf("f_write error: card full\n");
  return (int)written;
}

void appendBufferToSDCard(const char *buffer) {
  FIL file{};
  if (!open_data_file(&file, false)) return;
  delay_msec(500);
  FRESULT res = f_lseek(&file, f_size(&file));
  if (res != FR_OK) uprintf("f_lseek error: %s\n", StringFromFresult(res));
  UINT written = 0;
  res = f_write(&file, buffer, (UINT)strlen(buffer), &written);
  if (res != FR_OK) uprintf("f_write error: %s\n", StringFromFresult(res));
  res = f_close(&file);
  if (res != FR_OK) uprintf("f_close error: %s\n", StringFromFresult(res));
}

FRESULT write_or_take_back(FIL *file, FSIZE_t from, const void *data, UINT len, bool *full) {
  UINT written = 0;
  *full = false;
  FRESULT res = f_write(file, data, len, &written);
  if (res != FR_OK || written == len) return res;
  *full = true;
  if (f_tell(file) != from && f_lseek(file, from) == FR_OK) f_truncate(file);
  return FR_OK;
}

void append_record(const char *record) {
  FIL file{};
  if (!open_data_file(&file, true)) return;
  bool full = false;
  FRESULT res = f_lseek(&file, f_size(&file));
  if (res != FR_OK) {
    uprintf("f_lseek error: %s\n", StringFromFresult(res));
    error_store("f_lseek error");
  } else {
    res = write_or_take_back(&file, f_tell(&file), record, (UINT)strlen(record), &full);
    if (res != FR_OK) uprintf("f_write error: %s\n", StringFromFresult(res));
  }
  res = f_close(&file);
  if (res != FR_OK) {
    uprintf("f_close error: %s\n", StringFromFresult(res));
    error_store("f_close error");
  }
  if (full && !g_card_full_reported) {
    g_card_full_reported = true;
    uprintf("uSD card full: record not stored\n");
    error_store("uSD card full: record not stored");
  }
}

int CmdLineProcess(char *pcCmdLine) {
  int argc = 0;
  bool find_arg = true;
  for (char *p = pcCmdLine; *p; p++) {
    if (*p == ' ') {
      *p = 0;
      find_arg = true;
    } else if (find_arg) {
      if (argc == CMDLINE_MAX_ARGS) return CMDLINE_TOO_MANY_ARGS;
      g_ppcArgv[argc++] = p;
      find_arg = false;
    }
  }
  if (argc == 0) return CMDLINE_BAD_CMD;
  g_ppcArgv[argc] = nullptr;
  for (const tCmdLineEntry *e = g_psCmdTable; e->pcCmd; e++)
    if (strcmp(g_ppcArgv[0], e->pcCmd) == 0) return e->pfnCmd(argc, g_ppcArgv);
  return CMDLINE_BAD_CMD;
}

void viewFiles() {
  if (microSD_flg == 0) {
    uprintf("\nMicro SD card disabled, file commands not available\n\n");
    return;
  }
  uprintf("\n\nUnix-like command line. Type 'help' for list of commands\n");
  for (;;) {
    uprintf("\n%s> ", g_cCwdBuf);
    getUserInput(reinterpret_cast<unsigned char *>(g_cCmdBuf), sizeof g_cCmdBuf);
    int res = CmdLineProcess(g_cCmdBuf);
    if (res == CMDLINE_BAD_CMD) uprintf("Bad command!\n");
    else if (res == CMDLINE_TOO_MANY_ARGS) uprintf("Too many arguments for command processor!\n");
    else if (res == CMDLINE_EXIT) return;
    else if (res != 0) uprintf("Command returned error code %s\n", result_text(res & 0xFF));
  }
}

int Cmd_help(int, char *[]) {
  uprintf("\nAvailable commands\n");
  uprintf("------------------\n");
  for (const tCmdLineEntry *e = g_psCmdTable; e->pcCmd; e++) {
    uprintf("%s%s\n", e->pcCmd, e->pcHelp);
  }
  return 0;
}

int Cmd_ls(int, char *[]) {
  FRESULT res = f_opendir(&g_sDirObject, g_cCwdBuf);
  if (res != FR_OK) return res;
  unsigned files = 0, dirs = 0;
  uprintf("\n");
  for (;;) {
    res = f_readdir(&g_sDirObject, &g_sFileInfo);
    if (res != FR_OK) return res;
    if (!g_sFileInfo.fname[0]) break;
    const FILINFO &fi = g_sFileInfo;
    if (fi.fattrib & AM_DIR) dirs++;
    else files++;
    uprintf("%c%c%c%c%c %u/%02u/%02u %02u:%02u %9u  %s\n", (fi.fattrib & AM_DIR) ? 'D' : '-',
            (fi.fattrib & AM_RDO) ? 'R' : '-', (fi.fattrib & AM_HID) ? 'H' : '-',
            (fi.fattrib & AM_SYS) ? 'S' : '-', (fi.fattrib & AM_ARC) ? 'A' : '-',
            (unsigned)((fi.fdate >> 9) + 1980), (unsigned)((fi.fdate >> 5) & 15),
            (unsigned)(fi.fdate & 31), (unsigned)(fi.ftime >> 11), (unsigned)((fi.ftime >> 5) & 63),
            (unsigned)fi.fsize, fi.fname);
  }
  uprintf("\n%4u File(s)\n%4u Dir(s)", files, dirs);
  DWORD free_clusters = 0;
  FATFS *fs = nullptr;
  res = f_getfree("/", &free_clusters, &fs);
  if (res != FR_OK) {
    uprintf("\n\nf_getfree error! ");
    return res;
  }
  uprintf("\n%10uK bytes free\n", (unsigned)(free_clusters * fs->csize / 2));
  return 0;
}

int Cmd_mkdir(int argc, char *argv[]) {
  return path_command(argc, argv, "mkdir <directory>", f_mkdir);
}

int Cmd_cd(int argc, char *argv[]) {
  if (!has_args(argc, 1, "cd <directory>")) return 0;
  const char *arg = argv[1];
  strcpy(g_cTmpBuf, g_cCwdBuf);
  if (arg[0] == '/') {
    if (strlen(arg) + 1 > sizeof g_cTmpBuf) {
      uprintf("Resulting path name is too long\n");
      return 0;
    }
    strcpy(g_cTmpBuf, arg);
  } else if (strcmp(arg, "..") == 0) {
    // Up one level: /a/b gives /a, /a gives /, and / the empty path (the
    // root too). The empty path stays empty.
    size_t i = strlen(g_cTmpBuf);
    if (i > 0) {
      i--;
      while (g_cTmpBuf[i] != '/' && i > 1) i--;
      g_cTmpBuf[i] = 0;
    }
  } else {
    if (!compose_checked(g_cTmpBuf, arg)) return 0;
  }
  FRESULT res = f_opendir(&g_sDirObject, g_cTmpBuf);
  if (res != FR_OK) {
    uprintf("cd: %s\n", g_cTmpBuf);
    return res;
  }
  strncpy(g_cCwdBuf, g_cTmpBuf, sizeof g_cCwdBuf);
  return 0;
}

int Cmd_pwd(int, char *[]) {
  uprintf("%s\n", g_cCwdBuf);
  return 0;
}

int Cmd_cat(int argc, char *argv[]) {
  if (!has_args(argc, 1, "cat <file>")) return 0;
  if (!compose_checked(g_cTmpBuf, argv[1])) return 0;
  FRESULT res = f_open(&g_sFileObject, g_cTmpBuf, FA_READ);
  if (res != FR_OK) return res;
  UINT got;
  do {
    res = f_read(&g_sFileObject, g_cTmpBuf, kCatChunk, &got);
    if (res != FR_OK) {
      f_close(&g_sFileObject);
      uprintf("\n");
      return res;
    }
    g_cTmpBuf[got] = 0;
    uprintf("%s", g_cTmpBuf);
    // A key stops the listing; it is not meant as input.
    if (UARTRxBytesAvail()) {
      UARTFlushRx();
      break;
    }
  } while (got == kCatChunk);
  f_close(&g_sFileObject);
  return 0;
}

int Cmd_rm(int argc, char *argv[]) { return path_command(argc, argv, "rm <name>", f_unlink); }

int Cmd_mv(int argc, char *argv[]) {
  if (!has_args(argc, 2, "mv <old name> <new name>")) return 0;
  if (!fits(argv[1]) || !fits(argv[2])) {
    uprintf("Resulting path name is too long\n");
    return 0;
  }
  char from[kPathSize], to[kPathSize];
  compose(from, argv[1]);
  compose(to, argv[2]);
  FRESULT res = f_rename(from, to);
  if (res != FR_OK) {
    uprintf("\n");
    return res;
  }
  return 0;
}

int Cmd_exit(int, char *[]) { return CMDLINE_EXIT; }
