#include "fake_platform.h"

#include <sys/stat.h>

#include <cstdio>
#include <deque>
#include <filesystem>
#include <sstream>

namespace fake {

namespace {

State g_state;

// Handles are addresses of records that live until Reset.
struct HandleRecord {
    enum Kind { Manager, ServiceObject, EventSource, Process, StatusHandle } kind;
    std::string name;
};
std::deque<HandleRecord> g_handles;

platform::Handle NewHandle(HandleRecord::Kind kind, const std::string& name = std::string()) {
    g_handles.push_back({kind, name});
    ++g_state.openHandles;
    return &g_handles.back();
}

HandleRecord* Record(platform::Handle handle) { return static_cast<HandleRecord*>(handle); }

std::string Hex(uint32_t value) {
    std::ostringstream text;
    text << "0x" << std::hex << value;
    return text.str();
}

Service* FindService(platform::Handle handle) {
    if (handle == nullptr) return nullptr;
    auto found = g_state.services.find(Record(handle)->name);
    return found == g_state.services.end() ? nullptr : &found->second;
}

}  // namespace

State& Get() { return g_state; }

void Reset() {
    g_state = State();
    g_handles.clear();
}

int64_t Now() {
    return g_state.clockStart + static_cast<int64_t>(g_state.sleptMilliseconds / 1000);
}

std::string HostPath(const std::string& path) {
    std::string mapped = path;
    for (char& c : mapped) {
        if (c == '\\') c = '/';
    }
    return mapped;
}

}  // namespace fake

