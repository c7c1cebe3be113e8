// Any argument vector: the input split at NUL bytes, argument 0 (the program
// path) included. The fake platform stands in for the service control
// manager, the event log and program launching, so nothing is installed or
// started; its dispatcher fails as it does for a console start.
//
// Properties: the service name and the display name always fit their
// 256-byte buffers (at most 255 characters and a terminating zero); when the
// joined line and the names fit, they are exactly the text three characters
// after the first "-n" (or the defaults) and the first command word in the
// fixed order decides what runs ("/install", "/uninstall", "/stop", "/start",
// "/restart", then the reporting words "/check" and "/help", else the
// dispatcher); when they do not fit, nothing runs at all.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common/common.h"
#include "fake_platform.h"
#include "fuzz_support.h"
#include "io/messages.h"
#include "service/service.h"

namespace {

constexpr std::size_t kLineLimit = 2047;
const std::string kDisplayPrefix = "Kelvoran for name:";

std::string Buffer(const char (&buffer)[kNameBufferSize], const std::string& what,
                   const std::string& context) {
    const void* terminator = std::memchr(buffer, '\0', kNameBufferSize);
    if (terminator == nullptr) {
        fuzzing::Fail(what + " holds at most 255 characters and a terminating zero", context);
    }
    return std::string(buffer);
}

std::string Summary(const fake::State& state) {
    std::string text = "dispatcher calls " + std::to_string(state.dispatcherCalls) +
                       ", launches " + std::to_string(state.launches.size()) +
                       ", service manager calls " + std::to_string(state.scmCalls.size()) +
                       ", events " + std::to_string(state.events.size());
    for (const fake::Launch& launch : state.launches) text += "\n  launch " + launch.file;
    for (const std::string& call : state.scmCalls) text += "\n  " + call;
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::SilenceStandardOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string& exeDirectory = fuzzing::ResetPlatform();
    fuzzing::WriteBytes(exeDirectory + "startservicewrapper.cmd", "@echo start\r\n");
    fuzzing::WriteBytes(exeDirectory + "stopservicewrapper.cmd", "@echo stop\r\n");
    fake::State& platform = fake::Get();
    platform.dispatcher = [](char*, platform::ServiceMainFunction) { return false; };

    std::vector<std::string> arguments;
    if (size > 0) {
        const std::string input(reinterpret_cast<const char*>(data), size);
        std::size_t start = 0;
        for (;;) {
            const std::size_t end = input.find('\0', start);
            arguments.push_back(input.substr(start, end - start));
            if (end == std::string::npos) break;
            start = end + 1;
        }
    }
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    // Names left over from a previous input must not pass for this one's.
    std::memset(g_serviceName, 'x', sizeof g_serviceName);
    std::memset(g_displayName, 'x', sizeof g_displayName);
    const int exitCode = RunKelvoran(static_cast<int>(arguments.size()), argv.data());

    std::string joined;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (i > 0) joined += ' ';
        joined += arguments[i];
    }
    std::string context = "arguments: " + std::to_string(arguments.size()) + ", joined " +
                          std::to_string(joined.size()) + " bytes: " + fuzzing::Show(joined);

    const std::string serviceName = Buffer(g_serviceName, "the service name", context);
    const std::string displayName = Buffer(g_displayName, "the display name", context);
    context += "\nservice name " + fuzzing::Show(serviceName) + "\ndisplay name " +
               fuzzing::Show(displayName) + "\n" + Summary(platform);

    std::string expectedName = "Kelvoran";
    std::string expectedDisplay = "Kelvoran Default";
    const std::size_t option = joined.find("-n");
    if (option != std::string::npos) {
        expectedName = joined.substr(std::min(option + 3, joined.size()));
        expectedDisplay = kDisplayPrefix + expectedName;
    }

