#include <climits>
#include <cstdlib>

#include "common/common.h"
#include "io/text_line_reader.h"
#include "schedule/schedule.h"

namespace {

constexpr std::size_t kMaxLineChars = 1023;  // a 1024-byte line buffer

}  // namespace

int32_t ParseInterval(const std::string& value) {
    // strtoll then clamp, so 64-bit Linux longs give what Windows' 32-bit strtol gives.
    const long long parsed = std::strtoll(value.c_str(), nullptr, 10);
    if (parsed > INT32_MAX) return INT32_MAX;
    if (parsed < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(parsed);
}

ConfigReadResult ReadScheduleSettings(const std::string& path,
                                      const std::function<bool(int32_t)>& isDue,
                                      ScheduleSettings& settings,
                                      const std::function<void(const ConfigLine&)>& observer) {
    if (!FileExists(path)) return ConfigReadResult::Absent;
    SharedFile file(platform::OpenSharedRead(path));
    if (!file) return ConfigReadResult::Absent;

    settings = ScheduleSettings();
    TextLineReader reader(file.get());
    std::string line;
    int lineNumber = 0;
    while (!reader.atEnd()) {
        bool cut = false;
        if (reader.readLine(line, kMaxLineChars) == TextLineReader::Read::Piece) {
            // Only the first 1023 characters of an over-long line count.
            reader.skipRestOfLine();
            cut = true;
        }
        ++lineNumber;
        ConfigLine seen;
        if (observer) {
            seen.number = lineNumber;
            seen.text = line;
            seen.cut = cut;
        }
        const auto report = [&](ConfigLineKind kind) {
            if (!observer) return;
            seen.kind = kind;
            observer(seen);
        };

        if (line.empty() || line[0] == '#') {
            // The empty read that meets the end of the file is no line of it.
            if (!(line.empty() && reader.atEnd())) {
                report(line.empty() ? ConfigLineKind::Empty : ConfigLineKind::Comment);
            }
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) {
            report(ConfigLineKind::NoEquals);
            continue;
        }

        const std::string key = TrimBlanks(line.substr(0, equals));
        std::string value = TrimBlanks(line.substr(equals + 1));
        if (observer) {
            seen.key = key;
            seen.value = value;
        }
        if (key == "intv") {
            settings.intv = ParseInterval(value);
            report(ConfigLineKind::Interval);
            if (!isDue(settings.intv)) return ConfigReadResult::NotDue;
        } else if (key == "url") {
            settings.urlEntries.push_back(std::move(value));
            report(ConfigLineKind::Url);
        } else if (key == "clientid") {
            settings.defaultClientId = std::move(value);
            report(ConfigLineKind::ClientId);
        } else {
            report(ConfigLineKind::UnknownKey);
        }
    }
    return ConfigReadResult::Complete;
}
