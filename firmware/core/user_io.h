// Console input and output helpers built on the console driver.
#pragma once
#include <cstdint>
#include <ctime>

extern int32_t dbg_flag;

int uprintf(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
int dbg_printf(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
int get_key();
int yesOrNoMenuChoice(const unsigned char *prompt, int default_response);
inline int yesOrNoMenuChoice(const char *prompt, int default_response) {
  return yesOrNoMenuChoice(reinterpret_cast<const unsigned char *>(prompt), default_response);
}
int kbhit();
int getchar_timed(int timeout);
int getUserInput(unsigned char *buf, int size);
int getUserInputTimeLimit(unsigned char *buf, int size, int timeLimit);
uint32_t getDateAndTime();
void print_time_t_Time(uint32_t t);
void printCurrentTime();
