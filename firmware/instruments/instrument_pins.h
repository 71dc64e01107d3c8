// Start-up state of the instrument ports: UART pins routed, supplies off.
#pragma once

void ctd_init();
void optode_init();
