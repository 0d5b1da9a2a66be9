#pragma once

// The program the simulated controller serves when given no memory file. The tests read
// the same bytes to know what a correct image holds.

#include <cstddef>
#include <vector>

#include "protocol/checked.h"

namespace progread {

inline constexpr std::size_t kProgramMemoryBytes = 32768;
// Where the sample's end marker (0F 00) stands: block 40, fourth byte pair.
inline constexpr std::size_t kSampleEndMarkerOffset = 40 * 32 + 6;

// 32 KiB of program memory from 0x8000: program steps, the end marker at
// kSampleEndMarkerOffset, and erased memory (FF) behind its block.
std::vector<Byte> sampleProgramMemory();

}  // namespace progread
