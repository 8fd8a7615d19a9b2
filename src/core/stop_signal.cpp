#include "core/stop_signal.h"

namespace tolvane {

volatile std::sig_atomic_t stopSignal = 0;

}  // namespace tolvane
