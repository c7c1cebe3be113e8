#include <climits>
#include <cstdlib>
#include <memory>

#include "common/common.h"
#include "io/text_line_reader.h"
#include "schedule/schedule.h"

namespace {

constexpr std::size_t kMaxLineChars = 1023;  // a 1024-byte line buffer

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

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
                                      ScheduleSettings& settings) {
    if (!FileExists(path)) return ConfigReadResult::Absent;
    std::unique_ptr<std::FILE, FileCloser> file(platform::OpenSharedRead(path));
    if (!file) return ConfigReadResult::Absent;

    settings = ScheduleSettings();
    TextLineReader reader(file.get());
    std::string line;
    while (!reader.atEnd()) {
        if (reader.readLine(line, kMaxLineChars) == TextLineReader::Read::Piece) {
            // Only the first 1023 characters of an over-long line count.
            reader.skipRestOfLine();
        }
        if (line.empty() || line[0] == '#') continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) continue;

        const std::string key = TrimBlanks(line.substr(0, equals));
        std::string value = TrimBlanks(line.substr(equals + 1));
        if (key == "intv") {
            settings.intv = ParseInterval(value);
            if (!isDue(settings.intv)) return ConfigReadResult::NotDue;
        } else if (key == "url") {
            settings.urlEntries.push_back(std::move(value));
        } else if (key == "clientid") {
            settings.defaultClientId = std::move(value);
        }
    }
    return ConfigReadResult::Complete;
}
