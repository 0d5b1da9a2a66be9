// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The few file operations the image, its history and the folder lock need, without stdio's
// buffering (a failed write must tell how much reached the file) and without following a
// link where a file is created. For the image's own files only: not part of its interface.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "protocol/checked.h"
#include "protocol/error.h"

namespace progread::files {

int createNew(const std::filesystem::path& p);
// Never waits: a pipe put in a file's place opens at once, and isRegular() turns it away.
int openRead(const std::filesystem::path& p);
bool isRegular(int fd);
long readSome(int fd, Byte* data, std::size_t count);
long writeSome(int fd, const Byte* data, std::size_t count);
bool truncateFile(int fd, std::uintmax_t size);
bool closeFile(int fd);

// The system's words for err.
std::string reason(int err);
ErrorFacts fileFacts(ErrorFacts::Code code, const std::filesystem::path& path,
                     ErrorFacts::Action action = {}, const std::string& why = {},
                     const std::filesystem::path& to = {});
[[noreturn]] void fileError(ErrorFacts::Action action, const std::string& words,
                            const std::filesystem::path& path, int err);

// What stands at p, a link taken as itself; raises the File error when it cannot be looked at.
std::filesystem::file_type typeOf(const std::filesystem::path& p);
void removeFile(const std::filesystem::path& p);
// 0 when a file can be created in dir, else the system's error code.
int probeDir(const std::filesystem::path& dir);

}  // namespace progread::files
