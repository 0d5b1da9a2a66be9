// SPDX-License-Identifier: GPL-3.0-or-later
#include "image/folder_lock.h"

#include <cerrno>
#include <climits>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#endif

#include "image/file_ops.h"

namespace fs = std::filesystem;

namespace progread {

using namespace files;

namespace {

#ifdef _WIN32
constexpr int kNoSuchProcess = ERROR_INVALID_PARAMETER;
#else
constexpr int kNoSuchProcess = ESRCH;
#endif

[[noreturn]] void lockError(ErrorFacts::Code code, const fs::path& lock, const std::string& words,
                            long long pid = 0, const std::string& why = {}) {
    ErrorFacts facts = fileFacts(code, lock.parent_path(), {}, why);
    facts.count = static_cast<int>(pid);
    throw Error(ErrorKind::File, facts, lock.string() + words);
}

}  // namespace

int askSystem(long long pid) {
#ifdef _WIN32
    const HANDLE process =
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (!process) return static_cast<int>(::GetLastError());
    DWORD code = 0;
    const bool running = ::GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    ::CloseHandle(process);
    return running ? 0 : kNoSuchProcess;  // ended, though a handle keeps it known
#else
    return ::kill(static_cast<pid_t>(pid), 0) == 0 ? 0 : errno;
#endif
}

bool processRunning(long long pid, ProcessQuery ask) {
#ifndef _WIN32
    // 0 and below would ask about process groups.
    if (pid <= 0 || pid > INT_MAX) return true;
#endif
    // Any other answer, such as EPERM for another user's process, says it is there.
    return ask(pid) != kNoSuchProcess;
}

void checkLockPath(const fs::path& lock) {
    switch (typeOf(lock)) {
        case fs::file_type::not_found:
        case fs::file_type::regular:
            return;
        case fs::file_type::directory:
            lockError(ErrorFacts::Code::LockIsAFolder, lock,
                      " is a folder, not progread's lock file: remove it");
        default:
            lockError(ErrorFacts::Code::LockNotAFile, lock,
                      " is not a file (a link, pipe or device), so not progread's lock file: "
                      "remove it");
    }
}

void refusedLock(const fs::path& lock, std::optional<LockHolder> holder, bool retry,
                 ProcessQuery ask) {
    checkLockPath(lock);  // put there since the first look
    if (retry && typeOf(lock) == fs::file_type::not_found) return;  // its holder just ended
    if (typeOf(lock) != fs::file_type::not_found && (!holder || holder->pid <= 0)) {
        // Empty when a process was stopped between creating and filling it: held by nobody,
        // yet never taken for stale.
        lockError(ErrorFacts::Code::LockUnreadable, lock,
                  " cannot be read as progread's lock file; if no progread uses the folder, "
                  "remove it");
    }
    if (holder && holder->thisMachine && !processRunning(holder->pid, ask)) {
        // Stale, yet still there: it could not be removed.
        std::error_code ec;
        fs::remove(lock, ec);
        if (!ec && retry) return;
        if (ec) {
            lockError(ErrorFacts::Code::LockLeftBehind, lock,
                      " was left by an ended progread (process " + std::to_string(holder->pid) +
                          ") and cannot be removed: " + ec.message(),
                      holder->pid, ec.message());
        }
    }
    const long long pid = holder ? holder->pid : 0;
    ErrorFacts facts = fileFacts(ErrorFacts::Code::FolderInUse, lock.parent_path());
    facts.count = static_cast<int>(pid);
    throw Error(ErrorKind::File, facts,
                "another progread" +
                    (pid ? " (process " + std::to_string(pid) + ")" : std::string()) +
                    " is using the folder " + lock.parent_path().string() +
                    "; close it first, or give this one another folder with --dir");
}

}  // namespace progread
