// An instrument's reply in the data record: always the columns the data
// header names for it, so that every later column stays under its name.
#pragma once
#include <cstddef>

// Columns of the optode reply and of each CTD type in the data header.
constexpr int kOptodeColumns = 12;
constexpr int kSbe37Columns = 6;
constexpr int kAand5860Columns = 7;

// Appends `reply` (at most reply_size bytes, NUL-terminated or not) to
// buf at *len as `columns` tab-terminated fields. A reading with that many
// tab-separated fields (tabs, carriage returns and line feeds around it
// trimmed) gives one field each; anything else (an error text, a garbled
// or short reply, a failed exchange) goes whole into the first column with
// the rest left empty. Control bytes become blanks: a record is one line.
void append_reply_columns(char *buf, size_t size, size_t *len, const char *reply,
                          size_t reply_size, int columns, bool reading);
