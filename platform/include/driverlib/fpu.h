// Floating-point unit access and context stacking.
#pragma once

void FPUEnable(void);
void FPUDisable(void);
void FPULazyStackingEnable(void);
void FPUStackingEnable(void);