    const bool fits = joined.size() <= kLineLimit && expectedName.size() < kNameBufferSize &&
                      expectedDisplay.size() < kNameBufferSize;
    auto holds = [&joined](const char* word) { return joined.find(word) != std::string::npos; };
    // Only the configuration check reports through its exit code (0: the
    // configuration would run downloads, 1: it never would).
    const bool checkDecides = fits && !holds("/install") && !holds("/uninstall") &&
                              !holds("/stop") && !holds("/start") && !holds("/restart") &&
                              holds("/check");
    if (exitCode != 0 && !(checkDecides && exitCode == 1)) {
        fuzzing::Fail("main returns 0 (0 or 1 when /check decides)",
                      context + "\nexit code " + std::to_string(exitCode));
    }

    if (!fits) {
        const bool nothingRan = platform.dispatcherCalls == 0 && platform.launches.empty() &&
                                platform.scmCalls.empty() && platform.events.empty();
        if (!nothingRan) fuzzing::Fail("an over-long line or name runs nothing", context);
        return 0;
    }

    if (serviceName != expectedName || displayName != expectedDisplay) {
        fuzzing::Fail("the names are the text after \"-n\" and its separator",
                      context + "\nexpected " + fuzzing::Show(expectedName) + " / " +
                          fuzzing::Show(expectedDisplay));
    }

    const std::string stopScript = exeDirectory + "stopservicewrapper.cmd";
    const std::string startScript = exeDirectory + "startservicewrapper.cmd";
    std::vector<std::string> launched;
    for (const fake::Launch& launch : platform.launches) launched.push_back(launch.file);

    if (holds("/install")) {
        if (platform.dispatcherCalls != 0 || !launched.empty()) {
            fuzzing::Fail("/install only registers", context);
        }
        const std::string binaryPath = "\"" + platform.modulePath + "\" -n " + expectedName;
        const auto created = platform.services.find(expectedName);
        if (binaryPath.size() < platform::kPathBufferSize) {
            if (platform.services.size() != 1 || created == platform.services.end() ||
                created->second.displayName != expectedDisplay ||
                created->second.binaryPathName != binaryPath) {
                fuzzing::Fail("/install registers the named service with its display name",
                              context);
            }
        } else if (!platform.services.empty()) {
            fuzzing::Fail("a service command line that does not fit is not registered", context);
        }
    } else if (holds("/uninstall")) {
        if (platform.dispatcherCalls != 0 || !launched.empty() || !platform.services.empty()) {
            fuzzing::Fail("/uninstall only removes", context);
        }
    } else if (holds("/stop")) {
        if (platform.dispatcherCalls != 0 || launched != std::vector<std::string>{stopScript}) {
            fuzzing::Fail("/stop runs the stop script alone", context);
        }
    } else if (holds("/start")) {
        if (platform.dispatcherCalls != 0 || launched != std::vector<std::string>{startScript}) {
            fuzzing::Fail("/start runs the start script alone", context);
        }
    } else if (holds("/restart")) {
        if (platform.dispatcherCalls != 0 ||
            launched != std::vector<std::string>{stopScript, startScript}) {
            fuzzing::Fail("/restart runs the stop script, then the start script", context);
        }
    } else if (holds("/check") || holds("/help")) {
        // Reports only: nothing is launched, registered or dispatched.
        if (platform.dispatcherCalls != 0 || !launched.empty() || !platform.services.empty() ||
            !platform.removedFiles.empty()) {
            fuzzing::Fail("/check and /help change nothing", context);
        }
    } else {
        if (platform.dispatcherCalls != 1 || platform.dispatcherName != expectedName ||
            !launched.empty() || !platform.scmCalls.empty()) {
            fuzzing::Fail("without a command word the named service goes to the dispatcher",
                          context);
        }
        if (platform.events.size() != 1 || platform.events[0].source != expectedName ||
            platform.events[0].text != kEventCannotStart) {
            fuzzing::Fail("a failed dispatcher leaves one event under the service's name",
                          context);
        }
    }
    return 0;
}