namespace platform {

using fake::g_state;

std::string ModuleFileName() { return g_state.modulePath; }

uint32_t FileAttributes(const std::string& path) {
    struct stat info;
    if (stat(fake::HostPath(path).c_str(), &info) != 0) return kInvalidFileAttributes;
    return S_ISDIR(info.st_mode) ? kFileAttributeDirectory : 0x20u;
}

std::FILE* OpenSharedRead(const std::string& path) {
    return std::fopen(fake::HostPath(path).c_str(), "rb");
}

std::string FileSystemPath(const std::string& path) { return fake::HostPath(path); }

bool RemoveFile(const std::string& path) {
    g_state.removedFiles.push_back(path);
    return std::remove(fake::HostPath(path).c_str()) == 0;
}

bool MoveReplacing(const std::string& from, const std::string& to) {
    if (g_state.refuseMoves) return false;
    std::error_code error;
    std::filesystem::rename(fake::HostPath(from), fake::HostPath(to), error);
    return !error;
}

Handle OpenEventSource(const char* sourceName) {
    if (g_state.eventSourceFails) return nullptr;
    return fake::NewHandle(fake::HandleRecord::EventSource, sourceName);
}

bool ReportEventText(Handle source, uint16_t type, uint16_t category, uint32_t eventId,
                     const char* text) {
    g_state.events.push_back({fake::Record(source)->name, type, category, eventId, text});
    return true;
}

void CloseEventSource(Handle) { --g_state.openHandles; }

bool RegisterEventMessageFile(const std::string& sourceName, const std::string& messageFile) {
    if (g_state.eventRegistrationFails) return false;
    g_state.eventMessageFiles[sourceName] = messageFile;
    return true;
}

bool RemoveEventMessageFile(const std::string& sourceName) {
    return g_state.eventMessageFiles.erase(sourceName) != 0;
}

bool RunServiceDispatcher(char* serviceName, ServiceMainFunction serviceMain) {
    ++g_state.dispatcherCalls;
    g_state.dispatcherName = serviceName;
    return g_state.dispatcher ? g_state.dispatcher(serviceName, serviceMain) : false;
}

Handle RegisterControlHandler(const char* serviceName, ControlHandlerFunction handler) {
    g_state.registeredHandlerName = serviceName;
    if (g_state.registerHandlerFails) return nullptr;
    g_state.controlHandler = handler;
    return fake::NewHandle(fake::HandleRecord::StatusHandle, serviceName);
}

bool ReportServiceStatus(Handle, const ServiceStatus& status) {
    g_state.reportedStatuses.push_back(status);
    return true;
}

Handle OpenManager(uint32_t access) {
    g_state.scmCalls.push_back("OpenSCManager " + fake::Hex(access));
    if (g_state.managerRefused) return nullptr;
    return fake::NewHandle(fake::HandleRecord::Manager);
}

Handle OpenServiceByName(Handle manager, const std::string& name, uint32_t access) {
    g_state.scmCalls.push_back("OpenService " + name + " " + fake::Hex(access));
    g_state.lastOpenWasNoSuchService = false;
    if (manager == nullptr) return nullptr;
    auto found = g_state.services.find(name);
    if (found == g_state.services.end()) {
        g_state.lastOpenWasNoSuchService = true;
        return nullptr;
    }
    if (found->second.accessDenied) return nullptr;
    return fake::NewHandle(fake::HandleRecord::ServiceObject, name);
}

Handle CreateOwnProcessService(Handle manager, const char* name, const char* displayName,
                               uint32_t access, uint32_t serviceType, uint32_t startType,
                               uint32_t errorControl, const char* binaryPathName) {
    g_state.scmCalls.push_back(std::string("CreateService ") + name + " " + fake::Hex(access));
    if (manager == nullptr || g_state.createFails || g_state.services.count(name) != 0) {
        return nullptr;
    }
    fake::Service& service = g_state.services[name];
    service.displayName = displayName;
    service.binaryPathName = binaryPathName;
    service.serviceType = serviceType;
    service.startType = startType;
    service.errorControl = errorControl;
    return fake::NewHandle(fake::HandleRecord::ServiceObject, name);
}

bool SetServiceDescription(Handle service, char* description) {
    fake::Service* found = fake::FindService(service);
    if (found == nullptr) return false;
    found->description = description;
    return true;
}

bool QueryStatus(Handle service, ServiceStatus* status) {
    fake::Service* found = fake::FindService(service);
    g_state.scmCalls.push_back("QueryServiceStatus " +
                               (service ? fake::Record(service)->name : std::string("(null)")));
    if (found == nullptr || found->queryRefused) return false;
    if (found->stopCountdown > 0 && --found->stopCountdown == 0) found->state = 1;
    status->currentState = found->state;
    return true;
}

bool SendControl(Handle service, uint32_t control, ServiceStatus* status) {
    g_state.scmCalls.push_back("ControlService " +
                               (service ? fake::Record(service)->name : std::string("(null)")) +
                               " " + std::to_string(control));
    fake::Service* found = fake::FindService(service);
    if (found == nullptr) return false;
    if (found->deleteOnStop) {
        g_state.services.erase(fake::Record(service)->name);
        return true;
    }
    if (found->ignoresStop) return true;
    if (found->checksUntilStopped <= 0) {
        found->state = 1;
    } else {
        found->state = 3;  // SERVICE_STOP_PENDING
        found->stopCountdown = found->checksUntilStopped;
    }
    status->currentState = found->state;
    return true;
}

bool StartWithoutArguments(Handle service) {
    g_state.scmCalls.push_back("StartService " +
                               (service ? fake::Record(service)->name : std::string("(null)")));
    fake::Service* found = fake::FindService(service);
    if (found == nullptr) return false;
    found->state = 4;
    return true;
}

bool RemoveService(Handle service) {
    g_state.scmCalls.push_back("DeleteService " + fake::Record(service)->name);
    fake::Service* found = fake::FindService(service);
    if (found == nullptr || found->deleteFails) return false;
    g_state.services.erase(fake::Record(service)->name);
    return true;
}

bool CloseServiceObject(Handle handle) {
    g_state.scmCalls.push_back("CloseServiceHandle " +
                               (handle ? (fake::Record(handle)->kind == fake::HandleRecord::Manager
                                              ? std::string("manager")
                                              : fake::Record(handle)->name)
                                       : std::string("(null)")));
    if (handle == nullptr) return false;
    --g_state.openHandles;
    return true;
}

bool LastErrorIsNoSuchService() { return g_state.lastOpenWasNoSuchService; }

bool ShellOpen(const std::string& file, const char* parameters, const std::string& directory,
               int show) {
    fake::Launch launch{file, parameters ? std::optional<std::string>(parameters) : std::nullopt,
                        directory, show, false};
    g_state.launches.push_back(launch);
    if (g_state.onShellOpen) g_state.onShellOpen(launch);
    return true;
}

Handle ShellOpenProcess(const std::string& file, const std::string& parameters,
                        const std::string& directory, int show) {
    g_state.launches.push_back({file, parameters, directory, show, false});
    const bool started = !g_state.onProcess || g_state.onProcess(g_state.launches.back());
    if (!started) return nullptr;
    return fake::NewHandle(fake::HandleRecord::Process, std::to_string(g_state.launches.size() - 1));
}

void WaitForProcessAndClose(Handle process) {
    if (process == nullptr) return;
    g_state.launches.at(std::stoul(fake::Record(process)->name)).waitedFor = true;
    --g_state.openHandles;
}

void SleepMilliseconds(uint32_t milliseconds) {
    g_state.sleeps.push_back(milliseconds);
    g_state.sleptMilliseconds += milliseconds;
    if (g_state.onSleep) g_state.onSleep();
}

int64_t CurrentTime() { return fake::Now(); }

bool LocalTime(int64_t seconds, std::tm* out) {
    // UTC stands in for the local zone so expectations do not depend on TZ.
    const std::time_t value = static_cast<std::time_t>(seconds);
    const std::tm* converted = std::gmtime(&value);
    if (converted == nullptr) return false;
    *out = *converted;
    return true;
}

uint32_t CurrentThreadId() { return 42; }

bool PostCloseMessage(uint32_t threadId) {
    g_state.closeMessagesPosted.push_back(threadId);
    return true;
}

}  // namespace platform
