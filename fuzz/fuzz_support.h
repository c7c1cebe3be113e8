// Shared plumbing of the fuzz targets: a private directory that plays the
// executable's directory, byte-exact file helpers, the text-mode translation
// the readers promise, and a way to report a broken property.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzzing {

// Resets the fake platform and points the module path into a directory of
// this process's own (made once, removed at exit). Returns that directory as
// GetExeDirectory will return it, ending in '/'.
const std::string& ResetPlatform();

// Sends EmitMessage's console copy to /dev/null; the fuzzer's own output goes
// to standard error and stays visible.
void SilenceStandardOutput();

void WriteBytes(const std::string& hostPath, const std::string& bytes);
std::string ReadBytes(const std::string& hostPath);

// What the Windows C runtime's text mode makes of the bytes: every CR LF pair
// becomes LF; a lone CR stays.
std::string TextMode(const std::string& bytes);

// The physical lines of translated text, split at LF. Like the readers, a
// text that ends in LF has one more, empty, line; an empty text has one.
std::vector<std::string> SplitLines(const std::string& text);

// Removes leading and trailing blanks (0x20), independently of the core.
std::string Trim(const std::string& text);

// A quoted, escaped form of the text for diagnostics (cut when long).
std::string Show(const std::string& text);

// Prints the broken property with its details and aborts, so libFuzzer
// saves the input as a crash artifact.
[[noreturn]] void Fail(const std::string& property, const std::string& details);

}  // namespace fuzzing
