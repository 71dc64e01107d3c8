#include "instruments/instrument_record.h"

namespace {

bool edge(char c) { return c == '\t' || c == '\r' || c == '\n'; }

void put(char *buf, size_t size, size_t *len, char c) {
  if (*len + 1 < size) buf[(*len)++] = c;
  buf[*len < size ? *len : size - 1] = 0;
}

}  // namespace

void append_reply_columns(char *buf, size_t size, size_t *len, const char *reply,
                          size_t reply_size, int columns, bool reading) {
  if (size == 0) return;
  size_t n = 0;
  while (n < reply_size && reply[n]) n++;
  size_t from = 0;
  while (from < n && edge(reply[from])) from++;
  while (n > from && edge(reply[n - 1])) n--;
  int fields = 1;
  for (size_t i = from; i < n; i++) fields += reply[i] == '\t';
  bool split = reading && fields == columns;
  for (size_t i = from; i < n; i++) {
    char c = reply[i];
    if (c == '\t' && split) put(buf, size, len, '\t');
    else put(buf, size, len, (unsigned char)c < 0x20 || c == 0x7F ? ' ' : c);
  }
  for (int i = split ? fields - 1 : 0; i < columns; i++) put(buf, size, len, '\t');
}
