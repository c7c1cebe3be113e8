// Globals of the service host and the helpers every subsystem shares.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace VxIO { class FileOutputStream; }

constexpr std::size_t kNameBufferSize = 256;  // each of the two name buffers

extern char g_serviceName[kNameBufferSize];   // "Kelvoran" unless "-n" names another
extern char g_displayName[kNameBufferSize];   // read only by registration
extern uint32_t g_mainThreadId;               // the thread that runs main
extern platform::ServiceStatus g_serviceStatus;
extern platform::Handle g_statusHandle;
extern std::atomic<int32_t> g_stopRequested;  // set once by the control handler
extern VxIO::FileOutputStream* g_logStream;   // the run log; null outside the service run

// Drive and directory of the running executable, ending in a backslash (or
// in whatever separator the path used last). Nothing is cached.
std::string GetExeDirectory();

// Splits a full path as GetExeDirectory does: the drive letter and colon when
// present, then everything up to and including the last '\' or '/'.
std::string DirectoryOfPath(const std::string& fullPath);

// True for an existing file; a directory of that name counts as absent.
bool FileExists(const std::string& path);

// Removes leading and trailing blanks (0x20 only).
std::string TrimBlanks(const std::string& text);
