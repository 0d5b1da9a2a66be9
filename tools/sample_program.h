// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The program the simulated controller serves when given no memory file. The tests read
// the same bytes to know what a correct image holds.

#include <cstddef>
#include <vector>

#include "protocol/checked.h"

namespace progread {

inline constexpr std::size_t kProgramMemoryBytes = 32768;
inline constexpr std::size_t kMaxSampleBlocks = kProgramMemoryBytes / 32;
// The default sample is 41 blocks long.
inline constexpr std::size_t kSampleBlocks = 41;
// Where a sample's end marker (0F 00) stands: its last block, fourth byte pair.
constexpr std::size_t sampleEndMarkerOffset(std::size_t blocks) {
    return (blocks - 1) * 32 + 6;
}
inline constexpr std::size_t kSampleEndMarkerOffset = sampleEndMarkerOffset(kSampleBlocks);

// 32 KiB of program memory from 0x8000: program steps, the end marker in block blocks - 1
// (1 to kMaxSampleBlocks, else std::out_of_range), and erased memory (FF) behind its block.
std::vector<Byte> sampleProgramMemory(std::size_t blocks = kSampleBlocks);

}  // namespace progread
