// The watchdog behind every deployed wake: a wake that has not reached
// hibernation within its bound resets the logger, which then resumes its
// deployment. It is the last line behind the bounded waits, not one of them.
#pragma once

// Starts the guard on the first call of a wake; every call gives the wake
// a full bound again from now (a command line served, a chunk of a data
// transfer sent). The bound counts the pump time.
void wake_guard_feed();
// An operator is at the menus now: the watchdog no longer resets.
void wake_guard_release();
