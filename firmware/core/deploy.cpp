#include "core/deploy.h"

#include "config/system.h"

// Deployment is not part of this build yet: a stored deployment state
// falls back to the main menu instead of acting on it.
void deploy(int action) {
  if (action != START) sys_samp.state = IDLE;
}

int exec_command(int) { return 0; }
