#include "ui/app.h"

int main(int argc, char** argv) {
    return progread::runProgread(argc, argv);
}
