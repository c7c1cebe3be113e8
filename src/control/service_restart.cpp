#include "common/common.h"
#include "control/control.h"
#include "io/messages.h"

namespace {

constexpr uint32_t kManagerAllAccess = 0xF003F;
constexpr uint32_t kServiceAllAccess = 0xF01FF;
constexpr uint32_t kExecuteAndStart = 0x20000010;  // GENERIC_EXECUTE | SERVICE_START
constexpr uint32_t kExecuteAndStop = 0x20000020;   // GENERIC_EXECUTE | SERVICE_STOP
constexpr uint32_t kControlStop = 1;
constexpr uint32_t kStateStopped = 1;
constexpr uint32_t kCheckIntervalMs = 1000;
constexpr int kMaxStopChecks = 120;

void RequestStart(platform::Handle manager, const std::string& name) {
    platform::Handle service = platform::OpenServiceByName(manager, name, kExecuteAndStart);
    platform::StartWithoutArguments(service);
    platform::CloseServiceObject(service);
}

void RequestStop(platform::Handle manager, const std::string& name,
                 platform::ServiceStatus* status) {
    platform::Handle service = platform::OpenServiceByName(manager, name, kExecuteAndStop);
    platform::SendControl(service, kControlStop, status);
    platform::CloseServiceObject(service);
}

// Checks once a second, each time through fresh handles, so a service deleted
// meanwhile simply never shows as stopped.
void WaitForStop(const std::string& name, platform::ServiceStatus* status) {
    bool stopped = false;
    for (int checks = 1;; ++checks) {
        platform::SleepMilliseconds(kCheckIntervalMs);
        platform::Handle manager = platform::OpenManager(kManagerAllAccess);
        platform::Handle service = platform::OpenServiceByName(manager, name, kServiceAllAccess);
        if (platform::QueryStatus(service, status)) {
            stopped = status->currentState == kStateStopped;
        }
        platform::CloseServiceObject(service);
        platform::CloseServiceObject(manager);
        if (stopped) {
            EmitMessage("\r\n\tStop Service OK(prepare-start)!: " + name);
            return;
        }
        if (checks >= kMaxStopChecks) {
            EmitMessage("\r\n\tStop Service Timeout(start)!: " + name);
            return;
        }
    }
}

}  // namespace

void RestartService(std::string name) {
    platform::ServiceStatus status;
    platform::Handle manager = platform::OpenManager(kManagerAllAccess);
    platform::Handle service = platform::OpenServiceByName(manager, name, kServiceAllAccess);

    if (service == nullptr || !platform::QueryStatus(service, &status)) {
        EmitMessage("\r\n\tRestart Service ERROR(NoStatus): " + name);
    } else if (status.currentState == kStateStopped) {
        RequestStart(manager, name);
        EmitMessage("\r\n\tRestart Service OK(Start)!: " + name);
    } else {
        EmitMessage("\r\n\tStop Service OK(stop)!: " + name);
        RequestStop(manager, name, &status);
        WaitForStop(name, &status);
        EmitMessage("\r\n\tStart Service OK(start)!: " + name);
        RequestStart(manager, name);
        EmitMessage("\r\n\tRestart Service OK(restart)!: " + name);
    }

    if (service != nullptr) platform::CloseServiceObject(service);
    if (manager != nullptr) platform::CloseServiceObject(manager);
}
