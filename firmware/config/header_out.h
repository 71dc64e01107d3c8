// The output of the headers and listings: each line to the console, to
// the data file, or both.
#pragma once
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "config/system.h"
#include "core/uartstdio.h"
#include "core/user_io.h"
#include "ff.h"
#include "fmt.h"
#include "storage/microsd.h"

constexpr size_t kLineSize = 256;  // as sd_fprintf and uprintf format

// The console ring is bounded and the long printouts can outrun it at 9600
// baud: each line first waits (bounded) for room.
void console_line(const char *s);
__attribute__((format(printf, 1, 2))) void con(const char *format, ...);

// One header being printed and/or appended to the data file. Each line's
// file copy goes first, then its console copy. The first failed write
// stops the file copy, so a header on the card is either whole or
// reported as failed.
class HeaderOut {
 public:
  explicit HeaderOut(bool print) : print_(print) {}

  // Opens the data file at its end for appending.
  bool open() {
    // The name comes from the stored record: never trust its terminator.
    char name[sizeof sys_data.fileName + 1];
    memcpy(name, sys_data.fileName, sizeof sys_data.fileName);
    name[sizeof sys_data.fileName] = 0;
    FRESULT res = f_open(&file_, name, FA_READ | FA_WRITE | FA_OPEN_ALWAYS);
    if (res != FR_OK) {
      uprintf("f_open error: %s\n", StringFromFresult(res));
      failed_ = true;
      return false;
    }
    opened_ = true;
    res = f_lseek(&file_, f_size(&file_));
    if (res != FR_OK) {
      uprintf("f_lseek error: %s\n", StringFromFresult(res));
      failed_ = true;
      return false;
    }
    writing_ = true;
    return true;
  }

  bool writing() const { return writing_; }

  __attribute__((format(printf, 2, 3))) void line(const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    vlines(format, format, ap);
    va_end(ap);
  }

  // A line whose console copy has its own text (same arguments).
  __attribute__((format(printf, 2, 4))) void lines(const char *file_format,
                                                   const char *console_format, ...) {
    va_list ap;
    va_start(ap, console_format);
    vlines(file_format, console_format, ap);
    va_end(ap);
  }

  void file_text(const char *s) {
    if (!writing_) return;
    if (sd_fprintf(&file_, "%s", s) != (int)strlen(s)) stop_writing();
  }

  // A line written with f_write itself, with its own failure message.
  void file_raw(const char *s, const char *error_format) {
    if (!writing_) return;
    UINT len = (UINT)strlen(s), written = 0;
    FRESULT res = f_write(&file_, s, len, &written);
    if (res != FR_OK) uprintf(error_format, StringFromFresult(res));
    if (res != FR_OK || written != len) stop_writing();
  }

  void console_text(const char *s) {
    if (print_) console_line(s);
  }

  // Sets next_gdata_fptr past the block when all of it was written.
  void mark_end_for_transfer() {
    if (writing_) sys_samp.next_gdata_fptr = (uint32_t)f_tell(&file_);
  }

  int finish() {
    if (opened_) {
      FRESULT res = f_close(&file_);
      if (res != FR_OK) {
        uprintf("f_close error: %s\n", StringFromFresult(res));
        failed_ = true;
      }
      opened_ = writing_ = false;
    }
    return failed_ ? 1 : 0;
  }

 private:
  static inline FIL file_;  // one header at a time
  void stop_writing() {
    writing_ = false;
    failed_ = true;
  }

  void vlines(const char *file_format, const char *console_format, va_list ap) {
    char text[kLineSize];
    if (writing_) {
      va_list copy;
      va_copy(copy, ap);
      fmt_vsnprintf(text, sizeof text, file_format, copy);
      va_end(copy);
      file_text(text);
    }
    if (print_) {
      fmt_vsnprintf(text, sizeof text, console_format, ap);
      console_line(text);
    }
  }

  bool print_;
  bool opened_ = false;
  bool writing_ = false;
  bool failed_ = false;
};

