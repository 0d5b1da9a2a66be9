// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The controller writes every number as uppercase hexadecimal digit characters.

#include <string>

#include "protocol/checked.h"

namespace progread {

// The decimal text of the character code of value's hex digit: 10 -> "65" (the code of 'A').
// Values 16..255 give an empty text.
std::string ZHUAN(const Byte& value);

// The value of a received digit character. Deliberately not a strict parser: ':'..'@' give
// 10..16, anything above 'F' (lowercase included) gives 0, and anything below '0' is an
// overflow error. Replies are checked whole before they are decoded, so none of that reaches
// the image.
Byte ZHUANS(const Byte& ch);

// What every caller of ZHUAN wants: the character code itself.
Byte digitCode(Byte value);

}  // namespace progread
