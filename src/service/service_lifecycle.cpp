#include <atomic>

#include "common/common.h"
#include "control/control.h"
#include "io/messages.h"
#include "io/output_stream.h"
#include "schedule/schedule.h"
#include "service/service.h"

namespace {

constexpr uint32_t kOwnProcess = 16;       // SERVICE_WIN32_OWN_PROCESS
constexpr uint32_t kStateStopped = 1;      // SERVICE_STOPPED
constexpr uint32_t kStateStartPending = 2; // SERVICE_START_PENDING
constexpr uint32_t kStateStopPending = 3;  // SERVICE_STOP_PENDING
constexpr uint32_t kStateRunning = 4;      // SERVICE_RUNNING
constexpr uint32_t kAcceptStop = 1;        // SERVICE_ACCEPT_STOP
constexpr uint32_t kControlStop = 1;
constexpr uint32_t kControlShutdown = 5;
constexpr uint32_t kLoopSleepMs = 1000;

// 0: not begun, 1: running, 2: finished.
std::atomic<int> g_serviceMainPhase{0};

std::string RunLogFileName() {
    return GetExeDirectory() + "logs\\Kelvoranwinlog_" +
           std::to_string(platform::CurrentTime()) + ".log";
}

void ReportStatus() { platform::ReportServiceStatus(g_statusHandle, g_serviceStatus); }

}  // namespace

void InitServiceStatus() {
    g_statusHandle = nullptr;
    g_serviceStatus.serviceType = kOwnProcess;
    g_serviceStatus.currentState = kStateStopped;
    g_serviceStatus.controlsAccepted = kAcceptStop;
    g_serviceStatus.win32ExitCode = 0;
    g_serviceStatus.serviceSpecificExitCode = 0;
    g_serviceStatus.checkPoint = 0;
    g_serviceStatus.waitHint = 0;
}

void ServiceMain(uint32_t, char**) {
    g_serviceMainPhase = 1;
    g_serviceStatus.currentState = kStateStartPending;
    g_serviceStatus.controlsAccepted = kAcceptStop;
    g_statusHandle = platform::RegisterControlHandler(g_serviceName, ServiceCtrlHandler);
    if (g_statusHandle == nullptr) {
        LogEvent("%s", kEventNotInstalled);
        g_serviceMainPhase = 2;
        return;
    }
    ReportStatus();

    g_serviceStatus.win32ExitCode = 0;
    g_serviceStatus.checkPoint = 0;
    g_serviceStatus.waitHint = 0;
    g_serviceStatus.currentState = kStateRunning;
    ReportStatus();

    g_logStream = new VxIO::FileOutputStream(RunLogFileName());
    EmitMessage("Prepare Start Wrapper Service.\r\n");
    g_logStream->flush();
    RunStartWrapper();
    EmitMessage("Wrapper Service Started.\r\n");
    g_logStream->flush();

    while (g_stopRequested != 1) {
        platform::SleepMilliseconds(kLoopSleepMs);
        RunSchedule();
        g_logStream->flush();
    }

    EmitMessage("Wrapper Service End.\r\n");
    RunStopWrapper();
    g_serviceStatus.currentState = kStateStopped;
    ReportStatus();
    LogEvent("%s", kEventServiceStopped);
    g_logStream->close();
    g_serviceMainPhase = 2;
}

void ServiceCtrlHandler(uint32_t control) {
    if (control != kControlStop && control != kControlShutdown) return;
    g_serviceStatus.currentState = kStateStopPending;
    ReportStatus();
    platform::PostCloseMessage(g_mainThreadId);
    g_stopRequested = 1;
}

void WaitForServiceMainToFinish() {
    while (g_serviceMainPhase == 1) platform::SleepMilliseconds(10);
}
