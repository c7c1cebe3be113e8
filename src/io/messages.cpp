#include "io/messages.h"

#include <cstdarg>
#include <cstdio>

#include "common/common.h"
#include "io/output_stream.h"

const char kEventNotInstalled[] = "Kelvoran\xB7\xFE\xCE\xF1\xC3\xBB\xD3\xD0\xB0\xB2\xD7\xB0";
const char kEventCannotStart[] = "\xB2\xBB\xC4\xDC\xC6\xF4\xB6\xAF\xB7\xFE\xCE\xF1\xA1\xA3";
const char kEventCannotDelete[] = "\xCE\xDE\xB7\xA8\xC9\xBE\xB3\xFD\xB7\xFE\xCE\xF1";
const char kEventServiceStopped[] = "Wrapper Service Stoped!";

namespace {
constexpr uint16_t kInformationType = 4;  // EVENTLOG_INFORMATION_TYPE
constexpr std::size_t kEventBufferSize = 256;
}  // namespace

void EmitMessage(const std::string& text) {
    // Written as bytes so the console line is exactly the text and one line feed.
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    if (g_logStream != nullptr) g_logStream->writeLine(text);
}

void LogEvent(const char* format, ...) {
    char buffer[kEventBufferSize] = {};
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);

    platform::Handle source = platform::OpenEventSource(g_serviceName);
    if (source == nullptr) return;
    platform::ReportEventText(source, kInformationType, 0, 0, buffer);
    platform::CloseEventSource(source);
}
