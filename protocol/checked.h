// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Small value types of the controller's world: bytes, 16-bit integers whose arithmetic
// never wraps, and byte arrays whose indexes are always checked.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/error.h"

namespace progread {

using Byte = std::uint8_t;
using Integer = std::int16_t;

// Conversions and arithmetic raise ErrorKind::Overflow instead of wrapping.
Byte toByte(long value);
Integer toInteger(long value);
Integer addChecked(Integer a, Integer b);
Integer mulChecked(Integer a, Integer b);

// text without leading and trailing spaces (only ' ', as the controller's text functions do).
std::string_view trimSpaces(std::string_view text);

// Decimal text to Byte: surrounding spaces ignored, a fraction rounded half to even;
// empty or non-numeric text is a type mismatch, a value outside 0..255 an overflow.
Byte textToByte(std::string_view text);
// The same for Integer (-32768..32767).
Integer textToInteger(std::string_view text);

// A byte array with fixed bounds 0..Upper; every access is checked.
template <std::size_t Upper>
class FixedArray {
public:
    static constexpr std::size_t kUpper = Upper;

    Byte& operator()(long index) { return data_[checkedIndex(index)]; }
    Byte operator()(long index) const { return data_[checkedIndex(index)]; }

    void fill(long from, long to, Byte value) {
        for (long i = from; i <= to; ++i) (*this)(i) = value;
    }

private:
    static std::size_t checkedIndex(long index) {
        if (index < 0 || static_cast<std::size_t>(index) > Upper) {
            throw Error(ErrorKind::SubscriptOutOfRange,
                        "index " + std::to_string(index) + " outside 0.." + std::to_string(Upper));
        }
        return static_cast<std::size_t>(index);
    }

    std::array<Byte, Upper + 1> data_{};
};

}  // namespace progread
