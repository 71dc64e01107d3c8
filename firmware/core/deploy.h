// Deployment and the command protocol of a deployed logger.
#pragma once
#include <cstdint>

// action: START begins a deployment, DEPLOYED takes one scheduled sample,
// COMMAND serves one polled-mode visit.
void deploy(int action);
// Command lines until one that returns or a line time-out (seconds);
// returns 0 after "stop", 1 otherwise.
int exec_command(uint32_t timeout);
void compute_nextWakeUp();
void state_dump();
int print_sampBuf();
// The operator's note for this deployment, with a time limit in seconds.
int enter_deployment_note(int timeout);
