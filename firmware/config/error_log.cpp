// Time-stamped entries appended to "Error.txt" on the card, for failures
// that happen while nobody watches the console. The file is opened and
// closed for each entry, so nothing stays open across hibernation.
#include "config/error_log.h"

#include <cstring>
#include <ctime>

#include "core/main.h"
#include "core/rtc_time.h"
#include "core/user_io.h"
#include "driverlib/hibernate.h"
#include "ff.h"
#include "storage/microsd.h"

void error_store(const unsigned char *error_buff) {
  if (microSD_flg == 0) {
    uprintf("error_stor() not supported with microSD_flg=0 disabled\n");
    return;
  }
  const char *text = error_buff ? reinterpret_cast<const char *>(error_buff) : "";

  // Every step is tried and reports its own failure; a file object that
  // never opened stays invalid, so the later calls fail instead of
  // writing through stale contents.
  FIL file{};
  FRESULT res = f_open(&file, "Error.txt", FA_WRITE | FA_OPEN_ALWAYS);
  if (res != FR_OK) uprintf("Error.txt f_open error: %s\n", StringFromFresult(res));
  res = f_lseek(&file, f_size(&file));
  if (res != FR_OK) uprintf("Error.txt f_lseek error: %s\n", StringFromFresult(res));

  char stamp[50];
  struct tm now;
  rtc_to_tm(HibernateRTCGet(), &now);
  rtc_strftime(stamp, sizeof stamp, "\n%Y/%m/%d %H:%M:%S ", &now);
  // An entry goes in whole or not at all: a full card keeps the log as it was.
  FSIZE_t end = f_tell(&file);
  bool full = false;
  res = write_or_take_back(&file, end, stamp, (UINT)strlen(stamp), &full);
  if (res == FR_OK && !full) res = write_or_take_back(&file, end, text, (UINT)strlen(text), &full);
  if (res != FR_OK) uprintf("Error.txt f_write error: %s\n", StringFromFresult(res));
  if (full) uprintf("Error.txt f_write error: card full\n");

  res = f_close(&file);
  if (res != FR_OK) uprintf("Error.txt f_close error: %s\n", StringFromFresult(res));
}
