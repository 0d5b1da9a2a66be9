// SPDX-License-Identifier: GPL-3.0-or-later
// The fuzzer's scripts and oracle, run on its committed seeds and on a batch of random
// scripts, so that every test run exercises them and not only scripts/fuzz.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "fuzz/upload_script.h"

using progread::fuzz::runScript;

TEST(FuzzScripts, TheSeedsPassTheOracle) {
    int seeds = 0, finished = 0;
    for (const auto& entry : std::filesystem::directory_iterator(PROGREAD_FUZZ_SEEDS)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<std::uint8_t> data{std::istreambuf_iterator<char>(in), {}};
        const auto result = runScript(data.data(), data.size());
        EXPECT_FALSE(result.violation) << entry.path() << ": " << result.violation.value_or("");
        ++seeds;
        finished += result.finished;
    }
    EXPECT_GE(seeds, 5);
    EXPECT_GT(finished, 0)
        << "no seed reaches a finished image: the oracle's main check never runs";
}

TEST(FuzzScripts, RandomScriptsPassTheOracle) {
    std::mt19937 random(20261207);
    int faithfulFinished = 0;
    for (int n = 0; n < 3000; ++n) {
        std::vector<std::uint8_t> data(8 + random() % 120);
        for (auto& b : data) b = static_cast<std::uint8_t>(random());
        // Mostly quiet lines, so that faithful scripts are common.
        for (std::size_t i = 2; i < data.size(); i += 2) {
            if (random() % 3)
                data[i] = static_cast<std::uint8_t>(random() % 5 * 12 + (random() % 2) * 2 + 2);
        }
        const auto result = runScript(data.data(), data.size());
        ASSERT_FALSE(result.violation) << "script " << n << ": " << *result.violation;
        if (result.faithful && result.finished > 0) ++faithfulFinished;
    }
    EXPECT_GT(faithfulFinished, 100) << "too few faithful reads finish for the oracle to mean much";
}
