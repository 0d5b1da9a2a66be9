// SPDX-License-Identifier: GPL-3.0-or-later
// The line's record per port, which the next process reads.

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <random>

#include "upload/line_account.h"

using namespace progread;

// The record per port on disk: what one process writes the next one reads, rewritten in
// place many times; anything else is no record.
TEST(LineRecords, WhatOneProcessWritesTheNextReadsAndNothingElse) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("progread-records-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(dir);
    {
        LineRecordFiles writer({dir});
        for (int k = 0; k < 50; ++k)
            writer.save("/dev/ttyUSB0", {1000LL + k, k % 4, 1500, 2000LL + k});
        writer.save("/dev/ttyUSB0", {123456789012LL, 3, 5000, 123456789999LL});
        writer.save("COM3", {7, 1, 1000, 8});
        LineRecordFiles reader({dir});
        const auto r = reader.load("/dev/ttyUSB0");
        ASSERT_TRUE(r);
        EXPECT_EQ(r->newestRequestMs, 123456789012LL);
        EXPECT_EQ(r->out, 3);
        EXPECT_EQ(r->waitMs, 5000);
        EXPECT_EQ(r->lastActivityMs, 123456789999LL);
        EXPECT_EQ(reader.load("COM3")->out, 1) << "one record a port";
        EXPECT_FALSE(reader.load("/dev/ttyUSB1")) << "no record for a port never used";
#ifndef _WIN32
        EXPECT_EQ(reader.pathFor(dir, "/dev/ttyUSB0").filename(),
                  "progread-line-dev_ttyUSB0." + std::to_string(::geteuid()));
#endif
    }
#ifndef _WIN32
    // Whatever name reaches a device, one record; another user's record of it is read too.
    std::filesystem::create_symlink("/dev/null", dir / "by-id-null");
    EXPECT_EQ(LineRecordFiles::deviceKey((dir / "by-id-null").string()),
              LineRecordFiles::deviceKey("/dev/null"));
    EXPECT_EQ(LineRecordFiles::deviceKey("/dev/null"), "c1-3");
    std::ofstream(dir / "progread-line-c1-3.4242")
        << "progread-line-1 00000000000000000005 000002 000000001000 00000000000000000009\n";
    EXPECT_EQ(LineRecordFiles({dir}).load((dir / "by-id-null").string())->out, 2);
    // Never through a link, never waiting on a pipe, never more than a record's bytes.
    const auto junk = dir / "progread-line-junk.0";
    std::filesystem::create_symlink("/dev/zero", junk);
    EXPECT_FALSE(LineRecordFiles({dir}).load("junk")) << "a link to /dev/zero";
    std::filesystem::remove(junk);
    ASSERT_EQ(::mkfifo(junk.c_str(), 0600), 0);
    EXPECT_FALSE(LineRecordFiles({dir}).load("junk")) << "a pipe";
    std::filesystem::remove(junk);
    std::ofstream(junk) << "progread-line-1 1 1 1000 1" << std::string(5000, ' ') << '\n';
    EXPECT_FALSE(LineRecordFiles({dir}).load("junk")) << "a record too long";
#endif
    for (const char* garbage :
         {"", "progread-line-1 12 x", "something else 1 2 3 4\n", "progread-line-1 1 -1 1000 1\n",
          "progread-line-2 12 1 1000 12\n", "another-tool 12 1 1000 12\n"}) {
        std::ofstream(dir / "progread-line-junk.0") << garbage;
        EXPECT_FALSE(LineRecordFiles({dir}).load("junk")) << '"' << garbage << '"';
    }
    std::filesystem::remove_all(dir);
}
