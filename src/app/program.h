// SPDX-License-Identifier: MIT
#pragma once
// Start-up and run of the whole program. norvale-term calls it with the platform's own port
// list and message boxes; the process tests' driver hands in pseudo-terminals and answers, so
// that a signal can be sent to a real process in the middle of a port search.

#include <functional>

class PortCandidates;
class Prompts;
class TfrmMain;

struct ProgramSeams {
    // Null: the serial ports and message boxes of the desktop.
    const PortCandidates* portCandidates = nullptr;
    Prompts* prompts = nullptr;
    // Called once, with the main window shown, before the event loop starts.
    std::function<void(TfrmMain&)> started;
    // Called between the look for a running instance and the listen, the window in which two
    // starts race; the tests widen it.
    std::function<void()> aboutToListen;
};

// The process's exit code. Call it first thing in main(): it blocks the termination signals
// before any thread exists.
int runProgram(int argc, char** argv, const ProgramSeams& seams = {});
