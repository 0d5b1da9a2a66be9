// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Bytes for the protocol's tests.

#include <array>
#include <initializer_list>
#include <string>

#include "protocol/checked.h"

namespace progread::testing {

inline std::string bytes(std::initializer_list<int> codes) {
    std::string s;
    for (int c : codes) s += static_cast<char>(c);
    return s;
}

// 32 bytes from first on, 7 apart.
inline std::array<Byte, 32> block(Byte first) {
    std::array<Byte, 32> b{};
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<Byte>(first + i * 7);
    return b;
}

}  // namespace progread::testing
