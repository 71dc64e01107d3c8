// The printout of the whole configuration record and the sampling state,
// walked from the record's table.
#include "config/config.h"
#include "config/header_out.h"
#include "config/record.h"
#include "config/system.h"
#include "core/uartstdio.h"

namespace {

void list_field(const void *base, const RecordField &f) {
  char value[kLineSize / 2];
  if (f.type == FieldType::U8 && f.count > 1) {
    print_config_data_fields();  // the data-field selection, as its menu shows it
    return;
  }
  if (f.count > 1) {
    for (unsigned i = 0; i < f.count; i++) {
      format_field(value, sizeof value, base, f, i);
      con("// %s[%u] : %s\n", f.name, i, value);
    }
  } else {
    format_field(value, sizeof value, base, f);
    con("// %s: %s%s\n", f.name, value, f.unit);
  }
  if (f.flags & kListDrain) wait_consoleTx();
}

template <size_t N>
void list_fields(const void *base, const RecordField (&table)[N]) {
  const RecordField *later = nullptr;
  for (const RecordField &f : table) {
    if (!(f.flags & kListed)) continue;
    if (f.flags & kListAfter) {
      later = &f;
      continue;
    }
    list_field(base, f);
    if (later) list_field(base, *later);
    later = nullptr;
  }
}

}  // namespace

void print_sys_data_structure() {
  con("// ------ sys_data structure printed, size = %u ---- \n", (unsigned)sizeof(systemData));
  list_fields(&sys_data, kRecordFields);
  list_fields(&sys_samp, kSamplingFields);
}
