#pragma once

#include <algorithm>
#include <stdexcept>
#include <string>
#include <string_view>

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
        : Error(std::string(kName) + (detail.empty() ? "" : ": " + detail)) {}

    // What the loader said went wrong, without the error's name; empty when
    // it said nothing.
    std::string_view detail() const {
        std::string_view text = what();
        text.remove_prefix(std::min(text.size(), kName.size() + 2));
        return text;
    }

private:
    static constexpr std::string_view kName = "Cannot load picture";
};

class InvalidPropertyValueError : public Error {
public:
    InvalidPropertyValueError() : Error("Invalid property value") {}
};

} // namespace pictolune
