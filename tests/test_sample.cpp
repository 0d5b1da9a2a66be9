// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated controller's sample programs: the tests and the demo rely on where their end
// marker stands.

#include <gtest/gtest.h>

#include <stdexcept>

#include "tools/sample_program.h"

using namespace progread;

namespace {

// Offsets of every 0F 00 pair, read as the upload decodes them: two bytes at a time.
std::vector<std::size_t> markers(const std::vector<Byte>& memory) {
    std::vector<std::size_t> found;
    for (std::size_t i = 0; i + 1 < memory.size(); i += 2) {
        if (memory[i] == 0x0F && memory[i + 1] == 0x00) found.push_back(i);
    }
    return found;
}

}  // namespace

TEST(SampleProgram, OneEndMarkerInTheLastBlockAndErasedMemoryBehindIt) {
    for (std::size_t blocks : {1u, 2u, 41u, 200u, 1023u, 1024u}) {
        const std::vector<Byte> memory = sampleProgramMemory(blocks);
        ASSERT_EQ(memory.size(), 32768u) << blocks;
        EXPECT_EQ(markers(memory), std::vector<std::size_t>{(blocks - 1) * 32 + 6}) << blocks;
        for (std::size_t i = blocks * 32; i < memory.size(); ++i) {
            ASSERT_EQ(memory[i], 0xFF) << blocks << " blocks, offset " << i;
        }
    }
}

TEST(SampleProgram, LengthsBeyondProgramMemoryAreRefused) {
    EXPECT_THROW(sampleProgramMemory(0), std::out_of_range);
    EXPECT_THROW(sampleProgramMemory(1025), std::out_of_range);
}
