// The status reply of a deployed logger.
#pragma once

// Prints the status screen: version, clock, schedule, data file, card,
// battery, stores, error log and the energy figures.
void print_status();
