// The SD card block driver: SPI mode over SSI0, chip select on PA3. It
// implements the FAT module's disk interface (<diskio.h> of lib/fat) for
// drive 0; the firmware itself never calls it.
#pragma once

#include <diskio.h>

// The 10 ms tick of the card time-outs; called from the SysTick handler.
void disk_timerproc();
