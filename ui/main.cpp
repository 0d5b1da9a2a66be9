// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/app.h"

#ifdef _WIN32
#include <cstdio>
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
    // Windows' C library buffers stderr into a pipe or file: a log would get the progress
    // only at the end, and nothing at all from a read that hangs.
    std::setvbuf(stderr, nullptr, _IONBF, 0);
#endif
    return progread::runProgread(argc, argv);
}
