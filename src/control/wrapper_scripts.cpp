#include "common/common.h"
#include "control/control.h"

namespace {

bool RunWrapperScript(const char* scriptName) {
    const std::string exeDirectory = GetExeDirectory();
    const std::string scriptPath = exeDirectory + scriptName;
    if (!FileExists(scriptPath)) return false;
    platform::ShellOpen(scriptPath, nullptr, exeDirectory, platform::kShowHidden);
    return true;
}

}  // namespace

bool RunStartWrapper() { return RunWrapperScript("startservicewrapper.cmd"); }

bool RunStopWrapper() { return RunWrapperScript("stopservicewrapper.cmd"); }

bool RestartWrapper() {
    RunStopWrapper();
    RunStartWrapper();
    return true;
}
