#include "io/text_line_reader.h"

int TextLineReader::rawByte() {
    if (bufferPosition_ == bufferLength_) {
        bufferLength_ = std::fread(buffer_, 1, sizeof buffer_, file_);
        bufferPosition_ = 0;
        if (bufferLength_ == 0) {
            if (std::ferror(file_)) failed_ = true;
            return kEnd;
        }
    }
    return static_cast<unsigned char>(buffer_[bufferPosition_++]);
}

int TextLineReader::nextChar() {
    if (pending_ != kNoPending) {
        const int c = pending_;
        pending_ = kNoPending;
        return c;
    }
    const int c = rawByte();
    if (c != '\r') return c;
    // Only a CR directly followed by LF is a line end; a lone CR is kept.
    const int following = rawByte();
    if (following == '\n') return '\n';
    // Put the byte back untranslated: it may itself start a CR LF pair.
    if (following != kEnd) --bufferPosition_;
    return '\r';
}

int TextLineReader::peekChar() {
    if (pending_ == kNoPending) pending_ = nextChar();
    return pending_;
}

TextLineReader::Read TextLineReader::readLine(std::string& line, std::size_t maxChars) {
    line.clear();
    while (line.size() < maxChars) {
        const int c = nextChar();
        if (c == kEnd) {
            atEnd_ = true;
            return Read::Line;
        }
        if (c == '\n') return Read::Line;
        line.push_back(static_cast<char>(c));
    }
    // The buffer is full: a line end right here still makes a whole line.
    const int c = peekChar();
    if (c == '\n') {
        pending_ = kNoPending;
        return Read::Line;
    }
    if (c == kEnd) {
        pending_ = kNoPending;
        atEnd_ = true;
        return Read::Line;
    }
    return Read::Piece;
}

void TextLineReader::skipRestOfLine() {
    for (;;) {
        const int c = nextChar();
        if (c == kEnd) {
            atEnd_ = true;
            return;
        }
        if (c == '\n') return;
    }
}
