#include "platform/platform.h"
#include "platform/win32/windows_api.h"

namespace platform {

Handle OpenEventSource(const char* sourceName) {
    return RegisterEventSourceA(nullptr, sourceName);
}

bool ReportEventText(Handle source, uint16_t type, uint16_t category, uint32_t eventId,
                     const char* text) {
    const char* strings[1] = {text};
    return ReportEventA(static_cast<HANDLE>(source), type, category, eventId, nullptr, 1, 0,
                        strings, nullptr) != 0;
}

void CloseEventSource(Handle source) { DeregisterEventSource(static_cast<HANDLE>(source)); }

namespace {
const char kApplicationLogKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
}

bool RegisterEventMessageFile(const std::string& sourceName, const std::string& messageFile) {
    HKEY key = nullptr;
    const std::string keyPath = kApplicationLogKey + sourceName;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const DWORD typesSupported = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE |
                                 EVENTLOG_INFORMATION_TYPE;
    const bool written =
        RegSetValueExA(key, "EventMessageFile", 0, REG_EXPAND_SZ,
                       reinterpret_cast<const BYTE*>(messageFile.c_str()),
                       static_cast<DWORD>(messageFile.size() + 1)) == ERROR_SUCCESS &&
        RegSetValueExA(key, "TypesSupported", 0, REG_DWORD,
                       reinterpret_cast<const BYTE*>(&typesSupported),
                       sizeof typesSupported) == ERROR_SUCCESS;
    RegCloseKey(key);
    return written;
}

bool RemoveEventMessageFile(const std::string& sourceName) {
    const std::string keyPath = kApplicationLogKey + sourceName;
    return RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath.c_str()) == ERROR_SUCCESS;
}

}  // namespace platform
