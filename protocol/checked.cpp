// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/checked.h"

#include <cctype>
#include <cmath>
#include <limits>
#include <optional>

namespace progread {

Byte toByte(long value) {
    if (value < 0 || value > 255) {
        throw Error(ErrorKind::Overflow, std::to_string(value) + " does not fit a byte");
    }
    return static_cast<Byte>(value);
}

Integer toInteger(long value) {
    if (value < std::numeric_limits<Integer>::min() ||
        value > std::numeric_limits<Integer>::max()) {
        throw Error(ErrorKind::Overflow, std::to_string(value) + " does not fit a 16-bit integer");
    }
    return static_cast<Integer>(value);
}

Integer addChecked(Integer a, Integer b) {
    return toInteger(long{a} + long{b});
}
Integer mulChecked(Integer a, Integer b) {
    return toInteger(long{a} * long{b});
}

std::string_view trimSpaces(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

namespace {

// Plain decimal with an optional sign and fraction; nullopt when it is not a number.
std::optional<double> parseDecimal(std::string_view text) {
    text = trimSpaces(text);
    if (text.empty()) return std::nullopt;
    bool negative = false;
    if (text.front() == '+' || text.front() == '-') {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    double value = 0;
    double scale = 1;
    bool seenDigit = false;
    bool inFraction = false;
    for (char c : text) {
        if (c == '.' && !inFraction) {
            inFraction = true;
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            seenDigit = true;
            if (inFraction) {
                scale /= 10;
                value += (c - '0') * scale;
            } else {
                value = value * 10 + (c - '0');
            }
        } else {
            return std::nullopt;
        }
    }
    if (!seenDigit) return std::nullopt;
    return negative ? -value : value;
}

long roundedHalfEven(std::string_view text) {
    auto value = parseDecimal(text);
    if (!value) {
        throw Error(ErrorKind::TypeMismatch, "\"" + std::string(text) + "\" is not a number");
    }
    // Far outside every range we convert to; keeps the cast below defined.
    if (std::fabs(*value) > 1e9) {
        throw Error(ErrorKind::Overflow, "\"" + std::string(text) + "\" is out of range");
    }
    return std::lrint(*value);  // default rounding mode: half to even
}

}  // namespace

Byte textToByte(std::string_view text) {
    return toByte(roundedHalfEven(text));
}
Integer textToInteger(std::string_view text) {
    return toInteger(roundedHalfEven(text));
}

}  // namespace progread
