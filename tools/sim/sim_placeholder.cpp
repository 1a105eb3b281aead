// Keeps the simulator library non-empty while all its logic lives in orlin_sim.cpp.
