// Any bytes as curl's error file. CheckDownloadErrors must report failure
// exactly when some line of the file (read in text mode) holds "curl:", and
// the lines it emits, each followed by a "\r\n" record, must give back the
// file's text up to where the scan stopped: whole lines, and lines longer
// than 4095 characters in consecutive pieces of at most 4095.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/common.h"
#include "fuzz_support.h"
#include "io/output_stream.h"
#include "schedule/schedule.h"

namespace {

constexpr std::size_t kMaxPiece = 4095;
const char kErrorFile[] = "logs\\curlerrors_fuzz.txt";

// Splits the run log back into messages. Every line of the file comes out as
// one record (it holds no LF), followed by the record "\r\n" + LF.
std::vector<std::string> EmittedLines(const std::string& log) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < log.size()) {
        const std::size_t end = log.find('\n', at);
        if (end == std::string::npos) fuzzing::Fail("run log records", fuzzing::Show(log));
        lines.push_back(log.substr(at, end - at));
        at = end + 1;
        if (log.compare(at, 3, "\r\n\n") != 0) {
            fuzzing::Fail("each emitted line is followed by a \"\\r\\n\" record",
                          "log: " + fuzzing::Show(log.substr(at)));
        }
        at += 3;
    }
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::SilenceStandardOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string& exeDirectory = fuzzing::ResetPlatform();
    fuzzing::WriteBytes(exeDirectory + "logs/curlerrors_fuzz.txt", bytes);
    const std::string logPath = exeDirectory + "scan.log";

    g_logStream = new VxIO::FileOutputStream(logPath);
    const bool failed = CheckDownloadErrors(kErrorFile);
    g_logStream->close();
    delete g_logStream;
    g_logStream = nullptr;
    const std::vector<std::string> emitted = EmittedLines(fuzzing::ReadBytes(logPath));

    const std::string text = fuzzing::TextMode(bytes);
    const std::size_t mark = text.find("curl:");
    const std::string context = "file: " + fuzzing::Show(bytes) +
                                "\nscan result: " + (failed ? "failed" : "passed") +
                                "\nemitted lines: " + std::to_string(emitted.size());

    if (failed != (mark != std::string::npos)) {
        fuzzing::Fail("failure reported exactly when a line holds \"curl:\"", context);
    }

    // Walk the text with the emitted lines. After each piece either a line
    // feed follows (consumed with it), or the text ends, or the piece was a
    // full 4095 characters of a longer line and the next piece goes on.
    std::size_t cursor = 0;
    bool endedAtEnd = false;
    std::size_t lastStart = 0;
    for (std::size_t i = 0; i < emitted.size(); ++i) {
        const std::string& piece = emitted[i];
        if (endedAtEnd) fuzzing::Fail("nothing is emitted after the end of the file", context);
        if (piece.size() > kMaxPiece) {
            fuzzing::Fail("an emitted line holds at most 4095 characters",
                          context + "\nline " + std::to_string(i) + " has " +
                              std::to_string(piece.size()));
        }
        if (text.compare(cursor, piece.size(), piece) != 0) {
            fuzzing::Fail("emitted lines give back the file's text",
                          context + "\nline " + std::to_string(i) + ": " + fuzzing::Show(piece) +
                              "\ntext there: " + fuzzing::Show(text.substr(cursor, 300)));
        }
        lastStart = cursor;
        cursor += piece.size();
        if (cursor == text.size()) {
            endedAtEnd = true;
        } else if (text[cursor] == '\n') {
            ++cursor;
        } else if (piece.size() != kMaxPiece) {
            fuzzing::Fail("a line is emitted whole unless it is longer than 4095 characters",
                          context + "\nline " + std::to_string(i) + " stops at offset " +
                              std::to_string(cursor));
        }
    }

    if (!failed) {
        if (!endedAtEnd) {
            fuzzing::Fail("a passed scan emits the whole file",
                          context + "\nstopped at offset " + std::to_string(cursor) + " of " +
                              std::to_string(text.size()));
        }
    } else {
        // The scan stops with the piece in which the first "curl:" ends.
        const std::size_t markEnd = mark + 5;
        const std::size_t lastEnd = lastStart + (emitted.empty() ? 0 : emitted.back().size());
        if (emitted.empty() || markEnd <= lastStart || markEnd > lastEnd) {
            fuzzing::Fail("a failed scan stops right after the line holding \"curl:\"",
                          context + "\nmark ends at " + std::to_string(markEnd) +
                              ", last piece covers [" + std::to_string(lastStart) + ", " +
                              std::to_string(lastEnd) + ")");
        }
    }
    return 0;
}
