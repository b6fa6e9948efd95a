#pragma once

#include <stdexcept>
#include <string>

namespace pictolune {

// The run-time errors of the program. Each is a type of its own so that a
// handler can trap exactly what it expects; what() names the error for the
// message shown when nothing traps it.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class OverflowError : public Error {
public:
    OverflowError() : Error("Overflow") {}
};

class SubscriptError : public Error {
public:
    SubscriptError() : Error("Subscript out of range") {}
};

class ArithmeticError : public Error {
public:
    explicit ArithmeticError(const std::string& what = "Floating-point error") : Error(what) {}
};

class LoadError : public Error {
public:
    explicit LoadError(const std::string& detail)
        : Error(detail.empty() ? "Cannot load picture" : "Cannot load picture: " + detail),
          detail_(detail) {}
    // What went wrong, without the error's name: passed on by the decoder
    // process and prefixed with the path by the viewer.
    const std::string& detail() const { return detail_; }

private:
    std::string detail_;
};

class InvalidPropertyValueError : public Error {
public:
    InvalidPropertyValueError() : Error("Invalid property value") {}
};

} // namespace pictolune
