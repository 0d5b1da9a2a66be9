// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/sample_program.h"

#include <cstdint>
#include <stdexcept>

namespace progread {

std::vector<Byte> sampleProgramMemory(std::size_t blocks) {
    if (blocks < 1 || blocks > kMaxSampleBlocks)
        throw std::out_of_range("a sample program has 1 to 1024 blocks");
    std::vector<Byte> memory(kProgramMemoryBytes, 0xFF);
    const std::size_t markerOffset = sampleEndMarkerOffset(blocks);
    std::uint32_t seed = 0x2545F491u;
    for (std::size_t i = 0; i < markerOffset; i += 2) {
        seed = seed * 1664525u + 1013904223u;
        Byte a = static_cast<Byte>(seed >> 24);
        Byte b = static_cast<Byte>(seed >> 16);
        if (a == 0x0F && b == 0x00) b = 0x01;  // only one end marker
        memory[i] = a;
        memory[i + 1] = b;
    }
    memory[markerOffset] = 0x0F;
    memory[markerOffset + 1] = 0x00;
    // The rest of the marker's block is what the controller happens to hold; it is read too.
    for (std::size_t i = markerOffset + 2; i % 32 != 0; ++i) {
        memory[i] = static_cast<Byte>(0xA0 + i % 16);
    }
    return memory;
}

}  // namespace progread
