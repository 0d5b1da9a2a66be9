// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// history/: every image duqu.pmw held before, and every .part a read left, each under the
// time it was written, never overwritten.

#include <filesystem>
#include <string>

namespace progread {

// The file's own modification time (a link's, not its target's), local: "20240131-235959".
std::string modificationStamp(const std::filesystem::path& p);

// Both files hold the same bytes; false when either cannot be read.
bool sameBytes(const std::filesystem::path& a, const std::filesystem::path& b);

// Moves file into the folder history (made when missing) as duqu-<its time><suffix>, never
// replacing a name there; a link only, file staying where it is, when keep is set (and the
// system allows it). Returns where it went.
std::filesystem::path moveToHistory(const std::filesystem::path& history,
                                    const std::filesystem::path& file, const std::string& suffix,
                                    bool keep = false);

// Raises the File error for something other than a folder where history/ belongs.
[[noreturn]] void historyNotAFolder(const std::filesystem::path& history);

}  // namespace progread
