// One complete sample: pump, power, instruments, sensor channels, monitors,
// equations, one record on the console and the card.
#pragma once

// The record of the last sample, NUL-terminated.
extern char prnBuf[1024];

// Takes one sample. txFlg 1 echoes the record on the console. With a low
// main battery it does not return: it warns and hibernates idle.
void fast_sample(int txFlg);

// fast_sample with the timing report, whatever the stored switch says; the
// switch stays as the operator left it.
void fast_sample_timed(int txFlg);
