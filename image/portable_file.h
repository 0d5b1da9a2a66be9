// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Paths that survive Windows. There a path is wide, and narrowing it to the ANSI code page
// loses every character outside it (a Chinese folder name on an English system).

#include <filesystem>
#include <string>
#include <string_view>

namespace progread {

// A path from UTF-8 text (what Qt's toStdString() gives). path(std::string) would read it
// in the ANSI code page on Windows.
inline std::filesystem::path pathFromUtf8(std::string_view utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// A path as it can be shown, in UTF-8: a name in another encoding (a GBK folder on Linux)
// keeps its UTF-8 parts and shows each other byte as \xB2, so that it still says which one.
inline std::string shownPath(const std::filesystem::path& p) {
#ifdef _WIN32
    const std::u8string u8 = p.u8string();
    return std::string(u8.begin(), u8.end());
#else
    const std::string& s = p.native();
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    std::string out;
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = at(i);
        std::size_t n = 0;
        unsigned char lo = 0x80, hi = 0xBF;  // what the second byte may be
        if (c < 0x80) {
            n = 1;
        } else if (c >= 0xC2 && c <= 0xDF) {
            n = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 3;
            if (c == 0xE0) lo = 0xA0;  // overlong
            if (c == 0xED) hi = 0x9F;  // surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 4;
            if (c == 0xF0) lo = 0x90;
            if (c == 0xF4) hi = 0x8F;  // past U+10FFFF
        }
        bool valid = n > 0 && i + n <= s.size() && (n == 1 || (at(i + 1) >= lo && at(i + 1) <= hi));
        for (std::size_t k = 2; valid && k < n; ++k) valid = (at(i + k) & 0xC0) == 0x80;
        if (valid) {
            out.append(s, i, n);
            i += n;
        } else {
            static const char hex[] = "0123456789ABCDEF";
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 0xF];
            ++i;
        }
    }
    return out;
#endif
}

}  // namespace progread
