// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/error.h"

namespace progread {

std::string_view kindName(ErrorKind kind) {
    switch (kind) {
        case ErrorKind::Overflow:
            return "overflow";
        case ErrorKind::SubscriptOutOfRange:
            return "subscript out of range";
        case ErrorKind::TypeMismatch:
            return "type mismatch";
        case ErrorKind::File:
            return "file error";
        case ErrorKind::Serial:
            return "serial port error";
    }
    return "error";
}

std::string Error::message() const {
    return std::string(kindName(kind_)) + ": " + what();
}

}  // namespace progread
