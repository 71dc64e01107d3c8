// Support of the instrument tests of both boards: a started board with the
// instrument models back at their defaults, the exchanges run to their end,
// and a record split into the columns its data header names.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "config/config.h"
#include "fields_support.h"
#include "instruments.h"
#include "instruments/ctd_base.h"
#include "instruments/optode.h"
#include "measure/sample.h"

class InstrumentBoard : public FieldsBoard {
 protected:
  void SetUp() override {
    sim::instruments_defaults();
    FieldsBoard::SetUp();
    sys_data.diag = 1;
  }
  struct Outcome {
    int state;
    std::string buf;  // up to its NUL, never past the driver buffer
    double seconds;   // virtual
  };
  template <class Driver>
  static std::string text_of(const Driver &d) {
    return std::string(d.buf, strnlen(d.buf, sizeof d.buf));
  }
  Outcome run_ctd() {
    sim::ns_t t0 = sim::now();
    ctd_qa_test();
    return {ctd.state, text_of(ctd), (double)(sim::now() - t0) / sim::kSec};
  }
  Outcome run_optode() {
    sim::ns_t t0 = sim::now();
    optode_qa_test();
    return {optode.state, text_of(optode), (double)(sim::now() - t0) / sim::kSec};
  }
  static void set(sim::InstrumentModel &m, const char *key, const char *value) {
    ASSERT_TRUE(sim::instrument_set(m, key, value)) << key << " " << value;
  }
};

// A header or record line as its columns: the line end taken off, then split
// at every tab (the tab that ends the last field opens an empty last column,
// on both lines alike).
inline std::vector<std::string> columns_of(std::string line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  std::vector<std::string> out(1);
  for (char c : line) {
    if (c == '\t') out.emplace_back();
    else out.back() += c;
  }
  return out;
}

inline std::vector<std::string> header_columns() {
  std::string header;
  for (const DataField &f : data_fields)
    if (field_in_record(f.index)) header += data_field_header(f);
  return columns_of(header);
}

// The record's value under the header's column `name` ("<none>" if absent).
inline std::string under(const std::vector<std::string> &header,
                         const std::vector<std::string> &record, const std::string &name) {
  for (size_t i = 0; i < header.size() && i < record.size(); i++)
    if (header[i] == name) return record[i];
  return "<none>";
}
