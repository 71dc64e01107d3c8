// A byte ring with one producer and one consumer, shared by an interrupt
// handler and main-line code. Empty when the indices are equal; full when
// the write index is one behind the read index, so it holds Size - 1 bytes.
#pragma once
#include <cstdint>

template <uint32_t Size>
struct Ring {
  static_assert((Size & (Size - 1)) == 0, "ring sizes are powers of two");
  static constexpr uint32_t kMask = Size - 1;

  uint8_t buf[Size];
  volatile uint32_t write;
  volatile uint32_t read;

  static constexpr uint32_t next(uint32_t i) { return (i + 1) & kMask; }
  bool empty() const { return write == read; }
  bool full() const { return next(write) == read; }
  uint32_t count() const { return (write - read) & kMask; }
  uint32_t free() const { return kMask - count(); }

  // Producer side.
  bool put(uint8_t b) {
    uint32_t w = write;
    if (next(w) == read) return false;
    buf[w] = b;
    write = next(w);
    return true;
  }
  // Consumer side; the caller checked that the ring is not empty.
  uint8_t take() {
    uint32_t r = read;
    uint8_t b = buf[r];
    read = next(r);
    return b;
  }
  uint8_t peek_at(uint32_t offset) const { return buf[(read + offset) & kMask]; }
  void clear() {
    write = 0;
    read = 0;
  }
};
