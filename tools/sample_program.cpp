#include "tools/sample_program.h"

#include <cstdint>

namespace progread {

std::vector<Byte> sampleProgramMemory() {
    std::vector<Byte> memory(kProgramMemoryBytes, 0xFF);
    std::uint32_t seed = 0x2545F491u;
    for (std::size_t i = 0; i < kSampleEndMarkerOffset; i += 2) {
        seed = seed * 1664525u + 1013904223u;
        Byte a = static_cast<Byte>(seed >> 24);
        Byte b = static_cast<Byte>(seed >> 16);
        if (a == 0x0F && b == 0x00) b = 0x01;  // only one end marker
        memory[i] = a;
        memory[i + 1] = b;
    }
    memory[kSampleEndMarkerOffset] = 0x0F;
    memory[kSampleEndMarkerOffset + 1] = 0x00;
    // The rest of the marker's block is what the controller happens to hold; it is read too.
    for (std::size_t i = kSampleEndMarkerOffset + 2; i % 32 != 0; ++i) {
        memory[i] = static_cast<Byte>(0xA0 + i % 16);
    }
    return memory;
}

}  // namespace progread
