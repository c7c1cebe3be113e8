// Any bytes as downloader.conf. ReadScheduleSettings must come to an end and
// agree with an independent reading of the format: text-mode lines cut at
// 1023 characters, empty lines and "#" lines skipped, key and value split at
// the first "=" and trimmed of blanks, every "intv" tested at once, "url"
// values kept in order, the last "clientid" standing.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/common.h"
#include "fuzz_support.h"
#include "schedule/schedule.h"

namespace {

constexpr std::size_t kMaxLine = 1023;

// The C library's decimal conversion, saturated at the 32-bit limits: white
// space, an optional sign, then digits up to the first non-digit.
int32_t Interval(const std::string& value) {
    std::size_t i = 0;
    while (i < value.size() && (value[i] == ' ' || (value[i] >= '\t' && value[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < value.size() && (value[i] == '+' || value[i] == '-')) {
        negative = value[i] == '-';
        ++i;
    }
    int64_t magnitude = 0;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (value[i] - '0');
        if (magnitude > (int64_t{1} << 32)) magnitude = int64_t{1} << 32;  // past either limit
    }
    const int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue > INT32_MAX) return INT32_MAX;
    if (signedValue < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(signedValue);
}

// An arbitrary but fixed due test, so that both outcomes occur.
bool Due(int32_t intv) { return ((static_cast<int64_t>(intv) % 7) + 7) % 7 != 3; }

struct Expected {
    ConfigReadResult result = ConfigReadResult::Complete;
    std::vector<int32_t> tested;
    ScheduleSettings settings;
};

Expected Read(const std::string& bytes) {
    Expected expected;
    for (const std::string& physical : fuzzing::SplitLines(fuzzing::TextMode(bytes))) {
        const std::string line = physical.substr(0, kMaxLine);
        if (line.empty() || line[0] == '#') continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        const std::string key = fuzzing::Trim(line.substr(0, equals));
        const std::string value = fuzzing::Trim(line.substr(equals + 1));
        if (key == "intv") {
            expected.settings.intv = Interval(value);
            expected.tested.push_back(expected.settings.intv);
            if (!Due(expected.settings.intv)) {
                expected.result = ConfigReadResult::NotDue;
                return expected;
            }
        } else if (key == "url") {
            expected.settings.urlEntries.push_back(value);
        } else if (key == "clientid") {
            expected.settings.defaultClientId = value;
        }
    }
    return expected;
}

const char* Name(ConfigReadResult result) {
    switch (result) {
        case ConfigReadResult::Absent: return "Absent";
        case ConfigReadResult::NotDue: return "NotDue";
        case ConfigReadResult::Complete: return "Complete";
    }
    return "?";
}

std::string Join(const std::vector<int32_t>& values) {
    std::string text;
    for (int32_t value : values) text += std::to_string(value) + " ";
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::SilenceStandardOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string& exeDirectory = fuzzing::ResetPlatform();
    const std::string path = exeDirectory + "downloader.conf";
    fuzzing::WriteBytes(path, bytes);

    std::vector<int32_t> tested;
    ScheduleSettings settings;
    const ConfigReadResult result = ReadScheduleSettings(
        path,
        [&tested](int32_t intv) {
            tested.push_back(intv);
            return Due(intv);
        },
        settings);
    const Expected expected = Read(bytes);

    const std::string context = "file: " + fuzzing::Show(bytes) + "\nresult " + Name(result) +
                                ", expected " + Name(expected.result) + "\nintv tested: " +
                                Join(tested) + "\nexpected:    " + Join(expected.tested);
    if (result != expected.result) fuzzing::Fail("the reading's outcome", context);
    if (tested != expected.tested) {
        fuzzing::Fail("every intv line is tested when read, and only those", context);
    }
    if (result != ConfigReadResult::Complete) return 0;

    if (settings.intv != expected.settings.intv) {
        fuzzing::Fail("intv is the last value read", context + "\nintv " +
                                                          std::to_string(settings.intv) +
                                                          ", expected " +
                                                          std::to_string(expected.settings.intv));
    }
    if (settings.defaultClientId != expected.settings.defaultClientId) {
        fuzzing::Fail("the last clientid stands",
                      context + "\nclientid " + fuzzing::Show(settings.defaultClientId) +
                          ", expected " + fuzzing::Show(expected.settings.defaultClientId));
    }
    if (settings.urlEntries != expected.settings.urlEntries) {
        std::string details = context + "\nurl entries " +
                              std::to_string(settings.urlEntries.size()) + ", expected " +
                              std::to_string(expected.settings.urlEntries.size());
        for (std::size_t i = 0;
             i < settings.urlEntries.size() && i < expected.settings.urlEntries.size(); ++i) {
            if (settings.urlEntries[i] != expected.settings.urlEntries[i]) {
                details += "\nfirst difference at " + std::to_string(i) + ": " +
                           fuzzing::Show(settings.urlEntries[i]) + " vs " +
                           fuzzing::Show(expected.settings.urlEntries[i]);
                break;
            }
        }
        fuzzing::Fail("url values are kept unchanged and in file order", details);
    }
    return 0;
}
