// The one door to the operating system. Everything outside src/platform/
// reaches Windows through these functions, in the project's own types, so
// the core builds and runs its tests on Linux against a fake of this header.
// The Win32 backend lives in src/platform/win32/, one file per concern.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

namespace platform {

// An opaque handle (service manager, service, event source, process).
// Null means failure, as on Windows.
using Handle = void*;

// The seven fields of the platform's service status record, in its order.
struct ServiceStatus {
    uint32_t serviceType = 0;
    uint32_t currentState = 0;
    uint32_t controlsAccepted = 0;
    uint32_t win32ExitCode = 0;
    uint32_t serviceSpecificExitCode = 0;
    uint32_t checkPoint = 0;
    uint32_t waitHint = 0;
};

constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;
constexpr uint32_t kFileAttributeDirectory = 0x10u;
constexpr uint32_t kPathBufferSize = 260;  // the platform's path limit

// ---- Module and files -------------------------------------------------------

// Full path of the running executable (GetModuleFileNameA into a 260-byte
// buffer). Empty when the path does not fit.
std::string ModuleFileName();

// GetFileAttributesA; kInvalidFileAttributes when the path does not exist.
uint32_t FileAttributes(const std::string& path);

// Opens a file for reading in binary mode while letting other processes
// read, write and delete it (deny-none sharing). Null on failure. Text-mode
// line handling is done by the caller so both builds behave alike.
std::FILE* OpenSharedRead(const std::string& path);

// The path as the C++ library should open it. Windows takes it unchanged;
// elsewhere separators are translated.
std::string FileSystemPath(const std::string& path);

// DeleteFileA.
bool RemoveFile(const std::string& path);

// MoveFileExA with MOVEFILE_REPLACE_EXISTING alone.
bool MoveReplacing(const std::string& from, const std::string& to);

// ---- Event log ----------------------------------------------------------------

Handle OpenEventSource(const char* sourceName);                 // RegisterEventSourceA
bool ReportEventText(Handle source, uint16_t type, uint16_t category,
                     uint32_t eventId, const char* text);      // ReportEventA, one string
void CloseEventSource(Handle source);                           // DeregisterEventSource

// The registry entry under EventLog\Application that lets Event Viewer find
// the message table in messageFile (TypesSupported 7).
bool RegisterEventMessageFile(const std::string& sourceName, const std::string& messageFile);
bool RemoveEventMessageFile(const std::string& sourceName);

// ---- Service control manager -----------------------------------------------

using ServiceMainFunction = void (*)(uint32_t argc, char** argv);
using ControlHandlerFunction = void (*)(uint32_t control);

// StartServiceCtrlDispatcherA with the table {name, serviceMain}, {null, null}.
// Blocks while the service runs; false when the dispatcher could not start.
bool RunServiceDispatcher(char* serviceName, ServiceMainFunction serviceMain);
// RegisterServiceCtrlHandlerA; null on failure.
Handle RegisterControlHandler(const char* serviceName, ControlHandlerFunction handler);
// SetServiceStatus with the whole record.
bool ReportServiceStatus(Handle statusHandle, const ServiceStatus& status);

Handle OpenManager(uint32_t access);  // OpenSCManagerA(null, null, access)
Handle OpenServiceByName(Handle manager, const std::string& name, uint32_t access);
Handle CreateOwnProcessService(Handle manager, const char* name, const char* displayName,
                               uint32_t access, uint32_t serviceType, uint32_t startType,
                               uint32_t errorControl, const char* binaryPathName);
bool SetServiceDescription(Handle service, char* description);  // ChangeServiceConfig2A level 1
bool QueryStatus(Handle service, ServiceStatus* status);         // QueryServiceStatus
bool SendControl(Handle service, uint32_t control, ServiceStatus* status);  // ControlService
bool StartWithoutArguments(Handle service);                      // StartServiceA(s, 0, null)
bool RemoveService(Handle service);                              // DeleteService
bool CloseServiceObject(Handle handle);                          // CloseServiceHandle
// After a failed OpenServiceByName: true when the service does not exist (or
// its name is not a valid one), false for any other reason such as access.
bool LastErrorIsNoSuchService();

// ---- Program launch ---------------------------------------------------------

constexpr int kShowHidden = 0;  // SW_HIDE

// ShellExecuteA(null, "open", file, parameters, directory, show). Does not
// wait. parameters may be null. True when the platform accepted the launch.
bool ShellOpen(const std::string& file, const char* parameters,
               const std::string& directory, int show);

// ShellExecuteExA with SEE_MASK_NOCLOSEPROCESS and verb "open"; returns the
// new process's handle, or null when nothing was started.
Handle ShellOpenProcess(const std::string& file, const std::string& parameters,
                        const std::string& directory, int show);

// WaitForSingleObject(process, INFINITE), then releases the handle. Returns
// at once for a null handle.
void WaitForProcessAndClose(Handle process);

// ---- Time and threads -------------------------------------------------------

void SleepMilliseconds(uint32_t milliseconds);
int64_t CurrentTime();  // seconds since 1970-01-01 00:00:00 UTC
bool LocalTime(int64_t seconds, std::tm* out);  // calendar time in the local zone
uint32_t CurrentThreadId();
bool PostCloseMessage(uint32_t threadId);  // PostThreadMessageA(id, WM_CLOSE, 0, 0)

}  // namespace platform
