// The storage driver's share of the 10 ms tick.
#pragma once

void tick_10ms();

// Mounts the card at start-up (a no-op until the card driver is built in).
void Init_SDCard();
