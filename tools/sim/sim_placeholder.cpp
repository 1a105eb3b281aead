// Kept only because tools/sim/CMakeLists.txt names it; the simulator library has real sources.
