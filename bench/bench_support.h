// Shared by the benchmarks and the soak run: a scratch directory that plays
// the executable's directory for the fake platform, and the configuration
// files they read.
#pragma once

#include <string>

namespace benchsupport {

// Makes a fresh directory under $TMPDIR (or /tmp) with a "logs" subdirectory,
// resets the fake platform and points its module path into it. Removed again
// when the object goes away.
class ScratchDirectory {
public:
    explicit ScratchDirectory(const std::string& prefix);
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    // As GetExeDirectory returns it, ending in '/'.
    const std::string& exeDirectory() const { return exeDirectory_; }
    std::string path(const std::string& relative) const { return exeDirectory_ + relative; }

private:
    std::string root_;
    std::string exeDirectory_;
};

void WriteFile(const std::string& hostPath, const std::string& bytes);
std::string ReadFile(const std::string& hostPath);

// One "url" value of the usual shape, numbered: a relative target, no action,
// the default client id and a loopback address.
std::string EntryText(int number);

// A downloader.conf as an administrator writes it on Windows (CR LF line
// ends): "intv" on the first line, a comment, a clientid line, then
// `entries` url lines. Returns the number of lines.
int WriteConfiguration(const std::string& hostPath, int intv, int entries);

}  // namespace benchsupport
