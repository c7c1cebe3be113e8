// A scriptable stand-in for the platform seam, linked into the unit tests in
// place of the Win32 backend. Files are real (in temporary directories, with
// '\' mapped to '/'); the clock, sleeps, launches, the event log and the
// service control manager are virtual and recorded.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fake {

struct Launch {
    std::string file;
    std::optional<std::string> parameters;  // null parameters stay null
    std::string directory;
    int show = -1;
    bool waitedFor = false;  // a launch with a process handle that was awaited
};

struct Event {
    std::string source;
    uint16_t type = 0;
    uint16_t category = 0;
    uint32_t eventId = 0;
    std::string text;
};

// One service known to the fake manager.
struct Service {
    uint32_t state = 1;          // SERVICE_STOPPED
    bool ignoresStop = false;    // a stop control changes nothing
    int checksUntilStopped = 0;  // status queries after a stop before it shows stopped
    bool deleteOnStop = false;   // vanishes when told to stop
    bool queryRefused = false;   // QueryServiceStatus fails
    bool accessDenied = false;   // every OpenServiceA fails, but not as "no such service"
    bool deleteFails = false;    // DeleteService fails
    // Pending stop countdown, driven by status queries.
    int stopCountdown = -1;
    // What registration stored.
    std::string displayName;
    std::string binaryPathName;
    std::string description;
    uint32_t serviceType = 0, startType = 0, errorControl = 0;
};

struct State {
    // Module and files
    std::string modulePath;
    bool refuseMoves = false;
    std::vector<std::string> removedFiles;  // paths as the core passed them

    // Clock: seconds since 1970 plus the milliseconds slept so far.
    int64_t clockStart = 1583417229;  // Thu Mar 05 14:07:09 2020 UTC
    uint64_t sleptMilliseconds = 0;
    std::vector<uint32_t> sleeps;
    std::function<void()> onSleep;  // runs after each sleep (deliver a stop, move the clock)

    // Launches. onProcess runs when curl would run (write its files here);
    // returning false means the launch failed and no process exists.
    std::vector<Launch> launches;
    std::function<bool(const Launch&)> onProcess;
    std::function<void(const Launch&)> onShellOpen;

    // Event log
    std::vector<Event> events;
    bool eventSourceFails = false;
    std::map<std::string, std::string> eventMessageFiles;  // source -> message file
    bool eventRegistrationFails = false;

    // Service control manager
    bool managerRefused = false;
    bool createFails = false;
    std::map<std::string, Service> services;
    std::vector<std::string> scmCalls;  // e.g. "OpenService svc 0xf01ff"
    int openHandles = 0;
    bool lastOpenWasNoSuchService = false;

    // Service host
    bool registerHandlerFails = false;
    std::string registeredHandlerName;
    platform::ControlHandlerFunction controlHandler = nullptr;
    std::vector<platform::ServiceStatus> reportedStatuses;
    std::vector<uint32_t> closeMessagesPosted;
    // What the dispatcher does; by default it fails like a console start.
    std::function<bool(char* name, platform::ServiceMainFunction)> dispatcher;
    std::string dispatcherName;
    int dispatcherCalls = 0;
};

State& Get();
void Reset();

// Virtual "now" in seconds.
int64_t Now();
// Maps a Windows-style path onto the host's file system.
std::string HostPath(const std::string& path);

}  // namespace fake
