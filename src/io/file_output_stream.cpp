#include "io/output_stream.h"

#include "platform/platform.h"

namespace VxIO {

namespace {
const char kNotOpenMessage[] = "File Out Pointer Not INIT.";
}

FileOutputStream::FileOutputStream(const std::string& path)
    : stream_(std::make_unique<std::ofstream>()), path_(path) {
    // A failed open leaves the stream in its failed state: later writes are
    // no-ops and nothing is created.
    stream_->open(platform::FileSystemPath(path), std::ios::out | std::ios::binary);
}

FileOutputStream::~FileOutputStream() { close(); }

std::ofstream& FileOutputStream::openStream() {
    if (!stream_) throw IOException(kNotOpenMessage);
    return *stream_;
}

void FileOutputStream::write(const char* data, int length) {
    // Unguarded in the original design; a closed stream has nothing to write
    // to, so the bytes are dropped rather than dereferencing null.
    if (!stream_ || length <= 0) return;
    stream_->write(data, static_cast<std::streamsize>(length));
}

void FileOutputStream::write(const std::string& text) { openStream() << text; }

void FileOutputStream::write(char c) { openStream() << c; }

void FileOutputStream::write(long value) { openStream() << value; }

void FileOutputStream::flush() {
    if (!stream_) return;
    try {
        stream_->flush();
    } catch (...) {
        // A flush failure leaves the stream failed; nothing to report.
    }
}

void FileOutputStream::writeLine(std::string text) {
    std::ofstream& out = openStream();
    out << text;
    out << std::string("\n");
}

void FileOutputStream::close() {
    if (!stream_) return;
    if (stream_->is_open()) stream_->close();
    stream_.reset();
}

}  // namespace VxIO
