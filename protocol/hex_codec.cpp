// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/hex_codec.h"

namespace progread {

std::string ZHUAN(const Byte& value) {
    std::string result;
    if (value == 10) result = "65";
    if (value == 11) result = "66";
    if (value == 12) result = "67";
    if (value == 13) result = "68";
    if (value == 14) result = "69";
    if (value == 15) result = "70";
    if (value < 10) result = std::to_string(value + 48);
    return result;
}

Byte ZHUANS(const Byte& ch) {
    Byte result = 0;
    if (ch == 'A') result = 10;
    if (ch == 'B') result = 11;
    if (ch == 'C') result = 12;
    if (ch == 'D') result = 13;
    if (ch == 'E') result = 14;
    if (ch == 'F') result = 15;
    if (ch < 'A') result = toByte(long{ch} - 0x30);
    return result;
}

Byte digitCode(Byte value) {
    std::string text = ZHUAN(value);
    if (text.empty()) {
        throw Error(ErrorKind::TypeMismatch,
                    std::to_string(value) + " is not a hex digit value (0..15)");
    }
    return textToByte(text);
}

}  // namespace progread
