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

}  // namespace platform
