// Time-stamped error entries appended to "Error.txt" on the card.
#pragma once

void error_store(const unsigned char *error_buff);
inline void error_store(const char *error_buff) {
  error_store(reinterpret_cast<const unsigned char *>(error_buff));
}
