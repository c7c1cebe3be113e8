#include "common/common.h"
#include "io/messages.h"
#include "io/output_stream.h"
#include "schedule/schedule.h"

int64_t g_lastScheduleRun = 0;

bool IsScheduleDue(int32_t intv, int64_t now) {
    return intv >= kMinimumInterval &&
           now - g_lastScheduleRun >= static_cast<int64_t>(intv);
}

void RunSchedule() {
    // Everything is guarded, the directory lookup included: an exception that
    // escaped here would end the service thread.
    try {
        const std::string exeDirectory = GetExeDirectory();
        const std::string configPath = exeDirectory + "downloader.conf";
        const int64_t now = platform::CurrentTime();

        ScheduleSettings settings;
        const ConfigReadResult result = ReadScheduleSettings(
            configPath, [now](int32_t intv) { return IsScheduleDue(intv, now); }, settings);
        if (result != ConfigReadResult::Complete) return;
        if (settings.intv < kMinimumInterval || settings.urlEntries.empty()) return;

        // From here the run counts as done, so a missing curl.exe is reported
        // once per interval rather than once a second.
        g_lastScheduleRun = now;
        if (!FileExists(exeDirectory + "curl.exe")) {
            EmitMessage("\r\ncurl.exe Not Found! ");
            return;
        }

        for (const std::string& text : settings.urlEntries) {
            const std::optional<DownloadEntry> entry =
                ParseDownloadEntry(text, settings.defaultClientId, exeDirectory);
            if (!entry) {
                EmitMessage("\r\nRun Schedule Failed! Format Error! " + text);
            } else {
                RunCurl(*entry, exeDirectory);
                RunCompletionActions(*entry, entry->errorFile, exeDirectory);
            }
            if (g_logStream != nullptr) g_logStream->flush();
        }
    } catch (...) {
        // Ends the call quietly; the next call starts afresh.
    }
}
