#pragma once
// The library's exception family: every failure that stops an operation is a
// ztx::base carrying its whole message; there are no error codes.

#include <exception>
#include <string>

namespace ztx {

class base : public std::exception {
public:
    explicit base(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& message() const noexcept { return message_; }

private:
    std::string message_;
};

// Raised by the ZTP string reader when the file ends inside a string.
class eof : public base {
public:
    using base::base;
};

}  // namespace ztx
