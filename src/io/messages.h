// The two ways the system reports: ordinary messages to the console and the
// run log, and information events to the Windows event log.
#pragma once

#include <string>

// Prints text + "\n" on standard output, then writes the text as one run-log
// record when a run log is open. Never flushes.
void EmitMessage(const std::string& text);

// Formats into 256 bytes (longer text is cut at 255) and reports it as one
// information event under the source named by g_serviceName.
void LogEvent(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// The fixed event texts. The three Chinese ones are code page 936 (GBK)
// bytes, passed to the narrow event-log call unchanged.
extern const char kEventNotInstalled[];      // "Kelvoran服务没有安装"
extern const char kEventCannotStart[];       // "不能启动服务。"
extern const char kEventCannotDelete[];      // "无法删除服务"
extern const char kEventServiceStopped[];    // "Wrapper Service Stoped!"
