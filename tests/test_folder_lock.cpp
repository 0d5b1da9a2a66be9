// SPDX-License-Identifier: GPL-3.0-or-later
// What stands at the folder's lock path, and who holds it.

#include <gtest/gtest.h>

#ifndef _WIN32  // the lock's edges are POSIX files: pipes, links, a read-only mount
#include <unistd.h>

#include <climits>
#include <cstring>
#include <functional>

#include "error_kind.h"
#include "image/folder_lock.h"
#include "image/program_image.h"
#include "temp_dir.h"
#include "tmpfs.h"

using namespace progread;
using namespace progread::testing;
namespace fs = std::filesystem;

TEST(FolderLock, WhatStandsAtTheLockPathIsToldApart) {
    const long long dead = INT_MAX - 1;  // above any pid_max
    ASSERT_FALSE(processRunning(dead));
    ASSERT_TRUE(processRunning(::getpid()));
    enum class Then { TryAgain, Raises };
    struct Row {
        const char* what;
        std::function<void(const fs::path& lock)> put;
        std::optional<LockHolder> holder;
        bool retry;
        Then then;
        ErrorFacts::Code code;
        long long count;
        bool lockStays;
        ProcessQuery ask = askSystem;
    };
    auto nothing = [](const fs::path&) {};
    auto file = [](const fs::path& lock) { writeFile(lock, {'1', '\n'}); };
    const Row rows[] = {
        {"gone since (its holder ended)",
         nothing,
         std::nullopt,
         true,
         Then::TryAgain,
         {},
         0,
         false},
        {"gone since, the last try", nothing, std::nullopt, false, Then::Raises,
         ErrorFacts::Code::FolderInUse, 0, false},
        {"a folder", [](const fs::path& lock) { fs::create_directory(lock); }, std::nullopt, true,
         Then::Raises, ErrorFacts::Code::LockIsAFolder, 0, true},
        {"a pipe", [](const fs::path& lock) { ASSERT_EQ(::mkfifo(lock.c_str(), 0666), 0); },
         std::nullopt, true, Then::Raises, ErrorFacts::Code::LockNotAFile, 0, true},
        {"a link to a lock file",
         [](const fs::path& lock) {
             writeFile(lock.parent_path() / "real", {'1', '\n'});
             fs::create_symlink(lock.parent_path() / "real", lock);
         },
         LockHolder{1, true}, true, Then::Raises, ErrorFacts::Code::LockNotAFile, 0, true},
        {"empty (its maker stopped before filling it)",
         [](const fs::path& lock) { writeFile(lock, {}); }, std::nullopt, true, Then::Raises,
         ErrorFacts::Code::LockUnreadable, 0, true},
        {"held by a running process", file, LockHolder{::getpid(), true}, true, Then::Raises,
         ErrorFacts::Code::FolderInUse, ::getpid(), true},
        {"held on another machine", file, LockHolder{dead, false}, true, Then::Raises,
         ErrorFacts::Code::FolderInUse, dead, true},
        {"left by an ended process",
         file,
         LockHolder{dead, true},
         true,
         Then::TryAgain,
         {},
         0,
         false},
        {"left by an ended process, the last try: removed, still refused", file,
         LockHolder{dead, true}, false, Then::Raises, ErrorFacts::Code::FolderInUse, dead, false},
        {"held by another user's process", file, LockHolder{dead, true}, true, Then::Raises,
         ErrorFacts::Code::FolderInUse, dead, true, [](long long) { return EPERM; }},
    };
    for (const Row& row : rows) {
        TempDir dir;
        const fs::path lock = dir / "duqu.pmw.lock";
        row.put(lock);
        const std::optional<Error> e =
            raisedBy([&] { refusedLock(lock, row.holder, row.retry, row.ask); });
        const bool stays = fs::exists(fs::symlink_status(lock));
        EXPECT_EQ(stays, row.lockStays) << row.what;
        if (row.then == Then::TryAgain) {
            EXPECT_FALSE(e) << row.what << ": " << e->message();
            continue;
        }
        if (!e) {
            ADD_FAILURE() << row.what << ": nothing raised";
            continue;
        }
        EXPECT_EQ(e->kind(), ErrorKind::File) << row.what;
        EXPECT_EQ(e->facts().code, row.code) << row.what << ": " << e->message();
        EXPECT_EQ(e->facts().subject, dir.path().string()) << row.what;
        EXPECT_EQ(e->facts().count, row.count) << row.what;
        // Before the lock is tried: what is not a lock file is named then too.
        const std::optional<Error> early = raisedBy([&] { checkLockPath(lock); });
        const bool notALockFile = row.code == ErrorFacts::Code::LockIsAFolder ||
                                  row.code == ErrorFacts::Code::LockNotAFile;
        EXPECT_EQ(early.has_value(), notALockFile) << row.what;
        if (early) {
            EXPECT_EQ(early->facts().code, row.code) << row.what;
        }
    }

    // Left by an ended process where nothing can be removed.
    SmallTmpfs readOnly(4);
    if (!readOnly.mounted()) GTEST_SKIP() << readOnly.why();
    writeFile(readOnly / "duqu.pmw.lock", {'1', '\n'});
    ASSERT_TRUE(readOnly.remountReadOnly());
    const std::optional<Error> e = raisedBy([&] {
        refusedLock(readOnly / "duqu.pmw.lock", LockHolder{dead, true}, true);
    });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->facts().code, ErrorFacts::Code::LockLeftBehind) << e->message();
    EXPECT_EQ(e->facts().count, dead);
    EXPECT_EQ(e->facts().subject, readOnly.path().string());
    EXPECT_NE(e->facts().reason.find(std::strerror(EROFS)), std::string::npos) << e->message();
}

#endif
