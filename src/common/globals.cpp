#include "common/common.h"

char g_serviceName[kNameBufferSize];
char g_displayName[kNameBufferSize];
uint32_t g_mainThreadId = 0;
platform::ServiceStatus g_serviceStatus;
platform::Handle g_statusHandle = nullptr;
std::atomic<int32_t> g_stopRequested{0};
VxIO::FileOutputStream* g_logStream = nullptr;
