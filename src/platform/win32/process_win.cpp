
#include "platform/platform.h"
#include "platform/win32/windows_api.h"

namespace platform {

static_assert(sizeof(void*) != 4 || sizeof(SHELLEXECUTEINFOA) == 60,
              "the 32-bit record must be 60 bytes");

bool ShellOpen(const std::string& file, const char* parameters, const std::string& directory,
               int show) {
    const HINSTANCE result =
        ShellExecuteA(nullptr, "open", file.c_str(), parameters, directory.c_str(), show);
    return reinterpret_cast<INT_PTR>(result) > 32;
}

Handle ShellOpenProcess(const std::string& file, const std::string& parameters,
                        const std::string& directory, int show) {
    SHELLEXECUTEINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = "open";
    info.lpFile = file.c_str();
    info.lpParameters = parameters.c_str();
    info.lpDirectory = directory.c_str();
    info.nShow = show;
    ShellExecuteExA(&info);
    return info.hProcess;
}

void WaitForProcessAndClose(Handle process) {
    if (process == nullptr) return;
    WaitForSingleObject(static_cast<HANDLE>(process), INFINITE);
    CloseHandle(static_cast<HANDLE>(process));
}

}  // namespace platform
