// Output streams behind the run log. Bytes are written exactly as given:
// writeLine adds one line feed and nothing else.
#pragma once

#include <fstream>
#include <memory>
#include <string>

#include "io/exception.h"

namespace VxIO {

class OutputStream {
public:
    virtual ~OutputStream() = default;
    virtual void write(const char* data, int length) = 0;
    virtual void write(const std::string& text) = 0;
    virtual void write(char c) = 0;
    virtual void write(long value) = 0;
    virtual void flush() {}
    virtual void writeLine(std::string text) = 0;
    virtual void close() {}
    virtual bool queryFlag() = 0;
};

// A file opened for binary output at construction (created or emptied). A file
// that cannot be opened leaves a stream that silently ignores every write; a
// closed stream throws IOException on every formatted write.
class FileOutputStream : public OutputStream {
public:
    explicit FileOutputStream(const std::string& path);
    ~FileOutputStream() override;
    FileOutputStream(const FileOutputStream&) = delete;
    FileOutputStream& operator=(const FileOutputStream&) = delete;

    void write(const char* data, int length) override;
    void write(const std::string& text) override;
    void write(char c) override;
    void write(long value) override;
    void flush() override;
    void writeLine(std::string text) override;
    void close() override;
    bool queryFlag() override { return false; }

private:
    std::ofstream& openStream();  // throws when closed

    std::unique_ptr<std::ofstream> stream_;
    std::string path_;
};

}  // namespace VxIO
