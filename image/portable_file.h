#pragma once

// Paths that survive Windows. There a path is wide, and narrowing it to the ANSI code page
// loses every character outside it (a Chinese folder name on an English system).

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace progread {

// A path from UTF-8 text (what Qt's toStdString() gives). path(std::string) would read it
// in the ANSI code page on Windows.
inline std::filesystem::path pathFromUtf8(std::string_view utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// std::fopen for a path, through the wide C runtime call on Windows. Always ask for a binary
// mode ("rb", "wb", "ab"): on Windows a text mode turns every 0A of the image into 0D 0A.
inline std::FILE* openFile(const std::filesystem::path& path, const char* mode) {
#ifdef _WIN32
    wchar_t wideMode[8] = {};
    for (std::size_t i = 0; mode[i] && i + 1 < sizeof wideMode / sizeof *wideMode; ++i) {
        wideMode[i] = static_cast<wchar_t>(mode[i]);
    }
    return ::_wfopen(path.c_str(), wideMode);
#else
    return std::fopen(path.c_str(), mode);
#endif
}

}  // namespace progread
