// "/check": shows how the service will read downloader.conf, without
// downloading, deleting or launching anything.
#include "schedule/config_check.h"

#include <map>
#include <set>

#include "common/common.h"
#include "io/messages.h"
#include "schedule/schedule.h"

namespace {

constexpr uint32_t kManagerConnect = 0x0001;  // SC_MANAGER_CONNECT is enough to look
constexpr uint32_t kQueryStatus = 0x0004;     // SERVICE_QUERY_STATUS

bool DirectoryExists(const std::string& path) {
    const uint32_t attributes = platform::FileAttributes(path);
    return attributes != platform::kInvalidFileAttributes &&
           (attributes & platform::kFileAttributeDirectory) != 0;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string DescribeLine(const ConfigLine& line) {
    std::string how;
    switch (line.kind) {
        case ConfigLineKind::Empty: how = "skipped (empty)"; break;
        case ConfigLineKind::Comment: how = "skipped (comment)"; break;
        case ConfigLineKind::NoEquals: how = "skipped (no \"=\")"; break;
        case ConfigLineKind::UnknownKey:
            how = "skipped (unknown key " + Quoted(line.key) + "; keys are intv, url, clientid)";
            break;
        case ConfigLineKind::Interval:
            how = "intv = " + std::to_string(ParseInterval(line.value));
            break;
        case ConfigLineKind::Url: how = "url entry"; break;
        case ConfigLineKind::ClientId: how = "clientid = " + Quoted(line.value); break;
    }
    if (line.cut) how += " (line longer than 1023 characters: the rest is ignored)";
    return "  line " + std::to_string(line.number) + ": " + how;
}

// Why ParseDownloadEntry refused an entry, in words.
std::string FormatErrorReason(const std::string& text) {
    std::size_t separators = 0;
    for (std::size_t at = text.find("@@"); at != std::string::npos && separators < 4;
         at = text.find("@@", at + 2)) {
        ++separators;
    }
    if (separators < 4) {
        return "only " + std::to_string(separators) +
               " of the four \"@@\" separators (name@@target@@action@@clientid@@url)";
    }
    return "a double quote in the name, target, client id or url";
}

std::string DescribeAction(const std::string& action) {
    if (IsNoAction(action)) return "none";
    if (const std::optional<std::string> service = RestartServiceName(action)) {
        return "restart the service " + Quoted(*service);
    }
    return "run " + Quoted(action);
}

// True when the service control manager says no service of this name exists.
bool ServiceIsUnknown(const std::string& name) {
    platform::Handle manager = platform::OpenManager(kManagerConnect);
    if (manager == nullptr) return false;  // cannot tell; no warning
    platform::Handle service = platform::OpenServiceByName(manager, name, kQueryStatus);
    const bool unknown = service == nullptr && platform::LastErrorIsNoSuchService();
    if (service != nullptr) platform::CloseServiceObject(service);
    platform::CloseServiceObject(manager);
    return unknown;
}

}  // namespace

int CheckConfiguration() {
    const std::string exeDirectory = GetExeDirectory();
    const std::string configPath = exeDirectory + "downloader.conf";
    std::vector<std::string> warnings;

    EmitMessage("Configuration: " + configPath);
    ScheduleSettings settings;
    bool sawInterval = false;
    const ConfigReadResult result = ReadScheduleSettings(
        configPath, [](int32_t) { return true; }, settings,
        [&](const ConfigLine& line) {
            if (line.kind == ConfigLineKind::Interval) sawInterval = true;
            EmitMessage(DescribeLine(line));
        });
    if (result == ConfigReadResult::Absent) {
        EmitMessage("error: the file is missing, is a directory or cannot be opened; "
                    "the service does nothing until it can read it.");
        return 1;
    }

    EmitMessage("Interval: " + std::to_string(settings.intv) + " seconds");
    EmitMessage("Default client id: " + Quoted(settings.defaultClientId));
    if (!sawInterval) {
        warnings.push_back("no \"intv\" line: no download will ever run.");
    } else if (settings.intv < kMinimumInterval) {
        warnings.push_back("intv is below 5: no download will ever run.");
    }
    if (settings.urlEntries.empty()) warnings.push_back("no \"url\" line: nothing to download.");

    std::map<std::string, int> entriesByErrorFile;
    std::set<std::string> checkedServices;
    int usable = 0;
    for (std::size_t i = 0; i < settings.urlEntries.size(); ++i) {
        const std::string& text = settings.urlEntries[i];
        const std::string label = "Entry " + std::to_string(i + 1);
        const std::optional<DownloadEntry> entry =
            ParseDownloadEntry(text, settings.defaultClientId, exeDirectory);
        if (!entry) {
            EmitMessage(label + ": FORMAT ERROR, skipped at every run: " + FormatErrorReason(text));
            EmitMessage("  text:        " + text);
            continue;
        }
        ++usable;
        EmitMessage(label + ":");
        EmitMessage("  name:        " + entry->name);
        EmitMessage("  target:      " + entry->targetPath);
        EmitMessage("  action:      " + DescribeAction(entry->action));
        EmitMessage("  client id:   " + entry->clientId);
        EmitMessage("  url:         " + entry->url);
        EmitMessage("  temporary:   " + entry->tempPath);
        EmitMessage("  error file:  " + exeDirectory + entry->errorFile);
        EmitMessage("  curl.exe     " + ComposeCurlParameters(*entry));

        const std::string targetDirectory = DirectoryOfPath(entry->targetPath);
        if (!targetDirectory.empty() && !DirectoryExists(targetDirectory)) {
            warnings.push_back(label + ": the target directory " + targetDirectory +
                               " does not exist; curl cannot write the download.");
        }
        const int earlier = entriesByErrorFile[entry->errorFile];
        if (earlier != 0) {
            warnings.push_back(label + " shares the error file " + entry->errorFile + " with entry " +
                               std::to_string(earlier) + "; give them different names.");
        } else {
            entriesByErrorFile[entry->errorFile] = static_cast<int>(i + 1);
        }
        if (const std::optional<std::string> service = RestartServiceName(entry->action)) {
            if (checkedServices.insert(*service).second && ServiceIsUnknown(*service)) {
                warnings.push_back(label + ": the service control manager knows no service " +
                                   Quoted(*service) + " to restart.");
            }
        }
    }
    if (!settings.urlEntries.empty() && usable == 0) {
        warnings.push_back("every entry is a format error: nothing to download.");
    }

    const bool curlPresent = FileExists(exeDirectory + "curl.exe");
    if (!curlPresent) {
        warnings.push_back("curl.exe is missing beside the executable: every run stops at "
                           "\"curl.exe Not Found!\".");
    }
    if (!DirectoryExists(exeDirectory + "logs")) {
        warnings.push_back("the logs directory is missing: there is no run log, and every download "
                           "fails for lack of an error file. Create " + exeDirectory + "logs");
    }

    for (const std::string& warning : warnings) EmitMessage("warning: " + warning);
    const bool wouldRun = settings.intv >= kMinimumInterval && usable > 0 && curlPresent;
    EmitMessage(wouldRun ? "Result: downloads run every " + std::to_string(settings.intv) +
                               " seconds (" + std::to_string(usable) + " of " +
                               std::to_string(settings.urlEntries.size()) + " entries usable)."
                         : std::string("Result: no download will ever run."));
    return wouldRun ? 0 : 1;
}
