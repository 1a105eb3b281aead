// SPDX-License-Identifier: MIT
// Program entry: one instance per user, then the three long-lived windows.
#include "app/program.h"

int main(int argc, char** argv) { return runProgram(argc, argv); }
