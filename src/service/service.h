// The service host: registration with the service control manager, the
// running service, and the process entry that chooses between the two roles.
#pragma once

#include <cstdint>

// ---- Registration -------------------------------------------------------------
bool IsServiceInstalled();
int InstallService();    // 1 on success, 0 on failure
int UninstallService();  // 1 on success, 0 on failure

// ---- Lifecycle ------------------------------------------------------------------
void InitServiceStatus();
void ServiceMain(uint32_t argc, char** argv);
void ServiceCtrlHandler(uint32_t control);
// Returns once a ServiceMain that has begun has also finished, so the run log
// is closed and the stop event written before the process ends.
void WaitForServiceMainToFinish();

// ---- Entry point ------------------------------------------------------------------
// The whole of main: joins the arguments, takes the service name after "-n",
// runs one command word or hands over to the dispatcher. Returns 0, except
// that "/check" returns 1 for a configuration that would never download.
int RunKelvoran(int argc, char** argv);
