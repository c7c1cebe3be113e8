// The project's exception family. The message is kept in a field of its own;
// what() is left as std::exception's.
#pragma once

#include <exception>
#include <string>

namespace VxUtils {

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    Exception(const Exception& other) : std::exception(), message_(other.message_) {}
    ~Exception() override = default;

    const std::string& message() const { return message_; }

private:
    std::string message_;
};

}  // namespace VxUtils

namespace VxIO {

class IOException : public VxUtils::Exception {
public:
    explicit IOException(std::string message) : VxUtils::Exception(std::move(message)) {}
};

}  // namespace VxIO
