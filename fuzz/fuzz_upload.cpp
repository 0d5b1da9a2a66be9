// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer entry: scripts/fuzz builds and runs it under ASan and UBSan.

#include <cstdio>
#include <cstdlib>

#include "fuzz/upload_script.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto result = progread::fuzz::runScript(data, size);
    if (result.violation) {
        std::fprintf(stderr, "oracle: %s\n", result.violation->c_str());
        std::abort();
    }
    return 0;
}
