// Deployment and the command protocol of a deployed logger.
#pragma once

// action: START begins a deployment, DEPLOYED takes one scheduled sample,
// COMMAND serves one polled-mode visit.
void deploy(int action);
// One visit to command mode; returns 0 when the host sent "stop".
int exec_command(int timeout);
