// Provisioning of a simulated board before its first start: the
// configuration record in the EEPROM image and the sampling state in the
// FRAM image, field by field.
#pragma once

#include "config/system.h"

// Sets one field of the record or the sampling state from text:
// "sampling_period=20", "data_cfg[25]=1", "fileName=run1.txt",
// "qa.firmware_version=v3.8.6 Ombrix revB", "state=2". Reports and
// returns false for an unknown field or a bad value.
bool provision_set(systemData &d, systemSamplingData &s, const char *assignment);
// Lists the field names, for --help.
void provision_list_fields();
