// Deployment and the command protocol of a deployed logger.
#pragma once
#include <cstdint>

// action: START begins a deployment, DEPLOYED takes one scheduled sample,
// COMMAND serves one polled-mode visit. Each ends in hibernation; it
// returns after a visit that ended in "stop".
void deploy(int action);
// Command lines until one that returns or a line time-out (seconds);
// returns 0 after "stop", 1 otherwise.
int exec_command(uint32_t timeout);
// The next scheduled wake after a sample: the previous one plus a period,
// or the first grid point after now when aligned to the hour. A pending
// wake more than a period ahead of the clock re-anchors at now, logged.
void compute_nextWakeUp();
// A console woke the deployed logger: a command visit, its sample, sleep.
void deploy_visit();
// The deployed logger restarted (no wake): counts a record that landed
// uncounted, then samples if one is due, or sleeps on its schedule.
void deploy_resume();
void state_dump();
int print_sampBuf();
// The operator's note for this deployment, with a time limit in seconds.
int enter_deployment_note(int timeout);
