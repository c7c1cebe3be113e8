#include <cstdio>

#include "common/common.h"
#include "io/messages.h"
#include "schedule/schedule.h"

namespace {

const char kSeparator[] = "@@";
constexpr std::size_t kSeparatorLength = 2;
constexpr int kFieldCount = 5;

// A double quote would end curl's quoted argument early and let the entry
// smuggle in options of its own.
bool HoldsQuote(const std::string& text) { return text.find('"') != std::string::npos; }

void RemoveIfPresent(const std::string& path) {
    try {
        if (FileExists(path)) platform::RemoveFile(path);
    } catch (...) {
        // The job goes on whatever happened to the stale file.
    }
}

}  // namespace

std::optional<DownloadEntry> ParseDownloadEntry(const std::string& text,
                                                const std::string& defaultClientId,
                                                const std::string& exeDirectory) {
    std::string fields[kFieldCount];
    std::size_t fieldStart = 0;
    for (int i = 0; i < kFieldCount - 1; ++i) {
        const std::size_t separator = text.find(kSeparator, fieldStart);
        if (separator == std::string::npos) return std::nullopt;
        fields[i] = TrimBlanks(text.substr(fieldStart, separator - fieldStart));
        fieldStart = separator + kSeparatorLength;
    }
    fields[kFieldCount - 1] = TrimBlanks(text.substr(fieldStart));

    DownloadEntry entry;
    entry.name = fields[0];
    entry.targetPath = fields[1];
    entry.action = fields[2];
    entry.clientId = fields[3].empty() ? defaultClientId : fields[3];
    entry.url = fields[4];

    entry.url += entry.url.find('?') == std::string::npos ? "?downloaderclientid="
                                                          : "&downloaderclientid=";
    entry.url += entry.clientId;
    if (entry.targetPath.find(':') == std::string::npos) {
        entry.targetPath = exeDirectory + entry.targetPath;
    }
    if (HoldsQuote(entry.name) || HoldsQuote(entry.targetPath) ||
        HoldsQuote(entry.clientId) || HoldsQuote(entry.url)) {
        return std::nullopt;
    }

    entry.tempPath = entry.targetPath + ".tempdownloader";
    entry.errorFile = "logs\\curlerrors_" + entry.name + ".txt";
    return entry;
}

std::string ComposeCurlParameters(const DownloadEntry& entry) {
    return "--stderr \"" + entry.errorFile + "\" -o \"" + entry.tempPath + "\" -f -k \"" +
           entry.url + "\"";
}

std::string FormatTimeText(const std::tm& t) {
    static const char* const kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const char* weekday = t.tm_wday >= 0 && t.tm_wday < 7 ? kWeekdays[t.tm_wday] : "???";
    const char* month = t.tm_mon >= 0 && t.tm_mon < 12 ? kMonths[t.tm_mon] : "???";
    char text[64];
    std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %d\n", weekday, month,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, t.tm_year + 1900);
    return text;
}

std::string FormatTimeText(int64_t seconds) {
    std::tm local{};
    if (!platform::LocalTime(seconds, &local)) return "(time unavailable)\n";
    return FormatTimeText(local);
}

void RunCurl(const DownloadEntry& entry, const std::string& exeDirectory) {
    RemoveIfPresent(exeDirectory + entry.errorFile);
    RemoveIfPresent(entry.tempPath);

    const platform::Handle process = platform::ShellOpenProcess(
        "curl.exe", ComposeCurlParameters(entry), exeDirectory, platform::kShowHidden);
    EmitMessage("\r\nRun Schedule Start! " + FormatTimeText(platform::CurrentTime()));
    platform::WaitForProcessAndClose(process);
    EmitMessage("\r\nRun Schedule End! " + FormatTimeText(platform::CurrentTime()));
}
