// Any entry text and default client id. The input's first line is the
// default client id (a configuration line cannot hold a line feed), the rest
// is the entry text, any bytes.
//
// Properties: an entry is accepted exactly when it has four "@@" separators
// and no double quote reaches curl's command line; the fields of an accepted
// entry are the trimmed texts between the separators, so name, target path
// (before it is resolved), action and the client id field never hold "@@";
// the derived texts follow from the fields; and the composed curl parameters
// hold exactly three quoted arguments, six double quotes in all.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "common/common.h"
#include "fuzz_support.h"
#include "schedule/schedule.h"

namespace {

const std::string kExeDirectory = "C:\\Program Files\\Kelvoran\\";

bool Holds(const std::string& text, const char* what) {
    return text.find(what) != std::string::npos;
}

std::string Describe(const DownloadEntry& entry) {
    return "name " + fuzzing::Show(entry.name) + "\ntargetPath " +
           fuzzing::Show(entry.targetPath) + "\naction " + fuzzing::Show(entry.action) +
           "\nclientId " + fuzzing::Show(entry.clientId) + "\nurl " + fuzzing::Show(entry.url) +
           "\ntempPath " + fuzzing::Show(entry.tempPath) + "\nerrorFile " +
           fuzzing::Show(entry.errorFile);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t lineEnd = input.find('\n');
    const std::string defaultClientId =
        lineEnd == std::string::npos ? std::string() : input.substr(0, lineEnd);
    const std::string text = lineEnd == std::string::npos ? input : input.substr(lineEnd + 1);

    const std::optional<DownloadEntry> entry =
        ParseDownloadEntry(text, defaultClientId, kExeDirectory);
    std::string context = "entry text: " + fuzzing::Show(text) +
                          "\ndefault client id: " + fuzzing::Show(defaultClientId) +
                          "\naccepted: " + (entry ? "yes" : "no");
    if (entry) context += "\n" + Describe(*entry);

    // The grammar, read independently: five fields at the first four "@@".
    std::string fields[5];
    std::size_t start = 0;
    int separators = 0;
    for (; separators < 4; ++separators) {
        const std::size_t at = text.find("@@", start);
        if (at == std::string::npos) break;
        fields[separators] = fuzzing::Trim(text.substr(start, at - start));
        start = at + 2;
    }
    if (separators < 4) {
        if (entry) fuzzing::Fail("an entry without four separators is a format error", context);
        return 0;
    }
    fields[4] = fuzzing::Trim(text.substr(start));

    const std::string& clientId = fields[3].empty() ? defaultClientId : fields[3];
    const std::string url = fields[4] + (Holds(fields[4], "?") ? "&" : "?") +
                            "downloaderclientid=" + clientId;
    const std::string targetPath =
        Holds(fields[1], ":") ? fields[1] : kExeDirectory + fields[1];
    const bool quoted = Holds(fields[0], "\"") || Holds(targetPath, "\"") ||
                        Holds(clientId, "\"") || Holds(url, "\"");

    if (quoted) {
        if (entry) {
            fuzzing::Fail("a double quote that would reach curl's command line is refused",
                          context);
        }
        return 0;
    }
    if (!entry) fuzzing::Fail("a well-formed entry is accepted", context);

    // The forbidden separator: these fields end at the first "@@" after the
    // previous one, so none of them can hold one.
    for (int i = 0; i < 4; ++i) {
        if (Holds(fields[i], "@@")) {
            fuzzing::Fail("no field but url holds the separator",
                          context + "\nfield " + std::to_string(i) + ": " +
                              fuzzing::Show(fields[i]));
        }
    }
    if (entry->name != fields[0] || entry->action != fields[2] || entry->clientId != clientId) {
        fuzzing::Fail("name, action and client id are the trimmed fields", context);
    }
    if (Holds(entry->name, "@@") || Holds(entry->action, "@@") ||
        (!fields[3].empty() && Holds(entry->clientId, "@@"))) {
        fuzzing::Fail("name, action and client id never hold the separator", context);
    }
    if (entry->targetPath != targetPath) {
        fuzzing::Fail("the target path is the field, under the executable's directory unless it "
                      "holds a colon",
                      context + "\nexpected " + fuzzing::Show(targetPath));
    }
    if (entry->url != url) {
        fuzzing::Fail("the url carries the client id query",
                      context + "\nexpected " + fuzzing::Show(url));
    }
    if (entry->tempPath != entry->targetPath + ".tempdownloader" ||
        entry->errorFile != "logs\\curlerrors_" + entry->name + ".txt") {
        fuzzing::Fail("the temporary and error file names follow from the fields", context);
    }

    const std::string parameters = ComposeCurlParameters(*entry);
    const auto quotes = std::count(parameters.begin(), parameters.end(), '"');
    if (quotes != 6) {
        fuzzing::Fail("curl's parameters hold exactly three quoted arguments",
                      context + "\nparameters " + fuzzing::Show(parameters) + " hold " +
                          std::to_string(quotes) + " double quotes");
    }
    const std::string composed = "--stderr \"" + entry->errorFile + "\" -o \"" +
                                 entry->tempPath + "\" -f -k \"" + entry->url + "\"";
    if (parameters != composed) {
        fuzzing::Fail("curl's parameters are --stderr, -o, -f -k and the url, in order",
                      context + "\nparameters " + fuzzing::Show(parameters));
    }
    return 0;
}
