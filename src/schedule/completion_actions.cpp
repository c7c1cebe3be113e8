#include <algorithm>

#include "common/common.h"
#include "control/control.h"
#include "io/exception.h"
#include "io/messages.h"
#include "io/text_line_reader.h"
#include "schedule/schedule.h"

namespace {

constexpr std::size_t kMaxLineChars = 4095;  // a 4096-byte line buffer
const char kErrorMark[] = "curl:";
constexpr std::size_t kErrorMarkLength = sizeof kErrorMark - 1;
const char kRestartPrefix[] = "restart:";
constexpr std::size_t kRestartPrefixLength = sizeof kRestartPrefix - 1;

}  // namespace

bool IsNoAction(const std::string& action) { return action.empty() || action == "none"; }

std::optional<std::string> RestartServiceName(const std::string& action) {
    if (action.compare(0, kRestartPrefixLength, kRestartPrefix) != 0) return std::nullopt;
    return action.substr(kRestartPrefixLength);
}

bool CheckDownloadErrors(const std::string& errorFile) {
    try {
        const std::string fullPath = GetExeDirectory() + errorFile;
        SharedFile file(platform::OpenSharedRead(fullPath));
        if (!file) {
            EmitMessage("\t" + fullPath);
            EmitMessage("\tCan not open error file!\r\n");
            return true;
        }

        TextLineReader reader(file.get());
        std::string line;
        // The end of the previous piece of the same physical line, so that an
        // error mark split across two pieces is still found.
        std::string carried;
        while (!reader.atEnd()) {
            const TextLineReader::Read kind = reader.readLine(line, kMaxLineChars);
            if (reader.failed()) throw VxIO::IOException("read error");
            EmitMessage(line);
            EmitMessage("\r\n");
            const std::string examined = carried + line;
            if (examined.find(kErrorMark) != std::string::npos) return true;
            carried.clear();
            if (kind == TextLineReader::Read::Piece) {
                const std::size_t keep = std::min(examined.size(), kErrorMarkLength - 1);
                carried = examined.substr(examined.size() - keep);
            }
        }
        return false;
    } catch (...) {
        EmitMessage("\tERROR File Fail!\r\n");
        return true;
    }
}

CommitOutcome CommitDownload(std::string targetPath) {
    const std::string tempPath = targetPath + ".tempdownloader";
    if (!FileExists(tempPath)) return CommitOutcome::NoTemporaryFile;
    return platform::MoveReplacing(tempPath, targetPath) ? CommitOutcome::Moved
                                                         : CommitOutcome::MoveRefused;
}

void RunCompletionActions(const DownloadEntry& entry, const std::string& errorFile,
                          const std::string& exeDirectory) {
    const std::string fields = "/" + entry.name + "/" + entry.url;

    if (CheckDownloadErrors(errorFile)) {
        EmitMessage("\r\n\tHasERROR No Restart: " + entry.action + fields);
        return;
    }

    try {
        const bool refused = CommitDownload(entry.targetPath) == CommitOutcome::MoveRefused;
        EmitMessage((refused ? "\r\n\tRename File Failed: " : "\r\n\tRename File: ") +
                    entry.targetPath + fields);
    } catch (...) {
        // The action still follows.
    }

    EmitMessage("\r\n\tNeed Restart: " + entry.action + fields);
    if (IsNoAction(entry.action)) return;

    try {
        if (const std::optional<std::string> service = RestartServiceName(entry.action)) {
            EmitMessage("\r\n\tRun Execute Restart! " + entry.action + fields);
            RestartService(*service);
            return;
        }
        EmitMessage("\r\n\tRun Execute Reload! " + entry.action + fields);
        platform::ShellOpen(entry.action, nullptr, exeDirectory, platform::kShowHidden);
    } catch (...) {
        EmitMessage("\r\n\tError Running Reload: " + entry.action + fields);
    }
}
