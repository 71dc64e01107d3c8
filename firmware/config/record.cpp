#include "config/record.h"

#include <cstring>

#include "fmt.h"

namespace {

// A value of the image, which keeps no alignment for us.
template <typename T>
T load(const uint8_t *p) {
  T v;
  memcpy(&v, p, sizeof v);
  return v;
}

}  // namespace

int text_len(const char *s, size_t size) {
  const void *end = memchr(s, 0, size);
  return (int)(end ? static_cast<const char *>(end) - s : (ptrdiff_t)size);
}

int format_field(char *out, size_t size, const void *base, const RecordField &f, unsigned i) {
  const uint8_t *p = field_bytes(base, f, i);
  switch (f.type) {
    case FieldType::U8:
    case FieldType::Mode:
      return fmt_snprintf(out, size, "%u", (unsigned)*p);
    case FieldType::U32:
      return fmt_snprintf(out, size, "%u", (unsigned)load<uint32_t>(p));
    case FieldType::I32:
      return fmt_snprintf(out, size, "%d", (int)load<int32_t>(p));
    case FieldType::F32:
      return fmt_snprintf(out, size, "%.6f", (double)load<float>(p));
    case FieldType::F64:
      return fmt_snprintf(out, size, "%.11lf", load<double>(p));
    case FieldType::Text: {
      const char *s = reinterpret_cast<const char *>(p);
      return fmt_snprintf(out, size, "%.*s", text_len(s, f.size), s);
    }
  }
  if (size) out[0] = 0;
  return 0;
}
