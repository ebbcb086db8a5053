// The pauses a sensor is given (after its line opens, before its queues are purged at a stop).
#pragma once

#include <functional>

// Waits `milliseconds`; with `endsWithSession`, less when the user's session ends meanwhile (SIGTERM,
// SIGHUP). False when the wait was cut short.
bool Pause(int milliseconds, bool endsWithSession = false);

// Tests watch the pauses instead of waiting them: the hook is called in place of each wait and answers as
// Pause does. An empty hook restores the real waits.
void SetPauseHook(std::function<bool(int milliseconds)> hook);
