#include <cstring>

#include "common/common.h"
#include "io/messages.h"
#include "service/service.h"

namespace {

constexpr uint32_t kManagerAllAccess = 0xF003F;  // SC_MANAGER_ALL_ACCESS
constexpr uint32_t kQueryConfig = 0x1;           // SERVICE_QUERY_CONFIG
constexpr uint32_t kServiceAllAccess = 0xF01FF;  // SERVICE_ALL_ACCESS
constexpr uint32_t kDeleteAndStop = 0x10020;     // DELETE | SERVICE_STOP
constexpr uint32_t kOwnProcess = 16;             // SERVICE_WIN32_OWN_PROCESS
constexpr uint32_t kAutoStart = 2;               // SERVICE_AUTO_START
constexpr uint32_t kErrorNormal = 1;             // SERVICE_ERROR_NORMAL
constexpr uint32_t kControlStop = 1;
constexpr std::size_t kDescriptionBufferSize = 1024;

// The command line the manager will start: the executable's path, quoted so a
// path with blanks cannot be taken for another program, then " -n " and the
// name. Empty when it does not fit the platform's path buffer.
std::string BinaryPathName() {
    const std::string modulePath = platform::ModuleFileName();
    if (modulePath.empty()) return std::string();
    const std::string pathName = "\"" + modulePath + "\" -n " + g_serviceName;
    if (pathName.size() >= platform::kPathBufferSize) return std::string();
    return pathName;
}

}  // namespace

bool IsServiceInstalled() {
    platform::Handle manager = platform::OpenManager(kManagerAllAccess);
    if (manager == nullptr) return false;
    platform::Handle service = platform::OpenServiceByName(manager, g_serviceName, kQueryConfig);
    const bool installed = service != nullptr;
    if (service != nullptr) platform::CloseServiceObject(service);
    platform::CloseServiceObject(manager);
    return installed;
}

int InstallService() {
    if (IsServiceInstalled()) return 1;
    platform::Handle manager = platform::OpenManager(kManagerAllAccess);
    if (manager == nullptr) {
        EmitMessage("Can not open Service Manager!");
        return 0;
    }

    const std::string binaryPathName = BinaryPathName();
    platform::Handle service =
        binaryPathName.empty()
            ? nullptr
            : platform::CreateOwnProcessService(manager, g_serviceName, g_displayName,
                                                kServiceAllAccess, kOwnProcess, kAutoStart,
                                                kErrorNormal, binaryPathName.c_str());
    if (service == nullptr) {
        platform::CloseServiceObject(manager);
        EmitMessage("Can not open!");
        return 0;
    }

    char description[kDescriptionBufferSize] = {};
    std::strcpy(description, "Kelvoran");
    platform::SetServiceDescription(service, description);
    platform::CloseServiceObject(service);
    platform::CloseServiceObject(manager);
    // Lets Event Viewer show the events' text; the service works without it.
    platform::RegisterEventMessageFile(g_serviceName, platform::ModuleFileName());
    return 1;
}

int UninstallService() {
    platform::Handle manager = platform::OpenManager(kManagerAllAccess);
    if (manager == nullptr) {
        // Without the manager nothing can be known about the service, so this
        // is a failure, not "nothing to remove".
        EmitMessage("Can not open Service Manager!");
        return 0;
    }
    platform::Handle probe = platform::OpenServiceByName(manager, g_serviceName, kQueryConfig);
    if (probe == nullptr) {
        const bool absent = platform::LastErrorIsNoSuchService();
        platform::CloseServiceObject(manager);
        if (absent) return 1;
        EmitMessage("Can not open!");
        return 0;
    }
    platform::CloseServiceObject(probe);

    platform::Handle service = platform::OpenServiceByName(manager, g_serviceName, kDeleteAndStop);
    if (service == nullptr) {
        platform::CloseServiceObject(manager);
        EmitMessage("Can not open!");
        return 0;
    }
    platform::ServiceStatus status;
    platform::SendControl(service, kControlStop, &status);
    const bool deleted = platform::RemoveService(service);
    platform::CloseServiceObject(service);
    platform::CloseServiceObject(manager);
    if (deleted) {
        platform::RemoveEventMessageFile(g_serviceName);
        return 1;
    }
    LogEvent("%s", kEventCannotDelete);
    return 0;
}
