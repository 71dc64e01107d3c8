// The configuration record and the sampling state, field by field: name,
// place, size, type and what the firmware does with each. Every walk over
// the record (the record listing, string termination, blank defaults, the
// status reply, the simulator's provisioning) goes through these tables,
// and prompts take their lengths from them, so a resized field changes
// them all and a misplaced one stops the build.
#pragma once
#include <cstddef>
#include <cstdint>

#include "config/system.h"

enum class FieldType : uint8_t { U8, U32, I32, F32, F64, Text, Mode };

// RecordField::flags
enum : uint8_t {
  kListed = 1,      // in the record listing
  kListDrain = 2,   // the listing lets the console drain after this field
  kListAfter = 4,   // the listing prints this field after the next listed one
  kBlankDefault = 8,  // the defaults set it to one blank
};

struct RecordField {
  const char *name;
  uint16_t offset;  // in the stored image
  uint16_t size;    // bytes of one element (of the whole array for Text)
  uint8_t count;    // elements of an array field, 1 otherwise
  FieldType type;
  uint8_t flags;
  const char *unit;  // after the value in the listing, or ""
};

#define PH_FIELD(f, t, fl, unit) \
  RecordField{#f, offsetof(systemData, f), sizeof(systemData::f), 1, FieldType::t, fl, unit}
#define PH_ARRAY(f, t, fl)                                                                   \
  RecordField{#f, offsetof(systemData, f), sizeof(systemData::f[0]),                        \
              sizeof(systemData::f) / sizeof(systemData::f[0]), FieldType::t, fl, ""}
#define PH_QA(f, t)                                                                    \
  RecordField{"qa." #f, offsetof(systemData, qa) + offsetof(qaData, f), sizeof(qaData::f), 1, \
              FieldType::t, 0, ""}
#define PH_SAMP(f, t, fl)                                                                   \
  RecordField{#f, offsetof(systemSamplingData, f), sizeof(systemSamplingData::f), 1, \
              FieldType::t, fl, ""}

// In the record's order.
inline constexpr RecordField kRecordFields[] = {
    PH_FIELD(sampling_period, U32, kListed, ""),
    PH_FIELD(sample_average, U32, 0, ""),
    PH_FIELD(averaging_interval, U32, kListed, ""),
    PH_FIELD(pumpon_time, U32, kListed, ""),
    PH_FIELD(low_batt_volt, F32, kListed, ""),
    PH_FIELD(TCOffset, F32, kListed, ""),
    PH_FIELD(k0ext, F32, kListed, ""),
    PH_FIELD(k0int, F32, kListed, ""),
    PH_FIELD(k2ext, F32, kListed, ""),
    PH_FIELD(k2int, F32, kListed, ""),
    PH_FIELD(quadTherm_c0, F64, kListed, ""),
    PH_FIELD(quadTherm_c1, F64, kListed, ""),
    PH_FIELD(quadTherm_c2, F64, kListed, ""),
    PH_FIELD(quadTherm_c3, F64, kListed, ""),
    PH_FIELD(shTherm_A, F64, kListed, ""),
    PH_FIELD(shTherm_B, F64, kListed, ""),
    PH_FIELD(shTherm_C, F64, kListed, ""),
    PH_FIELD(default_sal, F32, kListed, ""),
    PH_FIELD(sensor_sal, F32, kListed | kListDrain, ""),
    PH_FIELD(Vrsi_sps, U32, kListed, ""),
    PH_FIELD(Vrsi_trials, U32, kListed, ""),
    PH_FIELD(Vrse_sps, U32, kListed, ""),
    PH_FIELD(Vrse_trials, U32, kListed, ""),
    PH_FIELD(Vtherm_sps, U32, kListed, ""),
    PH_FIELD(Vtherm_trials, U32, kListed, ""),
    PH_FIELD(Ik_sps, U32, kListed, ""),
    PH_FIELD(Ik_trials, U32, kListed, ""),
    PH_FIELD(Vk_sps, U32, kListed, ""),
    PH_FIELD(Vk_trials, U32, kListed, ""),
    PH_FIELD(Ib_sps, U32, kListed, ""),
    PH_FIELD(Ib_trials, U32, kListed, ""),
    PH_FIELD(Vb_sps, U32, kListed, ""),
    PH_FIELD(Vb_trials, U32, kListed, ""),
    PH_FIELD(Vbias_sps, U32, kListed, ""),
    PH_FIELD(Vbias_trials, U32, kListed, ""),
    PH_FIELD(offset_Ik, U32, kListed, ""),
    PH_FIELD(offset_Ib, U32, kListed, ""),
    PH_FIELD(output, Mode, kListed, ""),
    PH_FIELD(test_mode, U32, 0, ""),
    PH_FIELD(fast_mode, U32, kListed, ""),
    PH_FIELD(solenoid_on2hold_msec, U32, kListed, " msec"),
    PH_FIELD(solenoid_hold_pwm, U32, kListed, ""),
    PH_FIELD(solenoid_holdtime, U32, kListed, " sec"),
    PH_FIELD(baud_rate, U32, kListed | kListDrain, ""),
    PH_ARRAY(data_cfg, U8, kListed),  // listed as the data-field listing
    PH_ARRAY(app_cfg, U8, 0),
    PH_FIELD(GMT, U8, kListed, ""),
    PH_FIELD(sample_aligned, U8, kListed, ""),
    PH_FIELD(deploy_time, U32, kListed, ""),
    PH_FIELD(diag, U32, 0, ""),
    PH_FIELD(debug_flag, U32, 0, ""),
    PH_ARRAY(spare, F32, kListed | kListDrain),
    PH_FIELD(fileName, Text, kListed, ""),
    PH_FIELD(user, Text, kListed, ""),
    PH_FIELD(board_SN, Text, kListed | kBlankDefault, ""),
    PH_FIELD(zuze_SN, Text, kListed | kBlankDefault, ""),
    PH_FIELD(durafet_SN, Text, kListed | kBlankDefault, ""),
    PH_FIELD(package_name, Text, kListed | kBlankDefault, ""),
    PH_FIELD(optode_SN, Text, kListed | kBlankDefault, ""),
    PH_FIELD(ctd_SN, Text, kListed | kBlankDefault, ""),
    PH_FIELD(pump_SN, Text, kListed | kBlankDefault, ""),
    PH_FIELD(board_fab_note, Text, kListed | kListAfter | kBlankDefault, ""),
    PH_FIELD(deploy_note, Text, kListed | kBlankDefault, ""),
    PH_QA(microSD, U32), PH_QA(time, U32), PH_QA(test_time, U32), PH_QA(eeprom, U32),
    PH_QA(sys_data_init, U32), PH_QA(fram, U32), PH_QA(adc12onchip, U32), PH_QA(adc24, U32),
    PH_QA(Vrsi, F32), PH_QA(Vrsi_std, F32), PH_QA(Vrsi_err, F32),
    PH_QA(Vrse, F32), PH_QA(Vrse_std, F32), PH_QA(Vrse_err, F32),
    PH_QA(Vtherm, F32), PH_QA(Vtherm_std, F32), PH_QA(Vtherm_err, F32),
    PH_QA(Ik, F32), PH_QA(Ik_std, F32), PH_QA(Ik_err, F32),
    PH_QA(Vk, F32), PH_QA(Vk_std, F32), PH_QA(Vk_err, F32),
    PH_QA(Ib, F32), PH_QA(Ib_std, F32), PH_QA(Ib_err, F32),
    PH_QA(Vb, F32), PH_QA(Vb_std, F32), PH_QA(Vb_err, F32),
    PH_QA(Vbias_pos, F32), PH_QA(Vbias_neg, F32),
    PH_QA(aux_pwr1, U32), PH_QA(aux_pwr2, U32), PH_QA(aux_pwr3, U32),
    PH_QA(ctd, U32), PH_QA(optode, U32), PH_QA(comm_pwr, U32),
    PH_QA(tester, Text), PH_QA(firmware_version, Text),
};

// The sampling state, in its order; the listing shows all but initNum.
inline constexpr RecordField kSamplingFields[] = {
    PH_SAMP(state, I32, kListed),          PH_SAMP(nextWakeUp, U32, kListed),
    PH_SAMP(next_gdata_fptr, U32, kListed), PH_SAMP(current_sample, U32, kListed),
    PH_SAMP(AD24_std, F32, kListed),       PH_SAMP(initNum, U32, 0),
};

#undef PH_FIELD
#undef PH_ARRAY
#undef PH_QA
#undef PH_SAMP

namespace record_detail {

constexpr bool same(const char *a, const char *b) {
  while (*a && *a == *b) a++, b++;
  return *a == *b;
}

constexpr uint32_t bytes(const RecordField &f) { return (uint32_t)f.size * f.count; }

// The fields follow each other without overlap, leaving out no more than
// the alignment padding before each, and fill the image to its padded end.
template <size_t N>
constexpr bool tiles(const RecordField (&t)[N], uint32_t image_size, uint32_t max_gap) {
  uint32_t end = 0;
  for (const RecordField &f : t) {
    if (f.offset < end || f.offset - end > max_gap) return false;
    end = f.offset + bytes(f);
  }
  return end <= image_size && image_size - end <= max_gap;
}

}  // namespace record_detail

static_assert(record_detail::tiles(kRecordFields, sizeof(systemData), 7));
static_assert(record_detail::tiles(kSamplingFields, sizeof(systemSamplingData), 3));

// Not constexpr: reaching it while compiling stops the build.
const RecordField &no_such_record_field();

// A field of the record by name, found when compiling: a name that is not
// in the table does not build.
consteval const RecordField &record_field(const char *name) {
  for (const RecordField &f : kRecordFields)
    if (record_detail::same(f.name, name)) return f;
  return no_such_record_field();
}

// The longest text a Text field holds (its terminator takes a byte).
consteval int record_text_max(const char *name) { return record_field(name).size - 1; }

// The bytes of field f (element i of an array) in the image at base.
inline uint8_t *field_bytes(void *base, const RecordField &f, unsigned i = 0) {
  return static_cast<uint8_t *>(base) + f.offset + (size_t)i * f.size;
}
inline const uint8_t *field_bytes(const void *base, const RecordField &f, unsigned i = 0) {
  return static_cast<const uint8_t *>(base) + f.offset + (size_t)i * f.size;
}

// Formats element i of field f in the image at base: integers decimal,
// floats "%.6f", doubles "%.11f", text up to its terminator or its end.
// Returns the length written (always terminated).
int format_field(char *out, size_t size, const void *base, const RecordField &f, unsigned i = 0);

// Length of a text field's string: the stored one may lack its terminator.
int text_len(const char *s, size_t size);
