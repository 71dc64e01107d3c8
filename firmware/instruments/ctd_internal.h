// Between the CTD engine's two halves.
#pragma once

// SBE37 states 6, 7 and 8: each returns the next state (0: finished).
int ctd_sbe37_command();
int ctd_sbe37_wait_data();
int ctd_sbe37_read_line();
// After a reading from instrument `type`: the data configuration is made
// to name it (Ombrix; the Tavlo board keeps its configuration).
void ctd_check_config_type(unsigned type, const char *name);
