// The data-record fields: which columns a record has, in what order, and
// under what names; the data-field menu; the data and metadata headers; the
// printout of the whole configuration record.
//
// "Print" is the console, "write" appends to the data file named by
// sys_data.fileName (only while microSD_flg is 1). The header functions
// return 0, or non-zero when the data file could not be opened, seeked,
// written or closed.
#pragma once
#include <cstdint>

// sys_data.data_cfg indices. The numbering is the stored record's, not the
// column order: data_fields[] below gives the order.
enum DataFieldIndex : uint8_t {
  DF_SAMPLE_NUM = 0,   // A
  DF_TIMESTAMP = 1,    // B
  DF_VTHERM = 2,       // H
  DF_VTHERM_STD = 3,   //   with H
  DF_TEMP_C = 4,       // I
  DF_VRSI = 5,         // J
  DF_VRSI_STD = 6,     //   with J
  DF_PH_INT = 7,       // K
  DF_VRSE = 8,         // L
  DF_VRSE_STD = 9,     //   with L
  DF_PH_EXT = 10,      // M
  DF_VRSI_B = 11,      // N
  DF_VRSI_B_STD = 12,  // O
  DF_VRSE_B = 13,      // P
  DF_VRSE_B_STD = 14,  // Q
  DF_VK = 15,          // R
  DF_VK_STD = 16,      //   with R
  DF_IK = 17,          // T
  DF_IB = 18,          // U
  DF_VBAT = 19,        // C
  DF_BIAS_POS = 20,    // D
  DF_BIAS_NEG = 21,    // E
  DF_BOARD_TEMP = 22,  // F
  DF_HUMIDITY = 23,    // G
  DF_OPTODE = 24,      // V: the optode's reply
  DF_CTD = 25,         // W: 0 none, 1 SBE37 MicroCAT, 2 Aanderaa 5860
};

// Values of data_cfg[DF_CTD].
constexpr uint8_t CTD_NONE = 0;
constexpr uint8_t CTD_SBE37 = 1;
constexpr uint8_t CTD_AANDERAA_5860 = 2;

// One column of the data record.
struct DataField {
  uint8_t index;       // into sys_data.data_cfg
  char letter;         // data-field menu letter; 0 for a deviation column,
                       // which is switched with the reading before it
  const char *name;    // listing text
  const char *header;  // data-header text; for DF_CTD use data_field_header()
};

constexpr int kDataFieldCount = 26;
// Every column in record order: the data header, the records and the field
// listing all walk this array. A record formatter writes, for each entry
// with field_in_record(f.index), that column's value.
extern const DataField data_fields[kDataFieldCount];

// Whether a column is in the data header and in the records: selected.
bool field_in_record(int index);
// Data-header text of a column for the current selection ("" for the CTD
// column when its type has no columns).
const char *data_field_header(const DataField &f);

// The data-field menu; returns after storing the configuration record.
void config_data_fields();
// Asks for the CTD type and sets data_cfg[DF_CTD].
void user_select_ctd();

// Field listing. printFlg: 0 none, 1 console with blank lines between the
// groups, 2 console in comment form ("// "). writeFlg: 1 appends to the
// data file, 2 asks for the comment form without writing.
int print_write_config_data_fields(int printFlg, int writeFlg);
void print_config_data_fields();

int print_write_data_header(int printFlg, int writeFlg);
int print_data_header();
int get_header();
int write_data_header();

int print_write_metadata_header(uint32_t currentTime, int printFlg, int writeFlg);
int print_metadata_header(uint32_t currentTime);
int write_metadata_header(uint32_t currentTime);
int print_all_metadata();

void print_sys_data_structure();
