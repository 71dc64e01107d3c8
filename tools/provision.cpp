#include "provision.h"

#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/record.h"

namespace {

// The sampling state's fields follow the record's.
struct Found {
  const RecordField *field;
  bool samp;
};

template <typename Fn>
void each_field(Fn fn) {
  for (const RecordField &f : kRecordFields) fn(Found{&f, false});
  for (const RecordField &f : kSamplingFields) fn(Found{&f, true});
}

bool parse_int(const char *v, long long lo, long long hi, long long *out) {
  char *end;
  errno = 0;
  long long x = strtoll(v, &end, 0);
  if (errno || end == v || *end || x < lo || x > hi) return false;
  *out = x;
  return true;
}

bool parse_double(const char *v, double *out) {
  char *end;
  errno = 0;
  double x = strtod(v, &end);
  if (errno || end == v || *end) return false;
  *out = x;
  return true;
}

// Stores `value` into the element at p of field f; false for a bad value.
bool set_value(const RecordField &f, uint8_t *p, const char *value) {
  long long iv;
  double dv;
  switch (f.type) {
    case FieldType::U8:
      if (!parse_int(value, 0, 255, &iv)) return false;
      *p = (uint8_t)iv;
      return true;
    case FieldType::Mode:
      if (!strcmp(value, "NORMAL")) iv = NORMAL;
      else if (!strcmp(value, "VERBOSE")) iv = VERBOSE;
      else if (!parse_int(value, 0, 255, &iv)) return false;
      *p = (uint8_t)iv;
      return true;
    case FieldType::U32: {
      if (!parse_int(value, 0, UINT32_MAX, &iv)) return false;
      uint32_t v = (uint32_t)iv;
      memcpy(p, &v, 4);
      return true;
    }
    case FieldType::I32: {
      if (!parse_int(value, INT32_MIN, INT32_MAX, &iv)) return false;
      int32_t v = (int32_t)iv;
      memcpy(p, &v, 4);
      return true;
    }
    case FieldType::F32: {
      if (!parse_double(value, &dv)) return false;
      float v = (float)dv;
      memcpy(p, &v, 4);
      return true;
    }
    case FieldType::F64:
      if (!parse_double(value, &dv)) return false;
      memcpy(p, &dv, 8);
      return true;
    case FieldType::Text:
      memset(p, 0, f.size);
      memcpy(p, value, strlen(value));
      return true;
  }
  return false;
}

}  // namespace

bool provision_set(systemData &d, systemSamplingData &s, const char *assignment) {
  const char *eq = strchr(assignment, '=');
  if (!eq) {
    fprintf(stderr, "phlogger-sim: --set wants FIELD=VALUE, not '%s'\n", assignment);
    return false;
  }
  char name[64];
  size_t n = (size_t)(eq - assignment);
  if (n >= sizeof name) n = sizeof name - 1;
  memcpy(name, assignment, n);
  name[n] = 0;
  const char *value = eq + 1;
  const char *bare = name;
  if (!strncmp(bare, "sys_data.", 9)) bare += 9;
  else if (!strncmp(bare, "sys_samp.", 9)) bare += 9;

  long index = -1;
  char base[64];
  snprintf(base, sizeof base, "%s", bare);
  if (char *br = strchr(base, '[')) {
    char *end;
    index = strtol(br + 1, &end, 10);
    if (*end != ']' || end[1] != 0 || index < 0) {
      fprintf(stderr, "phlogger-sim: bad index in '%s'\n", name);
      return false;
    }
    *br = 0;
  }
  Found found{};
  each_field([&](Found c) {
    if (!found.field && !strcmp(c.field->name, base)) found = c;
  });
  if (!found.field) {
    fprintf(stderr, "phlogger-sim: no field '%s' (see --list-fields)\n", name);
    return false;
  }
  const RecordField &f = *found.field;
  if ((index >= 0) != (f.count > 1) || (index >= 0 && index >= f.count)) {
    fprintf(stderr, "phlogger-sim: %s takes an index 0..%u\n", f.name, f.count - 1u);
    return false;
  }
  if (f.type == FieldType::Text && strlen(value) >= f.size) {
    fprintf(stderr, "phlogger-sim: %s holds at most %u characters\n", f.name, f.size - 1u);
    return false;
  }
  uint8_t *p = found.samp ? field_bytes(&s, f, index > 0 ? (unsigned)index : 0)
                          : field_bytes(&d, f, index > 0 ? (unsigned)index : 0);
  if (set_value(f, p, value)) return true;
  fprintf(stderr, "phlogger-sim: bad value for %s: '%s'\n", f.name, value);
  return false;
}

void provision_list_fields() {
  each_field([](Found c) {
    const RecordField &f = *c.field;
    if (f.count > 1) fprintf(stderr, "  %s[0..%u]\n", f.name, f.count - 1u);
    else fprintf(stderr, "  %s%s\n", f.name, c.samp ? "  (sampling state)" : "");
  });
}
