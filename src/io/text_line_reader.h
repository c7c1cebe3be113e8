// Reads lines from a file the way the Windows C runtime's text mode does on
// every build: CR LF is one line end, a lone CR stays in the line. Lines are
// delivered in bounded pieces, so memory stays flat whatever the file holds.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

// Closes a file opened for one of the readers when it goes out of scope.
struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using SharedFile = std::unique_ptr<std::FILE, FileCloser>;

class TextLineReader {
public:
    enum class Read {
        Line,   // a whole line; its line end (if any) was consumed
        Piece,  // maxChars characters of a longer physical line; more follows
    };

    explicit TextLineReader(std::FILE* file) : file_(file) {}

    // Reads up to maxChars characters of the next line into `line`. A line of
    // exactly maxChars characters is still a whole Line.
    Read readLine(std::string& line, std::size_t maxChars);

    // Drops what is left of the current physical line, its line end included.
    void skipRestOfLine();

    // True once a read has met the end of the file (or a read error).
    bool atEnd() const { return atEnd_; }
    bool failed() const { return failed_; }

private:
    static constexpr int kEnd = -1;
    static constexpr int kNoPending = -2;
    int nextChar();  // translated: CR LF comes out as LF
    int peekChar();
    int rawByte();

    std::FILE* file_;
    char buffer_[64 * 1024];
    std::size_t bufferLength_ = 0;
    std::size_t bufferPosition_ = 0;
    int pending_ = kNoPending;  // a translated character read ahead
    bool atEnd_ = false;
    bool failed_ = false;
};
