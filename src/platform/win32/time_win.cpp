#include <time.h>

#include "platform/platform.h"
#include "platform/win32/windows_api.h"

namespace platform {

void SleepMilliseconds(uint32_t milliseconds) { Sleep(milliseconds); }

int64_t CurrentTime() { return static_cast<int64_t>(_time64(nullptr)); }

bool LocalTime(int64_t seconds, std::tm* out) {
    const __time64_t value = seconds;
    return _localtime64_s(out, &value) == 0;
}

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }

bool PostCloseMessage(uint32_t threadId) {
    return PostThreadMessageA(threadId, WM_CLOSE, 0, 0) != 0;
}

}  // namespace platform
