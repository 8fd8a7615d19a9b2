#pragma once

#include <csignal>

namespace tolvane {

// The signal (SIGINT, SIGTERM or SIGHUP) that asked the program to stop, 0 while none has. Set
// by the front end's handler and read by every stage that can wait long: a job's block loop
// through its cancel control, a disc's reader between the blocks it reads.
extern volatile std::sig_atomic_t stopSignal;

inline bool stopRequested() {
    return stopSignal != 0;
}

}  // namespace tolvane
