#include "platform/platform.h"
#include "platform/win32/windows_api.h"

namespace platform {

namespace {

// The portable entry points use the default calling convention; the
// dispatcher wants WINAPI ones, so these trampolines sit in between.
ServiceMainFunction g_serviceMain = nullptr;
ControlHandlerFunction g_controlHandler = nullptr;

void WINAPI ServiceMainTrampoline(DWORD argc, LPSTR* argv) { g_serviceMain(argc, argv); }
void WINAPI ControlHandlerTrampoline(DWORD control) { g_controlHandler(control); }

SC_HANDLE AsService(Handle handle) { return static_cast<SC_HANDLE>(handle); }

SERVICE_STATUS ToNative(const ServiceStatus& status) {
    SERVICE_STATUS native;
    native.dwServiceType = status.serviceType;
    native.dwCurrentState = status.currentState;
    native.dwControlsAccepted = status.controlsAccepted;
    native.dwWin32ExitCode = status.win32ExitCode;
    native.dwServiceSpecificExitCode = status.serviceSpecificExitCode;
    native.dwCheckPoint = status.checkPoint;
    native.dwWaitHint = status.waitHint;
    return native;
}

void FromNative(const SERVICE_STATUS& native, ServiceStatus* status) {
    status->serviceType = native.dwServiceType;
    status->currentState = native.dwCurrentState;
    status->controlsAccepted = native.dwControlsAccepted;
    status->win32ExitCode = native.dwWin32ExitCode;
    status->serviceSpecificExitCode = native.dwServiceSpecificExitCode;
    status->checkPoint = native.dwCheckPoint;
    status->waitHint = native.dwWaitHint;
}

}  // namespace

bool RunServiceDispatcher(char* serviceName, ServiceMainFunction serviceMain) {
    g_serviceMain = serviceMain;
    SERVICE_TABLE_ENTRYA table[2] = {{serviceName, ServiceMainTrampoline}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherA(table) != 0;
}

Handle RegisterControlHandler(const char* serviceName, ControlHandlerFunction handler) {
    g_controlHandler = handler;
    return RegisterServiceCtrlHandlerA(serviceName, ControlHandlerTrampoline);
}

bool ReportServiceStatus(Handle statusHandle, const ServiceStatus& status) {
    SERVICE_STATUS native = ToNative(status);
    return SetServiceStatus(static_cast<SERVICE_STATUS_HANDLE>(statusHandle), &native) != 0;
}

Handle OpenManager(uint32_t access) { return OpenSCManagerA(nullptr, nullptr, access); }

Handle OpenServiceByName(Handle manager, const std::string& name, uint32_t access) {
    return OpenServiceA(AsService(manager), name.c_str(), access);
}

Handle CreateOwnProcessService(Handle manager, const char* name, const char* displayName,
                               uint32_t access, uint32_t serviceType, uint32_t startType,
                               uint32_t errorControl, const char* binaryPathName) {
    return CreateServiceA(AsService(manager), name, displayName, access, serviceType, startType,
                          errorControl, binaryPathName, nullptr, nullptr, "", nullptr,
                          nullptr);
}

bool SetServiceDescription(Handle service, char* description) {
    SERVICE_DESCRIPTIONA info;
    info.lpDescription = description;
    return ChangeServiceConfig2A(AsService(service), SERVICE_CONFIG_DESCRIPTION, &info) != 0;
}

bool QueryStatus(Handle service, ServiceStatus* status) {
    SERVICE_STATUS native = {};
    if (!QueryServiceStatus(AsService(service), &native)) return false;
    FromNative(native, status);
    return true;
}

bool SendControl(Handle service, uint32_t control, ServiceStatus* status) {
    SERVICE_STATUS native = ToNative(*status);
    const bool sent = ControlService(AsService(service), control, &native) != 0;
    FromNative(native, status);
    return sent;
}

bool StartWithoutArguments(Handle service) {
    return StartServiceA(AsService(service), 0, nullptr) != 0;
}

bool RemoveService(Handle service) { return DeleteService(AsService(service)) != 0; }

bool CloseServiceObject(Handle handle) { return CloseServiceHandle(AsService(handle)) != 0; }

bool LastErrorIsNoSuchService() {
    const DWORD error = GetLastError();
    return error == ERROR_SERVICE_DOES_NOT_EXIST || error == ERROR_INVALID_NAME;
}

}  // namespace platform
