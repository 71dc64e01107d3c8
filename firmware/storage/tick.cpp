#include "storage/tick.h"

// The SD card driver's time-outs run here once it is part of the build.
void tick_10ms() {}

void Init_SDCard() {}
