// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/app.h"

#ifdef _WIN32
#include <windows.h>

#include <cstdio>
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
    // Double-clicked, the program gets a console of its own that nobody reads: hide it. From
    // cmd the console is shared, and --read reports there.
    DWORD processes[2];
    if (argc == 1 && GetConsoleProcessList(processes, 2) == 1)
        ShowWindow(GetConsoleWindow(), SW_HIDE);
    // Windows' C library buffers stderr into a pipe or file: a log would get the progress
    // only at the end, and nothing at all from a read that hangs.
    std::setvbuf(stderr, nullptr, _IONBF, 0);
    // Messages are UTF-8: a Chinese console (code page 936) would show them garbled.
    const UINT codePage = GetConsoleOutputCP();
    SetConsoleOutputCP(CP_UTF8);
    const int status = progread::runProgread(argc, argv);
    if (codePage != 0) SetConsoleOutputCP(codePage);
    return status;
#else
    return progread::runProgread(argc, argv);
#endif
}
