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

}  // namespace progread
