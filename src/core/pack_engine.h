#pragma once

#include "core/os_services.h"
#include "core/pass_hooks.h"
#include "core/reporter.h"
#include "core/shared_state.h"

namespace tolvane {

inline constexpr int64_t kProgressStep = 4194304;  // 4 MiB
inline constexpr int64_t kRepaintStep = 67108864;  // 64 MiB

// What a pass met besides its streams.
struct PassOutcome {
    bool packFound = false;  // a pack header: the source is a program stream
};

// The block loop that every pass runs over the open source: reads it block by block into the
// shared buffer, shows progress, lets the window handle input, applies the fast check and
// feeds each block to the byte scanner.
class PackEngine {
public:
    PackEngine(SharedState& state, OsServices& os, Reporter& reporter)
        : state_(state), os_(os), reporter_(reporter) {}

    // One pass over `source` from its position to its end, or until cancelled or (detection
    // only) stopped by the fast check. Platform errors and those of the hooks propagate. A
    // detection pass gives each new stream a box; a demux pass keeps to the boxes it has.
    PassOutcome demux(PassMode mode, PassHooks& hooks);

private:
    void showProgress(int64_t position, int64_t size, double startTime);

    SharedState& state_;
    OsServices& os_;
    Reporter& reporter_;
};

}  // namespace tolvane
