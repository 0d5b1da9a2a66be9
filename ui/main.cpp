// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/app.h"

int main(int argc, char** argv) {
    return progread::runProgread(argc, argv);
}
