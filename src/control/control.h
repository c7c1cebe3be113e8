// Service control actions: the wrapped software's start and stop scripts, and
// the restart of a named Windows service.
#pragma once

#include <string>

// Launch the script beside the executable without waiting; false when it is
// not there. Nothing is reported.
bool RunStartWrapper();
bool RunStopWrapper();
// Stop script, then start script; always true.
bool RestartWrapper();

// Starts a stopped service; otherwise stops it, waits up to 120 one-second
// checks for it to stop, and starts it again. Reports each step.
void RestartService(std::string serviceName);
