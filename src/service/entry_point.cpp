#include <cstring>

#include "common/common.h"
#include "control/control.h"
#include "io/messages.h"
#include "schedule/config_check.h"
#include "service/service.h"

namespace {

constexpr std::size_t kLineBufferSize = 2048;
const char kDisplayPrefix[] = "Kelvoran for name:";

// Joins the arguments with single blanks. False when the line would not fit
// its buffer: a cut line could carry a cut name, so it is refused instead.
bool JoinArguments(int argc, char** argv, char (&line)[kLineBufferSize]) {
    std::string joined;
    for (int i = 0; i < argc; ++i) {
        joined += argv[i] != nullptr ? argv[i] : "";
        if (i + 1 < argc) joined += ' ';
    }
    if (joined.size() >= kLineBufferSize) return false;
    std::memcpy(line, joined.c_str(), joined.size() + 1);
    return true;
}

// Takes the name from three characters after the first "-n". False when the
// name or the display name would not fit its 256-byte buffer.
bool TakeServiceName(const char* line) {
    const char* option = std::strstr(line, "-n");
    if (option == nullptr) {
        std::strcpy(g_serviceName, "Kelvoran");
        std::strcpy(g_displayName, "Kelvoran Default");
        return true;
    }
    const std::size_t remaining = std::strlen(option);
    const char* name = remaining >= 3 ? option + 3 : option + remaining;
    const std::size_t nameLength = std::strlen(name);
    if (nameLength + std::strlen(kDisplayPrefix) >= kNameBufferSize) return false;
    std::memcpy(g_serviceName, name, nameLength + 1);
    std::strcpy(g_displayName, kDisplayPrefix);
    std::strcat(g_displayName, name);
    return true;
}

const char* const kUsage[] = {
    "Usage: kelvoran.exe [/install | /uninstall | /start | /stop | /restart | /check | /help] [-n NAME]",
    "  /install    register the service (starts automatically at boot)",
    "  /uninstall  stop and remove the service",
    "  /start      run startservicewrapper.cmd      /stop  run stopservicewrapper.cmd",
    "  /restart    run the stop script, then the start script",
    "  /check      show how downloader.conf will be read; exit code 1 if nothing would run",
    "  -n NAME     service name (default Kelvoran); everything after -n is the name, so put it last",
    "Files beside kelvoran.exe:",
    "  downloader.conf   intv=<seconds>, clientid=<id>, url=name@@target@@action@@clientid@@url",
    "  curl.exe          the download tool, run once per entry",
    "  logs\\             run logs (Kelvoranwinlog_<time>.log) and curl error files; create it",
    "  startservicewrapper.cmd, stopservicewrapper.cmd   run when the service starts and stops",
};

}  // namespace

int RunKelvoran(int argc, char** argv) {
    char line[kLineBufferSize] = {};
    std::memset(g_serviceName, 0, sizeof g_serviceName);
    std::memset(g_displayName, 0, sizeof g_displayName);

    // An over-long line or name does nothing rather than act on a cut text
    // (install or remove a service of the wrong name); it only says why.
    if (!JoinArguments(argc, argv, line)) {
        EmitMessage("Command line too long (at most 2047 characters): nothing done.");
        return 0;
    }
    if (!TakeServiceName(line)) {
        EmitMessage("Service name too long (at most 237 characters): nothing done.");
        return 0;
    }

    InitServiceStatus();
    g_mainThreadId = platform::CurrentThreadId();

    if (std::strstr(line, "/install") != nullptr) {
        EmitMessage(InstallService() != 0 ? "Kelvoran Install OK!" : "Kelvoran Install FAIL!");
    } else if (std::strstr(line, "/uninstall") != nullptr) {
        EmitMessage(UninstallService() != 0 ? "Kelvoran UNInstall OK!"
                                            : "Kelvoran UNInstall FAIL!");
    } else if (std::strstr(line, "/stop") != nullptr) {
        RunStopWrapper();
    } else if (std::strstr(line, "/start") != nullptr) {
        RunStartWrapper();
    } else if (std::strstr(line, "/restart") != nullptr) {
        RestartWrapper();
    } else if (std::strstr(line, "/check") != nullptr) {
        return CheckConfiguration();
    } else if (std::strstr(line, "/help") != nullptr) {
        for (const char* usageLine : kUsage) EmitMessage(usageLine);
    } else {
        if (!platform::RunServiceDispatcher(g_serviceName, ServiceMain)) {
            LogEvent("%s", kEventCannotStart);
        }
        WaitForServiceMainToFinish();
    }
    return 0;
}
