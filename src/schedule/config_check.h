// "/check": reads downloader.conf as the service does and explains it.
#pragma once

// Prints every line and how it was read, each entry as prepared, and the
// warnings an administrator needs. Returns 0 when downloads would run, 1 when
// they never would.
int CheckConfiguration();
