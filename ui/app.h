// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace progread {

// The whole program: the window, or --read without one. Returns the exit status.
int runProgread(int argc, char** argv);

}  // namespace progread
