// The download schedule: the configuration file, the once-a-second cycle,
// the download job for one entry and what follows a download.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Start time of the last download run, seconds since 1970 UTC; 0 at start.
extern int64_t g_lastScheduleRun;

constexpr int32_t kMinimumInterval = 5;

struct ScheduleSettings {
    int32_t intv = 0;
    std::vector<std::string> urlEntries;
    std::string defaultClientId = "default";
};

enum class ConfigReadResult { Absent, NotDue, Complete };

// One "url" value, prepared: fields trimmed, client id filled in, the query
// appended to url and targetPath resolved against the executable's directory.
struct DownloadEntry {
    std::string name;
    std::string targetPath;
    std::string action;
    std::string clientId;
    std::string url;
    std::string tempPath;   // targetPath + ".tempdownloader"
    std::string errorFile;  // "logs\curlerrors_" + name + ".txt", relative
};

// ---- Configuration file ----------------------------------------------------

// How one line of downloader.conf was read.
enum class ConfigLineKind { Empty, Comment, NoEquals, Interval, Url, ClientId, UnknownKey };

struct ConfigLine {
    int number = 0;          // from 1
    std::string text;        // at most 1023 characters
    bool cut = false;        // the physical line was longer and the rest was dropped
    ConfigLineKind kind = ConfigLineKind::Empty;
    std::string key, value;  // trimmed, for lines with "="
};

// Reads downloader.conf. Every "intv" line is handed to isDue the moment it is
// read; false ends the read with NotDue. `settings` is filled on Complete.
// An observer, when given, sees every line as it is classified.
ConfigReadResult ReadScheduleSettings(
    const std::string& path, const std::function<bool(int32_t)>& isDue,
    ScheduleSettings& settings,
    const std::function<void(const ConfigLine&)>& observer = nullptr);

// The C library's strtol rules, clamped to 32 bits.
int32_t ParseInterval(const std::string& value);

// ---- Schedule cycle ----------------------------------------------------------

bool IsScheduleDue(int32_t intv, int64_t now);

// One turn of the schedule; the service loop calls it once a second.
void RunSchedule();

// ---- Download job --------------------------------------------------------------

// Splits an entry at "@@" and prepares it; nullopt is a format error.
std::optional<DownloadEntry> ParseDownloadEntry(const std::string& text,
                                                const std::string& defaultClientId,
                                                const std::string& exeDirectory);

// --stderr "<errorFile>" -o "<tempPath>" -f -k "<url>"
std::string ComposeCurlParameters(const DownloadEntry& entry);

// Deletes stale files, runs curl.exe for the entry and waits for it.
void RunCurl(const DownloadEntry& entry, const std::string& exeDirectory);

// "Thu Mar 05 14:07:09 2020\n" in local time.
std::string FormatTimeText(int64_t seconds);
std::string FormatTimeText(const std::tm& localTime);

// ---- Completion actions ----------------------------------------------------------

// Scans curl's error file; true means the download failed.
bool CheckDownloadErrors(const std::string& errorFile);

enum class CommitOutcome { NoTemporaryFile, Moved, MoveRefused };

// Moves targetPath + ".tempdownloader" over targetPath when it exists.
CommitOutcome CommitDownload(std::string targetPath);

// The kinds of action an entry can name: empty or exactly "none" does
// nothing, "restart:<name>" restarts a service, anything else is a command.
bool IsNoAction(const std::string& action);
// The service name behind "restart:", or nullopt for any other action.
std::optional<std::string> RestartServiceName(const std::string& action);

// Judges the download, commits it and carries out the entry's action.
void RunCompletionActions(const DownloadEntry& entry, const std::string& errorFile,
                          const std::string& exeDirectory);
