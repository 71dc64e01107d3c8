#pragma once

// Brings the chip from reset to a known state and restores the record and
// the sampling state.
void init_TM4C123GH6PGE_144pin();
