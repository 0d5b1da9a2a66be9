// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// One progread a folder. The caller takes the lock (duqu.pmw.lock); when that fails, this says
// what stands at its path and whether its holder still runs.

#include <filesystem>
#include <optional>

namespace progread {

// Who holds the folder's lock, as its lock file says.
struct LockHolder {
    long long pid = 0;
    bool thisMachine = true;  // a process elsewhere cannot be looked for
};

// Raises a File error when something other than a file stands at the lock's path: the lock
// would take a folder for a lock held for ever, and wait for ever on a pipe.
void checkLockPath(const std::filesystem::path& lock);

// What the system says of process pid: 0, or its error number (kill(pid, 0)'s errno; on
// Windows, OpenProcess's error). A test gives its own answers, such as the EPERM of another
// user's process, which a suite run as root never meets.
using ProcessQuery = int (*)(long long pid);
int askSystem(long long pid);

// The lock file could not be created: raises the File error that says why. holder: what the
// file says, when it could be read. Returns, when retry is allowed, if the file is gone or was
// left by an ended process and is now removed: try again.
void refusedLock(const std::filesystem::path& lock, std::optional<LockHolder> holder, bool retry,
                 ProcessQuery ask = askSystem);

// False only when no process pid runs on this machine.
bool processRunning(long long pid, ProcessQuery ask = askSystem);

}  // namespace progread
