#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace progread {

// Every failure the tool can meet, by kind. The description always names what it concerns:
// the port, the block address or the file.
enum class ErrorKind { Overflow, SubscriptOutOfRange, TypeMismatch, File, Serial };

std::string_view kindName(ErrorKind kind);

class Error : public std::runtime_error {
public:
    Error(ErrorKind kind, const std::string& description)
        : std::runtime_error(description), kind_(kind) {}

    ErrorKind kind() const { return kind_; }
    std::string description() const { return what(); }
    // "serial component error: cannot open /dev/ttyS0: ..." — what the operator sees.
    std::string message() const;

private:
    ErrorKind kind_;
};

}  // namespace progread
